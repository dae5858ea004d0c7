#pragma once

#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <vector>

#include "frames/frames.h"
#include "sim/faults.h"
#include "sim/frames.h"
#include "sim/registers.h"

// Blocks SIGTERM and SIGINT and makes them end cServer's loop; returns the signal mask to wait
// with, under which they come through.
sigset_t catchStopSignals();

// What the server serves and how it reports.
struct ServeSettings {
    Framing transport = Framing::tcp;
    int unit = -1;         // the only unit served, or -1 for all
    long silence_us = 0;   // RTU: the 3.5-character silence that ends a frame
    bool log = false;      // one line a request on stderr
    bool verbose = false;  // frames in hexadecimal on stdout, which main points at stderr
    bool echo = false;     // RTU: every request goes back to the master before its answer
    sigset_t wait_mask{};  // the signal mask while waiting, from catchStopSignals
};

// The slave's loop: every descriptor non-blocking, one buffer in and one queue out per client,
// one ppoll for all, so that no client can hold another and a stop signal ends it at once.
class cServer {
public:
    cServer(const ServeSettings& settings, RegisterMap map, const FaultPlan& faults);

    // Sets the silence in microseconds that ends an RTU frame.
    void setSilence(long micros) { settings.silence_us = micros; }
    // Serves TCP clients accepted on listen_fd, framed by their MBAP header, until a stop signal.
    void serveTcp(int listen_fd);
    // Serves the serial line, framed by the silence between frames, until a stop signal or the
    // line hangs up.
    void serveRtu(int fd);

private:
    using Clock = std::chrono::steady_clock;

    // One reply on its way: released to the line when due (a trickled one byte by byte); the
    // request it answers is logged again should the reply not go.
    struct Outgoing {
        std::vector<uint8_t> bytes;
        std::size_t released = 0;
        std::size_t sent = 0;
        Clock::time_point due;
        std::chrono::milliseconds step{0};  // trickle: between two bytes
        std::size_t head = 0;               // trickle: bytes released at once first
        Request request;
    };

    struct Connection {
        int fd = -1;
        std::string client;
        std::vector<uint8_t> in;
        std::deque<Outgoing> out;
        bool reading = true;  // false once the client has closed its side
        bool dead = false;
        std::string why;  // why a dead connection ended, for replies it leaves unsent
    };

    // Bytes of replies queued for the connection and not yet sent.
    static std::size_t unsent(const Connection& c);
    void serveFrame(Connection& c, const uint8_t* frame, std::size_t length);
    void readTcp(Connection& c);
    // Releases what is due and writes what the descriptor takes; marks the connection dead when
    // it fails.
    void flush(Connection& c, Clock::time_point now);
    // Logs each reply the connection leaves unsent, with why (the connection's own reason first).
    void logUnsent(const Connection& c, const std::string& why) const;
    // Logs the replies a connection leaves unsent and closes it.
    void drop(Connection& c);
    // Frames the serial line's segments (byte runs between silences); serves a frame, logs the
    // bytes that are none.
    void frameSerial(std::vector<std::vector<uint8_t>>& segments, Connection& line, bool expire);
    // The ppoll timeout for the earliest release due, or none; at most until limit.
    static const timespec* timeout(const std::list<Connection>& conns, Clock::time_point limit,
                                   timespec& storage);
    void logLine(const std::string& line) const;
    void trace(const char* format, const uint8_t* bytes, std::size_t length) const;

    ServeSettings settings;
    RegisterMap map;
    FaultPlan faults;
};
