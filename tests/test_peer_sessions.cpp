// Sessions against tesmar-sim, over TCP on loopback and over RTU on a pseudo-terminal pair.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "peer.h"
#include "session.h"

namespace {

const std::string column_header =
    "        +0          +4          +8          +c            0   4   8   c   \n";

// A dump as the read shows it, with its address written as PTR.
std::string dump(int bytes, const std::string& rows) {
    return "--------->                      <--------- (" + std::to_string(bytes) +
           " bytes from PTR)\n" + column_header + rows;
}

class PeerSession : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { peer = GetParam() == "tcp" ? SimPeer::tcp() : SimPeer::rtu(); }

    // Runs the lines after "set s=1" and returns what followed the first prompt, without the
    // library's trace and with dump addresses as PTR.
    std::string session(const std::string& lines, std::string* log = nullptr) {
        const ProcessResult run = runTesmar(peer->tesmarArgs(), "set s=1\n" + lines + "q\n");
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_FALSE(run.timed_out);
        if (log != nullptr) {
            *log = run.err;
        }
        const std::string setup = "Setting Parameters\nGot param 's=1' tag: 's' val: '1'\n";
        std::string out = withoutLibraryTrace(run.out);
        // Only the TCP bus has the library trace its frames.
        EXPECT_EQ(out != run.out, peer->isTcp());
        const std::size_t start = out.find(setup);
        EXPECT_NE(start, std::string::npos) << out;
        if (start == std::string::npos) {
            return out;
        }
        out.erase(0, start + setup.size());
        out.erase(0, out.find(prompt) + prompt.size());  // the listing of set
        static const std::regex address("bytes from (0x[0-9a-f]+|\\(nil\\))\\)");
        return std::regex_replace(out, address, "bytes from PTR)");
    }

    std::unique_ptr<SimPeer> peer;
};

TEST_P(PeerSession, ReadsHoldingAndInputRegistersWithTheirViews) {
    std::string log;
    const std::string out = session(
        "rr\nrr f=4\nrr f=3 a=100 l=2\nrr a=102\nrr a=200 l=9\nrr a=300 l=4\nrr a=0 l=3\nrr "
        "a=65535 l=1\n",
        &log);
    EXPECT_EQ(
        out,
        "Perform read register\nRead a: 0\n" +
            dump(2,
                 "+0000   12 34                                             .4              \n") +
            "16: 3412 13330\n" + prompt +
            "Perform read register\nGot param 'f=4' tag: 'f' val: '4'\nRead a: 0\n" +
            dump(2,
                 "+0000   43 21                                             C!              \n") +
            "16: 2143 8515\n" + prompt +
            "Perform read register\nGot param 'f=3' tag: 'f' val: '3'\n"
            "Got param 'a=100' tag: 'a' val: '100'\nAddress: 100\n"
            "Got param 'l=2' tag: 'l' val: '2'\nLength: 2\nRead a: 100\n" +
            dump(4,
                 "+0000   41 48 00 00                                       AH..            \n") +
            "32: 41480000 1095237632\nf :12.500000\n" + prompt +
            "Perform read register\nGot param 'a=102' tag: 'a' val: '102'\nAddress: 102\nRead a: "
            "102\n" +
            dump(4,
                 "+0000   bf 80 00 00                                       ....            \n") +
            "32: BF800000 -1082130432\nf :-1.000000\n" + prompt +
            "Perform read register\nGot param 'a=200' tag: 'a' val: '200'\nAddress: 200\n"
            "Got param 'l=9' tag: 'l' val: '9'\nLength: 9\nRead a: 200\n" +
            dump(18,
                 "+0000   74 65 73 6d 61 72 20 73 69 6d 75 6c 61 74 6f 72   tesmar simulator\n"
                 "+0010   00 00                                             ..              \n") +
            prompt +
            "Perform read register\nGot param 'a=300' tag: 'a' val: '300'\nAddress: 300\n"
            "Got param 'l=4' tag: 'l' val: '4'\nLength: 4\nRead a: 300\n" +
            dump(8,
                 "+0000   1f 20 7e 7f 80 00 ff 41                           . ~....A        \n") +
            prompt +
            "Perform read register\nGot param 'a=0' tag: 'a' val: '0'\nAddress: 0\n"
            "Got param 'l=3' tag: 'l' val: '3'\nLength: 3\nRead a: 0\n" +
            dump(6,
                 "+0000   12 34 56 78 00 00                                 .4Vx..          \n") +
            prompt +
            "Perform read register\nGot param 'a=65535' tag: 'a' val: '65535'\nAddress: 65535\n"
            "Got param 'l=1' tag: 'l' val: '1'\nLength: 1\nRead a: 65535\n" +
            dump(2,
                 "+0000   be ef                                             ..              \n") +
            "16: EFBE 61374\n" + prompt + quit_lines);
    for (int count : {1, 2, 9, 4, 3}) {
        EXPECT_NE(log.find("DEBUG cModbus: Received " + std::to_string(count) + " registers\n"),
                  std::string::npos)
            << log;
    }
}

