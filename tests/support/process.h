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

    // The next line of its standard output, or "" when none comes before the timeout.
    std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Writes to its standard input.
    void send(const std::string& text);
    // Reads its standard output until the marker has come, and returns all read up to it.
    std::string readUntil(const std::string& marker,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Closes its standard input and waits for it to end; returns the exit status or -1.
    int finish(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends SIGTERM and waits; returns the exit status or -1.
    int stop();
    pid_t pid() const { return child; }

private:
    bool fill(std::chrono::steady_clock::time_point deadline);
    int waitForExit(std::chrono::milliseconds timeout);

    pid_t child = -1;
    int in_fd = -1;
    int out_fd = -1;
    std::string pending;
};

// Drops libmodbus's own debug trace from a transcript: connect and flush notes, frame dumps.
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
