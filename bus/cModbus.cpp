#include "bus/cModbus.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bus/failure_reason.h"
#include "bus/modbus_port.h"
#include "bus/serial_format.h"
#include "frames/reply_match.h"

cModbus* cModbus::instance = nullptr;

namespace {

// Time the slaves get after a broadcast before the next request, as no answer marks its end.
const std::chrono::milliseconds broadcast_turnaround(100);

// A pseudo-terminal or a USB adapter may pass one frame on in pieces this far apart; only a
// longer silence after the line's own gap between frames ends a frame.
const std::chrono::milliseconds piece_gap(20);

// Bytes that are no answer yet and are kept for a look: a peer that streams without pause cannot
// grow them further.
const std::size_t kept_bytes = 4096;

long millisBetween(std::chrono::steady_clock::time_point from,
                   std::chrono::steady_clock::time_point to) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

}  // namespace

cModbus::cModbus(const char* device, int baud, const char* format)
    : cOrvel("cModbus"),
      ctx(nullptr),
      is_tcp(0),
      rules(&rtu_transport),
      endpoint(device),
      baud_asked(baud),
      line_baud(baud) {
    info("Opening master RTU bus on %s with baud %d and config", device, baud);
    const SerialFormat serial = parseSerialFormat(format);
    ctx = modbus_port->new_rtu(device, baud, serial.parity, serial.data_bits, serial.stop_bits);
    if (ctx == nullptr) {
        reportMissingContext();
        return;
    }
    keepResponseTimeout();
}

cModbus::cModbus(const char* host, int port)
    : cOrvel("cModbus"),
      ctx(nullptr),
      is_tcp(1),
      rules(&tcp_transport),
      endpoint(std::string(host) + ":" + std::to_string(port)) {
    info("Opening TCP client bus to %s:%d", host, port);
    if (port < 0 || port > 65535) {
        // The library would cut the number to 16 bits and connect to some other port.
        error("TCP port %d is outside 0-65535: no connection is made", port);
        return;
    }
    ctx = modbus_port->new_tcp(host, port);
    if (ctx == nullptr) {
        reportMissingContext();
        return;
    }
    modbus_port->set_debug(ctx, 1);
    modbus_port->flush(ctx);
    keepResponseTimeout();
}

void cModbus::reportMissingContext() {
    error("The library refused the bus settings: %s", modbus_port->strerror(errno));
}

void cModbus::start() {
    if (!usable()) {
        return;
    }
    errno = 0;
    const int rc = modbus_port->connect(ctx);
    connected = rc == 0;
    start_error = connected ? 0 : errno;
    if (is_tcp) {
        if (rc != 0) {
            error("Modbus did not start at all");
        } else {
            info("Modbus started OK");
        }
        return;
    }
    if (rc == 0) {
        // Asked for as the library offers it; a line that switches direction by itself (a
        // pseudo-terminal, most USB adapters) refuses, and works as it is.
        modbus_port->rtu_set_serial_mode(ctx, MODBUS_RTU_RS485);
        modbus_port->set_response_timeout(ctx, 1, 0);
        keepResponseTimeout();
        reportLineSpeed();
    }
}

std::string cModbus::startFailure() const {
    if (!usable() || connected) {
        return "";
    }
    if (is_tcp) {
        const std::string host = endpoint.substr(0, endpoint.rfind(':'));
        in_addr address{};
        if (inet_pton(AF_INET, host.c_str(), &address) != 1) {
            return host +
                   " is not a numeric IPv4 address; names are not looked up (127.0.0.1 is this "
                   "machine)";
        }
    }
    std::string reason =
        endpoint + ": " + (start_error != 0 ? std::strerror(start_error) : "it did not open");
    if (start_error == EACCES) {
        reason +=
            " (the account needs access to the device, for example through the dialout "
            "group)";
    }
    return reason;
}

// Says when the line runs at another rate than asked: the library puts a rate it does not know
// on the line as 9600 baud without a word.
void cModbus::reportLineSpeed() {
    termios line{};
    if (tcgetattr(modbus_port->get_socket(ctx), &line) != 0) {
        line_baud = baud_asked;
        return;
    }
    line_baud = baudOfSpeed(cfgetospeed(&line));
    if (line_baud != baud_asked) {
        error("Baud rate %d is not supported by the serial line: it runs at %d baud", baud_asked,
              line_baud);
    }
}

void cModbus::close() {
    if (usable()) {
        modbus_port->close(ctx);
    }
}

