#pragma once

#include <csignal>
#include <memory>
#include <string>

class cHistoryFile;
class cLineEditor;

// The operator's input: where lines come from, the prompt, the terminal's mode (through the
// editor) and the signals that the terminal sends. Output is written where it is made; only its
// buffering is chosen here, once, at start. At a terminal (standard input and output both
// terminals) lines are edited where TERM allows, and the editing signals are blocked except while
// waiting for a key; everywhere else lines are read from std::cin as piped, and no signal is
// touched.
class cConsole {
public:
    enum class Input { line, end, failed };
    // What ended a wait for a key.
    enum class Wake { input, interrupt, resize, resumed };

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

    // Waits until standard input can be read or an editing signal came; the editor calls it for
    // each key. A stop is taken here, with the terminal's own mode while stopped; hang-up and
    // terminate end the process by their default action, with the terminal's mode back first.
    Wake waitForKey();

    // Called in main before anything is written: with standard output and standard error on one
    // file (2>&1 into a pipe or a file), standard output goes out a line at a time, as at a
    // terminal, so that libmodbus's error lines (standard error, unbuffered) follow the trace
    // before them.
    static void orderStandardStreams();

private:
    Input readTyped(std::string& line);
    Input readPlain(std::string& line);
    void catchSignals();
    void releaseSignals();
    // Lets a caught signal take its default action in the terminal's own mode: the process
    // ends, or it stops and returns here once continued, with the signal caught again.
    void takeDefaultAction(int signal_number);

    std::string prompt;
    bool at_terminal = false;
    bool prompt_shown = false;
    std::string typed;  // read from a terminal without the editor, not yet a whole line
    bool typed_ended = false;
    std::unique_ptr<cHistoryFile> history;
    std::unique_ptr<cLineEditor> editor;
    // The signals this console catches: none that was inherited ignored or blocked.
    sigset_t caught;
    bool catching = false;
};
