// The built tool driven through its standard input, without any bus peer.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/session.h"
#include "tests/support/transcript.h"

namespace {

const std::string no_bus = "Need to pick RTU or TCP\n";
const std::string usage =
    "tesmar - Modbus command line interface\n"
    "Usage: tesmar [-? -p <port> -h <host> -d <device> -c <serconf]\n"
    "\n"
    "-?\tShows this help message\n"
    "-p\tTCP port number default is 502\n"
    "-h\tTCP Host\n"
    "-d\tDevice Filename for RTU connection\n"
    "-b\tRTU Baud Rate default 19200\n"
    "-c\tSerial Port Character format string. Default is 8N1\n";

TEST(Startup, NoArgumentsRunsTheLoopWithoutABus) {
    const ProcessResult run = runTesmar({}, "quit\n");
    EXPECT_EQ(run.out, echoOf({}) + no_bus + prompt + quit_lines);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Startup, HelpAndOptionErrorsPrintUsageAndExitZero) {
    const struct {
        std::vector<std::string> args;
        bool diagnostic;
    } cases[] = {
        {{"-?"}, false},
        {{"-x"}, true},
        {{"-h", "127.0.0.1", "-p"}, true},
        {{"extra", "-d", "/dev/null", "-q"}, true},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runTesmar(c.args, "rr\n");
        EXPECT_EQ(run.out, echoOf(c.args) + usage) << c.args.back();
        EXPECT_EQ(run.exit_status, 0) << c.args.back();
        EXPECT_EQ(!run.err.empty(), c.diagnostic) << run.err;
    }
}

// Neither program looks for its libraries in the current directory (tesmar's run path is relative
// to itself, tesmar-sim has none): a libmodbus.so.5 planted there is not loaded, though it ends
// any process that loads it, as LD_LIBRARY_PATH=. shows.
TEST(Startup, LibraryPlantedInTheCurrentDirectoryIsNotLoaded) {
    TempDir dir;
    std::filesystem::copy_file(PLANTED_LIBRARY, dir.path() + "/libmodbus.so.5");
    for (const char* binary : {TESMAR_BINARY, SIM_BINARY}) {
        for (const std::string library_path :
             {"unset LD_LIBRARY_PATH", "export LD_LIBRARY_PATH=."}) {
            const ProcessResult run =
                runProcess({"/bin/sh", "-c", "cd \"$1\" && " + library_path + " && exec \"$0\" -?",
                            binary, dir.path()},
                           "");
            EXPECT_EQ(run.exit_status, library_path[0] == 'u' ? 0 : 42) << binary << library_path;
        }
    }
}

TEST(Startup, EchoShowsArgumentsAsTypedBeforeParsing) {
    const std::vector<std::string> args{
        "extra", "-d", "/nonexistent/tty", "-d", "/nonexistent/tty2", "quote\"d"};
    const ProcessResult run = runTesmar(args, "q\n");
    EXPECT_EQ(run.out, echoOf(args) + prompt + quit_lines);
    EXPECT_EQ(
        run.err,
        "INFO cModbus: Opening master RTU bus on /nonexistent/tty2 with baud 19200 and config\n");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Startup, HostWinsOverDeviceAndNumbersFollowBaseZero) {
    for (const std::string port : {"0x1F6", "0766", "0b111110110", "-1", "abc", "65536"}) {
        const std::vector<std::string> args{"-d", "/dev/ttyS0", "-h", "", "-p", port};
        const ProcessResult run = runTesmar(args, "q\n");
        const std::string shown = port == "-1"      ? "-1"
                                  : port == "abc"   ? "0"
                                  : port == "65536" ? "65536"
                                                    : "502";
        EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
                  "INFO cModbus: Opening TCP client bus to :" + shown + "\n");
        EXPECT_EQ(run.exit_status, 0);
    }
}

