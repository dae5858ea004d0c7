#include "sim/frames.h"

namespace {

// The largest counts the Modbus application protocol allows in one request.
const int max_read_bits = 2000;
const int max_write_bits = 1968;
const int max_read_registers = 125;
const int max_write_registers = 123;
const int table_size = 65536;

// Exception codes.
const int illegal_function = 1;
const int illegal_data_address = 2;
const int illegal_data_value = 3;

int getWord(const uint8_t* p) {
    return p[0] << 8 | p[1];
}

void pushWord(std::vector<uint8_t>& frame, int value) {
    frame.push_back(static_cast<uint8_t>(value >> 8));
    frame.push_back(static_cast<uint8_t>(value));
}

bool hasAddressAndCount(int function) {
    return (function >= 1 && function <= 6) || function == 15 || function == 16;
}

Answer fail(int function, int code) {
    return Answer{exceptionPdu(function, code), code};
}

Answer readBits(int function, int address, int count, const std::vector<uint8_t>& bits) {
    if (count < 1 || count > max_read_bits) {
        return fail(function, illegal_data_value);
    }
    if (address + count > table_size) {
        return fail(function, illegal_data_address);
    }
    Answer answer;
    answer.pdu = {static_cast<uint8_t>(function), static_cast<uint8_t>((count + 7) / 8)};
    answer.pdu.resize(2 + static_cast<std::size_t>((count + 7) / 8));
    for (int i = 0; i < count; ++i) {
        if (bits[static_cast<std::size_t>(address + i)] != 0) {
            answer.pdu[2 + static_cast<std::size_t>(i / 8)] |= static_cast<uint8_t>(1 << (i % 8));
        }
    }
    return answer;
}

Answer readRegisters(int function, int address, int count, const std::vector<uint16_t>& regs) {
    if (count < 1 || count > max_read_registers) {
        return fail(function, illegal_data_value);
    }
    if (address + count > table_size) {
        return fail(function, illegal_data_address);
    }
    Answer answer;
    answer.pdu = {static_cast<uint8_t>(function), static_cast<uint8_t>(count * 2)};
    for (int i = 0; i < count; ++i) {
        pushWord(answer.pdu, regs[static_cast<std::size_t>(address + i)]);
    }
    return answer;
}

}  // namespace

std::size_t headerLength(Transport transport) {
    return transport == Transport::tcp ? 7 : 1;
}

Request decodeRequest(Transport transport, const uint8_t* frame, std::size_t length) {
    Request request;
    const std::size_t header = headerLength(transport);
    if (length < header) {
        return request;
    }
    request.unit = frame[header - 1];
    if (length < header + 1) {
        return request;
    }
    request.function = frame[header];
    if (hasAddressAndCount(request.function) && length >= header + 5) {
        request.address = getWord(frame + header + 1);
        const bool single = request.function == 5 || request.function == 6;
        request.count = single ? 1 : getWord(frame + header + 3);
    }
    return request;
}

std::vector<uint8_t> exceptionPdu(int function, int code) {
    return {static_cast<uint8_t>(function | 0x80), static_cast<uint8_t>(code)};
}

Answer answerRequest(const uint8_t* pdu, std::size_t length, RegisterMap& map) {
    if (length < 1) {
        return fail(0, illegal_function);
    }
    const int function = pdu[0];
    if (!hasAddressAndCount(function)) {
        return fail(function, illegal_function);
    }
    if (length < 5) {
        return fail(function, illegal_data_value);
    }
    const int address = getWord(pdu + 1);
    const int count = getWord(pdu + 3);
    const std::size_t at = static_cast<std::size_t>(address);
    switch (function) {
        case 1:
            return readBits(function, address, count, map.coils);
        case 2:
            return readBits(function, address, count, map.discrete_inputs);
        case 3:
            return readRegisters(function, address, count, map.holding);
        case 4:
            return readRegisters(function, address, count, map.input);
        case 5:
            // count is the value here: on or off.
            if (count != 0xFF00 && count != 0) {
                return fail(function, illegal_data_value);
            }
            map.coils[at] = count != 0;
            return Answer{std::vector<uint8_t>(pdu, pdu + 5), 0};
        case 6:
            map.holding[at] = static_cast<uint16_t>(count);
            return Answer{std::vector<uint8_t>(pdu, pdu + 5), 0};
        default:
            break;
    }
    const bool bits = function == 15;
    const int bytes = bits ? (count + 7) / 8 : count * 2;
    if (count < 1 || count > (bits ? max_write_bits : max_write_registers) || length < 6 ||
        pdu[5] != bytes || length < 6 + static_cast<std::size_t>(bytes)) {
        return fail(function, illegal_data_value);
    }
    if (address + count > table_size) {
        return fail(function, illegal_data_address);
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        if (bits) {
            map.coils[at + i] = (pdu[6 + i / 8] >> (i % 8)) & 1;
        } else {
            map.holding[at + i] = static_cast<uint16_t>(getWord(pdu + 6 + 2 * i));
        }
    }
    return Answer{std::vector<uint8_t>(pdu, pdu + 5), 0};
}

std::vector<uint8_t> frameReply(Transport transport, const uint8_t* request, int unit,
                                const std::vector<uint8_t>& pdu) {
    std::vector<uint8_t> frame;
    if (transport == Transport::tcp) {
        frame.assign(request, request + 4);
        // The MBAP length counts the unit id and the PDU.
        pushWord(frame, static_cast<int>(pdu.size() + 1));
    }
    frame.push_back(static_cast<uint8_t>(unit));
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    if (transport == Transport::rtu) {
        const uint16_t crc = crc16(frame.data(), frame.size());
        frame.push_back(static_cast<uint8_t>(crc));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
    }
    return frame;
}

std::size_t rtuRequestLength(const uint8_t* bytes, std::size_t have) {
    if (have < 2) {
        return 0;
    }
    const int function = bytes[1];
    if (function == 15 || function == 16) {
        return have < 7 ? 0 : 9 + std::size_t{bytes[6]};
    }
    return hasAddressAndCount(function) ? 8 : 4;
}

bool rtuChecksumOk(const uint8_t* frame, std::size_t length) {
    if (length < 4) {
        return false;
    }
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == crc >> 8;
}

uint16_t crc16(const uint8_t* bytes, std::size_t length) {
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
    }
    return static_cast<uint16_t>(crc);
}

std::string functionName(int function) {
    switch (function) {
        case 1:
            return "read coils";
        case 2:
            return "read discrete inputs";
        case 3:
            return "read holding registers";
        case 4:
            return "read input registers";
        case 5:
            return "write single coil";
        case 6:
            return "write single register";
        case 15:
            return "write multiple coils";
        case 16:
            return "write multiple registers";
        default:
            return "unknown function";
    }
}

std::string exceptionName(int code) {
    switch (code) {
        case 1:
            return "illegal function";
        case 2:
            return "illegal data address";
        case 3:
            return "illegal data value";
        case 4:
            return "server device failure";
        default:
            return "unknown exception";
    }
}
