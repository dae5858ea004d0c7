#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include <modbus/modbus.h>

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

    // Selects the slave of the next requests; false when the library refuses the number.
    bool selectSlave(int slave);
    // The slave numbers the library takes on this bus, as the operator reads them.
    const char* slaveRange() const;
    // Whether a request to this slave reaches every slave on the line and none answers.
    bool isBroadcast(int slave) const { return !is_tcp && slave == MODBUS_BROADCAST_ADDRESS; }

    // One transaction with the selected slave; the library's result (-1 and errno on failure).
    int readRegisters(int function_code, int address, int count, uint16_t* dest);
    int writeRegisters(int address, int count, const uint16_t* src);
    // Sends a write to every slave and waits for no answer; the library's result.
    int broadcastRegisters(int address, int count, const uint16_t* src);

    static cModbus* instance;

    modbus_t* ctx;
    int is_tcp;

private:
    void reportMissingContext();
    void reportLineSpeed();
    // A write the bus sent: a confirmation that comes after the timeout may still be its answer.
    struct SentWrite {
        int address;
        int count;
        std::chrono::steady_clock::time_point sent_at;
    };
    // What arrived while the line settled after a failed transaction.
    struct LateBytes {
        std::vector<uint8_t> bytes;  // the first of them, as many as a frame can hold
        bool any = false;
        std::chrono::steady_clock::time_point last_arrival;
    };

    void beforeRequest();
    int afterRequest(int rc, const SentWrite* write = nullptr);
    LateBytes settleLine(long timeout_ms);
    long responseTimeoutMillis() const;

    int selected_slave = -1;
    int baud_asked = 0;
    int line_baud = 0;  // what the serial line runs at, once connected
    // No RTU request starts before this: the end of the last frame plus the silent interval.
    std::chrono::steady_clock::time_point line_free_at;
};
