#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "sim/request_log.h"
#include "sim/slave.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

// Asks the loop to end; it sees this as soon as ppoll returns.
void onSignal(int) {
    stop_requested = 1;
}

// Clients served at once; beyond it new ones wait in the listen queue.
const std::size_t max_clients = 1000;
// Bytes of replies a client may leave unread before it is dropped.
const std::size_t unsent_limit = 65536;
// Bytes read from one descriptor in one round, so that a fast client cannot starve the others.
const std::size_t read_chunk = 4096;
// Serial bytes that make no frame are kept this long after the last of them, in case the rest
// of a frame comes late (a pseudo-terminal can split a frame), then logged and dropped.
const std::chrono::milliseconds serial_keep{100};
// More serial bytes than any frame holds are no frame.
const std::size_t serial_max = 2 * 256;

// The log's time stamp for now.
std::string nowText() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return logTime(now.tv_sec, now.tv_nsec / 1000000);
}

// The client of a connected socket as the log names it, "127.0.0.1:40212".
std::string peerName(int fd) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    char text[INET_ADDRSTRLEN] = "?";
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0) {
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    }
    return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

// Makes reads and writes on fd return at once instead of waiting; false when that failed.
bool setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

sigset_t catchStopSignals() {
    sigset_t stop_signals;
    sigset_t wait_mask;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    // A SIGINT ignored from the start stays ignored: a script's background simulator must not
    // end when the operator presses Ctrl-C at the tesmar beside it.
    struct sigaction inherited {};
    sigaction(SIGINT, nullptr, &inherited);
    const bool catch_interrupt = inherited.sa_handler != SIG_IGN;
    if (catch_interrupt) {
        sigaddset(&stop_signals, SIGINT);
    }
    // Blocked except inside ppoll, so that none slips in between a check and the wait.
    sigprocmask(SIG_BLOCK, &stop_signals, &wait_mask);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    if (catch_interrupt) {
        sigaction(SIGINT, &sa, nullptr);
    }
    sigdelset(&wait_mask, SIGTERM);
    sigdelset(&wait_mask, SIGINT);
    return wait_mask;
}

cServer::cServer(const ServeSettings& settings_, RegisterMap map_, const FaultPlan& faults_)
    : settings(settings_), map(std::move(map_)), faults(faults_) {}

void cServer::logLine(const std::string& line) const {
    if (settings.log) {
        // Keeps the order with the frame trace, which goes through stdout.
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

void cServer::trace(const char* format, const uint8_t* bytes, std::size_t length) const {
    if (settings.verbose) {
        for (std::size_t i = 0; i < length; ++i) {
            std::printf(format, bytes[i]);
        }
        std::printf("\n");
    }
}

std::size_t cServer::unsent(const Connection& c) {
    std::size_t bytes = 0;
    for (const Outgoing& o : c.out) {
        bytes += o.bytes.size() - o.sent;
    }
    return bytes;
}

void cServer::serveFrame(Connection& c, const uint8_t* frame, std::size_t length) {
    trace("<%.2X>", frame, length);
    const Response response =
        respond(settings.transport, frame, length, settings.unit, map, faults);
    const Request request = decodeRequest(settings.transport, frame, length);
    logLine(requestLine(nowText(), c.client, request, outcomeText(response)));
    if (settings.echo && settings.transport == Framing::rtu) {
        // The master hears its own request first, as through an adapter that hears itself.
        Outgoing echo;
        echo.bytes.assign(frame, frame + length);
        echo.request = request;
        echo.due = Clock::now();
        c.out.push_back(std::move(echo));
    }
    if (response.close) {
        c.dead = true;
        c.why = "connection dropped by the fault";
        return;
    }
    if (response.frame.empty()) {
        return;
    }
    Outgoing reply;
    reply.bytes = response.frame;
    reply.request = request;
    reply.due = Clock::now();
    if (response.fault == Fault::trickle) {
        reply.step = std::chrono::milliseconds(response.delay_ms);
        reply.head = trickleHead(settings.transport);
    } else {
        reply.due += std::chrono::milliseconds(response.delay_ms);
    }
    c.out.push_back(std::move(reply));
    if (unsent(c) > unsent_limit) {
        c.dead = true;
        c.why = "client dropped with " + std::to_string(unsent(c)) + " bytes of replies unread";
    }
}

void cServer::flush(Connection& c, Clock::time_point now) {
    const bool socket = settings.transport == Framing::tcp;
    while (!c.dead && !c.out.empty()) {
        Outgoing& o = c.out.front();
        if (o.released < o.bytes.size() && now >= o.due) {
            if (o.released == 0) {
                trace("[%.2X]", o.bytes.data(), o.bytes.size());
            }
            if (o.step.count() == 0) {
                o.released = o.bytes.size();
            } else {
                o.released = o.released == 0 ? std::min(o.head, o.bytes.size()) : o.released + 1;
                o.due = now + o.step;
            }
        }
        if (o.sent < o.released) {
            const ssize_t n =
                socket ? send(c.fd, o.bytes.data() + o.sent, o.released - o.sent, MSG_NOSIGNAL)
                       : write(c.fd, o.bytes.data() + o.sent, o.released - o.sent);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    c.dead = true;
                    c.why = std::strerror(errno);
                }
                return;
            }
            o.sent += static_cast<std::size_t>(n);
        }
        if (o.sent < o.bytes.size()) {
            return;
        }
        c.out.pop_front();
    }
}