TEST(Startup, TcpToAClosedPortReportsAfterThePrompt) {
    const std::string screen = R"(
modbus$>rr
Perform read register
Read a: 0

modbus$>wr 5
Perform write register
Writing to 0:
0x5
Write bombed

modbus$>q
Closing Bus interface...
Bye Bye
)";
    const SessionRun run = runSession({"-h", "127.0.0.1", "-p", "1"}, screen);
    EXPECT_EQ(run.screen, screen);
    EXPECT_EQ(run.err.find("INFO cModbus: Opening TCP client bus to 127.0.0.1:1\n"
                           "ERROR cModbus: Modbus did not start at all\n"),
              0u)
        << run.err;
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Startup, RefusedBusSettingsLogOnceAndRegisterCommandsSayNoBus) {
    const std::string screen = R"(
modbus$>rr
Perform read register
No bus interface (the library refused the bus settings)

modbus$>wr 1
Perform write register
No bus interface (the library refused the bus settings)

modbus$>wr
Perform write register
We need data to write

modbus$>q
Closing Bus interface...
Bye Bye
)";
    const std::string refused =
        "ERROR cModbus: The library refused the bus settings: Invalid argument\n";
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"-h", ""}, refused},
        {{"-d", ""}, refused},
        {{"-h", std::string(400, '9')}, refused},
        {{"-d", "/dev/null", "-b", "abc"}, refused},
        {{"-d", "/dev/null", "-c", "8X1"}, refused},
        // The library would cut the port to 16 bits and connect elsewhere.
        {{"-h", "127.0.0.1", "-p", "70000"},
         "ERROR cModbus: TCP port 70000 is outside 0-65535: no connection is made\n"},
        {{"-h", "127.0.0.1", "-p", "-1"},
         "ERROR cModbus: TCP port -1 is outside 0-65535: no connection is made\n"},
    };
    for (const auto& c : cases) {
        const SessionRun run = runSession(c.args, screen);
        EXPECT_EQ(run.screen, screen) << c.args[1];
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_EQ(run.exit_status, 0);
    }
}

TEST(Startup, HostileHostTextIsNeverAFormat) {
    const std::vector<std::string> args{"-h", "%n%s%s%n%x%p"};
    const ProcessResult run = runTesmar(args, "q\n");
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
              "INFO cModbus: Opening TCP client bus to %n%s%s%n%x%p:502\n");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Startup, UnopenableDeviceLogsOnlyTheOpeningLine) {
    const std::string screen = R"(
modbus$>rr s=1
Perform read register
Got param 's=1' tag: 's' val: '1'
Read a: 0

modbus$>q
Closing Bus interface...
Bye Bye
)";
    const SessionRun run =
        runSession({"-d", "/nonexistent/ttyUSB0", "-b", "9600", "-c", "7"}, screen);
    EXPECT_EQ(run.screen, screen);
    EXPECT_EQ(
        run.err,
        "INFO cModbus: Opening master RTU bus on /nonexistent/ttyUSB0 with baud 9600 and config\n");
}

TEST(Loop, CommandWordsAreWholeAndCaseSensitive) {
    std::string input, expected;
    for (const std::string word :
         {"rrx", "r", "RR", "Rr", "sets", "sho", "showx", "Q", "QUIT", "qu", "qui", "quitx"}) {
        input += word + " a=5\n";
        expected += "Dunno about command '" + word + "\n" + prompt;
    }
    input += "show\n";
    expected += "Setting Parameters\n" + listing(0, 0, 3, 1) + prompt;
    const ProcessResult run = runTesmar({}, input + "q\n");
    EXPECT_EQ(run.out, echoOf({}) + no_bus + prompt + expected + quit_lines);
}

TEST(Loop, EmptyBlankAndCarriageReturnLines) {
    const ProcessResult run = runTesmar({}, "\n \t \n\r\n  \tset\ta=5\r\nshow a=9 l=3\nset\n");
    const std::string no_word = "we nee a command OK\n" + prompt;
    EXPECT_EQ(run.out, echoOf({}) + no_bus + prompt + no_word + no_word + no_word +
                           "Setting Parameters\nGot param 'a=5' tag: 'a' val: '5'\nAddress: 5\n" +
                           listing(0, 5, 3, 1) + prompt + "Setting Parameters\n" +
                           listing(0, 5, 3, 1) + prompt + "Setting Parameters\n" +
                           listing(0, 5, 3, 1) + prompt + "\n" + quit_lines);
}

