#pragma once

#include <modbus/modbus.h>

#include "cOrvel.h"

// The one Modbus bus of the process: a TCP client or an RTU master.
class cModbus : public cOrvel {
public:
    // RTU master on a serial device; format is a character format such as "8N1".
    cModbus(const char* device, int baud, const char* format);
    // TCP client; the host goes to the library unchanged as its address.
    cModbus(const char* host, int port);

    // Connects. A bus that does not start stays in use; later requests fail in the library.
    void start();
    void close();

    // False when the library gave no context: then no library call is ever made with it.
    bool usable() const { return ctx != nullptr; }

    static cModbus* instance;

    modbus_t* ctx;
    int is_tcp;

private:
    void reportMissingContext();
};
