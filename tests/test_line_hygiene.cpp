// Every answer belongs to its own request: sessions against a slave that answers late, through
// noise or not at all, read back from the slave afterwards; and the tool's own output that never
// lies about order or loss.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frames/frames.h"
#include "tests/support/peer.h"
#include "tests/support/session.h"
#include "tests/support/transcript.h"

namespace {

// The text with {range} standing for the slave numbers of the bus and {timeout} for its response
// timeout in milliseconds.
std::string forBus(std::string text, const SimPeer& peer) {
    text = std::regex_replace(text, std::regex("\\{timeout\\}"), peer.isTcp() ? "500" : "1000");
    return std::regex_replace(text, std::regex("\\{range\\}"),
                              peer.isTcp() ? "0-247 and 255" : "0-247");
}

struct HygieneCase {
    const char* name;
    // Simulator options on TCP, and on RTU. A late reply comes 0.5 s after the response timeout
    // (TCP 0.5 s, RTU 1 s) and 0.5 s before the request's bound (TCP 1.5 s, RTU 2 s and the
    // frames' time on the line).
    std::vector<std::string> tcp_fault;
    std::vector<std::string> rtu_fault;
    const char* screen;
    std::vector<const char*> slave_log;  // what the slave did, in its request log
    const char* log_line;  // on standard error, if any; a number in it is at least the delay
};

const HygieneCase hygiene_cases[] = {
    {"LateConfirmationCountsOnlyForItsOwnWrite",
     {"-f", "late", "-D", "1000", "-n", "1"},
     // Half a second inside the RTU bound: an answer that begins within two timeouts after the
     // request has left the line is never taken for a later request's.
     {"-f", "late", "-D", "1500", "-n", "1"},
     R"(
modbus$>wr s=1 a=10 1
Perform write register
Got param 's=1' tag: 's' val: '1'
Got param 'a=10' tag: 'a' val: '10'
Address: 10
Writing to 10:
0x1
Sucessfully wrote 1 registers

modbus$>wr a=20 2
Perform write register
Got param 'a=20' tag: 'a' val: '20'
Address: 20
Writing to 20:
0x2
Sucessfully wrote 1 registers

modbus$>wr a=30 3
Perform write register
Got param 'a=30' tag: 'a' val: '30'
Address: 30
Writing to 30:
0x3
Sucessfully wrote 1 registers

modbus$>rr a=10 l=1
Perform read register
Got param 'a=10' tag: 'a' val: '10'
Address: 10
Got param 'l=1' tag: 'l' val: '1'
Length: 1
Read a: 10
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   00 01                                             ..              
16: 0100 256

modbus$>q
Closing Bus interface...
Bye Bye
)",
     {"address 10 count 1: fault late", "address 20 count 1: ok", "address 30 count 1: ok"},
     "ERROR cModbus: The slave confirmed the write ([0-9]+) ms after the request, later than the "
     "response timeout of {timeout} ms\n"},
    {"LateReadDoesNotShiftLaterReads",
     {"-f", "late", "-D", "1000", "-n", "1"},
     {"-f", "late", "-D", "1500", "-n", "1"},
     R"(
modbus$>rr s=1 a=100
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'a=100' tag: 'a' val: '100'
Address: 100
Read a: 100

modbus$>rr a=200
Perform read register
Got param 'a=200' tag: 'a' val: '200'
Address: 200
Read a: 200
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   74 65                                             te              
16: 6574 25972

modbus$>rr a=300
Perform read register
Got param 'a=300' tag: 'a' val: '300'
Address: 300
Read a: 300
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   1f 20                                             .               
16: 201F 8223

modbus$>q
Closing Bus interface...
Bye Bye
)",
     {"address 100 count 1: fault late", "address 200 count 1: ok"},
     "ERROR cModbus: Bytes that came after the failed request were discarded\n"},
    // Stray bytes before the reply, and on RTU a line that returns each request before the
    // answer, are set aside: every request prints what it prints on a clean line, and no write
    // is confirmed by its own echo (whose first 8 bytes make the confirmation of 0x6C00 at 2064).
    {"StrayBytesAndTheLinesEchoAreSetAside",
     {"-f", "noise", "-n", "1", "-s", "1"},
     {"-f", "noise", "-n", "1", "-e"},
     R"(
modbus$>rr s=1 a=100 l=2
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'a=100' tag: 'a' val: '100'
Address: 100
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Read a: 100
--------->                      <--------- (4 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   41 48 00 00                                       AH..            
32: 41480000 1095237632
f :12.500000

modbus$>wr a=2064 6c00
Perform write register
Got param 'a=2064' tag: 'a' val: '2064'
Address: 2064
Writing to 2064:
0x6c00
Sucessfully wrote 1 registers

modbus$>rr l=1
Perform read register
Got param 'l=1' tag: 'l' val: '1'
Length: 1
Read a: 2064
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   6c 00                                             l.              
16: 006C 108

modbus$>wr s=4 1
Perform write register
Got param 's=4' tag: 's' val: '4'
Writing to 2064:
0x1
Write bombed

modbus$>rr l=2
Perform read register
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Read a: 2064

modbus$>q
Closing Bus interface...
Bye Bye
)",
     {"address 100 count 2: fault noise", "address 2064 count 1: ok", "address 2064 count 1: ok",
      "unit 4 write multiple registers (16) address 2064 count 1: ignored",
      "unit 4 read holding registers (3) address 2064 count 2: ignored"},
     nullptr},
    // A reply that trickles in a byte every 0.1 s ends well within its bound: it is the answer,
    // and no signal or cut of the line is involved in waiting for it.
    {"TrickleWithinTheBoundIsTheAnswer",
     {"-f", "trickle", "-D", "100", "-n", "1"},
     {"-f", "trickle", "-D", "100", "-n", "1"},
     R"(
modbus$>rr s=1 a=100 l=2
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'a=100' tag: 'a' val: '100'
Address: 100
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Read a: 100
--------->                      <--------- (4 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   41 48 00 00                                       AH..            
32: 41480000 1095237632
f :12.500000

modbus$>q
Closing Bus interface...
Bye Bye
)",
     {"address 100 count 2: fault trickle"},
     nullptr},
    {"RefusedSlaveNumberWritesNothing",
     {},
     {},
     R"(
modbus$>wr s=1 a=50 1
Perform write register
Got param 's=1' tag: 's' val: '1'
Got param 'a=50' tag: 'a' val: '50'
Address: 50
Writing to 50:
0x1
Sucessfully wrote 1 registers

modbus$>wr s=250 beef
Perform write register
Got param 's=250' tag: 's' val: '250'
Writing to 50:
0xbeef
Slave 250 refused: valid slave numbers are {range}

modbus$>rr s=248
Perform read register
Got param 's=248' tag: 's' val: '248'
Read a: 50
Slave 248 refused: valid slave numbers are {range}

modbus$>rr s=1
Perform read register
Got param 's=1' tag: 's' val: '1'
Read a: 50
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   00 01                                             ..              
16: 0100 256

modbus$>q
Closing Bus interface...
Bye Bye
)",
     {"address 50 count 1: ok"},
     nullptr},
};