void cServer::logUnsent(const Connection& c, const std::string& why) const {
    for (const Outgoing& o : c.out) {
        logLine(requestLine(nowText(), c.client, o.request,
                            "reply not sent: " + (c.why.empty() ? why : c.why)));
    }
}

void cServer::drop(Connection& c) {
    logUnsent(c, "connection closed");
    c.out.clear();
    close(c.fd);
}

void cServer::readTcp(Connection& c) {
    uint8_t chunk[read_chunk];
    const ssize_t got = recv(c.fd, chunk, sizeof chunk, 0);
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            c.dead = true;
            c.why = std::strerror(errno);
        }
        return;
    }
    if (got == 0) {
        // The client closed its side: answer what came, then close.
        c.reading = false;
        return;
    }
    c.in.insert(c.in.end(), chunk, chunk + got);
    std::size_t at = 0;
    while (!c.dead) {
        const long length = tcpFrameLength(c.in.data() + at, c.in.size() - at);
        if (length < 0) {
            // No Modbus TCP frame: where the next one starts cannot be known.
            logLine(nowText() + " " + c.client + " malformed MBAP header: connection closed");
            c.dead = true;
            c.why = "malformed MBAP header";
            break;
        }
        if (length == 0 || c.in.size() - at < static_cast<std::size_t>(length)) {
            break;
        }
        serveFrame(c, c.in.data() + at, static_cast<std::size_t>(length));
        at += static_cast<std::size_t>(length);
    }
    c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(at));
}

