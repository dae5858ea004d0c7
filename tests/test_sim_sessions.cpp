// tesmar against a simulator loaded from a map file, over TCP and RTU: the file's values read
// back, writes kept for the next client, and one request log line per request.
#include <modbus.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/peer.h"
#include "tests/support/process.h"
#include "tests/support/transcript.h"

namespace {

const std::string small_map =
    "# the test's plant\n"
    "holding 10 0x4049 0x0FDB   # pi\n"
    "input 10 0x0102\n"
    "coil 5 1 0 1\n"
    "discrete 3 1\n";

// The log lines without their time and client, which are checked to be there.
std::vector<std::string> logEntries(const std::string& log, const std::string& client) {
    std::vector<std::string> entries;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t unit = line.find(" unit ");
        const std::string head = unit == std::string::npos ? line : line.substr(0, unit);
        // "HH:MM:SS.mmm " then the client.
        EXPECT_EQ(head.size() > 13 ? head.substr(12, client.size() + 1) : head, " " + client)
            << line;
        entries.push_back(unit == std::string::npos ? line : line.substr(unit + 1));
    }
    return entries;
}

class MapSession : public ::testing::TestWithParam<std::string> {
protected:
    std::unique_ptr<SimPeer> startPeer(std::vector<std::string> options) {
        std::ofstream(dir.path() + "/plant.map") << small_map;
        options.insert(options.begin(), {"-m", dir.path() + "/plant.map", "-l"});
        return GetParam() == "tcp" ? SimPeer::tcp(options) : SimPeer::rtu(options);
    }
    std::string client(const SimPeer& peer) const { return peer.isTcp() ? "127.0.0.1:" : "rtu"; }

    TempDir dir;
};

// Reads coils (1) or discrete inputs (2) as another master would: tesmar reads registers only.
std::vector<uint8_t> readBits(const SimPeer& peer, int function, int address, int count) {
    const std::vector<std::string> args = peer.tesmarArgs();
    modbus_t* ctx = peer.isTcp() ? modbus_new_tcp(args[1].c_str(), std::stoi(args[3]))
                                 : modbus_new_rtu(args[1].c_str(), 19200, 'N', 8, 1);
    std::vector<uint8_t> bits(static_cast<std::size_t>(count));
    int got = -1;
    if (ctx != nullptr && modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0) {
        got = function == 1 ? modbus_read_bits(ctx, address, count, bits.data())
                            : modbus_read_input_bits(ctx, address, count, bits.data());
        modbus_close(ctx);
    }
    modbus_free(ctx);
    return got == count ? bits : std::vector<uint8_t>{};
}

TEST_P(MapSession, ServesTheFileAndLogsEachRequest) {
    const auto peer = startPeer({});
    const std::string transcript = R"(
modbus$>rr s=1 a=10 l=2
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'a=10' tag: 'a' val: '10'
Address: 10
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Read a: 10
--------->                      <--------- (4 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   40 49 0f db                                       @I..            
32: 40490FDB 1078530011
f :3.141593

modbus$>rr f=4 l=1
Perform read register
Got param 'f=4' tag: 'f' val: '4'
Got param 'l=1' tag: 'l' val: '1'
Length: 1
Read a: 10
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   01 02                                             ..              
16: 0201 513

modbus$>rr a=65530 l=7
Perform read register
Got param 'a=65530' tag: 'a' val: '65530'
Address: 65530
Got param 'l=7' tag: 'l' val: '7'
Length: 7
Read a: 65530

modbus$>q
Closing Bus interface...
Bye Bye
)";
    const SessionRun run = runSession(peer->tesmarArgs(), transcript);
    EXPECT_EQ(run.screen, transcript);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(logEntries(peer->log(), client(*peer)),
              (std::vector<std::string>{
                  "unit 1 read holding registers (3) address 10 count 2: ok",
                  "unit 1 read input registers (4) address 10 count 1: ok",
                  "unit 1 read input registers (4) address 65530 count 7: exception 2 (illegal "
                  "data address)",
              }));
    EXPECT_EQ(readBits(*peer, 1, 4, 4), (std::vector<uint8_t>{0, 1, 0, 1}));
    EXPECT_EQ(readBits(*peer, 2, 3, 2), (std::vector<uint8_t>{1, 0}));
}