class LineHygiene : public ::testing::TestWithParam<HygieneCase> {};

// The same session over TCP and over RTU, at the same time.
TEST_P(LineHygiene, PrintedOutcomeMatchesWhatTheSlaveDid) {
    const HygieneCase& c = GetParam();
    checkAtOnce(std::vector<std::string>{"tcp", "rtu"}, [&c](const std::string& bus) {
        SCOPED_TRACE(bus);
        std::vector<std::string> options = bus == "tcp" ? c.tcp_fault : c.rtu_fault;
        options.push_back("-l");
        const auto peer = bus == "tcp" ? SimPeer::tcp(options) : SimPeer::rtu(options);
        const std::string screen = forBus(c.screen, *peer);
        const SessionRun run = runSession(peer->tesmarArgs(), screen);
        EXPECT_EQ(run.screen, screen);
        EXPECT_EQ(run.exit_status, 0);
        const std::string log = peer->log();
        std::size_t at = 0;
        for (const char* done : c.slave_log) {
            at = log.find(done, at);
            EXPECT_NE(at, std::string::npos) << done << "\n" << log;
        }
        std::smatch line;
        if (c.log_line == nullptr) {
            return;
        }
        ASSERT_TRUE(std::regex_search(run.err, line, std::regex(forBus(c.log_line, *peer))))
            << run.err;
        if (line.size() > 1) {
            // Counted from the end of the request on the wire, which the pty pair does not pace.
            const auto delay = std::find(options.begin(), options.end(), "-D") + 1;
            const long unpaced_ms = peer->isTcp() ? 0 : serialMicros(19200, 11) / 1000 + 1;
            EXPECT_GE(std::stol(line[1]), std::stol(*delay) - unpaced_ms) << run.err;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Cases, LineHygiene, ::testing::ValuesIn(hygiene_cases),
                         [](const auto& test) { return std::string(test.param.name); });

// Only a plain decimal zero typed as the slave broadcasts; a 0 that the lenient parameter rules
// made of a typo, or the slave nobody chose, sends nothing.
TEST(Broadcast, RtuWriteGoesToSlaveZeroOnlyWhenZeroWasTyped) {
    const auto peer = SimPeer::rtu({"-l"});
    const std::string refused =
        " the broadcast address: nothing sent (type s=0 to write to every slave on purpose)\n";
    std::string screen = R"(
modbus$>wr 10 20
Perform write register
Writing to 0:
0x10
0x20
No slave chosen, and 0 is)" +
                         refused;
    for (const std::string typed : {"0x11", "abc", "256", "-256"}) {
        screen += "\nmodbus$>wr s=" + typed + " 1\nPerform write register\nGot param 's=" + typed +
                  "' tag: 's' val: '" + typed + "'\nWriting to 0:\n0x1\nSlave s=" + typed +
                  " reads as 0," + refused;
    }
    screen += R"(
modbus$>set s=0x11
Setting Parameters
Got param 's=0x11' tag: 's' val: '0x11'
)" + listing(0, 0, 3, 1) +
              R"(
modbus$>wr s=0 10 20
Perform write register
Got param 's=0' tag: 's' val: '0'
Writing to 0:
0x10
0x20
Broadcast to all slaves: no slave confirms a broadcast

modbus$>rr l=2
Perform read register
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Read a: 0
Slave 0 refused: it is the broadcast address and no slave answers a read from it (valid 1-247)

modbus$>rr s=1
Perform read register
Got param 's=1' tag: 's' val: '1'
Read a: 0
--------->                      <--------- (4 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   00 10 00 20                                       ...             
32: 00100020 1048608
f :0.000000

modbus$>q
Closing Bus interface...
Bye Bye
)";
    EXPECT_EQ(runSession(peer->tesmarArgs(), screen).screen, screen);
    const std::string log = peer->log();
    const std::string broadcast = "unit 0 write multiple registers (16) address 0 count 2";
    EXPECT_NE(log.find(broadcast), std::string::npos) << log;
    EXPECT_EQ(log.find("unit 0"), log.rfind("unit 0")) << log;
}

// The far end of a pty pair, as a slave's raw serial line.
int openSlaveLine(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

// Reads size bytes; the time the first came, or nothing when the line stays quiet for 5 s.
std::optional<std::chrono::steady_clock::time_point> readFrame(int fd, uint8_t* bytes,
                                                               std::size_t size) {
    std::chrono::steady_clock::time_point first;
    for (std::size_t got = 0; got < size;) {
        pollfd line{fd, POLLIN, 0};
        const ssize_t n = poll(&line, 1, 5000) > 0 ? read(fd, bytes + got, size - got) : -1;
        if (n <= 0) {
            return std::nullopt;
        }
        first = got == 0 ? std::chrono::steady_clock::now() : first;
        got += static_cast<std::size_t>(n);
    }
    return first;
}

// Sends the frame with its check sum.
void sendFrame(int fd, std::vector<uint8_t> frame) {
    appendCrc(frame);
    EXPECT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
}

// A slave on the far end of the pair that answers every 8-byte read of one register and notes
// the gap from the end of each reply to the first byte of the next request. The reply's end is
// taken before it is sent, so a slave thread held up after sending cannot shrink a gap.
std::vector<long> gapsSeenBySlave(const std::string& device, int replies) {
    const int fd = openSlaveLine(device);
    std::vector<long> gaps;
    std::chrono::steady_clock::time_point reply_end;
    for (int served = 0; served < replies; ++served) {
        uint8_t request[8];
        const auto first = readFrame(fd, request, sizeof request);
        if (!first) {
            break;
        }
        if (served > 0) {
            gaps.push_back(static_cast<long>(
                std::chrono::duration_cast<std::chrono::microseconds>(*first - reply_end).count()));
        }
        reply_end = std::chrono::steady_clock::now();
        sendFrame(fd, {request[0], 3, 2, 0x12, 0x34});
    }
    close(fd);
    return gaps;
}

// A slave on the far end of the pair that takes one Write Multiple Registers request only as
// fast as a line of the baud rate would deliver it, confirms it at once, and returns how many
// registers it carried (-1 when none came whole).
int countWrittenAtPace(const std::string& device, int baud) {
    const int fd = openSlaveLine(device);
    uint8_t request[7 + 2 * 123 + 2];
    const auto first = readFrame(fd, request, 7);
    const std::size_t size = 7 + request[6] + 2u;
    int count = -1;
    if (first && size <= sizeof request && readFrame(fd, request + 7, size - 7)) {
        std::this_thread::sleep_until(
            *first + std::chrono::microseconds(serialMicros(baud, static_cast<int>(size))));
        sendFrame(fd, {request[0], 16, request[2], request[3], request[4], request[5]});
        count = request[4] << 8 | request[5];
    }
    close(fd);
    return count;
}

// 123 registers take 2.34 s to cross a 1200 baud line: a slave that confirms as soon as it has
// them is in time, as the response timeout counts from the end of the request on the wire.
TEST(WireTime, LongWriteAtLowBaudIsConfirmedInTime) {
    TempDir dir;
    const auto pair = ptyPair(dir.path() + "/master", dir.path() + "/slave");
    int written = 0;
    std::thread slave([&] { written = countWrittenAtPace(dir.path() + "/slave", 1200); });
    std::string line = "wr s=1";
    for (int i = 0; i < 123; ++i) {
        line += " " + std::to_string(i);
    }
    const ProcessResult run =
        runTesmar({"-d", dir.path() + "/master", "-b", "1200"}, line + "\nq\n");
    slave.join();
    EXPECT_EQ(written, 123);
    EXPECT_NE(run.out.find("Sucessfully wrote 123 registers\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("ERROR"), std::string::npos) << run.err;
}

// The slave confirms each write 2.25 s late: the first write's wait ends at its bound of 1.5 s,
// the second's at 3 s, so the first confirmation comes 0.75 s into the second's wait and 0.75 s
// before its end, and must not count for it.
TEST(TransactionId, LateConfirmationOfAnEarlierWriteNeverCounts) {
    const auto peer = SimPeer::tcp({"-f", "late", "-D", "2250", "-l"});
    const std::string screen = R"(
modbus$>wr s=1 a=10 7
Perform write register
Got param 's=1' tag: 's' val: '1'
Got param 'a=10' tag: 'a' val: '10'
Address: 10
Writing to 10:
0x7
Write bombed

modbus$>wr 8
Perform write register
Writing to 10:
0x8
Write bombed

modbus$>q
Closing Bus interface...
Bye Bye
)";
    const SessionRun run = runSession(peer->tesmarArgs(), screen);
    EXPECT_EQ(run.screen, screen);
    EXPECT_EQ(run.err.find("confirmed the write"), std::string::npos) << run.err;
    const std::string log = peer->log();
    const std::string late = "address 10 count 1: fault late";
    EXPECT_NE(log.find(late, log.find(late) + 1), std::string::npos) << log;
}

TEST(SilentInterval, PipedReadsKeepTheGapBetweenFrames) {
    for (int baud : {9600, 19200, 115200}) {
        TempDir dir;
        const std::string master = dir.path() + "/master";
        const std::string slave = dir.path() + "/slave";
        const auto pair = ptyPair(master, slave);
        std::vector<long> gaps;
        std::thread peer([&] { gaps = gapsSeenBySlave(slave, 5); });
        const ProcessResult run =
            runTesmar({"-d", master, "-b", std::to_string(baud)}, "rr s=1\nrr\nrr\nrr\nrr\nq\n");
        peer.join();
        EXPECT_EQ(run.exit_status, 0);
        ASSERT_EQ(gaps.size(), 4u) << baud;
        for (long gap : gaps) {
            EXPECT_GE(gap, silentIntervalMicros(baud)) << baud;
        }
    }
}

// Runs tesmar through the shell with a redirection of its standard streams.
ProcessResult runRedirected(const std::string& redirection, const std::vector<std::string>& args,
                            const std::string& input) {
    std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" " + redirection,
                                  TESMAR_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, input);
}

TEST(OutputOrder, LogLinesFollowTheOutputBeforeThemInOnePipe) {
    const auto peer = SimPeer::tcp();
    const ProcessResult run = runRedirected("2>&1", peer->tesmarArgs(), "rr s=1 a=100 l=2\nq\n");
    const std::string& out = run.out;
    const std::size_t prompt_at = out.find("modbus$>");
    const std::size_t started_at = out.find("INFO cModbus: Modbus started OK");
    const std::size_t reply_at = out.find("<00><01><00><00><00><07><01><03><04><41><48>");
    const std::size_t received_at = out.find("DEBUG cModbus: Received 2 registers");
    EXPECT_LT(prompt_at, started_at) << out;
    EXPECT_LT(reply_at, received_at) << out;
    EXPECT_NE(received_at, std::string::npos) << out;
    EXPECT_LT(received_at, out.find("f :12.500000")) << out;
}

TEST(OutputOrder, PromptShowsWhileAPartialLineWaits) {
    BackgroundProcess tesmar({TESMAR_BINARY});
    tesmar.send("show\nsh");
    // Fails the case unless the prompt after the listing shows while "sh" waits for its end.
    tesmar.readUntil("(Data Length)\n\nmodbus$>");
    tesmar.send("ow\nq\n");
    EXPECT_EQ(tesmar.finish(), 0);
}

TEST(StandardStreams, LostOutputClosedDescriptorsAndBusSettings) {
    const auto peer = SimPeer::tcp();
    const std::string lost = "tesmar: writing standard output failed: output was lost\n";
    const struct {
        const char* redirection;
        const char* input;
        int status;
        bool lost;
    } cases[] = {
        {">/dev/full", "show\nq\n", 1, true},
        {">/dev/full", "show\n", 1, true},
        {">&-", "show\nq\n", 0, false},
        {"2>&-", "show\nq\n", 0, false},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runRedirected(c.redirection, peer->tesmarArgs(), c.input);
        EXPECT_EQ(run.exit_status, c.status) << c.redirection;
        EXPECT_EQ(run.err.find(lost) != std::string::npos, c.lost) << run.err;
        EXPECT_EQ(run.err.find(lost), run.err.rfind(lost)) << run.err;
    }
    // Standard input closed: the socket must not be read as commands.
    const ProcessResult closed_input = runRedirected("<&-", peer->tesmarArgs(), "");
    EXPECT_NE(withoutLibraryTrace(closed_input.out).find("modbus$>\nClosing Bus interface..."),
              std::string::npos)
        << closed_input.out;
}

TEST(StandardStreams, BaudRateTheLineCannotRunIsNamed) {
    const auto rtu = SimPeer::rtu();
    const struct {
        const char* baud;
        const char* error;
    } cases[] = {
        {"1920", "Baud rate 1920 is not supported by the serial line: it runs at 9600 baud\n"},
        // The option keeps the low 32 bits of the number.
        {"99999999999",
         "Baud rate 1215752191 is not supported by the serial line: it runs at 9600 baud\n"},
        {"115200", nullptr},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runTesmar({"-d", rtu->tesmarArgs()[1], "-b", c.baud}, "q\n");
        EXPECT_EQ(run.err.find("Baud rate") != std::string::npos, c.error != nullptr) << run.err;
        if (c.error != nullptr) {
            EXPECT_NE(run.err.find(std::string("ERROR cModbus: ") + c.error), std::string::npos)
                << run.err;
        }
    }
}

}  // namespace
