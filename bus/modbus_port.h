#pragma once

#include <signal.h>
#include <cstdint>

#include <modbus/modbus.h>

// Every libmodbus call of the tool goes through this table, so tests can stand in for the library
// where the real one cannot reach a failure (no context, a refused connect) without hardware.
struct ModbusPort {
    modbus_t* (*new_tcp)(const char* host, int port);
    modbus_t* (*new_rtu)(const char* device, int baud, char parity, int data_bits, int stop_bits);
    int (*set_debug)(modbus_t* ctx, int flag);
    int (*flush)(modbus_t* ctx);
    int (*connect)(modbus_t* ctx);
    int (*rtu_set_serial_mode)(modbus_t* ctx, int mode);
    int (*set_response_timeout)(modbus_t* ctx, uint32_t seconds, uint32_t microseconds);
    void (*close)(modbus_t* ctx);
    int (*set_slave)(modbus_t* ctx, int slave);
    int (*read_registers)(modbus_t* ctx, int address, int count, uint16_t* dest);
    int (*read_input_registers)(modbus_t* ctx, int address, int count, uint16_t* dest);
    int (*write_registers)(modbus_t* ctx, int address, int count, const uint16_t* src);
    int (*send_raw_request)(modbus_t* ctx, const uint8_t* raw, int length);
    int (*get_socket)(modbus_t* ctx);
    int (*get_response_timeout)(modbus_t* ctx, uint32_t* seconds, uint32_t* microseconds);
    const char* (*strerror)(int error);
};

extern const ModbusPort libmodbus_port;

// The table in use; the real library unless a test swaps it.
extern const ModbusPort* modbus_port;

// Ends the library's wait on the line at a deadline, whatever the slave sends. libmodbus retries
// its select on EINTR and waits afresh for each byte, so a slave that trickles one byte just
// inside the byte timeout holds a request for as long as it likes, and a signal alone ends
// nothing. At the deadline a timer signal of the bus's own (SIGALRM, unblocked only while a cut
// is armed) makes the line's descriptor a pipe that reads its end at once: the library's next
// select and read see end of file and the request fails. Once the library has returned, the
// real line takes its descriptor back.
class cLineCut {
public:
    // Arms the cut of descriptor fd (none when fd < 0) after the given time.
    cLineCut(int fd, long after_us);
    // Disarms the cut and gives the line its descriptor back.
    ~cLineCut();
    cLineCut(const cLineCut&) = delete;
    cLineCut& operator=(const cLineCut&) = delete;

    // Whether the deadline came while the cut was armed.
    bool happened() const;

private:
    int line = -1;
    int kept = -1;  // a second descriptor of the real line, while the cut is armed
    int line_flags = 0;
    sigset_t mask_before;
};
