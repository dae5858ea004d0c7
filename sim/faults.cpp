#include "sim/faults.h"

#include <iterator>

namespace {

const struct {
    const char* name;
    Fault fault;
} fault_names[] = {
    {"none", Fault::none},
    {"txid", Fault::txid},
    {"unit", Fault::unit},
    {"bytecount", Fault::bytecount},
    {"truncated", Fault::truncated},
    {"garbage", Fault::garbage},
    {"crc", Fault::crc},
    {"noise", Fault::noise},
    {"exception", Fault::exception},
    {"late", Fault::late},
    {"silent", Fault::silent},
    {"close", Fault::close},
    {"trickle", Fault::trickle},
};

const uint8_t garbage_bytes[] = {0x5A, 0xC3, 0x00, 0x11, 0x7F, 0xE2,
                                 0x09, 0x9D, 0x44, 0xB0, 0x2E, 0xF1};

// A read reply one data byte short, with the byte count to match; a write reply that confirms
// one item more than was written.
void breakByteCount(std::vector<uint8_t>& pdu) {
    const int function = pdu[0];
    if (function == 15 || function == 16) {
        const int count = (pdu[3] << 8 | pdu[4]) + 1;
        pdu[3] = static_cast<uint8_t>(count >> 8);
        pdu[4] = static_cast<uint8_t>(count);
    } else if (function <= 4 || function == 23) {
        --pdu[1];
        pdu.pop_back();
    } else {
        // A single write echoes the request: change the value it confirms.
        ++pdu[4];
    }
}

}  // namespace

std::optional<Fault> parseFault(const std::string& name) {
    for (const auto& entry : fault_names) {
        if (name == entry.name) {
            return entry.fault;
        }
    }
    return std::nullopt;
}

std::string faultName(Fault fault) {
    for (const auto& entry : fault_names) {
        if (fault == entry.fault) {
            return entry.name;
        }
    }
    return "";
}

bool faultFits(Fault fault, Framing transport) {
    if (fault == Fault::txid) {
        return transport == Framing::tcp;
    }
    if (fault == Fault::crc) {
        return transport == Framing::rtu;
    }
    return true;
}

std::size_t trickleHead(Framing transport) {
    return headerLength(transport) + 1;
}

Fault FaultPlan::next() {
    if (count == 0) {
        return Fault::none;
    }
    if (count > 0) {
        --count;
    }
    return fault;
}

std::vector<uint8_t> faultyReply(Fault fault, Framing transport, const uint8_t* request, int unit,
                                 std::vector<uint8_t> pdu) {
    // Only normal replies have a byte count to break.
    if (fault == Fault::bytecount && (pdu[0] & 0x80) == 0) {
        breakByteCount(pdu);
    }
    if (fault == Fault::unit) {
        unit = (unit + 1) & 0xFF;
    }
    std::vector<uint8_t> frame = frameReply(transport, request, unit, pdu);
    switch (fault) {
        case Fault::txid:
            // Both bytes, so that a carry is not lost.
            {
                const int txid = (frame[0] << 8 | frame[1]) + 1;
                frame[0] = static_cast<uint8_t>(txid >> 8);
                frame[1] = static_cast<uint8_t>(txid);
            }
            break;
        case Fault::truncated:
            frame.resize(frame.size() / 2);
            break;
        case Fault::garbage:
            frame.assign(std::begin(garbage_bytes), std::end(garbage_bytes));
            break;
        case Fault::crc:
            frame.back() ^= 0xFF;
            break;
        case Fault::noise:
            // Over TCP a run of zero bytes, which reads as a header with the wrong transaction id.
            if (transport == Framing::tcp) {
                frame.insert(frame.begin(), 300, 0);
            } else {
                frame.insert(frame.begin(), std::begin(garbage_bytes), std::end(garbage_bytes));
            }
            break;
        default:
            break;
    }
    return frame;
}
