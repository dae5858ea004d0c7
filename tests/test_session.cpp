// The built tool driven through its standard input, without any bus peer.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "session.h"

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
    const std::vector<std::string> args{"-h", "127.0.0.1", "-p", "1"};
    const ProcessResult run = runTesmar(args, "rr\nwr 5\nq\n");
    EXPECT_EQ(withoutLibraryTrace(run.out),
              echoOf(args) + prompt + "Perform read register\nRead a: 0\n" + prompt +
                  "Perform write register\nWriting to 0:\n0x5\nWrite bombed\n" + prompt +
                  quit_lines);
    EXPECT_EQ(run.err.find("INFO cModbus: Opening TCP client bus to 127.0.0.1:1\n"
                           "ERROR cModbus: Modbus did not start at all\n"),
              0u)
        << run.err;
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Startup, RefusedBusSettingsLogOnceAndRegisterCommandsSayNoBus) {
    const std::string refused = "No bus interface (the library refused the bus settings)\n";
    const std::vector<std::vector<std::string>> cases{
        {"-h", ""},
        {"-d", ""},
        {"-h", std::string(400, '9')},
        {"-d", "/dev/null", "-b", "abc"},
        {"-d", "/dev/null", "-c", "8X1"},
    };
    for (const auto& args : cases) {
        const ProcessResult run = runTesmar(args, "rr\nwr 1\nwr\nq\n");
        EXPECT_EQ(run.out, echoOf(args) + prompt + "Perform read register\n" + refused + prompt +
                               "Perform write register\n" + refused + prompt +
                               "Perform write register\nWe need data to write\n" + prompt +
                               quit_lines)
            << args[1];
        EXPECT_NE(
            run.err.find("ERROR cModbus: The library refused the bus settings: Invalid argument\n"),
            std::string::npos)
            << run.err;
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
    const std::vector<std::string> args{"-d", "/nonexistent/ttyUSB0", "-b", "9600", "-c", "7"};
    const ProcessResult run = runTesmar(args, "rr s=1\nq\n");
    EXPECT_EQ(run.out, echoOf(args) + prompt +
                           "Perform read register\nGot param 's=1' tag: 's' val: '1'\n" +
                           "Read a: 0\n" + prompt + quit_lines);
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
    const ProcessResult run =
        runTesmar({}, "wb a=5\nrb l=2 s=3\nset rr f=4\nfoo a=9\nshow\nq now\n");
    EXPECT_EQ(run.out, echoOf({}) + no_bus + prompt +
                           "Perform write\nGot param 'a=5' tag: 'a' val: '5'\nAddress: 5\n" +
                           prompt +
                           "Perform read\nGot param 'l=2' tag: 'l' val: '2'\nLength: 2\n"
                           "Got param 's=3' tag: 's' val: '3'\n" +
                           prompt + "Setting Parameters\nGot param 'f=4' tag: 'f' val: '4'\n" +
                           listing(3, 5, 4, 2) + prompt + "Dunno about command 'foo\n" + prompt +
                           "Setting Parameters\n" + listing(3, 5, 4, 2) + prompt + quit_lines);
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Loop, RegisterCommandsWithoutABusTouchNothing) {
    const ProcessResult run = runTesmar({}, "rr a=7\nwr\nwr 1 2\nquit");
    const std::string hint = "No bus interface (start tesmar with -h <host> or -d <device>)\n";
    EXPECT_EQ(run.out,
              echoOf({}) + no_bus + prompt +
                  "Perform read register\nGot param 'a=7' tag: 'a' val: '7'\nAddress: 7\n" + hint +
                  prompt + "Perform write register\nWe need data to write\n" + prompt +
                  "Perform write register\n" + hint + prompt + quit_lines);
    EXPECT_EQ(run.err, "");
}

TEST(Loop, EndOfInputEndsLikeQuitEvenMidLine) {
    const ProcessResult empty = runTesmar({}, "");
    EXPECT_EQ(empty.out, echoOf({}) + no_bus + prompt + "\n" + quit_lines);
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
