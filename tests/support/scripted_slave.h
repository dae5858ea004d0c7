#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/peer.h"
#include "tests/support/process.h"

// How the scripted slave answers one request.
struct SlaveStep {
    enum class Reply { answer, silent, exception };
    Reply reply = Reply::answer;
    int delay_ms = 0;  // before the answer
};

// A slave run by the test itself, for timings the simulator has no fault for. It serves holding
// registers (a write stores them, a read gives them back) over a loopback TCP connection or one
// end of a pty pair, one script step a request; requests after the script are answered at once.
// With a baud rate, it takes each frame as a line of that rate would deliver it: a request counts
// as received once its bytes had time to cross the line, and a reply goes out after its own.
class ScriptedSlave {
public:
    ScriptedSlave(bool tcp, std::vector<SlaveStep> steps, int baud = 0);
    ~ScriptedSlave();
    ScriptedSlave(const ScriptedSlave&) = delete;
    ScriptedSlave& operator=(const ScriptedSlave&) = delete;

    // The options that point tesmar at it.
    std::vector<std::string> tesmarArgs() const { return args; }
    // One line a request: "write 10 count 1: answer", "read 10 count 1: silent", ...
    std::vector<std::string> log();

private:
    void serve(int fd);
    bool readRequest(int fd, std::vector<uint8_t>& request);
    // False when the answer could not go out.
    bool answer(int fd, const std::vector<uint8_t>& request, const SlaveStep& step);
    bool pause(long ms);

    bool tcp;
    std::vector<SlaveStep> steps;
    int baud;
    std::vector<std::string> args;
    std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
    std::unique_ptr<BackgroundProcess> socat;
    int listener = -1;
    uint16_t registers[65536] = {};
    std::mutex log_lock;
    std::vector<std::string> lines;
    std::atomic<bool> stopping{false};
    std::thread server;
};
