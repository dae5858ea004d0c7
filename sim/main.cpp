// tesmar-sim: a Modbus TCP/RTU slave with preset registers and optional faulty replies.
#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "sim/faults.h"
#include "sim/registers.h"
#include "sim/server.h"

namespace {

const char usage[] =
    R"(usage: tesmar-sim [-p PORT] [-a ADDR] [-s UNIT] [-m FILE] [-f MODE [-D MS] [-n N]] [-l] [-v]
       tesmar-sim -d DEVICE [-b BAUD] [-c FORMAT] [-s SLAVE] [-m FILE]
                  [-f MODE [-D MS] [-n N]] [-e] [-l] [-v]

Modbus slave simulator for trying out tesmar. Once ready it prints
"tesmar-sim listening on ADDR:PORT" or "tesmar-sim serving DEVICE as slave N".

  -p PORT     TCP port (default 1502, 0 = any free port)
  -a ADDR     IPv4 address to listen on (default 127.0.0.1)
  -d DEVICE   serve Modbus RTU on a serial device instead of TCP
  -b BAUD     serial speed (default 19200)
  -c FORMAT   data bits, parity N/E/O, stop bits (default 8N1)
  -s SLAVE    RTU: slave address 1-247 (default 1); TCP: answer only this unit
              id 0-255 and no other (default: every unit)
  -m FILE     serve the registers of a map file instead of the presets
  -f MODE     answer requests wrongly (TCP and RTU unless marked):
                none       correct replies (default)
                txid       transaction id off by one (TCP only)
                unit       reply from the next unit id or slave address
                bytecount  read byte count one short, write count one more
                truncated  first half of the reply only
                garbage    12 garbage bytes instead of the reply
                crc        reply with a broken checksum (RTU only)
                noise      the correct reply behind 300 zero bytes (TCP)
                           or 12 garbage bytes (RTU)
                exception  exception 4 (server device failure), nothing written
                late       correct reply after the -D delay
                silent     no reply, nothing written
                close      TCP: drop the connection; RTU: as silent
                trickle    the reply's header, then one byte every -D ms
                           (default 450)
  -D MS       delay of a late reply in milliseconds (default 1500), or the
              interval between the bytes of a trickled one (default 450)
  -n N        fault only the first N requests, then answer correctly
  -e          RTU: send every request back to the master before answering it,
              as an RS-485 adapter that hears itself does
  -l          log one line per request on stderr
  -v          every frame in hexadecimal (on stderr)
  -?, --help  show this help

A map file has one entry a line: a table (holding, input, coil or discrete),
a start address and one or more values, decimal or 0x hex (0 or 1 for coil
and discrete); "#" starts a comment. Everything not in the file is 0:
  holding 100 0x4148 0x0000     # float 12.5 at 100-101
  coil 0 1 0 1

Presets without -m, in holding and input registers alike (everything else 0):
  0-1       0x1234 0x5678 (input register 0 is 0x4321)
  100-101   0x4148 0x0000 (float 12.5, high word first)
  102-103   0xBF80 0x0000 (float -1.0)
  200-207   "tesmar simulator", two characters per register, high byte first
  300-303   0x1F20 0x7E7F 0x8000 0xFF41 (printable boundaries)
  65535     0xBEEF
Served: function codes 1-6, 15, 16 and 23; writes go to the coils and holding
registers. Any other function code gets exception 1 (illegal function).
)";

struct Options {
    std::string addr = "127.0.0.1";
    int port = 1502;
    std::string device;
    int baud = 19200;
    int data_bits = 8;
    char parity = 'N';
    int stop_bits = 1;
    int slave = -1;  // -1: not given
    std::string map_file;
    FaultPlan faults;
    bool delay_given = false;
    bool log = false;
    bool verbose = false;
    bool echo = false;
};

bool parseNumber(const char* text, long min, long max, int& out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min || value > max) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool parseFormat(const char* text, Options& o) {
    if (std::strlen(text) != 3 || text[0] < '5' || text[0] > '8' ||
        std::strchr("NEO", text[1]) == nullptr || (text[2] != '1' && text[2] != '2')) {
        return false;
    }
    o.data_bits = text[0] - '0';
    o.parity = text[1];
    o.stop_bits = text[2] - '0';
    return true;
}