bool cModbus::selectSlave(int slave) {
    if (modbus_port->set_slave(ctx, slave) != 0) {
        return false;
    }
    selected_slave = slave;
    return true;
}

int cModbus::readRegisters(int function_code, int address, int count, uint16_t* dest) {
    return transact(readRegistersRequest(selected_slave, function_code, address, count), dest);
}

int cModbus::writeRegisters(int address, int count, const uint16_t* src) {
    return transact(writeRegistersRequest(selected_slave, address, count, src), nullptr);
}

int cModbus::broadcastRegisters(int address, int count, const uint16_t* src) {
    if (!prepareLine()) {
        return fail(EINTR, {});
    }
    const std::vector<uint8_t> frame = frameRequest(
        rules->framing, 0, writeRegistersRequest(MODBUS_BROADCAST_ADDRESS, address, count, src));
    const bool sent = sendFrame(frame);
    // The frame may still be on its way out of the line when it is sent; the slaves then need
    // their time to act on it.
    const long on_wire = rules->wireMicros(line_baud, static_cast<int>(frame.size()));
    line_free_at = line_clock::now() + std::chrono::microseconds(on_wire) +
                   std::chrono::microseconds(rules->silentMicros(line_baud)) + broadcast_turnaround;
    return sent ? count : fail(errno, {});
}

RequestCheck cModbus::check(int slave, bool write, int function, int count) {
    const RequestCheck verdict = checkRequest(*rules, slave, write, function, count);
    if (verdict == RequestCheck::too_many) {
        fail(EMBMDATA, {});
    }
    return verdict;
}

std::string cModbus::lastFailure() const {
    FailureFacts facts;
    facts.error = failure_error;
    facts.transport = rules;
    facts.slave = selected_slave;
    facts.timeout_ms = timeout_ms;
    facts.never_connected = !connected;
    facts.link_lost = link_lost;
    facts.given_up = failure_given_up;
    facts.bound_ms = failure_bound_ms;
    facts.set_aside = failure_set_aside;
    return failureReason(facts);
}

// Every deadline of a request counts from when it began, so that no slave, however it sends,
// holds it past its bound. On a serial line the response timeout counts from the end of the
// request on the wire, when the slave has heard all of it.
int cModbus::transact(const std::vector<uint8_t>& request, uint16_t* dest) {
    const int function = request[1];
    const int count = request[4] << 8 | request[5];
    const std::chrono::milliseconds timeout(timeout_ms);
    const std::chrono::microseconds request_time(
        rules->wireMicros(line_baud, requestBytes(*rules, function, count)));
    const std::chrono::microseconds reply_time(
        rules->wireMicros(line_baud, replyBytes(*rules, function, count)));
    const std::optional<line_clock::time_point> begun = prepareLine();
    if (!begun) {
        return fail(EINTR, {});
    }
    const line_clock::time_point bound =
        *begun + request_time + rules->late_timeouts * timeout + reply_time;
    transaction_id = (transaction_id + 1) & 0xFFFF;
    const std::vector<uint8_t> frame = frameRequest(rules->framing, transaction_id, request);
    if (!sendFrame(frame)) {
        return fail(errno, {});
    }
    Times times;
    times.wire_end = line_clock::now() + request_time;
    times.answer_by = std::min(times.wire_end + timeout, bound);
    times.give_up = std::min(times.wire_end + 2 * timeout + reply_time, bound);
    times.bound = bound;
    const Outcome outcome =
        awaitAnswer(frame, times, function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS);
    line_free_at = line_clock::now() + std::chrono::microseconds(rules->silentMicros(line_baud));
    if (outcome.rc < 0) {
        return fail(outcome.error, outcome);
    }
    const uint8_t* pdu = outcome.answer.data() + headerLength(rules->framing);
    for (int i = 0; dest != nullptr && i < count; ++i) {
        dest[i] = static_cast<uint16_t>(pdu[2 + 2 * i] << 8 | pdu[3 + 2 * i]);
    }
    return count;
}

