#pragma once

#include <sys/types.h>
#include <csignal>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "bus/wait_break.h"

class cHistoryFile;
class cLineEditor;

// The operator's input: where lines come from, the prompt, the terminal's mode (through the
// editor) and the signals that the terminal sends. Output is written where it is made; only its
// buffering is chosen here, once, at start. At a terminal (standard input and output both
// terminals) lines are edited where TERM allows; the terminal stays in the editor's mode for the
// whole session, and the editing signals are blocked except while waiting for a key (all of
// them) or for the bus (Ctrl-C and those that end the session). Everywhere else lines are read
// from std::cin as piped, and no signal is touched.
class cConsole {
public:
    enum class Input { line, end, failed };
    // What ended a wait for a key.
    enum class Wake { input, interrupt, resize, resumed };

    // The longest line read: far above any real line, and an end to one that never ends.
    static constexpr std::size_t longest_line = 16 << 20;

    explicit cConsole(const std::string& prompt_text);
    ~cConsole();
    cConsole(const cConsole&) = delete;
    cConsole& operator=(const cConsole&) = delete;

    // Whether standard input and output are both terminals: the terminal-only lines show.
    bool atTerminal() const { return at_terminal; }

    // Shows the prompt now where lines are read without the editor (the editor draws its own when
    // it reads): the first prompt shows before the bus has started.
    void showPrompt();

    // Shows the prompt once and reads the next line, without its newline. end: no more input;
    // failed: reading failed, after one line on standard error that names the error.
    Input readLine(std::string& line);

    // After each command at the editor: takes in what arrived meanwhile, and after a Ctrl-C
    // drops the lines not yet run, with one line that says how many.
    void settleCommand();

    // Waits until input can be read or an editing signal came; the editor calls it for each key.
    // A stop is taken here, with the terminal's own mode while stopped; hang-up, terminate and
    // quit end the process by their default action, with the terminal's mode back first.
    Wake waitForKey();
    // The next byte of input after waitForKey said there is some: 1, 0 at the end, -1 when the
    // read failed (errno tells why). alone: it came by itself, as a key does, not with others.
    int readByte(unsigned char& byte, bool& alone);
    // Whether bytes read from the terminal are waiting here for the editor.
    bool inputHeld() const { return !held.empty(); }

    // What lets a request's wait end early at a terminal: Ctrl-C ends the request, and the
    // signals that end the session end it at once.
    WaitBreak waitBreak();

    // Ends the session for a line longer than longest_line: one line on standard error, status 1.
    [[noreturn]] static void refuseLongLine();

    // Called in main before any output: with standard output and standard error on one file
    // (2>&1 into a pipe or a file), standard output goes out a line at a time, as at a terminal,
    // so that libmodbus's error lines (standard error, unbuffered) follow the trace before them.
    static void orderStandardStreams();

private:
    Input readTyped(std::string& line);
    Input readPlain(std::string& line);
    void catchSignals();
    void releaseSignals();
    // Lets a caught signal take its default action in the terminal's own mode: the process
    // ends, or it stops and returns here once continued, with the signal caught again.
    void takeDefaultAction(int signal_number);
    // Ends the process as a noted hang-up, terminate or quit asks, if one was noted.
    void takeEndings();
    // Acts on the signals noted so far; false when none that ends a wait was noted.
    bool takeNoted(Wake& wake);
    // Reads what the terminal has sent, at most one read's worth, into held; read's result.
    ssize_t holdRead();
    // Takes what the terminal has sent meanwhile into held, without waiting.
    void drainInput();
    // Notes the caught signals that came while they were blocked, as a wait would have.
    void notePending();
    // After a Ctrl-C during a command: drops the lines held and not yet run, with one line that
    // says how many.
    void dropUnrunLines();
    static bool stopRequest(void* context);

    std::string prompt;
    bool at_terminal = false;
    bool prompt_shown = false;
    std::string typed;  // read from a terminal without the editor, not yet a whole line
    bool typed_ended = false;
    std::unique_ptr<cHistoryFile> history;
    std::unique_ptr<cLineEditor> editor;
    // Bytes read from the terminal and not yet edited, one entry a read.
    std::deque<std::string> held;
    std::size_t held_used = 0;  // of held's first entry
    // The signals this console catches: none that was inherited ignored or blocked.
    sigset_t caught;
    // The mask a request waits under: the caught signals that stop it come in.
    sigset_t request_mask;
    bool catching = false;
    bool interrupted = false;  // a Ctrl-C ended a request
};