bool parseOption(int c, const char* value, Options& o) {
    switch (c) {
        case 'p':
            return parseNumber(value, 0, 65535, o.port);
        case 'a': {
            in_addr unused{};
            o.addr = value;
            return inet_pton(AF_INET, value, &unused) == 1;
        }
        case 'd':
            o.device = value;
            return true;
        case 'm':
            o.map_file = value;
            return true;
        case 'b':
            return parseNumber(value, 1, 4000000, o.baud);
        case 'c':
            return parseFormat(value, o);
        case 's':
            return parseNumber(value, 0, 255, o.slave);
        case 'f': {
            const auto fault = parseFault(value);
            o.faults.fault = fault.value_or(Fault::none);
            return fault.has_value();
        }
        case 'D':
            o.delay_given = true;
            return parseNumber(value, 0, 3600000, o.faults.delay_ms);
        case 'n': {
            int count = 0;
            const bool ok = parseNumber(value, 0, INT_MAX, count);
            o.faults.count = count;
            return ok;
        }
        default:
            return false;
    }
}

// Whether the program goes on, and its exit status when the options end it (usage asked for
// or refused).
struct ParseResult {
    bool go_on;
    int status;
};

ParseResult parseArgs(int argc, char** argv, Options& o) {
    static const option long_options[] = {{"help", no_argument, nullptr, 'h'}, {}};
    int c;
    // optopt stays 0 for a literal -?, getopt sets it for unknown options.
    while ((optopt = 0,
            c = getopt_long(argc, argv, "p:a:d:b:c:s:m:f:D:n:elv?", long_options, nullptr)) != -1) {
        if (c == 'h' || (c == '?' && optopt == 0)) {
            std::fputs(usage, stdout);
            return {false, 0};
        }
        if (c == 'l' || c == 'v' || c == 'e') {
            (c == 'l' ? o.log : c == 'v' ? o.verbose : o.echo) = true;
            continue;
        }
        if (c == '?' || !parseOption(c, optarg, o)) {
            if (c != '?') {
                std::fprintf(stderr, "tesmar-sim: bad value for -%c: %s\n", c, optarg);
            }
            std::fputs(usage, stderr);
            return {false, 2};
        }
    }
    if (optind != argc) {
        std::fprintf(stderr, "tesmar-sim: unexpected argument: %s\n%s", argv[optind], usage);
        return {false, 2};
    }
    if (o.faults.fault == Fault::trickle && !o.delay_given) {
        o.faults.delay_ms = trickle_interval_ms;
    }
    const Framing transport = o.device.empty() ? Framing::tcp : Framing::rtu;
    if (!faultFits(o.faults.fault, transport)) {
        std::fprintf(stderr, "tesmar-sim: fault mode %s works over %s only\n",
                     faultName(o.faults.fault).c_str(), transport == Framing::tcp ? "RTU" : "TCP");
        return {false, 2};
    }
    if (o.echo && transport == Framing::tcp) {
        std::fputs("tesmar-sim: -e works over RTU only\n", stderr);
        return {false, 2};
    }
    if (transport == Framing::rtu) {
        o.slave = o.slave < 0 ? 1 : o.slave;
        if (o.slave < 1 || o.slave > 247) {
            std::fputs("tesmar-sim: an RTU slave address is 1 to 247\n", stderr);
            return {false, 2};
        }
    }
    return {true, 0};
}

