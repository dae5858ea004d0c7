// A misbehaving slave: every answer is wrong in one way. The read shows nothing but its address,
// the write says it bombed (unless the slave confirmed it, if late), the loop goes on and quit
// still ends with status 0. Each request ends by its bound, whatever the slave sends, and no
// signal is involved in ending it.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/peer.h"
#include "tests/support/session.h"

namespace {

struct FaultCase {
    std::string mode;
    std::vector<std::string> buses = {"tcp", "rtu"};
    std::string write_line = "Write bombed";
    // The longest a session may take on TCP and on RTU, when it is checked.
    long tcp_session_ms = 0;
    long rtu_session_ms = 0;
};

// Faults whose sessions run side by side in one case. Late and trickle, which turn on timing, have
// a case each, so that fewer sessions share the machine with them.
struct FaultGroup {
    std::string name;
    std::vector<FaultCase> faults;
};

class FaultySlave : public ::testing::TestWithParam<FaultGroup> {};

TEST_P(FaultySlave, NothingIsShownAsReceivedOrWritten) {
    const std::string read = "rr s=1 a=100 l=2\n";
    struct Session {
        const FaultCase* fault;
        std::string bus, input;
    };
    std::vector<Session> sessions;
    for (const FaultCase& fault : GetParam().faults) {
        for (const std::string& bus : fault.buses) {
            sessions.push_back({&fault, bus, read});
            sessions.push_back({&fault, bus, "wr s=1 a=100 l=2 5\n"});
        }
    }
    // Each read and each write meets a slave of its own, all at the same time.
    checkAtOnce(sessions, [&read](const Session& session) {
        const FaultCase& c = *session.fault;
        const std::string& bus = session.bus;
        const std::string& input = session.input;
        SCOPED_TRACE(c.mode + " " + bus);
        const bool tcp = bus == "tcp";
        // A late reply comes 0.5 s after the response timeout (TCP 0.5 s, RTU 1 s) and 0.5 s
        // before the request's bound (TCP 1.5 s, RTU 2 s and the frames' time on the line).
        std::vector<std::string> sim_options{"-f", c.mode};
        if (c.mode == "late") {
            sim_options.insert(sim_options.end(), {"-D", tcp ? "1000" : "1500"});
        }
        const auto peer = tcp ? SimPeer::tcp(sim_options) : SimPeer::rtu(sim_options);
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult run = runTesmar(peer->tesmarArgs(), input + "show\nq\n");
        const long session_ms = tcp ? c.tcp_session_ms : c.rtu_session_ms;
        if (session_ms > 0) {
            EXPECT_LT(std::chrono::steady_clock::now() - start,
                      std::chrono::milliseconds(session_ms));
        }
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_FALSE(run.timed_out);
        const std::string out = withoutLibraryTrace(run.out);
        EXPECT_EQ(out.find("--------->"), std::string::npos) << out;
        EXPECT_EQ(out.find("f :"), std::string::npos) << out;
        EXPECT_NE(out.find(listing(1, 100, 3, 2) + prompt + quit_lines), std::string::npos) << out;
        EXPECT_EQ(run.err.find("Received"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("non-socket"), std::string::npos) << run.err;
        if (input == read) {
            EXPECT_NE(out.find("Read a: 100\n"), std::string::npos) << out;
            return;
        }
        EXPECT_NE(out.find("Writing to 100:\n0x5\n"), std::string::npos) << out;
        for (const std::string outcome : {"Write bombed", "Sucessfully wrote 1 registers"}) {
            EXPECT_EQ(out.find(outcome + "\n") != std::string::npos, outcome == c.write_line)
                << out;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FaultySlave,
    ::testing::Values(
        FaultGroup{"malformed",
                   {FaultCase{"txid", {"tcp"}}, FaultCase{"bytecount"}, FaultCase{"truncated"},
                    FaultCase{"garbage"}, FaultCase{"exception"}, FaultCase{"silent", {"tcp"}},
                    FaultCase{"close"}, FaultCase{"unit"}, FaultCase{"crc", {"rtu"}}}},
        FaultGroup{"late", {FaultCase{"late", {"tcp", "rtu"}, "Sucessfully wrote 1 registers"}}},
        // A reply that trickles in a byte every 0.45 s ends at the bound of its request: three
        // response timeouts on TCP (1.5 s), two and the frames' time on the line on RTU (2.02 s),
        // and a second more for the session.
        FaultGroup{
            "trickle",
            {FaultCase{"trickle", {"tcp", "rtu"}, "Write bombed", 1500 + 1000, 2020 + 1000}}}),
    [](const ::testing::TestParamInfo<FaultGroup>& group) { return group.param.name; });

}  // namespace
