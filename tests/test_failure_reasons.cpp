// At a real terminal, the reason of every failed request, against the simulator's faults.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/peer.h"
#include "tests/support/session.h"

namespace {

// At a terminal, a failed request says why in one line; piped, the same sessions print nothing
// more (the transcripts of the fault sessions).
TEST(SayWhy, EachFailureNamesItsReason) {
    const struct {
        bool tcp;
        const char* fault;  // nullptr: no slave listens
        const char* command;
        const char* reason;
    } cases[] = {
        {true, "silent", "rr s=1", "Read failed: no answer from slave 1 within 500 ms"},
        {false, "silent", "wr s=1 5",
         "Write bombed\r\nWrite failed: no answer from slave 1 "
         "within 1000 ms"},
        {true, "exception", "wr s=1 5",
         "Write bombed\r\nWrite failed: slave 1 refused with exception 4 (slave device failure)"},
        {false, "exception", "rr s=1",
         "Read failed: slave 1 refused with exception 4 (slave device failure)"},
        {false, "crc", "rr s=1", "Read failed: a reply with a bad CRC"},
        {false, "unit", "rr s=1", "Read failed: a reply from another slave than 1"},
        {true, "unit", "rr s=1", "Read failed: a reply from another slave than 1"},
        {true, "txid", "rr s=1", "Read failed: a reply to another request"},
        {true, "bytecount", "rr s=1", "Read failed: a reply that does not fit the request"},
        {false, "garbage", "rr s=1", "Read failed: garbage that makes no Modbus frame"},
        {true, "close", "rr s=1", "Read failed: the slave closed the connection"},
        {true, "none", "rr s=1 l=126", "Read failed: too many registers for one request"},
        {true, "trickle", "rr s=1 l=100",
         "Read failed: the reply of slave 1 had not ended 1000 ms after the request, so it was "
         "given up"},
        {true, nullptr, "rr s=1",
         "Read failed: not connected, because the connection failed at start"},
    };
    checkAtOnce(cases, [](const auto& c) {
        SCOPED_TRACE(std::string(c.tcp ? "tcp " : "rtu ") + (c.fault ? c.fault : "no slave") +
                     ": " + c.command);
        const auto peer = !c.fault ? nullptr
                          : c.tcp  ? SimPeer::tcp({"-f", c.fault})
                                   : SimPeer::rtu({"-f", c.fault});
        TerminalProcess tesmar(
            peer ? peer->tesmarCommand()
                 : std::vector<std::string>{TESMAR_BINARY, "-h", "127.0.0.1", "-p", "1"},
            TerminalProcess::Wiring::both, "dumb");
        tesmar.readUntil("modbus$>");
        tesmar.type(std::string(c.command) + "\r");
        const std::string out = tesmar.readUntil("\r\nmodbus$>");
        EXPECT_NE(out.find(std::string(c.reason) + "\r\n"), std::string::npos) << out;
        tesmar.type("q\r");
        EXPECT_EQ(tesmar.finish().exit_status, 0);
    });
}

// At a terminal a line that returns the requests is named once a session, and reads go on.
TEST(SayWhy, AnEchoingLineIsNamedOnce) {
    const auto peer = SimPeer::rtu({"-e"});
    TerminalProcess tesmar(peer->tesmarCommand(), TerminalProcess::Wiring::both, "dumb");
    tesmar.readUntil("modbus$>");
    std::string out;
    for (int read = 0; read < 2; ++read) {
        tesmar.type("rr s=1 a=100 l=2\r");
        out += tesmar.readUntil("f :12.500000\r\n");
    }
    tesmar.type("q\r");
    EXPECT_EQ(tesmar.finish().exit_status, 0);
    const std::string notice =
        "The line echoes every request (an RS-485 adapter that hears itself): the echo is "
        "skipped\r\n";
    EXPECT_NE(out.find(notice), std::string::npos) << out;
    EXPECT_EQ(out.find(notice), out.rfind(notice)) << out;
    EXPECT_EQ(out.rfind("f :12.500000"), out.size() - 14) << out;
}

// At a terminal the start says why the bus did not open; piped, the start keeps its lines.
TEST(SayWhy, TheStartSaysWhyTheBusDidNotOpen) {
    TempDir dir;
    const std::string missing = dir.path() + "/missing";
    const struct {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{"-h", "127.0.0.1", "-p", "1"}, "127.0.0.1:1: Connection refused"},
        {{"-h", "localhost", "-p", "1"},
         "localhost is not a numeric IPv4 address; names are not looked up (127.0.0.1 is this "
         "machine)"},
        {{"-d", missing}, missing + ": No such file or directory"},
    };
    checkAtOnce(cases, [](const auto& c) {
        std::vector<std::string> argv{TESMAR_BINARY};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        TerminalProcess tesmar(argv, TerminalProcess::Wiring::both, "dumb");
        const std::string line = "The bus did not open: " + c.reason + "\r\n";
        const std::string out = tesmar.readUntil(line);
        EXPECT_NE(out.find(line), std::string::npos) << out;
        tesmar.type("q\r");
        EXPECT_EQ(tesmar.finish().exit_status, 0);
        const ProcessResult piped = runTesmar(c.args, "q\n");
        EXPECT_EQ(piped.out.find("did not open"), std::string::npos) << piped.out;
    });
}

}  // namespace
