#include "tests/support/scripted_slave.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <chrono>
#include <stdexcept>

#include "bus/line_rules.h"

namespace {

const char* const reply_names[] = {"answer", "silent", "exception"};

// Reads exactly size bytes, or gives up when the peer goes or nothing comes for 10 s.
bool readExactly(int fd, uint8_t* bytes, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        pollfd line{fd, POLLIN, 0};
        if (poll(&line, 1, 10000) <= 0) {
            return false;
        }
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

long wireMillis(int baud, std::size_t bytes) {
    return baud > 0 ? serialMicros(baud, static_cast<int>(bytes)) / 1000 : 0;
}

}  // namespace

ScriptedSlave::ScriptedSlave(bool over_tcp, std::vector<SlaveStep> script, int line_baud)
    : tcp(over_tcp), steps(std::move(script)), baud(line_baud) {
    if (tcp) {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener, 1) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            throw std::runtime_error("the scripted slave cannot listen");
        }
        args = {"-h", "127.0.0.1", "-p", std::to_string(ntohs(address.sin_port))};
        server = std::thread([this] {
            pollfd waiting{listener, POLLIN, 0};
            if (poll(&waiting, 1, 10000) > 0) {
                const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                serve(fd);
                close(fd);
            }
        });
        return;
    }
    const std::string master = dir->path() + "/master";
    const std::string slave = dir->path() + "/slave";
    socat = ptyPair(master, slave);
    args = {"-d", master};
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    server = std::thread([this, fd] {
        serve(fd);
        close(fd);
    });
}

ScriptedSlave::~ScriptedSlave() {
    stopping = true;
    server.join();
    if (listener >= 0) {
        close(listener);
    }
}

std::vector<std::string> ScriptedSlave::log() {
    const std::lock_guard<std::mutex> hold(log_lock);
    return lines;
}

// Waits, cut short when the test ends; false then.
bool ScriptedSlave::pause(long ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !stopping;
}

void ScriptedSlave::serve(int fd) {
    std::vector<uint8_t> request;
    // It stops once its master has gone.
    std::size_t served = 0;
    while (!stopping && readRequest(fd, request) &&
           answer(fd, request, served < steps.size() ? steps[served] : SlaveStep{})) {
        ++served;
    }
}

// One request frame: the MBAP header and its length on TCP; on RTU the slave's own framing of
// function 3 and 16, with the check sum left unchecked.
bool ScriptedSlave::readRequest(int fd, std::vector<uint8_t>& request) {
    pollfd line{fd, POLLIN, 0};
    while (!stopping && poll(&line, 1, 50) == 0) {
    }
    // The MBAP header; or the slave address, function, address, count and one byte more.
    const std::size_t head = 7;
    request.assign(head, 0);
    if (stopping || !readExactly(fd, request.data(), head)) {
        return false;
    }
    std::size_t rest = tcp ? (request[4] << 8 | request[5]) - 1u : 1;
    if (!tcp && request[1] == 16) {
        rest = request[6] + 2u;
    }
    request.resize(head + rest);
    if (!readExactly(fd, request.data() + head, rest)) {
        return false;
    }
    return pause(wireMillis(baud, request.size()));
}

bool ScriptedSlave::answer(int fd, const std::vector<uint8_t>& request, const SlaveStep& step) {
    // The PDU starts after the MBAP header or the slave address.
    const std::size_t at = tcp ? 7 : 1;
    const int function = request[at];
    const int address = request[at + 1] << 8 | request[at + 2];
    const int count = request[at + 3] << 8 | request[at + 4];
    std::vector<uint8_t> pdu{static_cast<uint8_t>(function)};
    if (step.reply == SlaveStep::Reply::exception) {
        pdu = {static_cast<uint8_t>(function | 0x80), 4};
    } else if (function == 16) {
        for (int i = 0; i < count && step.reply != SlaveStep::Reply::silent; ++i) {
            registers[(address + i) & 0xFFFF] =
                static_cast<uint16_t>(request[at + 6 + 2 * i] << 8 | request[at + 7 + 2 * i]);
        }
        pdu.insert(pdu.end(), request.begin() + static_cast<long>(at) + 1,
                   request.begin() + static_cast<long>(at) + 5);
    } else {
        pdu.push_back(static_cast<uint8_t>(2 * count));
        for (int i = 0; i < count; ++i) {
            const uint16_t value = registers[(address + i) & 0xFFFF];
            pdu.push_back(static_cast<uint8_t>(value >> 8));
            pdu.push_back(static_cast<uint8_t>(value));
        }
    }
    {
        const std::lock_guard<std::mutex> hold(log_lock);
        lines.push_back(std::string(function == 16 ? "write " : "read ") + std::to_string(address) +
                        " count " + std::to_string(count) + ": " +
                        reply_names[static_cast<int>(step.reply)]);
    }
    if (step.reply == SlaveStep::Reply::silent) {
        return true;
    }
    std::vector<uint8_t> frame;
    if (tcp) {
        const std::size_t length = pdu.size() + 1;
        frame = {request[0],
                 request[1],
                 0,
                 0,
                 static_cast<uint8_t>(length >> 8),
                 static_cast<uint8_t>(length),
                 request[6]};
    } else {
        frame = {request[0]};
    }
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    if (!tcp) {
        const uint16_t crc = frameCheckSum(frame.data(), frame.size());
        frame.push_back(static_cast<uint8_t>(crc));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
    }
    if (!pause(step.delay_ms + wireMillis(baud, frame.size()))) {
        return false;
    }
    const ssize_t sent = tcp ? send(fd, frame.data(), frame.size(), MSG_NOSIGNAL)
                             : write(fd, frame.data(), frame.size());
    return sent == static_cast<ssize_t>(frame.size());
}
