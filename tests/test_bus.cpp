#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bus/cModbus.h"
#include "bus/modbus_port.h"
#include "bus/serial_format.h"
#include "bus/transport.h"
#include "frames/reply_match.h"
#include "orvel/cOrvel.h"

namespace {

TEST(SerialFormat, ReadsThreePositionsAndCompletesShortTexts) {
    struct Case {
        const char* text;
        int data_bits;
        char parity;
        int stop_bits;
    };
    const Case cases[] = {
        {"8N1", 8, 'N', 1},
        {"7E2", 7, 'E', 2},
        {"8N1x", 8, 'N', 1},
        {"8E1", 8, 'E', 1},
        {"7", 7, 'N', 1},
        {"", 8, 'N', 1},
        {"7O", 7, 'O', 1},
        {"xQy", 72, 'Q', 73},
        {"\xff"
         "N1",
         -49, 'N', 1},
    };
    for (const Case& c : cases) {
        const std::string exact(c.text);  // a heap copy of exact length catches reads past the end
        const SerialFormat format = parseSerialFormat(exact.c_str());
        EXPECT_EQ(format.data_bits, c.data_bits) << c.text;
        EXPECT_EQ(format.parity, c.parity) << c.text;
        EXPECT_EQ(format.stop_bits, c.stop_bits) << c.text;
    }
}

TEST(LineRules, SilentIntervalIsThreeAndAHalfCharactersOfElevenBits) {
    const struct {
        int baud;
        long micros;
    } cases[] = {{1200, 32084},  {9600, 4011}, {19200, 2006}, {19201, 1750},
                 {115200, 1750}, {0, 32084},   {-5, 32084}};
    for (const auto& c : cases) {
        EXPECT_EQ(silentIntervalMicros(c.baud), c.micros) << c.baud;
    }
    EXPECT_EQ(serialMicros(9600, 10), 11459);
}

// The bytes of a text of hexadecimal pairs.
std::vector<uint8_t> hexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    unsigned byte;
    while (in >> std::hex >> byte) {
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    return bytes;
}

// Bytes received after a request, and what they are to it. The requests: reads of 2 registers
// at 100 and at 1024 from slave 1 (RTU "01 03 00 64 00 02 85 D4", "01 03 04 00 00 02 C5 3B"),
// and a write of 0x6C00 at 2064 to slave 1, whose confirmation "01 10 08 10 00 01 02 6C" begins
// like its request.
TEST(ReplyMatch, EachReplyIsTakenOnlyForItsRequest) {
    enum Kind { read, write, read_1024 };
    const uint16_t value = 0x6C00;
    const struct {
        bool tcp;
        Kind request;
        const char* bytes;
        bool quiet;  // the line has been silent since the last byte
        ReplyState state;
        std::size_t settled, length;
        unsigned set_aside;
        bool begun;
    } cases[] = {
        // TCP, transaction id 0x0107.
        {true, read, "01 07 00 00 00 07 01 03 04 41 48 00 00", false, ReplyState::answer, 0, 13, 0,
         false},
        {true, read, "01 07 00 00 00 03 01 83 02", false, ReplyState::exception, 0, 9, 0, false},
        {true, read, "01 07 00 00 00 07 02 03 04 41 48 00 00", false, ReplyState::more, 13, 0,
         set_aside_other_unit, false},
        {true, read, "01 06 00 00 00 07 01 03 04 41 48 00 00", false, ReplyState::more, 13, 0,
         set_aside_other_request, false},
        {true, read, "01 07 00 00 00 05 01 03 02 41 48", false, ReplyState::more, 11, 0,
         set_aside_misfit, false},
        // A stale reply, then the answer in the same read.
        {true, write, "01 06 00 00 00 06 01 10 08 10 00 01 01 07 00 00 00 06 01 10 08 10 00 01",
         false, ReplyState::answer, 12, 12, set_aside_other_request, false},
        {true, read, "00 00 00 00 00 00 00 00 01 07 00 00 00 07 01 03 04 41 48 00 00", false,
         ReplyState::answer, 8, 13, set_aside_garbage, false},
        {true, read, "01 07 00 00 00 07 01 03", false, ReplyState::more, 0, 0, 0, true},
        {true, read, "01 07 00 00 00 07 01", false, ReplyState::more, 0, 0, 0, false},
        {true, read, "5A C3 00 11 7F E2 09 9D", false, ReplyState::more, 2, 0, set_aside_garbage,
         false},
        // Stray bytes whose header takes in the beginning of the answer still on its way.
        {true, read, "00 00 00 00 00 06 01 07 00 00 00 07 01 03 04 41", false, ReplyState::more, 6,
         0, set_aside_other_request, true},
        // RTU, slave 1.
        {false, read, "01 03 04 41 48 00 00 6E 19", false, ReplyState::answer, 0, 9, 0, false},
        {false, read, "01 83 02 C0 F1", false, ReplyState::exception, 0, 5, 0, false},
        {false, read, "02 03 04 41 48 00 00 5D 19", false, ReplyState::more, 9, 0,
         set_aside_other_unit, false},
        {false, read, "01 03 02 41 48 88 22", false, ReplyState::more, 7, 0, set_aside_misfit,
         false},
        {false, read, "01 03 04 41 48 00 00 6E 18", false, ReplyState::more, 1, 0,
         set_aside_bad_crc, false},
        {false, read, "FF 01 03 04 41 48 00 00 6E 19", false, ReplyState::answer, 1, 9,
         set_aside_garbage, false},
        {false, write, "00 01 10 08 10 00 01 02 6C", true, ReplyState::answer, 1, 8,
         set_aside_garbage, false},
        {false, write, "01 10 08 11 00 01 53 AC", false, ReplyState::more, 8, 0, set_aside_misfit,
         false},
        {false, read, "01 03 04 41 48", false, ReplyState::more, 0, 0, 0, true},
        // The line's echo, then the answer; the echo alone; a part of it.
        {false, read, "01 03 00 64 00 02 85 D4 01 03 04 41 48 00 00 6E 19", false,
         ReplyState::answer, 8, 9, set_aside_echo, false},
        {false, read, "01 03 00 64 00 02 85 D4", true, ReplyState::more, 8, 0, set_aside_echo,
         false},
        {false, read, "01 03 00 64", false, ReplyState::more, 0, 0, 0, true},
        {false, write, "01 10 08 10 00 01 02 6C 00 00 00", true, ReplyState::more, 11, 0,
         set_aside_echo, false},
        {false, write, "00 01 10 08 10 00 01 02 6C 00 00 00", true, ReplyState::more, 12, 0,
         set_aside_echo | set_aside_garbage, false},
        // A reply to a read of 2 at 1024 can begin with the request: the answer is the longer.
        {false, read_1024, "01 03 04 00 00 02 C5 3B 00", false, ReplyState::answer, 0, 9, 0, false},
        {false, read_1024, "01 03 04 00 00 02 C5 3B 01 03 04 00 00 02 C5 3B 00", false,
         ReplyState::answer, 8, 9, set_aside_echo, false},
        // The first 8 bytes of that echo make its confirmation: only a quiet line ends them.
        {false, write, "01 10 08 10 00 01 02 6C", false, ReplyState::more, 0, 0, 0, true},
        {false, write, "01 10 08 10 00 01 02 6C", true, ReplyState::answer, 0, 8, 0, false},
    };
    for (const auto& c : cases) {
        const Framing framing = c.tcp ? Framing::tcp : Framing::rtu;
        const std::vector<uint8_t> request = frameRequest(
            framing, 0x0107,
            c.request == write ? writeRegistersRequest(1, 2064, 1, &value)
                               : readRegistersRequest(1, 3, c.request == read ? 100 : 1024, 2));
        const std::vector<uint8_t> bytes = hexBytes(c.bytes);
        const ReplyScan scan =
            scanReply(framing, request, bytes.data(), bytes.size(), true, c.quiet);
        EXPECT_EQ(scan.state, c.state) << c.bytes;
        EXPECT_EQ(scan.settled, c.settled) << c.bytes;
        EXPECT_EQ(scan.length, c.length) << c.bytes;
        EXPECT_EQ(scan.set_aside, c.set_aside) << c.bytes;
        EXPECT_EQ(scan.begun, c.begun) << c.bytes;
    }
}

TEST(LineRules, BroadcastWriteRequestAndLineSpeeds) {
    const uint16_t values[] = {0x0010, 0xBEEF};
    EXPECT_EQ(writeRegistersRequest(0, 0x1234, 2, values),
              (std::vector<uint8_t>{0, 16, 0x12, 0x34, 0, 2, 4, 0x00, 0x10, 0xBE, 0xEF}));
    EXPECT_EQ(writeRegistersRequest(0, 5, 0, values), (std::vector<uint8_t>{0, 16, 0, 5, 0, 0, 0}));
    EXPECT_EQ(baudOfSpeed(B9600), 9600);
    EXPECT_EQ(baudOfSpeed(B4000000), 4000000);
    EXPECT_EQ(baudOfSpeed(B0), 0);
}

// A stand-in for the library that records every call, for the paths no hardware reaches.
std::vector<std::string> calls;
modbus_t* fake_context = reinterpret_cast<modbus_t*>(0x1000);
bool give_context = true;
int connect_result = 0;
int connect_error = 0;
int line_fd = -1;
long response_timeout_us = 50000;

ModbusPort recordingPort() {
    ModbusPort port{};
    port.new_tcp = [](const char* host, int tcp_port) {
        calls.push_back("new_tcp " + std::string(host) + " " + std::to_string(tcp_port));
        return give_context ? fake_context : nullptr;
    };
    port.new_rtu = [](const char* device, int baud, char parity, int data_bits, int stop_bits) {
        calls.push_back("new_rtu " + std::string(device) + " " + std::to_string(baud) + " " +
                        parity + " " + std::to_string(data_bits) + " " + std::to_string(stop_bits));
        return give_context ? fake_context : nullptr;
    };
    port.set_debug = [](modbus_t*, int flag) {
        calls.push_back("set_debug " + std::to_string(flag));
        return 0;
    };
    port.flush = [](modbus_t*) {
        calls.push_back("flush");
        return 0;
    };
    port.connect = [](modbus_t*) {
        calls.push_back("connect");
        errno = connect_error;
        return connect_result;
    };
    port.rtu_set_serial_mode = [](modbus_t*, int mode) {
        calls.push_back(mode == MODBUS_RTU_RS485 ? "serial_mode rs485" : "serial_mode other");
        return 0;
    };
    port.set_response_timeout = [](modbus_t*, uint32_t seconds, uint32_t microseconds) {
        calls.push_back("timeout " + std::to_string(seconds) + " " + std::to_string(microseconds));
        return 0;
    };
    port.close = [](modbus_t*) { calls.push_back("close"); };
    port.get_socket = [](modbus_t*) { return line_fd; };
    port.get_response_timeout = [](modbus_t*, uint32_t* seconds, uint32_t* microseconds) {
        *seconds = static_cast<uint32_t>(response_timeout_us / 1000000);
        *microseconds = static_cast<uint32_t>(response_timeout_us % 1000000);
        return 0;
    };
    port.set_slave = [](modbus_t*, int slave) {
        calls.push_back("set_slave " + std::to_string(slave));
        return slave <= 247 ? 0 : -1;
    };
    port.strerror = [](int) { return "refused"; };
    return port;
}

class BusSequence : public ::testing::Test {
protected:
    void SetUp() override {
        cOrvel::init(cOrvel::DEBUG);
        calls.clear();
        give_context = true;
        connect_result = 0;
        connect_error = 0;
        line_fd = -1;
        response_timeout_us = 50000;
        port = recordingPort();
        modbus_port = &port;
    }
    void TearDown() override { modbus_port = &libmodbus_port; }

