#include "bus/cModbus.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <thread>

#include "bus/failure_reason.h"
#include "bus/line_rules.h"
#include "bus/modbus_port.h"
#include "bus/serial_format.h"

cModbus* cModbus::instance = nullptr;

namespace {

using line_clock = std::chrono::steady_clock;

// Time the slaves get after a broadcast before the next request, as no answer marks its end.
const std::chrono::milliseconds broadcast_turnaround(100);

// Late bytes kept for a look: the largest Modbus frame, TCP's 260 bytes.
const std::size_t late_bytes_kept = MODBUS_TCP_MAX_ADU_LENGTH;

long millisSince(line_clock::time_point then) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(line_clock::now() - then).count());
}

}  // namespace

cModbus::cModbus(const char* device, int baud, const char* format)
    : cOrvel("cModbus"),
      ctx(nullptr),
      is_tcp(0),
      rules(&rtu_transport),
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
    : cOrvel("cModbus"), ctx(nullptr), is_tcp(1), rules(&tcp_transport) {
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
    const int rc = modbus_port->connect(ctx);
    connected = rc == 0;
    if (is_tcp) {
        if (rc != 0) {
            error("Modbus did not start at all");
        } else {
            info("Modbus started OK");
        }
        return;
    }
    if (rc == 0) {
        modbus_port->rtu_set_serial_mode(ctx, MODBUS_RTU_RS485);
        modbus_port->set_response_timeout(ctx, 1, 0);
        timeout_ms = 1000;
        reportLineSpeed();
    }
}

// The library puts a rate it does not know on the line as 9600 baud without a word.
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
    return transact(function_code, address, count, [&] {
        if (function_code == MODBUS_FC_READ_INPUT_REGISTERS) {
            return modbus_port->read_input_registers(ctx, address, count, dest);
        }
        return modbus_port->read_registers(ctx, address, count, dest);
    });
}

int cModbus::writeRegisters(int address, int count, const uint16_t* src) {
    return transact(MODBUS_FC_WRITE_MULTIPLE_REGISTERS, address, count,
                    [&] { return modbus_port->write_registers(ctx, address, count, src); });
}

int cModbus::broadcastRegisters(int address, int count, const uint16_t* src) {
    beforeRequest();
    const std::vector<uint8_t> request =
        writeRegistersRequest(MODBUS_BROADCAST_ADDRESS, address, count, src);
    const int rc =
        modbus_port->send_raw_request(ctx, request.data(), static_cast<int>(request.size()));
    // The frame, its check sum included, may still be on its way out of the line when the
    // library returns; the slaves then need their time to act on it.
    const long on_wire = rules->wireMicros(line_baud, static_cast<int>(request.size()) + 2);
    line_free_at = line_clock::now() + std::chrono::microseconds(on_wire) +
                   std::chrono::microseconds(rules->silentMicros(line_baud)) + broadcast_turnaround;
    return rc;
}

RequestCheck cModbus::check(int slave, bool write, int function, int count) {
    const RequestCheck verdict = checkRequest(*rules, slave, write, function, count);
    if (verdict == RequestCheck::too_many) {
        failure_error = EMBMDATA;
        failure_given_up = false;
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
    return failureReason(facts);
}

// The library starts its response timeout when the request is in the kernel's hands; on a serial
// line the slave hears the whole request only once it has left the wire, so the library is given
// that time on top of the operator's timeout. The library's wait is cut once a reply that began
// within the timeout would have had its time on the line and one timeout more, so that a reply
// that keeps trickling in cannot hold the command; the line then gets one timeout more at most to
// go quiet.
int cModbus::transact(int function, int address, int count, const std::function<int()>& request) {
    beforeRequest();
    const long request_us = rules->wireMicros(line_baud, requestBytes(*rules, function, count));
    const long reply_us = rules->wireMicros(line_baud, replyBytes(*rules, function, count));
    if (request_us > 0) {
        const long library_us = timeout_ms * 1000 + request_us;
        modbus_port->set_response_timeout(ctx, static_cast<uint32_t>(library_us / 1000000),
                                          static_cast<uint32_t>(library_us % 1000000));
    }
    const std::chrono::microseconds timeout(timeout_ms * 1000);
    const line_clock::time_point wire_end =
        line_clock::now() + std::chrono::microseconds(request_us);
    const line_clock::time_point cut_at =
        wire_end + timeout + std::chrono::microseconds(reply_us) + timeout;
    transaction_id = rules->nextTransactionId(transaction_id);
    const Sent sent{function, address, count, transaction_id, wire_end, cut_at};
    int rc;
    int error_number;
    bool given_up;
    {
        cLineCut cut(modbus_port->get_socket(ctx),
                     static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                           cut_at - line_clock::now())
                                           .count()));
        rc = request();
        error_number = errno;
        given_up = rc < 0 && cut.happened();
    }
    errno = given_up ? ETIMEDOUT : error_number;
    return afterRequest(rc, sent, given_up);
}

