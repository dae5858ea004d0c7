// tesmar-sim: a Modbus TCP/RTU slave with fixed presets and optional faulty replies.
#include "sim_frames.h"

#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using tesmar::sim::Fault;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

const char kUsage[] = R"(usage: tesmar-sim [-p PORT] [-a ADDR] [-f MODE] [-v]
       tesmar-sim -d DEVICE [-b BAUD] [-c FORMAT] [-s SLAVE] [-v]

Modbus slave simulator for trying out tesmar. Once ready it prints
"tesmar-sim listening on ADDR:PORT" or "tesmar-sim serving DEVICE as slave N".

  -p PORT     TCP port (default 1502, 0 = any free port)
  -a ADDR     IPv4 address to listen on (default 127.0.0.1)
  -d DEVICE   serve Modbus RTU on a serial device instead of TCP
  -b BAUD     serial speed (default 19200)
  -c FORMAT   data bits, parity N/E/O, stop bits (default 8N1)
  -s SLAVE    RTU slave id 1-247 (default 1)
  -f MODE     answer every request wrongly (TCP only):
                none       correct replies (default)
                txid       transaction id off by one
                unit       unit id off by one
                bytecount  read byte count one short, write count one more
                truncated  first half of the reply only
                garbage    12 garbage bytes
                exception  exception 4 (server device failure)
                late       correct reply after 1.5 s
                close      drop the connection without replying
  -v          libmodbus debug output (on stderr)
  -?, --help  show this help

Presets, in holding and input registers alike (everything else 0):
  0-1       0x1234 0x5678 (input register 0 is 0x4321)
  100-101   0x4148 0x0000 (float 12.5, high word first)
  102-103   0xBF80 0x0000 (float -1.0)
  200-207   "tesmar simulator", two characters per register, high byte first
  300-303   0x1F20 0x7E7F 0x8000 0xFF41 (printable boundaries)
  65535     0xBEEF
Writes (FC6, FC16) go to the holding registers.
)";

struct Options {
    std::string addr = "127.0.0.1";
    int port = 1502;
    std::string device;
    int baud = 19200;
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
    int slave = 1;
    Fault fault = Fault::None;
    bool verbose = false;
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
    o.dataBits = text[0] - '0';
    o.parity = text[1];
    o.stopBits = text[2] - '0';
    return true;
}

