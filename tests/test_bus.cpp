#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bus/cModbus.h"
#include "bus/line_rules.h"
#include "bus/modbus_port.h"
#include "bus/serial_format.h"
#include "bus/transport.h"
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

TEST(LineRules, QuietWaitEndsAfterOneQuietSecondOrTimeoutOrAtItsBound) {
    const struct {
        long since_arrival, since_start, timeout, bound, wait;
    } cases[] = {
        {0, 0, 1000, 3000, 1000},        // nothing yet: a whole timeout
        {400, 400, 1000, 3000, 600},     // the rest of the timeout
        {1000, 1000, 1000, 3000, -1},    // quiet for a timeout: done
        {200, 2900, 1000, 3000, 100},    // chattering: only up to the bound
        {100, 3000, 1000, 3000, -1},     // bound reached while bytes still come
        {1500, 1500, 1000, 3000, -1},    // a poll that overslept
        {500, 500, 500, 1000, 500},      // TCP's 0.5 s timeout: quiet only after a second
        {0, 500, 500, 1000, 500},        // a late reply at 1 s: the wait goes on to the bound
        {1000, 1000, 2000, 6000, 1000},  // a longer timeout is the quiet time
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quietWaitMillis(c.since_arrival, c.since_start, c.timeout, c.bound), c.wait)
            << c.since_arrival << " " << c.since_start << " " << c.timeout;
    }
}