// Nothing left from earlier requests may be taken as the answer to this one, and on RTU the
// slaves must see the gap that marks the start of a frame.
void cModbus::beforeRequest() {
    std::this_thread::sleep_until(line_free_at);
    modbus_port->flush(ctx);
}

// A write whose confirmation comes after the timeout was still performed and confirmed: it is
// reported as written, with how late the slave was. Any other late bytes are discarded.
int cModbus::afterRequest(int rc, const Sent& sent, bool given_up) {
    const int error_number = errno;
    if (given_up) {
        error("The reply had not ended %ld ms after the request: the request was given up",
              static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    line_clock::now() - sent.wire_end)
                                    .count()));
    }
    link_lost = link_lost || (rc < 0 && (error_number == ECONNRESET || error_number == EPIPE));
    if (rc < 0 && failureMayLeaveBytes(error_number)) {
        // A flush of a serial line also drops what it still has to send: the request leaves
        // whole first, however early the failure came.
        std::this_thread::sleep_until(sent.wire_end);
        const LateBytes late = settleLine(sent.cut_at + std::chrono::milliseconds(timeout_ms));
        if (sent.function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS && error_number == ETIMEDOUT &&
            !given_up &&
            rules->isWriteConfirmation(late.bytes, sent.transaction_id, selected_slave,
                                       sent.address, sent.count)) {
            const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(
                late.last_arrival - sent.wire_end);
            error(
                "The slave confirmed the write %ld ms after the request, later than the response "
                "timeout of %ld ms",
                static_cast<long>(after.count()), timeout_ms);
            rc = sent.count;
        } else if (late.any) {
            error("Bytes that came after the failed request were discarded");
        }
    }
    line_free_at = line_clock::now() + std::chrono::microseconds(rules->silentMicros(line_baud));
    failure_error = error_number;
    failure_given_up = given_up;
    failure_bound_ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sent.cut_at - sent.wire_end).count());
    errno = error_number;
    return rc;
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

// Waits until the line is quiet (see quietWaitMillis) or the deadline has come, so that a late or
// broken reply is taken off the line here and not read by the next request; a connection that
// the slave has closed ends the wait early. Returns what arrived.
cModbus::LateBytes cModbus::settleLine(line_clock::time_point deadline) {
    LateBytes late;
    const int fd = modbus_port->get_socket(ctx);
    if (fd < 0) {
        return late;
    }
    const line_clock::time_point started = line_clock::now();
    const long bound_ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - started).count());
    late.last_arrival = started;
    long wait_ms;
    while ((wait_ms = quietWaitMillis(millisSince(late.last_arrival), millisSince(started),
                                      timeout_ms, bound_ms)) >= 0) {
        pollfd line{fd, POLLIN | POLLRDHUP, 0};
        const int ready = ::poll(&line, 1, static_cast<int>(wait_ms));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && (line.revents & POLLIN) != 0) {
            uint8_t chunk[late_bytes_kept];
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got > 0) {
                late.any = true;
                late.last_arrival = line_clock::now();
                // Bytes beyond a frame's room are dropped: they cannot be a confirmation.
                const std::size_t room = late_bytes_kept - late.bytes.size();
                late.bytes.insert(late.bytes.end(), chunk,
                                  chunk + std::min(room, static_cast<std::size_t>(got)));
            }
        }
        if (ready > 0 && (line.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)) != 0) {
            link_lost = true;
            break;
        }
    }
    modbus_port->flush(ctx);
    return late;
}
