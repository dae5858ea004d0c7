// Command lines through the terminal, as typed at the prompt.
//
// The first byte picks the bus the terminal sees; the rest is one or more lines split at '\n':
//   low two bits 0      no bus (no -h or -d given)
//   low two bits 1      a bus whose settings the library refused (no context)
//   low two bits 2, 3   a stand-in library that answers; bits 2-3 choose its read reply:
//                       0 all registers asked for, 1 failure, 2 zero registers, 3 one too many,
//                       and bits 4-7 the register values
// In printable seeds: '0' no bus, '1' refused, '2' full reply, '6' failure, ':' zero, '>' one
// too many.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bus/cModbus.h"
#include "bus/modbus_port.h"
#include "orvel/cOrvel.h"
#include "terminal/cTerminal.h"

namespace {

// What the stand-in library answers to the next read.
enum class ReadReply { all, failure, none, one_too_many };
ReadReply read_reply = ReadReply::all;
unsigned fill_seed = 0;

// Any non-null address will do: the stand-ins never look inside a context.
modbus_t* const fake_ctx = reinterpret_cast<modbus_t*>(static_cast<uintptr_t>(0x1000));

modbus_t* fakeNewTcp(const char*, int) {
    return fake_ctx;
}
modbus_t* fakeNewRtu(const char*, int, char, int, int) {
    return fake_ctx;
}
int fakeCtxCall(modbus_t* ctx) {
    if (ctx != fake_ctx) {
        std::abort();
    }
    return 0;
}
int fakeSetDebug(modbus_t* ctx, int) {
    return fakeCtxCall(ctx);
}
int fakeSetSerialMode(modbus_t* ctx, int) {
    return fakeCtxCall(ctx);
}
int fakeSetTimeout(modbus_t* ctx, uint32_t, uint32_t) {
    return fakeCtxCall(ctx);
}
void fakeClose(modbus_t* ctx) {
    fakeCtxCall(ctx);
}
int fakeSetSlave(modbus_t* ctx, int) {
    return fakeCtxCall(ctx);
}

// Refuses what the library refuses (more than 125 registers, an address past 0xFFFF) and never
// fills more registers than asked; the count it returns is the reply read_reply chose.
int fakeRead(modbus_t* ctx, int address, int count, uint16_t* dest) {
    fakeCtxCall(ctx);
    if (count < 1 || count > MODBUS_MAX_READ_REGISTERS || address < 0 || address > 0xFFFF) {
        errno = EMBMDATA;
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        dest[i] = static_cast<uint16_t>(fill_seed * 0x9E37u + static_cast<unsigned>(i) * 0x0101u);
    }
    switch (read_reply) {
        case ReadReply::all:
            return count;
        case ReadReply::failure:
            errno = ECONNRESET;
            return -1;
        case ReadReply::none:
            return 0;
        case ReadReply::one_too_many:
            return count + 1;
    }
    return count;
}

int fakeWrite(modbus_t* ctx, int address, int count, const uint16_t* src) {
    fakeCtxCall(ctx);
    if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS || address < 0 || address > 0xFFFF) {
        errno = EMBMDATA;
        return -1;
    }
    // Touches every value so ASan sees a read past what the caller holds.
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += src[i];
    }
    return sum == 0xFFFFFFFFu ? -1 : count;
}

int fakeSendRaw(modbus_t* ctx, const uint8_t* raw, int length) {
    fakeCtxCall(ctx);
    unsigned sum = 0;
    for (int i = 0; i < length; ++i) {
        sum += raw[i];
    }
    return sum == 0xFFFFFFFFu ? -1 : length;
}
// No line to wait on: a failed request settles at once.
int fakeGetSocket(modbus_t* ctx) {
    fakeCtxCall(ctx);
    return -1;
}
int fakeGetTimeout(modbus_t* ctx, uint32_t* seconds, uint32_t* microseconds) {
    *seconds = 0;
    *microseconds = 0;
    return fakeCtxCall(ctx);
}

const ModbusPort fake_port = {
    fakeNewTcp,     fakeNewRtu,    fakeSetDebug,   fakeCtxCall,     fakeCtxCall, fakeSetSerialMode,
    fakeSetTimeout, fakeClose,     fakeSetSlave,   fakeRead,        fakeRead,    fakeWrite,
    fakeSendRaw,    fakeGetSocket, fakeGetTimeout, modbus_strerror,
};

cModbus* refused_bus = nullptr;
cModbus* answering_bus = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The terminal's output is thrown away; standard error keeps the log lines and the
    // sanitizers' reports.
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0) {
        std::abort();
    }
    close(null_fd);

    cOrvel::init(cOrvel::DEBUG);
    // An empty host is refused by libmodbus itself.
    refused_bus = new cModbus("", 502);
    if (refused_bus->usable()) {
        std::abort();
    }
    modbus_port = &fake_port;
    answering_bus = new cModbus("fuzz", 502);
    answering_bus->start();
    modbus_port = &libmodbus_port;

    // One terminal for the whole run, as in the program: parameters carry over between inputs.
    cTerminal::instance = new cTerminal();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const unsigned flags = data[0];
    switch (flags & 3u) {
        case 0:
            cModbus::instance = nullptr;
            modbus_port = &libmodbus_port;
            break;
        case 1:
            cModbus::instance = refused_bus;
            modbus_port = &libmodbus_port;
            break;
        default:
            cModbus::instance = answering_bus;
            modbus_port = &fake_port;
            read_reply = static_cast<ReadReply>((flags >> 2) & 3u);
            fill_seed = flags >> 4;
            break;
    }

    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        // Quit ends the session, so the lines after it are never read.
        if (!cTerminal::instance->dispatchCommand(
                std::string_view(text).substr(start, end - start))) {
            break;
        }
        start = end + 1;
    }
    return 0;
}
