#pragma once

#include <sys/types.h>
#include <chrono>
#include <string>
#include <vector>

// What a finished child process left behind.
struct ProcessResult {
    std::string out;
    std::string err;
    int exit_status = -1;  // -1 when it did not exit normally
    int signal = 0;
    bool timed_out = false;
};

// Runs argv with the given standard input (then closed), collects both outputs, and kills it
// when it runs past the timeout.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A long-running helper process (simulator, socat) that is stopped when the object goes.
class BackgroundProcess {
public:
    explicit BackgroundProcess(const std::vector<std::string>& argv);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // The next line of its standard output; when none comes before the timeout, the case fails
    // and this gives "".
    std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Writes to its standard input.
    void send(const std::string& text);
    // Reads its standard output until the marker has come, and returns all read up to it; when
    // the marker does not come before the timeout, the case fails with what was read.
    std::string readUntil(const std::string& marker,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Closes its standard input and waits for it to end; returns the exit status or -1.
    int finish(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends SIGTERM and waits; returns the exit status or -1.
    int stop();
    pid_t pid() const { return child; }

private:
    int waitForExit(std::chrono::milliseconds timeout);

    pid_t child = -1;
    int in_fd = -1;
    int out_fd = -1;
    std::string pending;
};

// How a process on a pseudo-terminal starts, besides its TERM.
struct TerminalStart {
    // NAME=value entries put into its environment; unless one of them names TESMAR_HISTFILE,
    // XDG_STATE_HOME or HOME, the history file is off.
    std::vector<std::string> environment;
    bool interrupt_ignored = false;  // SIGINT inherited as ignored, as after trap "" INT
    bool non_blocking = false;       // the terminal left non-blocking by an earlier program
};

// A process on a pseudo-terminal of 80 columns and 24 rows, as an operator at a terminal runs
// it; it leads its own session with the terminal as its controlling terminal.
class TerminalProcess {
public:
    // Which of standard input and output are the terminal; the other one is then a pipe.
    enum class Wiring { both, output_to_pipe, input_from_pipe };

    // term is the child's TERM; empty leaves it unset.
    TerminalProcess(const std::vector<std::string>& argv, Wiring wiring, const std::string& term,
                    const TerminalStart& start = {});
    ~TerminalProcess();
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    // Keys typed at the terminal, or text written into the input pipe.
    void type(const std::string& keys);
    // Closes the input pipe: the end of piped input.
    void closeInput();
    // Reads standard output (the terminal's or the pipe's) until the marker has come, and returns
    // all read up to it; the rest stays for the next call. When the marker does not come before
    // the timeout, the case fails with what was read.
    std::string readUntil(const std::string& marker,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the end; out holds the standard output not yet read.
    ProcessResult finish(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The terminal's settings as `stty -g` prints them: now, and before the child started.
    std::string sttySettings() const;
    const std::string& sttySettingsAtStart() const { return settings_at_start; }
    pid_t pid() const { return child; }

private:
    pid_t child = -1;
    int master = -1;
    int slave = -1;
    int in_fd = -1;   // the input pipe's writing end, when input is piped
    int out_fd = -1;  // where standard output is read: the master or a pipe
    std::string pending;
    std::string settings_at_start;
};

// Drops the TCP debug trace from a transcript: the connect and flush notes, waits and frame dumps
// that libmodbus and the bus write in the library's form.
std::string withoutLibraryTrace(const std::string& transcript);

// A scratch directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return dir; }

private:
    std::string dir;
};