TEST_P(MapSession, AWriteIsSeenByTheNextClient) {
    const auto peer = startPeer({});
    const std::string write = R"(
modbus$>wr s=1 a=11 beef
Perform write register
Got param 's=1' tag: 's' val: '1'
Got param 'a=11' tag: 'a' val: '11'
Address: 11
Writing to 11:
0xbeef
Sucessfully wrote 1 registers

modbus$>
Closing Bus interface...
Bye Bye
)";
    EXPECT_EQ(runSession(peer->tesmarArgs(), write).screen, write);
    const std::string read = R"(
modbus$>rr s=1 a=11
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'a=11' tag: 'a' val: '11'
Address: 11
Read a: 11
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   be ef                                             ..              
16: EFBE 61374

modbus$>
Closing Bus interface...
Bye Bye
)";
    EXPECT_EQ(runSession(peer->tesmarArgs(), read).screen, read);
}

TEST_P(MapSession, AFaultOnTheFirstRequestOnly) {
    const auto peer = startPeer({"-f", "exception", "-n", "1"});
    const std::string transcript = R"(
modbus$>rr s=1 a=10 l=1
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'a=10' tag: 'a' val: '10'
Address: 10
Got param 'l=1' tag: 'l' val: '1'
Length: 1
Read a: 10

modbus$>rr
Perform read register
Read a: 10
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   40 49                                             @I              
16: 4940 18752

modbus$>
Closing Bus interface...
Bye Bye
)";
    EXPECT_EQ(runSession(peer->tesmarArgs(), transcript).screen, transcript);
    EXPECT_EQ(logEntries(peer->log(), client(*peer)),
              (std::vector<std::string>{
                  "unit 1 read holding registers (3) address 10 count 1: fault exception 4 "
                  "(server device failure)",
                  "unit 1 read holding registers (3) address 10 count 1: ok",
              }));
}

INSTANTIATE_TEST_SUITE_P(Buses, MapSession, ::testing::Values("tcp", "rtu"),
                         [](const ::testing::TestParamInfo<std::string>& bus) {
                             return bus.param;
                         });

TEST(MapSessionTcp, AUnitGivenAnswersThatUnitOnly) {
    TempDir dir;
    std::ofstream(dir.path() + "/plant.map") << small_map;
    const auto peer = SimPeer::tcp({"-m", dir.path() + "/plant.map", "-l", "-s", "3"});
    const std::string transcript = R"(
modbus$>rr s=3 a=10 f=4
Perform read register
Got param 's=3' tag: 's' val: '3'
Got param 'a=10' tag: 'a' val: '10'
Address: 10
Got param 'f=4' tag: 'f' val: '4'
Read a: 10
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   01 02                                             ..              
16: 0201 513

modbus$>rr s=4
Perform read register
Got param 's=4' tag: 's' val: '4'
Read a: 10

modbus$>
Closing Bus interface...
Bye Bye
)";
    EXPECT_EQ(runSession(peer->tesmarArgs(), transcript).screen, transcript);
    EXPECT_EQ(logEntries(peer->log(), "127.0.0.1:"),
              (std::vector<std::string>{
                  "unit 3 read input registers (4) address 10 count 1: ok",
                  "unit 4 read input registers (4) address 10 count 1: ignored: not for this unit",
              }));
}

TEST(SimStartRefused, BeforeServingWithStatusTwo) {
    TempDir dir;
    const std::string path = dir.path() + "/plant.map";
    std::ofstream(path) << small_map << "coil 7 1 2\n";
    // No writer ever opens it: reading it would wait for ever.
    const std::string fifo = dir.path() + "/plant.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::vector<std::string> options;
        std::string err;
    } cases[] = {
        {{"-p", "0", "-m", path}, path + ":6: bad value '2' (0 or 1)\n"},
        {{"-p", "0", "-m", dir.path()}, dir.path() + ": a directory, not a regular file\n"},
        {{"-p", "0", "-m", "/dev/zero"}, "/dev/zero: a device, not a regular file\n"},
        {{"-p", "0", "-m", fifo}, fifo + ": a FIFO, not a regular file\n"},
        {{"-p", "0", "-f", "crc"}, "fault mode crc works over RTU only\n"},
        {{"-d", "/nonexistent", "-f", "txid"}, "fault mode txid works over TCP only\n"},
        {{"-p", "0", "-e"}, "-e works over RTU only\n"},
        {{"-d", "/nonexistent", "-s", "248"}, "an RTU slave address is 1 to 247\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{SIM_BINARY};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        const ProcessResult run = runProcess(argv, "");
        EXPECT_EQ(run.exit_status, 2) << c.err;
        EXPECT_EQ(run.out, "") << c.err;
        EXPECT_EQ(run.err, "tesmar-sim: " + c.err);
    }
}

}  // namespace