std::optional<std::chrono::steady_clock::time_point> cModbus::prepareLine() {
    if (!discardUntil(settle_until) || waitUntil(line_free_at, -1) == Wait::interrupted) {
        return std::nullopt;
    }
    const line_clock::time_point begun = line_clock::now();
    if (!is_tcp) {
        // A serial line has nothing to send by now: the flush only drops what came in.
        modbus_port->flush(ctx);
        return begun;
    }
    // The library's flush reads as long as full chunks come, so a peer that streams would hold
    // it; this one stops at the deadline and traces as the library does.
    const int fd = modbus_port->get_socket(ctx);
    long flushed = 0;
    uint8_t chunk[MODBUS_TCP_MAX_ADU_LENGTH];
    ssize_t got;
    while ((got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) {
        flushed += got;
        if (line_clock::now() >= begun + std::chrono::milliseconds(timeout_ms)) {
            break;
        }
    }
    std::printf("Bytes flushed (%ld)\n", flushed);
    return begun;
}

// On RTU the library adds the checksum and drives the serial line. On TCP the library would send
// every request with transaction id 0, so the bus sends its own frame on the library's socket,
// with the id that tells its answer from a late one.
bool cModbus::sendFrame(const std::vector<uint8_t>& frame) {
    if (!is_tcp) {
        return modbus_port->send_raw_request(ctx, frame.data(),
                                             static_cast<int>(frame.size()) - 2) >= 0;
    }
    for (const uint8_t byte : frame) {
        std::printf("[%.2X]", byte);
    }
    std::printf("\n");
    const ssize_t sent =
        ::send(modbus_port->get_socket(ctx), frame.data(), frame.size(), MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(frame.size())) {
        return true;
    }
    if (sent >= 0) {
        errno = EMBBADDATA;
    }
    const int error_number = errno;
    std::fprintf(stderr, "ERROR %s\n", modbus_port->strerror(error_number));
    errno = error_number;
    return false;
}

// Reads the line until the answer comes or the request fails; then, up to the bound, takes late
// bytes off the line, so that no later request takes them for its answer. A write that the slave
// confirms late was still performed: it counts, with a word on how late it was. On TCP the
// received bytes are traced as the library traces them.
cModbus::Outcome cModbus::awaitAnswer(const std::vector<uint8_t>& frame, const Times& times,
                                      bool write) {
    const bool trace = is_tcp != 0;
    const int fd = modbus_port->get_socket(ctx);
    const line_clock::duration frame_gap =
        std::chrono::microseconds(rules->silentMicros(line_baud)) + piece_gap;
    if (trace) {
        std::printf("Waiting for a confirmation...\n");
    }
    Outcome outcome;
    std::vector<uint8_t> got;
    bool from_start = true;
    bool answering = true;  // false once the request has failed: what comes is late
    bool traced = false;
    bool late_bytes = false;
    line_clock::time_point last_arrival = times.wire_end;
    const auto endTrace = [&] {
        if (traced) {
            std::printf("\n");
            traced = false;
        }
    };
    for (;;) {
        const line_clock::time_point now = line_clock::now();
        const ReplyScan scan = scanReply(rules->framing, frame, got.data(), got.size(), from_start,
                                         now - last_arrival >= frame_gap);
        echo_seen = echo_seen || (scan.set_aside & set_aside_echo) != 0;
        outcome.set_aside |= answering ? scan.set_aside : 0u;
        const auto settled = got.begin() + static_cast<long>(scan.settled);
        if (scan.state != ReplyState::more &&
            (answering || (write && scan.state == ReplyState::answer))) {
            endTrace();
            if (!answering) {
                error(
                    "The slave confirmed the write %ld ms after the request, later than the "
                    "response timeout of %ld ms",
                    millisBetween(times.wire_end, last_arrival), timeout_ms);
            }
            outcome.answer.assign(settled, settled + static_cast<long>(scan.length));
            outcome.rc = 0;
            if (scan.state == ReplyState::exception) {
                const int code = outcome.answer[headerLength(rules->framing) + 1];
                outcome.rc = -1;
                outcome.error = code >= 1 && code <= MODBUS_EXCEPTION_GATEWAY_TARGET
                                    ? MODBUS_ENOBASE + code
                                    : EMBBADEXC;
            }
            return outcome;
        }
        // A late answer to a request that has failed is dropped like any other late bytes.
        got.erase(got.begin(), settled + static_cast<long>(scan.length));
        from_start = from_start && scan.settled + scan.length == 0;
        if (got.size() > kept_bytes) {
            got.erase(got.begin(), got.end() - static_cast<long>(kept_bytes));
            from_start = false;
            outcome.set_aside |= answering ? unsigned{set_aside_garbage} : 0u;
        }
        line_clock::time_point until =
            answering ? (scan.begun ? times.give_up : times.answer_by) : times.bound;
        if (now >= until && !answering) {
            break;
        }
        if (now >= until) {
            // The request has failed; the line is watched on for late bytes.
            answering = false;
            endTrace();
            outcome.given_up = scan.begun;
            if (outcome.given_up) {
                outcome.bound_ms = millisBetween(times.wire_end, times.give_up);
                error("The reply had not ended %ld ms after the request: the request was given up",
                      millisBetween(times.wire_end, now));
            } else {
                outcome.set_aside |= got.empty() ? 0u : unsigned{set_aside_garbage};
                if (trace) {
                    std::fprintf(stderr, "ERROR %s: select\n", modbus_port->strerror(ETIMEDOUT));
                }
            }
            continue;
        }
        // Bytes that may still end a frame are looked at again once the line is quiet.
        if (!got.empty() && last_arrival + frame_gap > now) {
            until = std::min(until, last_arrival + frame_gap);
        }
        const Wait wait = waitUntil(until, fd);
        if (wait == Wait::interrupted) {
            // The line is settled before the next request instead.
            endTrace();
            settle_until = times.bound;
            outcome.error = answering ? EINTR : outcome.error;
            return outcome;
        }
        if (wait == Wait::failed) {
            endTrace();
            outcome.error = answering ? errno : outcome.error;
            return outcome;
        }
        if (wait == Wait::deadline) {
            continue;
        }
        const std::size_t before = got.size();
        if (!readLine(got)) {
            endTrace();
            if (answering) {
                if (trace) {
                    std::fprintf(stderr, "ERROR %s: read\n", modbus_port->strerror(ECONNRESET));
                }
                outcome.error = ECONNRESET;
            }
            return outcome;
        }
        last_arrival = line_clock::now();
        late_bytes = late_bytes || (!answering && got.size() > before);
        for (std::size_t i = before; answering && trace && i < got.size(); ++i) {
            std::printf("<%.2X>", got[i]);
            traced = true;
        }
    }
    if (late_bytes) {
        error("Bytes that came after the failed request were discarded");
    }
    return outcome;
}

bool cModbus::readLine(std::vector<uint8_t>& got) {
    uint8_t chunk[MODBUS_TCP_MAX_ADU_LENGTH];
    const ssize_t n = ::read(modbus_port->get_socket(ctx), chunk, sizeof chunk);
    if (n > 0) {
        got.insert(got.end(), chunk, chunk + n);
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    // End of file on a socket, a serial line that hung up, or a read that failed.
    link_lost = true;
    return false;
}

cModbus::Wait cModbus::waitUntil(line_clock::time_point deadline, int fd) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - line_clock::now());
        if (left.count() <= 0) {
            return Wait::deadline;
        }
        const timespec wait{static_cast<time_t>(left.count() / 1000000000),
                            static_cast<long>(left.count() % 1000000000)};
        pollfd line{fd, POLLIN, 0};
        const int ready =
            ::ppoll(fd >= 0 ? &line : nullptr, fd >= 0 ? 1 : 0, &wait, wait_break.open_mask);
        if (ready > 0) {
            return Wait::ready;
        }
        if (ready < 0 && errno != EINTR) {
            return Wait::failed;
        }
        if (ready < 0 && wait_break.stop != nullptr && wait_break.stop(wait_break.context)) {
            return Wait::interrupted;
        }
    }
}