    ModbusPort port;
};

TEST_F(BusSequence, TcpTracesAndFlushesBeforeConnecting) {
    cModbus bus("10.0.0.9", 502);
    bus.start();
    bus.close();
    EXPECT_EQ(calls, (std::vector<std::string>{"new_tcp 10.0.0.9 502", "set_debug 1", "flush",
                                               "connect", "close"}));
}

TEST_F(BusSequence, RtuSetsRs485AndTimeoutOnlyAfterASuccessfulConnect) {
    cModbus bus("/dev/ttyS1", 19200, "8N1");
    bus.start();
    EXPECT_EQ(calls, (std::vector<std::string>{"new_rtu /dev/ttyS1 19200 N 8 1", "connect",
                                               "serial_mode rs485", "timeout 1 0"}));
    calls.clear();
    connect_result = -1;
    cModbus failing("/dev/ttyS1", 9600, "7E2");
    failing.start();
    EXPECT_EQ(calls, (std::vector<std::string>{"new_rtu /dev/ttyS1 9600 E 7 2", "connect"}));
}

TEST_F(BusSequence, StartFailureSaysWhyTheBusDidNotOpen) {
    connect_result = -1;
    connect_error = EACCES;
    cModbus rtu("/dev/ttyUSB0", 19200, "8N1");
    rtu.start();
    EXPECT_EQ(rtu.startFailure(),
              "/dev/ttyUSB0: Permission denied (the account needs access to the device, for "
              "example through the dialout group)");
    connect_result = 0;
    cModbus opened("10.0.0.9", 502);
    opened.start();
    EXPECT_EQ(opened.startFailure(), "");
}

TEST_F(BusSequence, NoContextMeansNoFurtherLibraryCall) {
    give_context = false;
    cModbus tcp("", 502);
    cModbus rtu("/dev/ttyS1", 0, "8N1");
    for (cModbus* bus : {&tcp, &rtu}) {
        EXPECT_FALSE(bus->usable());
        bus->start();
        bus->close();
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"new_tcp  502", "new_rtu /dev/ttyS1 0 N 8 1"}));
}