TEST(LineRules, OnlyFailuresThatMayLeaveBytesNeedTheQuietWait) {
    const struct {
        int error;
        bool dirty;
    } cases[] = {{ETIMEDOUT, true},  {EMBBADCRC, true}, {EMBBADDATA, true}, {EMBBADSLAVE, true},
                 {ECONNRESET, true}, {EMBUNKEXC, true}, {EMBXILFUN, false}, {EMBXILADD, false},
                 {EMBXSFAIL, false}, {EMBXGTAR, false}, {EMBMDATA, false},  {EINVAL, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(failureMayLeaveBytes(c.error), c.dirty) << c.error;
    }
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

TEST(Transport, OnlyTheExactConfirmationOfTheWriteCounts) {
    const struct {
        const char* bytes;
        bool tcp;
        int slave, address, count;
        bool confirms;
    } cases[] = {
        {"11 10 00 01 00 02 12 98", false, 17, 1, 2, true},
        {"11 10 00 01 00 02 12 99", false, 17, 1, 2, false},     // check sum
        {"11 10 00 01 00 02 98 12", false, 17, 1, 2, false},     // check sum high byte first
        {"11 10 00 01 00 02 12 98", false, 18, 1, 2, false},     // slave
        {"11 10 00 01 00 02 12 98", false, 17, 257, 2, false},   // address
        {"11 10 00 01 00 02 12 98", false, 17, 1, 1, false},     // count
        {"11 06 00 01 00 02 5B 5B", false, 17, 1, 2, false},     // function
        {"11 90 02 CC 04", false, 17, 1, 2, false},              // exception
        {"11 10 00 01 00 02 12 98 00", false, 17, 1, 2, false},  // a byte more
        {"11 10 00 01 00 02 12", false, 17, 1, 2, false},        // a byte less
        {"", false, 17, 1, 2, false},
        {"AB CD 00 00 00 06 11 10 00 01 00 02", true, 17, 1, 2, true},
        {"AB CD 00 00 00 06 FF 10 FF FE 00 7B", true, 255, 0xFFFE, 123, true},
        {"AB CC 00 00 00 06 11 10 00 01 00 02", true, 17, 1, 2, false},  // an earlier request's id
        {"AB CD 00 01 00 06 11 10 00 01 00 02", true, 17, 1, 2, false},  // protocol
        {"AB CD 00 00 00 07 11 10 00 01 00 02", true, 17, 1, 2, false},  // length
        {"AB CD 00 00 00 06 11 10 00 01 00 02", true, 1, 1, 2, false},   // unit
        {"AB CD 00 00 00 06 11 03 00 01 00 02", true, 17, 1, 2, false},  // function
        {"AB CD 00 00 00 06 11 10 00 01 00", true, 17, 1, 2, false},     // a byte less
        // After another frame, and before a partial one.
        {"AB CC 00 00 00 03 11 90 04 AB CD 00 00 00 06 11 10 00 01 00 02 00", true, 17, 1, 2, true},
        {"AB CC 00 00 00 09 11 10 00 01 00 02", true, 17, 1, 2, false},  // inside a longer frame
        {"AB", true, 17, 1, 2, false},
        {"11 10 00 01 00 02 12 98", true, 17, 1, 2, false},               // RTU frame on TCP
        {"AB CD 00 00 00 06 11 10 00 01 00 02", false, 17, 1, 2, false},  // TCP frame on RTU
    };
    for (const auto& c : cases) {
        const Transport& transport = c.tcp ? tcp_transport : rtu_transport;
        EXPECT_EQ(
            transport.isWriteConfirmation(hexBytes(c.bytes), 0xABCD, c.slave, c.address, c.count),
            c.confirms)
            << c.bytes << (c.tcp ? " on TCP" : " on RTU");
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

// The cut ends a wait that, like the library's, selects again after every signal, and then gives
// the line its descriptor back.
TEST(LineCut, EndsAWaitThatOutlastsSignalsAndGivesTheLineBack) {
    int line[2];
    ASSERT_EQ(pipe(line), 0);
    const auto start = std::chrono::steady_clock::now();
    {
        cLineCut cut(line[0], 200000);
        int ready;
        do {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(line[0], &readable);
            ready = select(line[0] + 1, &readable, nullptr, nullptr, nullptr);
        } while (ready < 0 && errno == EINTR);
        char byte;
        EXPECT_EQ(read(line[0], &byte, 1), 0);
        EXPECT_TRUE(cut.happened());
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(200));
    EXPECT_LT(took, std::chrono::milliseconds(1200));
    char byte = 0;
    ASSERT_EQ(write(line[1], "x", 1), 1);
    EXPECT_EQ(read(line[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    ::close(line[0]);
    ::close(line[1]);
}

// A stand-in for the library that records every call, for the paths no hardware reaches.
std::vector<std::string> calls;
modbus_t* fake_context = reinterpret_cast<modbus_t*>(0x1000);
bool give_context = true;
int connect_result = 0;
int line_fd = -1;
int write_error = 0;
int late_writer = -1;

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
        *seconds = 0;
        *microseconds = 50000;
        return 0;
    };
    port.set_slave = [](modbus_t*, int slave) {
        calls.push_back("set_slave " + std::to_string(slave));
        return slave <= 247 ? 0 : -1;
    };
    port.write_registers = [](modbus_t*, int address, int count, const uint16_t*) {
        calls.push_back("write " + std::to_string(address) + " " + std::to_string(count));
        if (late_writer >= 0) {  // the answer comes after the timeout, then the slave hangs up
            EXPECT_EQ(write(late_writer, "late", 4), 4);
            ::close(late_writer);
        }
        errno = write_error;
        return write_error == 0 ? count : -1;
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
        line_fd = -1;
        write_error = 0;
        late_writer = -1;
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

// The line is a pipe here: bytes left in it stand for a late reply, its closed end for a slave
// that hung up.
TEST_F(BusSequence, FailedRequestWaitsForQuietUnlessTheSlaveAnswered) {
    int line[2];
    ASSERT_EQ(pipe2(line, O_NONBLOCK), 0);
    line_fd = line[0];
    port.flush = [](modbus_t*) {
        char discard[64];
        calls.push_back(read(line_fd, discard, sizeof discard) > 0 ? "flush bytes" : "flush");
        return 0;
    };
    cModbus bus("10.0.0.9", 502);
    calls.clear();
    EXPECT_EQ(bus.writeRegisters(10, 2, nullptr), 2);
    EXPECT_EQ(calls, (std::vector<std::string>{"flush", "write 10 2"}));

    const struct {
        int error;
        std::vector<std::string> calls;
    } cases[] = {
        {EMBXILADD, {"flush", "write 10 2"}},
        {ETIMEDOUT, {"flush", "write 10 2", "flush"}},
        {EMBBADCRC, {"flush", "write 10 2", "flush"}},
    };
    for (const auto& c : cases) {
        calls.clear();
        write_error = c.error;
        late_writer = c.error == EMBBADCRC ? line[1] : -1;
        EXPECT_EQ(bus.writeRegisters(10, 2, nullptr), -1);
        EXPECT_EQ(errno, c.error);
        EXPECT_EQ(calls, c.calls) << c.error;
    }
    ::close(line[0]);
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