bool cModbus::discardUntil(line_clock::time_point deadline) {
    const int fd = modbus_port->get_socket(ctx);
    bool any = false;
    std::vector<uint8_t> got;
    Wait wait;
    while ((wait = waitUntil(deadline, fd)) == Wait::ready && readLine(got)) {
        any = any || !got.empty();
        got.clear();
    }
    if (any) {
        error("Bytes that came after the failed request were discarded");
    }
    return wait != Wait::interrupted;
}

int cModbus::fail(int error_number, const Outcome& outcome) {
    link_lost = link_lost || error_number == ECONNRESET || error_number == EPIPE;
    failure_error = error_number;
    failure_given_up = outcome.given_up;
    failure_bound_ms = outcome.bound_ms;
    failure_set_aside = outcome.set_aside & ~set_aside_echo;
    errno = error_number;
    return -1;
}

// The library's response timeout becomes the operator's, unless the library cannot tell it.
void cModbus::keepResponseTimeout() {
    const long library_ms = responseTimeoutMillis();
    if (library_ms > 0) {
        timeout_ms = library_ms;
    }
}

// The response timeout in milliseconds, or -1 when the library cannot tell it.
long cModbus::responseTimeoutMillis() const {
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    if (modbus_port->get_response_timeout(ctx, &seconds, &microseconds) != 0) {
        return -1;
    }
    return static_cast<long>(seconds) * 1000 + microseconds / 1000;
}
