/* The baseline for scripts/bench: what tesmar's rr does, and nothing else, straight on
 * libmodbus. Connects once, then per read sets the slave, flushes and reads one holding
 * register, with the library's frame trace on as tesmar's TCP bus has it.
 *
 *   bare_reads HOST PORT COUNT [ADDRESS]
 *
 * Exits 1 if any read fails. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <modbus/modbus.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s HOST PORT COUNT [ADDRESS]\n", argv[0]);
        return 2;
    }
    const int port = atoi(argv[2]);
    const long count = atol(argv[3]);
    const int address = argc > 4 ? atoi(argv[4]) : 0;

    modbus_t* ctx = modbus_new_tcp(argv[1], port);
    if (ctx == NULL) {
        fprintf(stderr, "bare_reads: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_set_debug(ctx, 1);
    if (modbus_connect(ctx) != 0) {
        fprintf(stderr, "bare_reads: connect: %s\n", modbus_strerror(errno));
        modbus_free(ctx);
        return 1;
    }
    long failed = 0;
    for (long i = 0; i < count; ++i) {
        uint16_t value = 0;
        modbus_set_slave(ctx, 0);
        modbus_flush(ctx);
        if (modbus_read_registers(ctx, address, 1, &value) != 1) {
            ++failed;
        }
    }
    modbus_close(ctx);
    modbus_free(ctx);
    if (failed != 0) {
        fprintf(stderr, "bare_reads: %ld of %ld reads failed\n", failed, count);
        return 1;
    }
    return 0;
}
