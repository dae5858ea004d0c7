// The simulator's frames: what a correct slave answers, and what each fault makes of it.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/faults.h"
#include "sim/frames.h"
#include "sim/slave.h"

namespace {

using Bytes = std::vector<uint8_t>;

RegisterMap smallMap() {
    RegisterMap map;
    map.holding[100] = 0x4148;
    map.input[100] = 0x0102;
    map.coils[10] = 1;
    map.coils[12] = 1;
    map.coils[18] = 1;
    map.discrete_inputs[65535] = 1;
    return map;
}

struct AnswerCase {
    const char* what;
    Bytes request;
    Bytes reply;
};

TEST(SimAnswer, ServesEachFunctionAsACorrectSlave) {
    const AnswerCase cases[] = {
        {"coils, low bit first", {1, 0, 10, 0, 9}, {1, 2, 0x05, 0x01}},
        {"last discrete input", {2, 0xFF, 0xFF, 0, 1}, {2, 1, 1}},
        {"holding", {3, 0, 100, 0, 2}, {3, 4, 0x41, 0x48, 0, 0}},
        {"input", {4, 0, 100, 0, 1}, {4, 2, 1, 2}},
        {"single coil", {5, 0, 7, 0xFF, 0}, {5, 0, 7, 0xFF, 0}},
        {"single register", {6, 0, 7, 0xBE, 0xEF}, {6, 0, 7, 0xBE, 0xEF}},
        {"multiple coils", {15, 0, 20, 0, 10, 2, 0x01, 0x02}, {15, 0, 20, 0, 10}},
        {"multiple registers", {16, 0, 8, 0, 1, 2, 0x12, 0x34}, {16, 0, 8, 0, 1}},
        {"unknown function", {43, 14, 1, 0}, {0xAB, 1}},
        {"read/write: byte count off",
         {23, 0, 99, 0, 2, 0, 100, 0, 1, 4, 0xBE, 0xEF, 0, 0},
         {0x97, 3}},
        {"read/write past the end", {23, 0xFF, 0xFF, 0, 2, 0, 100, 0, 1, 2, 0xBE, 0xEF}, {0x97, 2}},
        {"read with bytes beyond its count", {3, 0, 100, 0, 1, 0, 0}, {0x83, 3}},
        {"no registers", {3, 0, 0, 0, 0}, {0x83, 3}},
        {"126 registers", {3, 0, 0, 0, 126}, {0x83, 3}},
        {"past the last address", {4, 0xFF, 0xFF, 0, 2}, {0x84, 2}},
        {"coil neither on nor off", {5, 0, 7, 0x12, 0}, {0x85, 3}},
        {"byte count off", {16, 0, 8, 0, 1, 3, 0x12, 0x34, 0}, {0x90, 3}},
        {"write past the end", {16, 0xFF, 0xFF, 0, 2, 4, 1, 2, 3, 4}, {0x90, 2}},
        {"short", {3, 0, 1}, {0x83, 3}},
    };
    for (const AnswerCase& c : cases) {
        RegisterMap map = smallMap();
        const Answer answer = answerRequest(c.request.data(), c.request.size(), map);
        EXPECT_EQ(answer.pdu, c.reply) << c.what;
        EXPECT_EQ(answer.exception, (c.reply[0] & 0x80) != 0 ? c.reply[1] : 0) << c.what;
    }
}

TEST(SimAnswer, WritesAreReadBack) {
    RegisterMap map = smallMap();
    const Bytes writes[] = {{16, 0, 8, 0, 2, 4, 0x12, 0x34, 0x56, 0x78},
                            {15, 0, 20, 0, 10, 2, 0x01, 0x02},
                            {5, 0, 10, 0, 0}};
    for (const Bytes& w : writes) {
        ASSERT_EQ(answerRequest(w.data(), w.size(), map).exception, 0);
    }
    const Bytes read_registers{3, 0, 8, 0, 2};
    EXPECT_EQ(answerRequest(read_registers.data(), 5, map).pdu,
              (Bytes{3, 4, 0x12, 0x34, 0x56, 0x78}));
    const Bytes read_coils{1, 0, 10, 0, 16};
    // Coil 10 switched off, 12 and 18 on as before, 20 on from the multiple write.
    EXPECT_EQ(answerRequest(read_coils.data(), 5, map).pdu, (Bytes{1, 2, 0x04, 0x05}));
}

TEST(SimFrames, ChecksumAndFraming) {
    const std::string check = "123456789";
    EXPECT_EQ(crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    const Bytes request{0x00, 0x07, 0x00, 0x00, 0x00, 0x06, 0x05, 0x03, 0x00, 0x64, 0x00, 0x01};
    EXPECT_EQ(frameReply(Framing::tcp, request.data(), 5, {3, 0, 1}),
              (Bytes{0x00, 0x07, 0x00, 0x00, 0x00, 0x04, 0x05, 3, 0, 1}));
    EXPECT_EQ(frameReply(Framing::rtu, nullptr, 1, {3, 0, 0, 0, 1}),
              (Bytes{1, 3, 0, 0, 0, 1, 0x84, 0x0A}));
}

TEST(SimFrames, TcpFrameLengthFromTheMbapHeader) {
    const struct {
        Bytes start;
        long length;
    } cases[] = {
        {{0, 1, 0, 0, 0, 6}, 0},           {{0, 1, 0, 0, 0, 6, 1}, 12},
        {{0, 1, 0, 0, 0, 16, 1, 8}, 22},   {{0, 1, 0, 0, 0, 254, 1}, 260},
        {{0, 1, 0, 1, 0, 6, 1}, -1},       {{0, 1, 0, 0, 0, 0, 1}, -1},
        {{0, 1, 0, 0, 0, 1, 1}, -1},       {{0, 1, 0, 0, 0, 255, 1}, -1},
        {{0, 1, 0, 0, 0xFF, 0xFF, 1}, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tcpFrameLength(c.start.data(), c.start.size()), c.length)
            << int(c.start[3]) << " " << int(c.start[5]);
    }
    const Bytes frame{1, 3, 0, 0, 0, 1, 0x84, 0x0A};
    EXPECT_TRUE(rtuChecksumOk(frame.data(), frame.size()));
    EXPECT_FALSE(rtuChecksumOk(frame.data(), frame.size() - 1));
}

struct FaultCase {
    Fault fault;
    Framing transport;
    Bytes frame;
};

TEST(SimFaults, EachFaultBreaksTheReplyItsWay) {
    // A read of two registers from unit 1, transaction 0x00FF.
    const Bytes tcp_request{0x00, 0xFF, 0, 0, 0, 6, 1, 3, 0, 100, 0, 2};
    const Bytes rtu_request{1, 3, 0, 100, 0, 2, 0x85, 0xD4};
    const Bytes pdu{3, 4, 0x41, 0x48, 0, 0};
    const Bytes tcp_good{0x00, 0xFF, 0, 0, 0, 7, 1, 3, 4, 0x41, 0x48, 0, 0};
    const Bytes rtu_good = frameReply(Framing::rtu, nullptr, 1, pdu);
    Bytes tcp_noise(300, 0);
    tcp_noise.insert(tcp_noise.end(), tcp_good.begin(), tcp_good.end());
    Bytes rtu_crc = rtu_good;
    rtu_crc.back() ^= 0xFF;
    const FaultCase cases[] = {
        {Fault::none, Framing::tcp, tcp_good},
        {Fault::late, Framing::rtu, rtu_good},
        {Fault::trickle, Framing::tcp, tcp_good},
        {Fault::txid, Framing::tcp, {0x01, 0x00, 0, 0, 0, 7, 1, 3, 4, 0x41, 0x48, 0, 0}},
        {Fault::unit, Framing::tcp, {0x00, 0xFF, 0, 0, 0, 7, 2, 3, 4, 0x41, 0x48, 0, 0}},
        {Fault::unit, Framing::rtu, frameReply(Framing::rtu, nullptr, 2, pdu)},
        {Fault::bytecount, Framing::tcp, {0x00, 0xFF, 0, 0, 0, 6, 1, 3, 3, 0x41, 0x48, 0}},
        {Fault::bytecount, Framing::rtu,
         frameReply(Framing::rtu, nullptr, 1, {3, 3, 0x41, 0x48, 0})},
        {Fault::truncated, Framing::tcp, Bytes(tcp_good.begin(), tcp_good.begin() + 6)},
        {Fault::truncated, Framing::rtu, Bytes(rtu_good.begin(), rtu_good.begin() + 4)},
        {Fault::garbage,
         Framing::rtu,
         {0x5A, 0xC3, 0x00, 0x11, 0x7F, 0xE2, 0x09, 0x9D, 0x44, 0xB0, 0x2E, 0xF1}},
        {Fault::crc, Framing::rtu, rtu_crc},
        {Fault::noise, Framing::tcp, tcp_noise},
    };
    for (const FaultCase& c : cases) {
        const Bytes& request = c.transport == Framing::tcp ? tcp_request : rtu_request;
        EXPECT_EQ(faultyReply(c.fault, c.transport, request.data(), 1, pdu), c.frame)
            << faultName(c.fault);
    }
    EXPECT_FALSE(faultFits(Fault::txid, Framing::rtu));
    EXPECT_FALSE(faultFits(Fault::crc, Framing::tcp));
}

TEST(SimFaults, OnlyTheFirstRequestsAreFaultedAndWritesThenStored) {
    RegisterMap map;
    FaultPlan plan{Fault::exception, 2, 1500};
    const Bytes write{1, 6, 0, 5, 0, 9, 0, 0};
    std::vector<int> exceptions;
    for (int i = 0; i < 3; ++i) {
        exceptions.push_back(
            respond(Framing::rtu, write.data(), write.size(), 1, map, plan).exception);
        EXPECT_EQ(map.holding[5], i < 2 ? 0 : 9);
    }
    EXPECT_EQ(exceptions, (std::vector<int>{4, 4, 0}));
}

struct UnitCase {
    Framing transport;
    int served_unit;
    uint8_t request_unit;
    bool ignored;
    bool broadcast;
    bool stored;
};

TEST(SimSlave, UnitsServedAndBroadcast) {
    const UnitCase cases[] = {
        {Framing::tcp, -1, 9, false, false, true}, {Framing::tcp, 1, 1, false, false, true},
        {Framing::tcp, 1, 2, true, false, false},  {Framing::tcp, 1, 0, true, false, false},
        {Framing::rtu, 1, 0, false, true, true},   {Framing::rtu, 1, 3, true, false, false},
    };
    for (const UnitCase& c : cases) {
        RegisterMap map;
        FaultPlan plan;
        Bytes frame{0, 0, 0, 0, 0, 6, c.request_unit, 6, 0, 5, 0, 9};
        if (c.transport == Framing::rtu) {
            frame = frameReply(Framing::rtu, nullptr, c.request_unit, {6, 0, 5, 0, 9});
        }
        const Response r =
            respond(c.transport, frame.data(), frame.size(), c.served_unit, map, plan);
        EXPECT_EQ(r.ignored, c.ignored) << int(c.request_unit);
        EXPECT_EQ(r.broadcast, c.broadcast) << int(c.request_unit);
        EXPECT_EQ(r.frame.empty(), c.ignored || c.broadcast) << int(c.request_unit);
        EXPECT_EQ(map.holding[5], c.stored ? 9 : 0) << int(c.request_unit);
    }
}

}  // namespace
