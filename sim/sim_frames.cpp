#include "sim_frames.h"

#include <iterator>

namespace tesmar::sim {

namespace {

constexpr int kFullRange = 65536;
constexpr std::size_t kFunction = kMbapLength;

uint16_t getWord(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void setWord(std::vector<uint8_t>& frame, std::size_t at, unsigned value) {
    frame[at] = static_cast<uint8_t>(value >> 8);
    frame[at + 1] = static_cast<uint8_t>(value);
}

void pushWord(std::vector<uint8_t>& frame, unsigned value) {
    frame.push_back(static_cast<uint8_t>(value >> 8));
    frame.push_back(static_cast<uint8_t>(value));
}

// The MBAP length field counts the unit id and the PDU.
void fixMbapLength(std::vector<uint8_t>& frame) {
    setWord(frame, 4, static_cast<unsigned>(frame.size() - 6));
}

void setBoth(modbus_mapping_t* map, int addr, uint16_t value) {
    map->tab_registers[addr] = value;
    map->tab_input_registers[addr] = value;
}

}  // namespace

std::optional<Fault> parseFault(std::string_view name) {
    struct Entry {
        std::string_view name;
        Fault fault;
    };
    static constexpr Entry kModes[] = {
        {"none", Fault::None},           {"txid", Fault::Txid},
        {"unit", Fault::Unit},           {"bytecount", Fault::ByteCount},
        {"truncated", Fault::Truncated}, {"garbage", Fault::Garbage},
        {"exception", Fault::Exception}, {"late", Fault::Late},
        {"close", Fault::Close},
    };
    for (const Entry& e : kModes) {
        if (e.name == name) {
            return e.fault;
        }
    }
    return std::nullopt;
}

modbus_mapping_t* newPresetMapping() {
    modbus_mapping_t* map = modbus_mapping_new(kFullRange, kFullRange, kFullRange, kFullRange);
    if (map == nullptr) {
        return nullptr;
    }
    static constexpr struct {
        int addr;
        uint16_t value;
    } kPresets[] = {
        {0, 0x1234},   {1, 0x5678},   {100, 0x4148}, {101, 0x0000}, {102, 0xBF80},   {103, 0x0000},
        {300, 0x1F20}, {301, 0x7E7F}, {302, 0x8000}, {303, 0xFF41}, {65535, 0xBEEF},
    };
    for (const auto& p : kPresets) {
        setBoth(map, p.addr, p.value);
    }
    static constexpr std::string_view kText = "tesmar simulator";
    for (std::size_t i = 0; i + 1 < kText.size(); i += 2) {
        const auto pair = reinterpret_cast<const uint8_t*>(kText.data() + i);
        setBoth(map, 200 + static_cast<int>(i / 2), getWord(pair));
    }
    // Lets a master tell FC3 from FC4 at address 0.
    map->tab_input_registers[0] = 0x4321;
    return map;
}

int buildReply(const uint8_t* req, int reqLength, modbus_mapping_t* map,
               std::vector<uint8_t>& reply) {
    const auto length = static_cast<std::size_t>(reqLength);
    if (length <= kFunction) {
        return MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
    }
    const uint8_t function = req[kFunction];
    const bool isRead =
        function == MODBUS_FC_READ_HOLDING_REGISTERS || function == MODBUS_FC_READ_INPUT_REGISTERS;
    if (!isRead && function != MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        return MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
    }
    if (length < kFunction + 5) {
        return MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
    }
    const int addr = getWord(req + kFunction + 1);
    const int count = getWord(req + kFunction + 3);
    const int maxCount = isRead ? MODBUS_MAX_READ_REGISTERS : MODBUS_MAX_WRITE_REGISTERS;
    if (count < 1 || count > maxCount) {
        return MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
    }
    const bool holding = function != MODBUS_FC_READ_INPUT_REGISTERS;
    if (addr + count > (holding ? map->nb_registers : map->nb_input_registers)) {
        return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    }

    const std::size_t data = kFunction + 6;
    if (!isRead &&
        (length < data + 2 * static_cast<std::size_t>(count) || req[kFunction + 5] != count * 2)) {
        return MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
    }

    reply.assign(req, req + kFunction + 1);
    if (isRead) {
        const uint16_t* regs = holding ? map->tab_registers : map->tab_input_registers;
        reply.push_back(static_cast<uint8_t>(count * 2));
        for (int i = 0; i < count; ++i) {
            pushWord(reply, regs[addr + i]);
        }
    } else {
        for (int i = 0; i < count; ++i) {
            map->tab_registers[addr + i] = getWord(req + data + 2 * i);
        }
        pushWord(reply, static_cast<unsigned>(addr));
        pushWord(reply, static_cast<unsigned>(count));
    }
    fixMbapLength(reply);
    return 0;
}

void applyFault(Fault fault, std::vector<uint8_t>& reply) {
    if (reply.size() < kFunction + 3) {
        return;
    }
    static constexpr uint8_t kGarbage[] = {0x5A, 0xC3, 0x00, 0x11, 0x7F, 0xE2,
                                           0x09, 0x9D, 0x44, 0xB0, 0x2E, 0xF1};
    switch (fault) {
        case Fault::Txid:
            setWord(reply, 0, getWord(reply.data()) + 1u);
            break;
        case Fault::Unit:
            ++reply[6];
            break;
        case Fault::ByteCount:
            if (reply[kFunction] == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
                setWord(reply, kFunction + 3, getWord(&reply[kFunction + 3]) + 1u);
            } else {
                // Drop a data byte too, so only the byte count disagrees with the request.
                --reply[kFunction + 1];
                reply.pop_back();
                fixMbapLength(reply);
            }
            break;
        case Fault::Truncated:
            reply.resize(reply.size() / 2);
            break;
        case Fault::Garbage:
            reply.assign(std::begin(kGarbage), std::end(kGarbage));
            break;
        default:
            break;
    }
}

}  // namespace tesmar::sim
