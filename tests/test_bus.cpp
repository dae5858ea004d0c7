#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cModbus.h"
#include "cOrvel.h"
#include "modbus_port.h"
#include "serial_format.h"

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

// A stand-in for the library that records every call, for the paths no hardware reaches.
std::vector<std::string> calls;
modbus_t* fake_context = reinterpret_cast<modbus_t*>(0x1000);
bool give_context = true;
int connect_result = 0;

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
    port.get_socket = [](modbus_t*) { return -1; };
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

}  // namespace