// The registers to serve: the presets, or those of the map file. Says why on stderr when the
// file is refused.
std::optional<RegisterMap> loadRegisters(const Options& o) {
    if (o.map_file.empty()) {
        return presetRegisters();
    }
    // Opened without waiting (a FIFO with no writer would block) and looked at before reading:
    // only a regular file is a map, a device such as /dev/zero never ends.
    const int fd = open(o.map_file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        std::fprintf(stderr, "tesmar-sim: %s: %s\n", o.map_file.c_str(), std::strerror(errno));
        if (fd >= 0) {
            close(fd);
        }
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        std::fprintf(stderr, "tesmar-sim: %s: %s, not a regular file\n", o.map_file.c_str(),
                     S_ISDIR(info.st_mode)    ? "a directory"
                     : S_ISFIFO(info.st_mode) ? "a FIFO"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                                              : "a device");
        return std::nullopt;
    }
    // The very file looked at, opened again for the stream.
    std::ifstream file("/proc/self/fd/" + std::to_string(fd));
    close(fd);
    if (!file) {
        std::fprintf(stderr, "tesmar-sim: %s: cannot be read\n", o.map_file.c_str());
        return std::nullopt;
    }
    MapFile loaded = parseRegisterMap(file, o.map_file);
    if (!loaded.map) {
        std::fprintf(stderr, "tesmar-sim: %s\n", loaded.error.c_str());
    }
    return std::move(loaded.map);
}

// Whether the slave could start, and its listening socket (TCP only).
struct StartResult {
    bool ready = false;
    int listen_fd = -1;
};

// Opens the device or the listening socket and prints the readiness line.
StartResult start(modbus_t* ctx, const Options& o) {
    if (!o.device.empty()) {
        if (modbus_set_slave(ctx, o.slave) < 0 || modbus_connect(ctx) < 0) {
            std::fprintf(stderr, "tesmar-sim: %s: %s\n", o.device.c_str(), modbus_strerror(errno));
            return {};
        }
        std::printf("tesmar-sim serving %s as slave %d\n", o.device.c_str(), o.slave);
        return {true, -1};
    }
    const int listen_fd = modbus_tcp_listen(ctx, 8);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (listen_fd < 0 || getsockname(listen_fd, reinterpret_cast<sockaddr*>(&bound), &size) < 0) {
        std::fprintf(stderr, "tesmar-sim: listen on %s:%d: %s\n", o.addr.c_str(), o.port,
                     modbus_strerror(errno));
        return {};
    }
    std::printf("tesmar-sim listening on %s:%u\n", o.addr.c_str(), ntohs(bound.sin_port));
    return {true, listen_fd};
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const ParseResult parsed = parseArgs(argc, argv, o); !parsed.go_on) {
        return parsed.status;
    }

    std::optional<RegisterMap> registers = loadRegisters(o);
    if (!registers) {
        return 2;
    }
    ServeSettings settings;
    settings.transport = o.device.empty() ? Framing::tcp : Framing::rtu;
    settings.unit = o.slave;
    settings.log = o.log;
    settings.verbose = o.verbose;
    settings.echo = o.echo;
    settings.wait_mask = catchStopSignals();
    cServer server(settings, std::move(*registers), o.faults);

    modbus_t* ctx = o.device.empty() ? modbus_new_tcp(o.addr.c_str(), o.port)
                                     : modbus_new_rtu(o.device.c_str(), o.baud, o.parity,
                                                      o.data_bits, o.stop_bits);
    if (ctx == nullptr) {
        std::fprintf(stderr, "tesmar-sim: %s\n", modbus_strerror(errno));
        return 1;
    }
    const StartResult started = start(ctx, o);
    if (started.ready) {
        std::fflush(stdout);
        if (o.verbose) {
            // The frame trace is printed on stdout, which is the readiness line's alone: from
            // here on stdout is stderr.
            dup2(STDERR_FILENO, STDOUT_FILENO);
        }
        if (settings.transport == Framing::tcp) {
            server.serveTcp(started.listen_fd);
            close(started.listen_fd);
        } else {
            // The silence at the rate the line really runs, where the device reports it.
            termios line{};
            const int fd = modbus_get_socket(ctx);
            const int real_baud = tcgetattr(fd, &line) == 0 ? baudOfSpeed(cfgetospeed(&line)) : 0;
            server.setSilence(silentIntervalMicros(real_baud > 0 ? real_baud : o.baud));
            server.serveRtu(fd);
        }
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return started.ready ? 0 : 1;
}
