#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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

    // Connects. A bus that does not start stays in use; later requests fail in the library.
    void start();
    void close();

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

    // One transaction with the selected slave; the library's result (-1 and errno on failure).
    int readRegisters(int function_code, int address, int count, uint16_t* dest);
    int writeRegisters(int address, int count, const uint16_t* src);
    // Sends a write to every slave and waits for no answer; the library's result.
    int broadcastRegisters(int address, int count, const uint16_t* src);

    // Why the last failed request failed, in the operator's words.
    std::string lastFailure() const;

    // What may end the bus's waits early (Ctrl-C at a terminal); none until this is called.
    void setWaitBreak(const WaitBreak& wait) { wait_break = wait; }

    static cModbus* instance;

    modbus_t* ctx;
    int is_tcp;

private:
    void reportMissingContext();
    void reportLineSpeed();
    // A request the bus sent: a confirmation that comes after the timeout may still be its
    // answer when it is a write.
    struct Sent {
        int function;
        int address;
        int count;
        int transaction_id;
        std::chrono::steady_clock::time_point wire_end;  // when it has left the line
        // When the bus stops the library's wait for its reply; the line gets one more timeout.
        std::chrono::steady_clock::time_point cut_at;
    };
    // What arrived while the line settled after a failed transaction.
    struct LateBytes {
        std::vector<uint8_t> bytes;  // the first of them, as many as a frame can hold
        bool any = false;
        std::chrono::steady_clock::time_point last_arrival;
    };

    // Sends one library request and sees it to its end within its bound.
    int transact(int function, int address, int count, const std::function<int()>& request);
    void beforeRequest();
    int afterRequest(int rc, const Sent& sent, bool given_up);
    LateBytes settleLine(std::chrono::steady_clock::time_point deadline);
    long responseTimeoutMillis() const;
    void keepResponseTimeout();

    const Transport* rules;
    WaitBreak wait_break;
    int selected_slave = -1;
    // The library's transaction id of the last request, counted as the library counts it.
    int transaction_id = 0;
    long timeout_ms = 1000;  // the operator's response timeout
    bool connected = false;
    bool link_lost = false;
    int failure_error = 0;
    bool failure_given_up = false;
    long failure_bound_ms = 0;
    int baud_asked = 0;
    int line_baud = 0;  // what the serial line runs at, once connected
    // No RTU request starts before this: the end of the last frame plus the silent interval.
    std::chrono::steady_clock::time_point line_free_at;
};