TEST_P(PeerSession, RefusedAndFailedReadsShowOnlyTheirAddress) {
    std::string log;
    const std::string out =
        session("rr f=6\nrr f=16\nrr f=4 l=126\nrr f=3 l=0\nrr a=65535 l=2\n", &log);
    EXPECT_EQ(
        out,
        "Perform read register\nGot param 'f=6' tag: 'f' val: '6'\nRead a: 0\n" + prompt +
            "Perform read register\nGot param 'f=16' tag: 'f' val: '16'\nRead a: 0\n" + prompt +
            "Perform read register\nGot param 'f=4' tag: 'f' val: '4'\n"
            "Got param 'l=126' tag: 'l' val: '126'\nLength: 126\nRead a: 0\n" +
            prompt +
            "Perform read register\nGot param 'f=3' tag: 'f' val: '3'\n"
            "Got param 'l=0' tag: 'l' val: '0'\nLength: 0\nRead a: 0\n" +
            prompt +
            "Perform read register\nGot param 'a=65535' tag: 'a' val: '65535'\nAddress: 65535\n"
            "Got param 'l=2' tag: 'l' val: '2'\nLength: 2\nRead a: 65535\n" +
            prompt + quit_lines);
    EXPECT_NE(log.find("ERROR cModbus: Function code 0x06 is not for reading registers\n"
                       "ERROR cModbus: Function code 0x10 is not for reading registers\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Received"), std::string::npos) << log;
}

TEST_P(PeerSession, LargestReadFillsSixteenRows) {
    const std::string out = session("rr a=200 l=125\n");
    const std::size_t dump_start = out.find("---------> ");
    ASSERT_NE(dump_start, std::string::npos) << out;
    EXPECT_EQ(out.substr(dump_start, 63),
              "--------->                      <--------- (250 bytes from PTR)");
    const std::string tail =
        "+00f0   00 00 00 00 00 00 00 00 00 00                     ..........      \n";
    EXPECT_NE(out.find(column_header + "+0000   74 65 73 6d"), std::string::npos);
    EXPECT_EQ(out.substr(out.find("+00f0"), tail.size()), tail);
    EXPECT_EQ(out.find("+0100"), std::string::npos);
    EXPECT_EQ(out.find("16: "), std::string::npos);
}

TEST_P(PeerSession, WritesAndReadsBack) {
    const std::string out =
        session("wr a=1000 10 DEAD 0X1A zz 12g 12345\nrr l=6\nwr 1 a=2000 2\nrr l=2\nwr a=3000\n");
    EXPECT_EQ(
        out,
        "Perform write register\nGot param 'a=1000' tag: 'a' val: '1000'\nAddress: 1000\n"
        "Writing to 1000:\n0x10\n0xdead\n0x1a\n0x0\n0x12\n0xffff\n"
        "Sucessfully wrote 6 registers\n" +
            prompt +
            "Perform read register\nGot param 'l=6' tag: 'l' val: '6'\nLength: 6\nRead a: 1000\n" +
            dump(12,
                 "+0000   00 10 de ad 00 1a 00 00 00 12 ff ff               ............    \n") +
            prompt +
            "Perform write register\nGot param 'a=2000' tag: 'a' val: '2000'\nAddress: 2000\n"
            "Writing to 2000:\n0x1\n0x2\nSucessfully wrote 2 registers\n" +
            prompt +
            "Perform read register\nGot param 'l=2' tag: 'l' val: '2'\nLength: 2\nRead a: 2000\n" +
            dump(4,
                 "+0000   00 01 00 02                                       ....            \n") +
            "32: 00010002 65538\nf :0.000000\n" + prompt +
            "Perform write register\nGot param 'a=3000' tag: 'a' val: '3000'\nAddress: 3000\n"
            "Writing to 3000:\nWrite bombed\n" +
            prompt + quit_lines);
}

TEST_P(PeerSession, WriteCountLimits) {
    const auto values = [](int count) {
        std::string line = "wr a=4000";
        for (int i = 0; i < count; ++i) {
            line += " " + std::to_string(i % 10);
        }
        return line + "\n";
    };
    const std::string out = session(values(123) + values(124) + values(128) + values(129));
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
                            "125 Sucessfully wrote 123 registers\n", "126 Write bombed\n",
                            "130 Write bombed\n",
                            "1 Too many values: 129 given, at most 128 fit in one write\n"}));
}

TEST_P(PeerSession, SlaveGoneMidSessionLeavesTheLoopRunning) {
    BackgroundProcess tesmar([this] {
        std::vector<std::string> argv{TESMAR_BINARY};
        for (const std::string& arg : peer->tesmarArgs()) {
            argv.push_back(arg);
        }
        return argv;
    }());
    tesmar.readUntil("modbus$>");
    tesmar.send("rr s=1 a=100 l=2\n");
    EXPECT_NE(withoutLibraryTrace(tesmar.readUntil("modbus$>")).find("f :12.500000\n"),
              std::string::npos);
    peer->kill();
    tesmar.send("rr\nwr 5\nshow\nq\n");
    const std::string rest =
        withoutLibraryTrace(tesmar.readUntil("Bye Bye\n", std::chrono::seconds(20)));
    EXPECT_EQ(rest, "Perform read register\nRead a: 100\n" + prompt +
                        "Perform write register\nWriting to 100:\n0x5\nWrite bombed\n" + prompt +
                        "Setting Parameters\n" + listing(1, 100, 3, 2) + prompt + quit_lines);
    EXPECT_EQ(tesmar.finish(), 0);
}

INSTANTIATE_TEST_SUITE_P(Bus, PeerSession, ::testing::Values("tcp", "rtu"),
                         [](const ::testing::TestParamInfo<std::string>& bus) {
                             return bus.param;
                         });

}  // namespace