// Returns -1 to go on, otherwise the exit status.
int parseArgs(int argc, char** argv, Options& o) {
    static const option kLong[] = {{"help", no_argument, nullptr, 'h'}, {}};
    int c;
    // optopt stays 0 for a literal -?, getopt sets it for unknown options.
    while ((optopt = 0, c = getopt_long(argc, argv, "p:a:d:b:c:s:f:v?", kLong, nullptr)) != -1) {
        bool ok = true;
        switch (c) {
            case 'p':
                ok = parseNumber(optarg, 0, 65535, o.port);
                break;
            case 'a': {
                in_addr unused{};
                ok = inet_pton(AF_INET, optarg, &unused) == 1;
                o.addr = optarg;
                break;
            }
            case 'd':
                o.device = optarg;
                break;
            case 'b':
                ok = parseNumber(optarg, 1, 4000000, o.baud);
                break;
            case 'c':
                ok = parseFormat(optarg, o);
                break;
            case 's':
                ok = parseNumber(optarg, 1, 247, o.slave);
                break;
            case 'v':
                o.verbose = true;
                break;
            case 'f': {
                const auto fault = tesmar::sim::parseFault(optarg);
                ok = fault.has_value();
                o.fault = fault.value_or(Fault::None);
                break;
            }
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            default:
                if (c == '?' && optopt == 0) {
                    std::fputs(kUsage, stdout);
                    return 0;
                }
                ok = false;
        }
        if (!ok) {
            if (c != '?') {
                std::fprintf(stderr, "tesmar-sim: bad value for -%c: %s\n", c, optarg);
            }
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (optind != argc) {
        std::fprintf(stderr, "tesmar-sim: unexpected argument: %s\n%s", argv[optind], kUsage);
        return 2;
    }
    if (!o.device.empty() && o.fault != Fault::None) {
        std::fputs("tesmar-sim: fault modes work over TCP only\n", stderr);
        return 2;
    }
    return -1;
}

bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return true;
}

// Answers one request; false means the connection is to be closed.
bool serve(modbus_t* ctx, int fd, const uint8_t* req, int len, modbus_mapping_t* map, Fault fault,
           const sigset_t& waitMask) {
    switch (fault) {
        case Fault::None:
            modbus_reply(ctx, req, len, map);
            return true;
        case Fault::Exception:
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
            return true;
        case Fault::Close:
            return false;
        case Fault::Late: {
            // pselect rather than sleep so that SIGTERM cuts the wait short.
            const timespec delay{1, 500000000};
            if (pselect(0, nullptr, nullptr, nullptr, &delay, &waitMask) == 0) {
                modbus_reply(ctx, req, len, map);
            }
            return true;
        }
        default:
            break;
    }
    std::vector<uint8_t> reply;
    const int code = tesmar::sim::buildReply(req, len, map, reply);
    if (code != 0) {
        modbus_reply_exception(ctx, req, static_cast<unsigned>(code));
        return true;
    }
    tesmar::sim::applyFault(fault, reply);
    return sendAll(fd, reply);
}

// Serves until a signal arrives. TCP passes its listening socket; RTU passes -1 and
// keeps the device open whatever arrives on it.
void serveLoop(modbus_t* ctx, int listenFd, modbus_mapping_t* map, Fault fault,
               const sigset_t& waitMask) {
    fd_set watched;
    FD_ZERO(&watched);
    int maxFd = listenFd >= 0 ? listenFd : modbus_get_socket(ctx);
    FD_SET(maxFd, &watched);
    uint8_t req[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!g_stop) {
        fd_set ready = watched;
        if (pselect(maxFd + 1, &ready, nullptr, nullptr, nullptr, &waitMask) < 0) {
            if (errno != EINTR) {
                std::perror("tesmar-sim: select");
                break;
            }
            continue;
        }
        for (int fd = 0; fd <= maxFd && !g_stop; ++fd) {
            if (!FD_ISSET(fd, &ready)) {
                continue;
            }
            if (fd == listenFd) {
                const int client = accept(listenFd, nullptr, nullptr);
                if (client >= FD_SETSIZE) {
                    close(client);
                } else if (client >= 0) {
                    FD_SET(client, &watched);
                    maxFd = std::max(maxFd, client);
                }
                continue;
            }
            modbus_set_socket(ctx, fd);
            const int len = modbus_receive(ctx, req);
            if (len < 0 && listenFd < 0 && errno == ECONNRESET) {
                // The far end of the serial line hung up (a pty whose peer went): nothing more
                // can arrive, and waiting on it would spin.
                std::fputs("tesmar-sim: the serial line hung up\n", stderr);
                g_stop = 1;
                break;
            }
            const bool keep =
                len < 0 ? listenFd < 0 : len == 0 || serve(ctx, fd, req, len, map, fault, waitMask);
            if (!keep) {
                close(fd);
                FD_CLR(fd, &watched);
            }
        }
    }
    if (listenFd >= 0) {
        for (int fd = 0; fd <= maxFd; ++fd) {
            if (FD_ISSET(fd, &watched)) {
                close(fd);
            }
        }
        // Already closed above; keeps modbus_close from closing it again.
        modbus_set_socket(ctx, -1);
    }
}

// Prints the readiness line; returns the listening socket for TCP, or -2 on failure.
int start(modbus_t* ctx, const Options& o) {
    if (!o.device.empty()) {
        if (modbus_set_slave(ctx, o.slave) < 0 || modbus_connect(ctx) < 0) {
            std::fprintf(stderr, "tesmar-sim: %s: %s\n", o.device.c_str(), modbus_strerror(errno));
            return -2;
        }
        std::printf("tesmar-sim serving %s as slave %d\n", o.device.c_str(), o.slave);
        return -1;
    }
    const int listenFd = modbus_tcp_listen(ctx, 8);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (listenFd < 0 || getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &size) < 0) {
        std::fprintf(stderr, "tesmar-sim: listen on %s:%d: %s\n", o.addr.c_str(), o.port,
                     modbus_strerror(errno));
        return -2;
    }
    std::printf("tesmar-sim listening on %s:%u\n", o.addr.c_str(), ntohs(bound.sin_port));
    return listenFd;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int status = parseArgs(argc, argv, o); status >= 0) {
        return status;
    }

    // Signals stay blocked except inside pselect, so none slips in between check and wait.
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    modbus_t* ctx = o.device.empty() ? modbus_new_tcp(o.addr.c_str(), o.port)
                                     : modbus_new_rtu(o.device.c_str(), o.baud, o.parity,
                                                      o.dataBits, o.stopBits);
    modbus_mapping_t* map = tesmar::sim::newPresetMapping();
    if (ctx == nullptr || map == nullptr) {
        std::fprintf(stderr, "tesmar-sim: %s\n", modbus_strerror(errno));
        modbus_mapping_free(map);
        modbus_free(ctx);
        return 1;
    }
    const int listenFd = start(ctx, o);
    if (listenFd != -2) {
        std::fflush(stdout);
        if (o.verbose) {
            // libmodbus prints its debug output on stdout, which belongs to the readiness line.
            dup2(STDERR_FILENO, STDOUT_FILENO);
            modbus_set_debug(ctx, TRUE);
        }
        serveLoop(ctx, listenFd, map, o.fault, waitMask);
    }
    modbus_close(ctx);
    modbus_free(ctx);
    modbus_mapping_free(map);
    return listenFd == -2 ? 1 : 0;
}
