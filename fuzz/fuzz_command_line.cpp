// Command lines through the terminal, as typed at the prompt.
//
// The first byte picks the bus the terminal sees; the rest is one or more lines split at '\n':
//   low two bits 0      no bus (no -h or -d given)
//   low two bits 1      a bus whose settings the library refused (no context)
//   low two bits 2, 3   a stand-in RTU line that answers at once; bits 2-3 choose its reply to a
//                       read: 0 all registers asked for, 1 an exception, 2 zero registers,
//                       3 one too many (the last two fit no request and fail it)
// In printable seeds: '0' no bus, '1' refused, '2' full reply, '6' failure, ':' zero, '>' one
// too many.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bus/cModbus.h"
#include "bus/modbus_port.h"
#include "frames/frames.h"
#include "orvel/cOrvel.h"
#include "terminal/cTerminal.h"

namespace {

// What the stand-in line answers to the next read.
enum class ReadReply { all, failure, none, one_too_many };
// The stand-in serial line: the bus reads at one end, the slave's replies go in at the other.
int line[2] = {-1, -1};
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

int wordAt(const uint8_t* bytes) {
    return bytes[0] << 8 | bytes[1];
}

// The slave's reply to a request of slave, function and data, or nothing for a broadcast.
std::vector<uint8_t> replyTo(const uint8_t* raw, int length) {
    if (length < 6 || raw[0] == 0) {
        return {};
    }
    const int function = raw[1];
    const int count = wordAt(raw + 4);
    std::vector<uint8_t> pdu{static_cast<uint8_t>(function)};
    if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        pdu.insert(pdu.end(), raw + 2, raw + 6);
    } else if (read_reply == ReadReply::failure) {
        pdu = {static_cast<uint8_t>(function | 0x80), 4};
    } else {
        const int sent = read_reply == ReadReply::none           ? 0
                         : read_reply == ReadReply::one_too_many ? count + 1
                                                                 : count;
        pdu.push_back(static_cast<uint8_t>(2 * sent));
        for (int i = 0; i < sent; ++i) {
            const unsigned value = fill_seed * 0x9E37u + static_cast<unsigned>(i) * 0x0101u;
            pdu.push_back(static_cast<uint8_t>(value >> 8));
            pdu.push_back(static_cast<uint8_t>(value));
        }
    }
    return frameReply(Framing::rtu, raw, raw[0], pdu);
}

// Sends the request and puts the slave's reply on the line at once.
int fakeSendRaw(modbus_t* ctx, const uint8_t* raw, int length) {
    fakeCtxCall(ctx);
    const std::vector<uint8_t> reply = replyTo(raw, length);
    if (!reply.empty() &&
        write(line[1], reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) {
        std::abort();
    }
    return length + 2;
}

// Drops what the line holds, as a serial flush does.
int fakeFlush(modbus_t* ctx) {
    fakeCtxCall(ctx);
    uint8_t discard[512];
    while (recv(line[0], discard, sizeof discard, MSG_DONTWAIT) > 0) {
    }
    return 0;
}

int fakeGetSocket(modbus_t* ctx) {
    fakeCtxCall(ctx);
    return line[0];
}
// A response timeout of 1 ms: a request that nothing answers fails at once.
int fakeGetTimeout(modbus_t* ctx, uint32_t* seconds, uint32_t* microseconds) {
    *seconds = 0;
    *microseconds = 1000;
    return fakeCtxCall(ctx);
}

const ModbusPort fake_port = {
    fakeNewTcp,        fakeNewRtu,     fakeSetDebug,    fakeFlush,    fakeCtxCall,
    fakeSetSerialMode, fakeSetTimeout, fakeClose,       fakeSetSlave, fakeSendRaw,
    fakeGetSocket,     fakeGetTimeout, modbus_strerror,
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
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, line) != 0) {
        std::abort();
    }
    modbus_port = &fake_port;
    // The fastest line: a request costs little more than its silent interval.
    answering_bus = new cModbus("fuzz", 4000000, "8N1");
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