TEST(Loop, ParametersPersistAcrossCommandsAndWbRbApplyThem) {
    const std::string screen = R"(Need to pick RTU or TCP

modbus$>wb a=5
Perform write
Got param 'a=5' tag: 'a' val: '5'
Address: 5

modbus$>rb l=2 s=3
Perform read
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Got param 's=3' tag: 's' val: '3'

modbus$>set rr f=4
Setting Parameters
Got param 'f=4' tag: 'f' val: '4'
Current Parameter settings:
s=3 (Slave Address)
a=5 (I/O Address)
p=0 (I/O Page)
o=5 (I/O Offset)
f=4 (Function Code)
l=2 (Data Length)

modbus$>foo a=9
Dunno about command 'foo

modbus$>show
Setting Parameters
Current Parameter settings:
s=3 (Slave Address)
a=5 (I/O Address)
p=0 (I/O Page)
o=5 (I/O Offset)
f=4 (Function Code)
l=2 (Data Length)

modbus$>q now
Closing Bus interface...
Bye Bye
)";
    const SessionRun run = runSession({}, screen);
    EXPECT_EQ(run.screen, screen);
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Loop, RegisterCommandsWithoutABusTouchNothing) {
    const std::string screen = R"(Need to pick RTU or TCP

modbus$>rr a=7
Perform read register
Got param 'a=7' tag: 'a' val: '7'
Address: 7
No bus interface (start tesmar with -h <host> or -d <device>)

modbus$>wr
Perform write register
We need data to write

modbus$>wr 1 2
Perform write register
No bus interface (start tesmar with -h <host> or -d <device>)

modbus$>quit
Closing Bus interface...
Bye Bye
)";
    const SessionRun run = runSession({}, screen);
    EXPECT_EQ(run.screen, screen);
    EXPECT_EQ(run.err, "");
}

TEST(Loop, EndOfInputEndsLikeQuitEvenMidLine) {
    // The last prompt gets no line: the input ends there.
    const std::string nothing_typed = R"(Need to pick RTU or TCP

modbus$>
Closing Bus interface...
Bye Bye
)";
    const SessionRun empty = runSession({}, nothing_typed);
    EXPECT_EQ(empty.screen, nothing_typed);
    EXPECT_EQ(empty.exit_status, 0);

    const ProcessResult unfinished = runTesmar({}, "show\nset a=3");
    EXPECT_EQ(unfinished.out, echoOf({}) + no_bus + prompt + "Setting Parameters\n" +
                                  listing(0, 0, 3, 1) + prompt +
                                  "Setting Parameters\nGot param 'a=3' tag: 'a' val: '3'\n"
                                  "Address: 3\n" +
                                  listing(0, 3, 3, 1) + prompt + "\n" + quit_lines);
    EXPECT_EQ(unfinished.exit_status, 0);
}

TEST(Loop, HostileInputIsSurvived) {
    std::string huge = "set";
    for (int i = 0; i < 100000; ++i) {
        huge += " x";
    }
    std::string binary("\x01\x02\x00\xff\xfe rr\x00 \x7f\n", 12);
    const ProcessResult run =
        runTesmar({}, huge + "\n" + binary + "wr" + std::string(130 * 2, ' ') + "\nq\n");
    EXPECT_EQ(run.out, echoOf({}) + no_bus + prompt + "Setting Parameters\n" + listing(0, 0, 3, 1) +
                           prompt + "Dunno about command '" +
                           std::string("\x01\x02\x00\xff\xfe", 5) + "\n" + prompt +
                           "Perform write register\nWe need data to write\n" + prompt + quit_lines);
    EXPECT_EQ(run.exit_status, 0);
}

}  // namespace
