// Each request's answer is its own and each request ends within its bound: against a slave run by
// the test itself, for timings the simulator has no fault for, and at a real terminal the reason
// of every failed request.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/peer.h"
#include "tests/support/scripted_slave.h"
#include "tests/support/session.h"
#include "tests/support/transcript.h"

namespace {

using Reply = SlaveStep::Reply;

// The lines written for a write of one value to register 10, the parameters given first.
std::string writeOf(const std::string& params, const std::string& value) {
    std::string lines = "\nmodbus$>wr " + params + " " + value + "\nPerform write register\n";
    if (params.find("s=1") != std::string::npos) {
        lines += "Got param 's=1' tag: 's' val: '1'\n";
    }
    return lines + "Got param 'a=10' tag: 'a' val: '10'\nAddress: 10\nWriting to 10:\n0x" + value +
           "\n";
}

const std::string read_back_seven = R"(
modbus$>rr l=1
Perform read register
Got param 'l=1' tag: 'l' val: '1'
Length: 1
Read a: 10
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   00 07                                             ..              
16: 0700 1792

modbus$>q
Closing Bus interface...
Bye Bye
)";

// The slave confirms the first write 1.7 s late, while the second write waits for its own answer,
// which never comes or is a refusal: the earlier confirmation must not count for it.
TEST(TransactionId, LateConfirmationOfAnEarlierWriteNeverCounts) {
    for (const Reply second : {Reply::silent, Reply::exception}) {
        ScriptedSlave slave(true, {{Reply::answer, 1700}, {second, 0}});
        const std::string screen = writeOf("s=1 a=10", "7") + "Write bombed\n" +
                                   writeOf("a=10", "8") + "Write bombed\n" + read_back_seven;
        const SessionRun run = runSession(slave.tesmarArgs(), screen);
        EXPECT_EQ(run.screen, screen);
        EXPECT_EQ(run.err.find("confirmed the write"), std::string::npos) << run.err;
        const std::vector<std::string> done{
            "write 10 count 1: answer",
            std::string("write 10 count 1: ") + (second == Reply::silent ? "silent" : "exception"),
            "read 10 count 1: answer"};
        EXPECT_EQ(slave.log(), done);
    }
}

// 123 registers take 2.34 s on a 1200 baud line; a slave that answers as soon as it has them is
// in time, as the response timeout counts from the end of the request on the wire.
TEST(WireTime, LongWriteAtLowBaudIsConfirmedInTime) {
    ScriptedSlave slave(false, {}, 1200);
    std::vector<std::string> args = slave.tesmarArgs();
    args.insert(args.end(), {"-b", "1200"});
    std::string line = "wr s=1 a=0";
    for (int i = 0; i < 123; ++i) {
        line += " " + std::to_string(i);
    }
    const ProcessResult run = runTesmar(args, line + "\nq\n");
    EXPECT_NE(run.out.find("Sucessfully wrote 123 registers\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("ERROR cModbus"), std::string::npos) << run.err;
    EXPECT_EQ(slave.log(), std::vector<std::string>{"write 0 count 123: answer"});
}

// On RTU an answer that begins within two response timeouts after its request has left the line
// is never taken for a later request's: 1.5 s is half a second inside that bound.
TEST(RtuBound, ConfirmationJustInsideTheBoundIsMatched) {
    ScriptedSlave slave(false, {{Reply::answer, 1500}});
    const std::string screen =
        writeOf("s=1 a=10", "7") + "Sucessfully wrote 1 registers\n" + read_back_seven;
    const SessionRun run = runSession(slave.tesmarArgs(), screen);
    EXPECT_EQ(run.screen, screen);
    EXPECT_NE(run.err.find("The slave confirmed the write 1"), std::string::npos) << run.err;
    EXPECT_EQ(slave.log(),
              (std::vector<std::string>{"write 10 count 1: answer", "read 10 count 1: answer"}));
}

// At a terminal, a failed request says why in one line; piped, the same sessions print nothing
// more (the transcripts of the fault sessions).
TEST(SayWhy, EachFailureNamesItsReason) {
    const struct {
        bool tcp;
        const char* fault;
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
        {true, "txid", "rr s=1", "Read failed: a reply that does not fit the request"},
        {true, "close", "rr s=1", "Read failed: the slave closed the connection"},
        {true, "none", "rr s=1 l=126", "Read failed: too many registers for one request"},
    };
    for (const auto& c : cases) {
        const auto peer = c.tcp ? SimPeer::tcp({"-f", c.fault}) : SimPeer::rtu({"-f", c.fault});
        std::vector<std::string> argv{TESMAR_BINARY};
        for (const std::string& arg : peer->tesmarArgs()) {
            argv.push_back(arg);
        }
        TerminalProcess tesmar(argv, TerminalProcess::Wiring::both, "dumb");
        tesmar.readUntil("modbus$>");
        tesmar.type(std::string(c.command) + "\r");
        const std::string out = tesmar.readUntil("\r\nmodbus$>");
        EXPECT_NE(out.find(std::string(c.reason) + "\r\n"), std::string::npos) << out;
        tesmar.type("q\r");
        EXPECT_EQ(tesmar.finish().exit_status, 0);
    }
    TerminalProcess unconnected({TESMAR_BINARY, "-h", "127.0.0.1", "-p", "1"},
                                TerminalProcess::Wiring::both, "dumb");
    unconnected.readUntil("modbus$>");
    unconnected.type("rr s=1\r");
    EXPECT_NE(unconnected.readUntil("\r\nmodbus$>")
                  .find("Read failed: not connected, because the connection failed at start\r\n"),
              std::string::npos);
    unconnected.type("q\r");
}

}  // namespace
