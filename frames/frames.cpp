#include "frames/frames.h"

#include <utility>

namespace {

const long bits_per_character = 11;

// Appends a 16-bit value high byte first, as Modbus carries it.
void pushWord(std::vector<uint8_t>& frame, int value) {
    frame.push_back(static_cast<uint8_t>(value >> 8));
    frame.push_back(static_cast<uint8_t>(value));
}

}  // namespace

std::size_t headerLength(Framing transport) {
    return transport == Framing::tcp ? mbap_length : 1;
}

long tcpFrameLength(const uint8_t* bytes, std::size_t have) {
    if (have < mbap_length) {
        return 0;
    }
    const int protocol = bytes[2] << 8 | bytes[3];
    const int length = bytes[4] << 8 | bytes[5];
    if (protocol != 0 || length < 2 || length > max_mbap_length) {
        return -1;
    }
    // The length field counts the unit id and the PDU: all that follows it.
    return 6 + length;
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

void appendCrc(std::vector<uint8_t>& frame) {
    const uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool rtuChecksumOk(const uint8_t* frame, std::size_t length) {
    if (length < 4) {
        return false;
    }
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == crc >> 8;
}

long silentIntervalMicros(int baud) {
    if (baud > 19200) {
        return 1750;
    }
    // A baud rate the line cannot have is taken as the slowest common one, to stay on the safe
    // side.
    const long rate = baud > 0 ? baud : 1200;
    return (35 * bits_per_character * 1000000L + 10 * rate - 1) / (10 * rate);
}

int baudOfSpeed(speed_t speed) {
    static const std::pair<speed_t, int> speeds[] = {
        {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
        {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
        {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
        {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
        {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
        {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000},
    };
    for (const auto& known : speeds) {
        if (known.first == speed) {
            return known.second;
        }
    }
    return 0;
}

long serialMicros(int baud, int bytes) {
    const long rate = baud > 0 ? baud : 1200;
    return (bytes * bits_per_character * 1000000L + rate - 1) / rate;
}

std::vector<uint8_t> frameReply(Framing transport, const uint8_t* request, int unit,
                                const std::vector<uint8_t>& pdu) {
    std::vector<uint8_t> frame;
    if (transport == Framing::tcp) {
        frame.assign(request, request + 4);
        // The MBAP length counts the unit id and the PDU.
        pushWord(frame, static_cast<int>(pdu.size() + 1));
    }
    frame.push_back(static_cast<uint8_t>(unit));
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    if (transport == Framing::rtu) {
        appendCrc(frame);
    }
    return frame;
}

std::vector<uint8_t> writeRegistersRequest(int slave, int address, int count,
                                           const uint16_t* values) {
    std::vector<uint8_t> request{static_cast<uint8_t>(slave), 16};
    pushWord(request, address);
    pushWord(request, count);
    request.push_back(static_cast<uint8_t>(2 * count));
    for (int i = 0; i < count; ++i) {
        pushWord(request, values[i]);
    }
    return request;
}

std::vector<uint8_t> readRegistersRequest(int slave, int function, int address, int count) {
    std::vector<uint8_t> request{static_cast<uint8_t>(slave), static_cast<uint8_t>(function)};
    pushWord(request, address);
    pushWord(request, count);
    return request;
}

std::vector<uint8_t> frameRequest(Framing transport, int transaction_id,
                                  const std::vector<uint8_t>& request) {
    std::vector<uint8_t> frame;
    if (transport == Framing::tcp) {
        pushWord(frame, transaction_id);
        pushWord(frame, 0);
        pushWord(frame, static_cast<int>(request.size()));
    }
    frame.insert(frame.end(), request.begin(), request.end());
    if (transport == Framing::rtu) {
        appendCrc(frame);
    }
    return frame;
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
        case 23:
            return "read/write multiple registers";
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
