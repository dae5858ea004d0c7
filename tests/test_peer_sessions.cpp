// Sessions against tesmar-sim, over TCP on loopback and over RTU on a pseudo-terminal pair. One
// transcript serves both buses.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/peer.h"
#include "tests/support/session.h"
#include "tests/support/transcript.h"

namespace {

// The writes in a simulator's request log, in the order they came.
std::vector<std::string> writesLogged(const std::string& log) {
    const std::regex write(
        "unit [0-9]+ write multiple registers \\(16\\) address [0-9]+ count [0-9]+");
    std::vector<std::string> writes;
    for (std::sregex_iterator it(log.begin(), log.end(), write), end; it != end; ++it) {
        writes.push_back(it->str());
    }
    return writes;
}

class PeerSession : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        peer = GetParam() == "tcp" ? SimPeer::tcp({"-l"}) : SimPeer::rtu({"-l"});
    }

    // Runs the transcript and checks the screen and a clean end; returns the log.
    std::string expectSession(const std::string& transcript) {
        const SessionRun run = runSession(peer->tesmarArgs(), transcript);
        EXPECT_EQ(run.screen, transcript);
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_FALSE(run.timed_out);
        return run.err;
    }

    std::unique_ptr<SimPeer> peer;
};

TEST_P(PeerSession, ReadsHoldingAndInputRegistersWithTheirViews) {
    const std::string reads = R"(
modbus$>rr s=1
Perform read register
Got param 's=1' tag: 's' val: '1'
Read a: 0
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   12 34                                             .4              
16: 3412 13330

modbus$>rr f=4
Perform read register
Got param 'f=4' tag: 'f' val: '4'
Read a: 0
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   43 21                                             C!              
16: 2143 8515

modbus$>rr f=3 a=100 l=2
Perform read register
Got param 'f=3' tag: 'f' val: '3'
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

modbus$>rr a=102
Perform read register
Got param 'a=102' tag: 'a' val: '102'
Address: 102
Read a: 102
--------->                      <--------- (4 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   bf 80 00 00                                       ....            
32: BF800000 -1082130432
f :-1.000000

modbus$>rr a=200 l=9
Perform read register
Got param 'a=200' tag: 'a' val: '200'
Address: 200
Got param 'l=9' tag: 'l' val: '9'
Length: 9
Read a: 200
--------->                      <--------- (18 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   74 65 73 6d 61 72 20 73 69 6d 75 6c 61 74 6f 72   tesmar simulator
+0010   00 00                                             ..              

modbus$>rr a=300 l=4
Perform read register
Got param 'a=300' tag: 'a' val: '300'
Address: 300
Got param 'l=4' tag: 'l' val: '4'
Length: 4
Read a: 300
--------->                      <--------- (8 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   1f 20 7e 7f 80 00 ff 41                           . ~....A        

modbus$>rr a=0 l=3
Perform read register
Got param 'a=0' tag: 'a' val: '0'
Address: 0
Got param 'l=3' tag: 'l' val: '3'
Length: 3
Read a: 0
--------->                      <--------- (6 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   12 34 56 78 00 00                                 .4Vx..          

modbus$>rr a=65535 l=1
Perform read register
Got param 'a=65535' tag: 'a' val: '65535'
Address: 65535
Got param 'l=1' tag: 'l' val: '1'
Length: 1
Read a: 65535
--------->                      <--------- (2 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   be ef                                             ..              
16: EFBE 61374

modbus$>q
Closing Bus interface...
Bye Bye
)";
    const std::string log = expectSession(reads);
    for (int count : {1, 2, 9, 4, 3}) {
        EXPECT_NE(log.find("DEBUG cModbus: Received " + std::to_string(count) + " registers\n"),
                  std::string::npos)
            << log;
    }
}

TEST_P(PeerSession, RefusedAndFailedReadsShowOnlyTheirAddress) {
    const std::string reads = R"(
modbus$>rr s=1 f=6
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'f=6' tag: 'f' val: '6'
Read a: 0

modbus$>rr f=16
Perform read register
Got param 'f=16' tag: 'f' val: '16'
Read a: 0

modbus$>rr f=4 l=126
Perform read register
Got param 'f=4' tag: 'f' val: '4'
Got param 'l=126' tag: 'l' val: '126'
Length: 126
Read a: 0

modbus$>rr f=3 l=0
Perform read register
Got param 'f=3' tag: 'f' val: '3'
Got param 'l=0' tag: 'l' val: '0'
Length: 0
Read a: 0

modbus$>rr a=65535 l=2
Perform read register
Got param 'a=65535' tag: 'a' val: '65535'
Address: 65535
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Read a: 65535

modbus$>q
Closing Bus interface...
Bye Bye
)";
    const std::string log = expectSession(reads);
    EXPECT_NE(log.find("ERROR cModbus: Function code 0x06 is not for reading registers\n"
                       "ERROR cModbus: Function code 0x10 is not for reading registers\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Received"), std::string::npos) << log;
}

TEST_P(PeerSession, LargestReadFillsSixteenRows) {
    const std::string read = R"(
modbus$>rr s=1 a=200 l=125
Perform read register
Got param 's=1' tag: 's' val: '1'
Got param 'a=200' tag: 'a' val: '200'
Address: 200
Got param 'l=125' tag: 'l' val: '125'
Length: 125
Read a: 200
--------->                      <--------- (250 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   74 65 73 6d 61 72 20 73 69 6d 75 6c 61 74 6f 72   tesmar simulator
+0010   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0020   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0030   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0040   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0050   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0060   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0070   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0080   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+0090   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+00a0   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+00b0   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+00c0   00 00 00 00 00 00 00 00 1f 20 7e 7f 80 00 ff 41   ......... ~....A
+00d0   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+00e0   00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00   ................
+00f0   00 00 00 00 00 00 00 00 00 00                     ..........      

modbus$>q
Closing Bus interface...
Bye Bye
)";
    expectSession(read);
}

TEST_P(PeerSession, WritesAndReadsBack) {
    const std::string writes = R"(
modbus$>wr s=1 a=1000 10 DEAD 0X1A zz 12g 12345
Perform write register
Got param 's=1' tag: 's' val: '1'
Got param 'a=1000' tag: 'a' val: '1000'
Address: 1000
Writing to 1000:
0x10
0xdead
0x1a
0x0
0x12
0xffff
'zz' is not a hexadecimal value: nothing sent

modbus$>rr l=6
Perform read register
Got param 'l=6' tag: 'l' val: '6'
Length: 6
Read a: 1000
--------->                      <--------- (12 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   00 00 00 00 00 00 00 00 00 00 00 00               ............    

modbus$>wr 1 a=2000 2
Perform write register
Got param 'a=2000' tag: 'a' val: '2000'
Address: 2000
Writing to 2000:
0x1
0x2
Sucessfully wrote 2 registers

modbus$>rr l=2
Perform read register
Got param 'l=2' tag: 'l' val: '2'
Length: 2
Read a: 2000
--------->                      <--------- (4 bytes from PTR)
        +0          +4          +8          +c            0   4   8   c   
+0000   00 01 00 02                                       ....            
32: 00010002 65538
f :0.000000

modbus$>wr a=3000
Perform write register
Got param 'a=3000' tag: 'a' val: '3000'
Address: 3000
We need data to write

modbus$>q
Closing Bus interface...
Bye Bye
)";
    expectSession(writes);
}

TEST_P(PeerSession, WriteCountLimits) {
    const auto values = [](int count) {
        std::string line = "modbus$>wr s=1 a=4000";
        for (int i = 0; i < count; ++i) {
            line += " " + std::to_string(i % 10);
        }
        return line + "\n";
    };
    const std::string out = runSession(peer->tesmarArgs(), values(123) + values(124) + values(128) +
                                                               values(129) + "modbus$>q\n")
                                .screen;
    const std::string per_write = "Got param 'a=4000' tag: 'a' val: '4000'\nAddress: 4000\n";
    std::vector<std::string> outcomes;
    std::size_t at = 0;
    while ((at = out.find(per_write, at)) != std::string::npos) {
        at += per_write.size();
        const std::size_t end = out.find(prompt, at);
        const std::string body = out.substr(at, end - at);
        const std::size_t last_line = body.rfind('\n', body.size() - 2);
        outcomes.push_back(std::to_string(std::count(body.begin(), body.end(), '\n')) + " " +
                           body.substr(last_line + 1));
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{
                            "125 Sucessfully wrote 123 registers\n",
                            "1 Too many values: 124 given, at most 123 fit in one write\n",
                            "1 Too many values: 128 given, at most 123 fit in one write\n",
                            "1 Too many values: 129 given, at most 123 fit in one write\n"}));
    EXPECT_EQ(
        writesLogged(peer->log()),
        std::vector<std::string>{"unit 1 write multiple registers (16) address 4000 count 123"});
}

// Each line is typed after the one before, so a field set on an earlier line carries over. A
// line's outcome is the last line it prints; the slave's log shows every write it got.
TEST_P(PeerSession, WriteGoesOutOnlyWhenEveryWordWasTakenAsTyped) {
    const std::string sent = ": nothing sent", decimal = " (parameter values are decimal)" + sent;
    const struct {
        std::string line, outcome;
        std::string written = "";  // address and count in the slave's log; empty: none
    } rows[] = {
        {"wr s=1 a=5000 7", "Sucessfully wrote 1 registers", "address 5000 count 1"},
        {"wr s=1 A=100 8", "A=100 is not a parameter (the tags are s, a, p, o, f and l)" + sent},
        {"wr a=0x64 9", "a=0x64 was read as 0" + decimal},
        {"wr l=300 zz", "l=300 was read as 44 (l takes 0 to 255)" + sent},
        {"wr a=5001 zz", "'zz' is not a hexadecimal value" + sent},
        {"wr 1 3.5 -1", "'3.5' is not a hexadecimal value" + sent},
        {"wr 12345", "'12345' has more than four hexadecimal digits" + sent},
        {"wr a= 6", "a= has no value" + sent},
        {"wr f=+3 6", "f=+3 was read as 3 (parameter values take no sign)" + sent},
        {"wr s=1 a=5002", "We need data to write"},
        {"wb a=0x64", "Address: 0"},
        {"wr 5", "a=0x64 (set earlier) was read as 0" + decimal},
        {"wr a=5003 5", "Sucessfully wrote 1 registers", "address 5003 count 1"},
        {"wb p=300 s=1x", "Got param 's=1x' tag: 's' val: '1x'"},
        {"wr o=5 1", "s=1x (set earlier) was read as 1" + decimal},
        {"wr s=1 o=5 1", "p=300 (set earlier) was read as 44 (p takes 0 to 255)" + sent},
        {"wr p=19 o=140 DEAD 0X1a ffff 0x0", "Sucessfully wrote 4 registers",
         "address 5004 count 4"},
        // On RTU slave 0 is the broadcast address, and its guard says why nothing is sent.
        {"wr s=0x11 6", peer->isTcp() ? "s=0x11 was read as 0" + decimal
                                      : "Slave s=0x11 reads as 0, the broadcast address: nothing "
                                        "sent (type s=0 to write to every slave on purpose)"},
    };
    std::string typed;
    std::vector<std::string> expected, writes, outcomes;
    for (const auto& row : rows) {
        typed += prompt + row.line + "\n";
        expected.push_back(row.line + " -> " + row.outcome);
        if (!row.written.empty()) {
            writes.push_back("unit 1 write multiple registers (16) " + row.written);
        }
    }
    const std::string screen =
        runSession(peer->tesmarArgs(), typed + prompt + "rr s=1 a=5000 l=8\n" + prompt + "q\n")
            .screen;
    std::size_t end = 0;
    for (const auto& row : rows) {
        end = screen.find("\n\n", screen.find(prompt + row.line + "\n", end));
        const std::size_t last = screen.rfind('\n', end - 1) + 1;
        outcomes.push_back(row.line + " -> " + screen.substr(last, end - last));
    }
    EXPECT_EQ(outcomes, expected) << screen;
    EXPECT_EQ(writesLogged(peer->log()), writes);
    EXPECT_NE(
        screen.find("+0000   00 07 00 00 00 00 00 05 de ad 00 1a ff ff 00 00   ................"),
        std::string::npos)
        << screen;
}

TEST_P(PeerSession, SlaveGoneMidSessionLeavesTheLoopRunning) {
    std::vector<std::string> argv{TESMAR_BINARY};
    const std::vector<std::string> args = peer->tesmarArgs();
    argv.insert(argv.end(), args.begin(), args.end());
    BackgroundProcess tesmar(argv);
    std::string out = tesmar.readUntil("modbus$>");
    tesmar.send("rr s=1 a=100 l=2\n");
    out += tesmar.readUntil("modbus$>");
    peer->kill();
    tesmar.send("rr\nwr 5\nshow\nq\n");
    out += tesmar.readUntil("Bye Bye\n", std::chrono::seconds(20));
    EXPECT_EQ(tesmar.finish(), 0);
    const std::string screen = R"(
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

modbus$>rr
Perform read register
Read a: 100

modbus$>wr 5
Perform write register
Writing to 100:
0x5
Write bombed

modbus$>show
Setting Parameters
Current Parameter settings:
s=1 (Slave Address)
a=100 (I/O Address)
p=0 (I/O Page)
o=100 (I/O Offset)
f=3 (Function Code)
l=2 (Data Length)

modbus$>q
Closing Bus interface...
Bye Bye
)";
    EXPECT_EQ(screenOf(out, typedLines(screen)), screen);
}

INSTANTIATE_TEST_SUITE_P(Bus, PeerSession, ::testing::Values("tcp", "rtu"),
                         [](const ::testing::TestParamInfo<std::string>& bus) {
                             return bus.param;
                         });

}  // namespace