// What the wait break of a request is asked, and how it answers.
struct BreakAsked {
    bool stop = false;
    std::promise<void> asked;
};

bool stopWhenAsked(void* context) {
    auto* wait = static_cast<BreakAsked*>(context);
    wait->asked.set_value();
    return wait->stop;
}

// A signal that comes while the bus waits for an answer ends the request only when the wait
// break says so. The line is a socket pair whose far end plays the slave; the response timeout
// of 10 s is far beyond what either case takes.
TEST_F(BusSequence, ASignalEndsTheWaitOnlyWhenTheWaitBreakSaysSo) {
    int line[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, line), 0);
    line_fd = line[0];
    response_timeout_us = 10000000;
    struct sigaction action {};
    struct sigaction before {};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR1, &action, &before);
    sigset_t blocked;
    sigset_t open;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &open);
    sigdelset(&open, SIGUSR1);
    cModbus bus("10.0.0.9", 502);
    bus.start();
    bus.selectSlave(1);
    const pthread_t waiting = pthread_self();
    for (const bool stop : {false, true}) {
        BreakAsked wait;
        wait.stop = stop;
        bus.setWaitBreak({&open, stopWhenAsked, &wait});
        std::thread slave([&] {
            uint8_t request[12];
            ASSERT_EQ(recv(line[1], request, sizeof request, MSG_WAITALL), 12);
            pthread_kill(waiting, SIGUSR1);
            if (!stop && wait.asked.get_future().wait_for(std::chrono::seconds(10)) ==
                             std::future_status::ready) {
                const uint8_t reply[] = {request[0], request[1], 0, 0, 0, 7, 1, 3, 4, 0, 42, 0, 43};
                EXPECT_EQ(send(line[1], reply, sizeof reply, 0), 13);
            }
        });
        uint16_t registers[2] = {};
        const auto start = std::chrono::steady_clock::now();
        const int rc = bus.readRegisters(3, 100, 2, registers);
        const int error_number = errno;
        slave.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << stop;
        if (stop) {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(error_number, EINTR);
            EXPECT_EQ(bus.lastFailure(), "interrupted by Ctrl-C");
        } else {
            EXPECT_EQ(rc, 2);
            EXPECT_EQ(registers[1], 43);
        }
    }
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
    sigaction(SIGUSR1, &before, nullptr);
    ::close(line[0]);
    ::close(line[1]);
}

TEST_F(BusSequence, TcpPortOutsideSixteenBitsMakesNoContext) {
    for (int port_number : {-1, 65536, 70000}) {
        cModbus bus("127.0.0.1", port_number);
        EXPECT_FALSE(bus.usable());
    }
    EXPECT_EQ(calls, std::vector<std::string>{});
    cModbus highest("127.0.0.1", 65535);
    EXPECT_TRUE(highest.usable());
}

}  // namespace
