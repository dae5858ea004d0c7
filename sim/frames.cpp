#include "sim/frames.h"

namespace {

// The largest counts the Modbus application protocol allows in one request.
const int max_read_bits = 2000;
const int max_write_bits = 1968;
const int max_read_registers = 125;
const int max_write_registers = 123;
const int max_read_write_registers = 121;
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
    return (function >= 1 && function <= 6) || function == 15 || function == 16 || function == 23;
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

// Read/Write Multiple Registers (23): the write goes first, then the read sees it.
Answer readWriteRegisters(const uint8_t* pdu, std::size_t length, RegisterMap& map) {
    const int function = pdu[0];
    if (length < 10) {
        return fail(function, illegal_data_value);
    }
    const int read_address = getWord(pdu + 1);
    const int read_count = getWord(pdu + 3);
    const int write_address = getWord(pdu + 5);
    const int write_count = getWord(pdu + 7);
    if (read_count < 1 || read_count > max_read_registers || write_count < 1 ||
        write_count > max_read_write_registers || pdu[9] != write_count * 2 ||
        length != 10 + static_cast<std::size_t>(write_count) * 2) {
        return fail(function, illegal_data_value);
    }
    if (read_address + read_count > table_size || write_address + write_count > table_size) {
        return fail(function, illegal_data_address);
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(write_count); ++i) {
        map.holding[static_cast<std::size_t>(write_address) + i] =
            static_cast<uint16_t>(getWord(pdu + 10 + 2 * i));
    }
    return readRegisters(function, read_address, read_count, map.holding);
}

}  // namespace

Request decodeRequest(Framing transport, const uint8_t* frame, std::size_t length) {
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
    if (request.function == 23 && length >= header + 9) {
        request.write_address = getWord(frame + header + 5);
        request.write_count = getWord(frame + header + 7);
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
    // Reads and single writes carry exactly address and count (or value).
    if (length < 5 || (function <= 6 && length != 5)) {
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
        case 23:
            return readWriteRegisters(pdu, length, map);
        default:
            break;
    }
    const bool bits = function == 15;
    const int bytes = bits ? (count + 7) / 8 : count * 2;
    if (count < 1 || count > (bits ? max_write_bits : max_write_registers) || length < 6 ||
        pdu[5] != bytes || length != 6 + static_cast<std::size_t>(bytes)) {
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
