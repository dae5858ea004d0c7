#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <modbus/modbus.h>

#include "bus/transport.h"
#include "bus/wait_break.h"
#include "orvel/cOrvel.h"

// The one Modbus bus of the process: a TCP client or an RTU master. Every request goes through it,
// so that no request takes a frame sent for an earlier one as its answer.
class cModbus : public cOrvel {
public:
    // RTU master on a serial device; format is a character format such as "8N1".
    cModbus(const char* device, int baud, const char* format);
    // TCP client; the host goes to the library unchanged as its address. A port outside
    // 0-65535 is refused like the settings the library refuses.
    cModbus(const char* host, int port);

    // Connects. A bus that does not start stays in use; later requests fail.
    void start();
    void close();
    // Why the bus did not open when it was started, in the operator's words; empty when it
    // opened, or when it has no context to open.
    std::string startFailure() const;

    // False when the library gave no context: then no library call is ever made with it.
    bool usable() const { return ctx != nullptr; }

    // The rules of this bus's transport, chosen when it was built.
    const Transport& transport() const { return *rules; }
    // Whether a request may go out on this bus (see checkRequest); a request for too many
    // registers counts as a failed one.
    RequestCheck check(int slave, bool write, int function, int count);
    // Selects the slave of the next requests; false when the library refuses the number.
    bool selectSlave(int slave);
    // Whether a request to this slave reaches every slave on the line and none answers.
    bool isBroadcast(int slave) const {
        return rules->broadcasts && slave == MODBUS_BROADCAST_ADDRESS;
    }

    // One transaction with the selected slave: the registers read or written, or -1 with errno
    // set (ETIMEDOUT when nothing answered it, EINTR when the wait break ended it, the library's
    // codes for an exception).
    int readRegisters(int function_code, int address, int count, uint16_t* dest);
    int writeRegisters(int address, int count, const uint16_t* src);
    // Sends a write to every slave and waits for no answer: count, or -1 with errno set when it
    // did not go.
    int broadcastRegisters(int address, int count, const uint16_t* src);

    // Why the last failed request failed, in the operator's words.
    std::string lastFailure() const;
    // Whether the line has returned a request to the bus, as an RS-485 adapter that hears itself
    // does; the bus skips such echoes.
    bool lineEchoes() const { return echo_seen; }

    // What may end the bus's waits early (Ctrl-C at a terminal); none until this is called.
    void setWaitBreak(const WaitBreak& wait) { wait_break = wait; }

    static cModbus* instance;

    modbus_t* ctx;
    int is_tcp;

private:
    using line_clock = std::chrono::steady_clock;
    enum class Wait { ready, deadline, interrupted, failed };
    // The times of one request, fixed when it is sent.
    struct Times {
        line_clock::time_point wire_end;   // the request has left the line
        line_clock::time_point answer_by;  // an answer must have begun by then
        line_clock::time_point give_up;    // a begun answer must have ended by then
        line_clock::time_point bound;      // the line is watched for late answers until then
    };
    // How the wait for an answer ended.
    struct Outcome {
        int rc = -1;
        int error = ETIMEDOUT;
        std::vector<uint8_t> answer;  // the answer's frame
        bool given_up = false;
        long bound_ms = 0;       // when given up: the bound it had, from the request
        unsigned set_aside = 0;  // what came instead, as SetAside bits
    };

    void reportMissingContext();
    void reportLineSpeed();
    // Sends the request (slave, function and data) and waits for its answer; a read's registers go
    // to dest.
    int transact(const std::vector<uint8_t>& request, uint16_t* dest);
    // Settles the line, waits until it is free and empties it before a request (on TCP the
    // emptying stops a response timeout after the request began). Returns when the request
    // began, after the waits; none when the wait break ended them.
    std::optional<line_clock::time_point> prepareLine();
    // Sends the request frame (TCP: with the library's trace); false when it did not go.
    bool sendFrame(const std::vector<uint8_t>& frame);
    Outcome awaitAnswer(const std::vector<uint8_t>& frame, const Times& times, bool write);
    // Reads what the line has into got; false when it hung up or failed.
    bool readLine(std::vector<uint8_t>& got);
    // Waits until the line has bytes (fd >= 0) or the deadline passes, letting signals in under
    // the wait break's mask.
    Wait waitUntil(line_clock::time_point deadline, int fd);
    // Reads and drops what arrives until the deadline; false when the wait break ended the wait.
    bool discardUntil(line_clock::time_point deadline);
    int fail(int error, const Outcome& outcome);
    long responseTimeoutMillis() const;
    void keepResponseTimeout();

    const Transport* rules;
    WaitBreak wait_break;
    std::string endpoint;  // the device, or the host as given
    int selected_slave = -1;
    int transaction_id = 0;  // of the last TCP request; the first carries 1
    long timeout_ms = 1000;  // the operator's response timeout
    bool connected = false;
    int start_error = 0;
    bool link_lost = false;
    bool echo_seen = false;
    int failure_error = 0;
    bool failure_given_up = false;
    long failure_bound_ms = 0;
    unsigned failure_set_aside = 0;
    int baud_asked = 0;
    int line_baud = 0;  // what the serial line runs at, once connected
    // No RTU request starts before this: the end of the last frame plus the silent interval.
    line_clock::time_point line_free_at;
    // After a request that the wait break ended, what arrives until then is dropped before the
    // next request.
    line_clock::time_point settle_until;
};