const timespec* cServer::timeout(const std::list<Connection>& conns, Clock::time_point limit,
                                 timespec& storage) {
    Clock::time_point next = limit;
    for (const Connection& c : conns) {
        if (!c.out.empty() && c.out.front().released < c.out.front().bytes.size()) {
            next = std::min(next, c.out.front().due);
        }
    }
    if (next == Clock::time_point::max()) {
        return nullptr;
    }
    const auto wait = std::max(Clock::duration::zero(), next - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count() + 1;
    storage = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    return &storage;
}

void cServer::serveTcp(int listen_fd) {
    setNonBlocking(listen_fd);
    std::list<Connection> conns;
    std::vector<pollfd> fds;
    while (!stop_requested) {
        fds.assign(1, pollfd{conns.size() < max_clients ? listen_fd : -1, POLLIN, 0});
        for (const Connection& c : conns) {
            const bool writable = !c.out.empty() && c.out.front().sent < c.out.front().released;
            // A client that closed its side is watched again only when there is something to
            // write to it: its hang-up would wake every round.
            fds.push_back({c.reading || writable ? c.fd : -1,
                           static_cast<short>((c.reading ? POLLIN : 0) | (writable ? POLLOUT : 0)),
                           0});
        }
        timespec storage{};
        const timespec* wait = timeout(conns, Clock::time_point::max(), storage);
        if (ppoll(fds.data(), fds.size(), wait, &settings.wait_mask) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("tesmar-sim: poll");
            break;
        }
        auto polled = fds.begin() + 1;
        for (Connection& c : conns) {
            if ((polled++->revents & (POLLIN | POLLHUP | POLLERR)) != 0 && c.reading) {
                readTcp(c);
            }
        }
        const Clock::time_point now = Clock::now();
        for (auto c = conns.begin(); c != conns.end();) {
            flush(*c, now);
            if (c->dead || (!c->reading && c->out.empty())) {
                drop(*c);
                c = conns.erase(c);
            } else {
                ++c;
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                conns.push_back(Connection{fd, peerName(fd), {}, {}, true, false, {}});
            }
        }
    }
    for (Connection& c : conns) {
        c.why = "stopped";
        drop(c);
    }
}

void cServer::frameSerial(std::vector<std::vector<uint8_t>>& segments, Connection& line,
                          bool expire) {
    // The longest run of segments up to the last that checks out is the frame: a frame split by
    // the line's jitter joins up again, garbage before a frame falls away.
    for (std::size_t first = 0; first < segments.size(); ++first) {
        std::vector<uint8_t> frame;
        for (std::size_t i = first; i < segments.size(); ++i) {
            frame.insert(frame.end(), segments[i].begin(), segments[i].end());
        }
        if (frame.size() <= 256 && rtuChecksumOk(frame.data(), frame.size())) {
            segments.resize(first);
            frameSerial(segments, line, true);
            serveFrame(line, frame.data(), frame.size());
            return;
        }
    }
    std::size_t kept = 0;
    for (const auto& segment : segments) {
        kept += segment.size();
    }
    if (!segments.empty() && (expire || kept > serial_max)) {
        std::vector<uint8_t> bytes;
        for (const auto& segment : segments) {
            bytes.insert(bytes.end(), segment.begin(), segment.end());
        }
        trace("<%.2X>", bytes.data(), bytes.size());
        logLine(nowText() + " rtu " + std::to_string(bytes.size()) +
                " bytes that make no frame (bad checksum): no reply");
        segments.clear();
    }
}

void cServer::serveRtu(int fd) {
    setNonBlocking(fd);
    std::list<Connection> line(1);
    Connection& c = line.front();
    c.fd = fd;
    c.client = "rtu";
    std::vector<uint8_t> segment;
    std::vector<std::vector<uint8_t>> segments;
    Clock::time_point last_byte;
    const auto silence = std::chrono::microseconds(settings.silence_us);
    while (!stop_requested) {
        Clock::time_point limit = Clock::time_point::max();
        if (!segment.empty()) {
            limit = last_byte + silence;
        } else if (!segments.empty()) {
            limit = last_byte + serial_keep;
        }
        timespec storage{};
        const timespec* wait = timeout(line, limit, storage);
        const bool writable = !c.out.empty() && c.out.front().sent < c.out.front().released;
        pollfd poll_fd{fd, static_cast<short>(POLLIN | (writable ? POLLOUT : 0)), 0};
        if (ppoll(&poll_fd, 1, wait, &settings.wait_mask) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("tesmar-sim: poll");
            break;
        }
        if ((poll_fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            uint8_t chunk[read_chunk];
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                // The far end of the serial line hung up (a pty whose peer went): nothing more
                // can arrive, and waiting on it would spin.
                std::fputs("tesmar-sim: the serial line hung up\n", stderr);
                c.why = "the serial line hung up";
                break;
            }
            if (got > 0) {
                segment.insert(segment.end(), chunk, chunk + got);
                last_byte = Clock::now();
            }
        }
        const Clock::time_point now = Clock::now();
        if (!segment.empty() && (now >= last_byte + silence || segment.size() > serial_max)) {
            segments.push_back(std::move(segment));
            segment.clear();
            frameSerial(segments, c, false);
        } else if (segment.empty() && !segments.empty() && now >= last_byte + serial_keep) {
            frameSerial(segments, c, true);
        }
        flush(c, now);
        if (c.dead) {
            std::fprintf(stderr, "tesmar-sim: serial line: %s\n", c.why.c_str());
            break;
        }
    }
    logUnsent(c, "stopped");
}
