// The tool at a real pseudo-terminal: line editing, history and completion when input and
// output are both the terminal, and the plain path's exact bytes whenever one of them is not.
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/peer.h"
#include "tests/support/session.h"
#include "tests/support/transcript.h"

namespace {

const std::string editor_prompt = "modbus$>";
const std::string enter = "\r", up = "\033[A", left = "\033[D", backspace = "\177";
const std::string ctrl_c = "\003", ctrl_d = "\004", ctrl_r = "\022", ctrl_u = "\025";

class LineEditing : public ::testing::Test {
protected:
    void SetUp() override { peer = SimPeer::tcp(); }

    std::vector<std::string> argv() const {
        std::vector<std::string> args{TESMAR_BINARY};
        for (const std::string& arg : peer->tesmarArgs()) {
            args.push_back(arg);
        }
        return args;
    }

    std::unique_ptr<TerminalProcess> atTerminal(
        TerminalProcess::Wiring wiring = TerminalProcess::Wiring::both,
        const std::string& term = "xterm") {
        return std::make_unique<TerminalProcess>(argv(), wiring, term);
    }

    // Register 20 as a second connection reads it.
    std::string register20() {
        const ProcessResult run = runTesmar(peer->tesmarArgs(), "rr a=20\n");
        const std::size_t at = run.out.find("16: ");
        return at == std::string::npos ? "no answer"
                                       : run.out.substr(at, run.out.find('\n', at) - at);
    }

    std::unique_ptr<SimPeer> peer;
};

TEST_F(LineEditing, EditsInTheMiddleOfTheLineReachTheBus) {
    auto tesmar = atTerminal();
    tesmar->readUntil(editor_prompt);
    // "rr a=1 l=2", then "00" typed after the 1: the float preset at 100-101.
    tesmar->type("rr a=1 l=2" + left + left + left + left + "00" + enter);
    const std::string out = tesmar->readUntil(editor_prompt);
    EXPECT_NE(out.find("Address: 100\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("f :12.500000\r\n"), std::string::npos) << out;
}

TEST_F(LineEditing, HistoryRecallsSearchesAndSkipsEmptyLinesAndRepeats) {
    auto tesmar = atTerminal();
    tesmar->readUntil(editor_prompt);
    const struct {
        std::string keys;
        std::string in_register;
    } steps[] = {
        {"wr a=20 5" + enter, "16: 0500 1280"},
        {enter, "16: 0500 1280"},  // an empty line, not remembered
        {up + backspace + "6" + enter, "16: 0600 1536"},
        {up + enter, "16: 0600 1536"},  // run again; not remembered a second time
        {up + up + enter, "16: 0500 1280"},
        {ctrl_r + "6" + enter, "16: 0600 1536"},
    };
    for (const auto& step : steps) {
        tesmar->type(step.keys);
        tesmar->readUntil(editor_prompt);
        EXPECT_EQ(register20(), step.in_register) << step.keys;
    }
}

TEST_F(LineEditing, TabCompletesCommandWordsAndParameterTags) {
    auto tesmar = atTerminal();
    tesmar->readUntil(editor_prompt);
    const struct {
        std::string keys;
        std::string shows;
    } cases[] = {
        {"sh\t" + enter, "Setting Parameters\r\nCurrent Parameter settings:"},
        {"set a\t7" + enter, "Got param 'a=7' tag: 'a' val: '7'\r\nAddress: 7\r\n"},
        {"rr \t\t", "\r\ns=  a=  p=  o=  f=  l=\r\n"},
        {ctrl_u + "q\t\t", "\r\nq  quit\r\n"},
    };
    for (const auto& c : cases) {
        tesmar->type(c.keys);
        const std::string out = tesmar->readUntil(c.shows);
        EXPECT_NE(out.find(c.shows), std::string::npos) << c.keys << "\n" << out;
    }
}

TEST_F(LineEditing, CtrlDEndsAsEndOfInputAndCtrlCRestoresTheTerminal) {
    const struct {
        std::string keys;
        int exit_status;
        int signal;
        std::string ending;
    } cases[] = {
        {ctrl_d, 0, 0, "\r\nClosing Bus interface...\r\nBye Bye\r\n"},
        {"rr a=1" + ctrl_c, -1, SIGINT, ""},
    };
    for (const auto& c : cases) {
        auto tesmar = atTerminal();
        tesmar->readUntil(editor_prompt);
        tesmar->type(c.keys);
        const ProcessResult end = tesmar->finish();
        EXPECT_EQ(end.exit_status, c.exit_status);
        EXPECT_EQ(end.signal, c.signal);
        EXPECT_EQ(end.out.substr(end.out.size() - std::min(end.out.size(), c.ending.size())),
                  c.ending)
            << end.out;
        EXPECT_EQ(tesmar->sttySettings(), tesmar->sttySettingsAtStart());
    }
}

// Input and output not both a terminal, or no TERM to drive: the plain path, byte for byte.
TEST_F(LineEditing, WithoutBothTerminalsOutputIsThePlainPaths) {
    const std::vector<std::string> typed{"set a=100 l=2", "rr", "bogus", "", "show", "q"};
    std::string lines;
    for (const std::string& line : typed) {
        lines += line + "\n";
    }
    const std::string plain = screenOf(runTesmar(peer->tesmarArgs(), lines).out, typed);
    ASSERT_NE(plain.find("f :12.500000\n"), std::string::npos) << plain;

    {
        auto tesmar = atTerminal(TerminalProcess::Wiring::output_to_pipe);
        tesmar->type(lines);
        EXPECT_EQ(screenOf(tesmar->finish().out, typed), plain);
    }
    {
        auto tesmar = atTerminal(TerminalProcess::Wiring::input_from_pipe);
        tesmar->type(lines);
        tesmar->closeInput();
        std::string out = tesmar->finish().out;
        // The terminal's own output processing puts a carriage return before each newline.
        for (std::size_t at = 0; (at = out.find("\r\n", at)) != std::string::npos;) {
            out.erase(at, 1);
        }
        EXPECT_EQ(screenOf(out, typed), plain);
    }
    // A TERM the editor cannot drive: typed lines as the terminal echoes them, nothing more.
    for (const std::string term : {"", "dumb", "no-such-terminal"}) {
        auto tesmar = atTerminal(TerminalProcess::Wiring::both, term);
        tesmar->readUntil("Modbus started OK\r\n");
        tesmar->type("show\n");
        const std::string out = tesmar->readUntil("l=1 (Data Length)\r\n\r\nmodbus$>");
        EXPECT_EQ(out.find('\033'), std::string::npos) << term;
        EXPECT_EQ(out.find("modbus$>"), out.size() - 8) << term;
        EXPECT_EQ(out.rfind("show\r\nSetting Parameters\r\n", 0), 0u) << term << "\n" << out;
        tesmar->type("q\n");
        EXPECT_EQ(tesmar->finish().exit_status, 0) << term;
    }
}

}  // namespace
