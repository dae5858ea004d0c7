#include "frames/reply_match.h"

#include <algorithm>

namespace {

const int write_multiple_registers = 16;
const int exception_bit = 0x80;

// What an answer must carry, read off the request frame.
struct Awaited {
    Framing framing;
    std::size_t header;
    int transaction_id;
    int unit;
    int function;
    int address;
    int count;
};

int wordAt(const uint8_t* bytes) {
    return bytes[0] << 8 | bytes[1];
}

Awaited awaitedOf(Framing framing, const std::vector<uint8_t>& request) {
    Awaited awaited{};
    awaited.framing = framing;
    awaited.header = headerLength(framing);
    const uint8_t* pdu = request.data() + awaited.header;
    awaited.transaction_id = framing == Framing::tcp ? wordAt(request.data()) : 0;
    awaited.unit = pdu[-1];
    awaited.function = pdu[0];
    awaited.address = wordAt(pdu + 1);
    awaited.count = wordAt(pdu + 3);
    return awaited;
}

enum class Shape { whole, incomplete, none };

// The frame the bytes begin with: its length when whole; none when no Modbus frame starts here
// (on RTU also a frame with a broken checksum, with damaged set).
struct FrameAt {
    Shape shape;
    std::size_t length = 0;
    bool damaged = false;
};

// Length of an RTU frame of this function, or 0 when it has no length a master knows.
std::size_t rtuLength(const uint8_t* bytes, std::size_t have) {
    const int function = bytes[1];
    if ((function & exception_bit) != 0) {
        return 5;
    }
    switch (function) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 23:
            // The byte count is needed first; 3 stands for "more".
            return have < 3 ? 3 : 5 + std::size_t{bytes[2]};
        case 5:
        case 6:
        case 15:
        case 16:
            return 8;
        default:
            return 0;
    }
}

FrameAt frameAt(Framing framing, const uint8_t* bytes, std::size_t have) {
    if (framing == Framing::tcp) {
        const long length = tcpFrameLength(bytes, have);
        if (length < 0) {
            return {Shape::none};
        }
        if (length == 0 || static_cast<std::size_t>(length) > have) {
            return {Shape::incomplete};
        }
        return {Shape::whole, static_cast<std::size_t>(length)};
    }
    if (have < 2) {
        return {Shape::incomplete};
    }
    const std::size_t length = rtuLength(bytes, have);
    if (length == 0) {
        return {Shape::none};
    }
    if (length > have) {
        return {Shape::incomplete};
    }
    if (!rtuChecksumOk(bytes, length)) {
        return {Shape::none, length, true};
    }
    return {Shape::whole, length};
}

// What a whole frame is to the request: the answer, an exception, or what it is set aside as.
struct Verdict {
    ReplyState state;
    unsigned set_aside;
};

Verdict judge(const Awaited& a, const uint8_t* frame, std::size_t length) {
    const bool tcp = a.framing == Framing::tcp;
    if (tcp && wordAt(frame) != a.transaction_id) {
        return {ReplyState::more, set_aside_other_request};
    }
    const uint8_t* pdu = frame + a.header;
    if (pdu[-1] != a.unit) {
        return {ReplyState::more, set_aside_other_unit};
    }
    const std::size_t pdu_length = length - a.header - (tcp ? 0 : 2);
    if (pdu[0] == (a.function | exception_bit)) {
        return {pdu_length == 2 ? ReplyState::exception : ReplyState::more,
                pdu_length == 2 ? 0u : set_aside_misfit};
    }
    if (pdu[0] != a.function) {
        // Over TCP the transaction id says that it answers this request.
        return {ReplyState::more, tcp ? set_aside_misfit : set_aside_other_request};
    }
    const bool fits =
        a.function == write_multiple_registers
            ? pdu_length == 5 && wordAt(pdu + 1) == a.address && wordAt(pdu + 3) == a.count
            : pdu_length == static_cast<std::size_t>(2 + 2 * a.count) && pdu[1] == 2 * a.count;
    return fits ? Verdict{ReplyState::answer, 0} : Verdict{ReplyState::more, set_aside_misfit};
}

// Whether the bytes, up to the end of what came, may be how the answer or an exception begins.
bool mayBeginAnswer(const Awaited& a, const uint8_t* bytes, std::size_t have) {
    const auto is = [&](std::size_t at, int value) { return at >= have || bytes[at] == value; };
    const std::size_t function_at = a.header;
    const bool header_fits = a.framing == Framing::tcp
                                 ? is(0, a.transaction_id >> 8) && is(1, a.transaction_id & 0xFF) &&
                                       is(2, 0) && is(3, 0) && is(6, a.unit)
                                 : is(0, a.unit);
    if (!header_fits) {
        return false;
    }
    if (function_at < have && bytes[function_at] == (a.function | exception_bit)) {
        return true;
    }
    const bool read = a.function != write_multiple_registers;
    return is(function_at, a.function) && (!read || is(function_at + 1, 2 * a.count));
}

// As mayBeginAnswer, and the bytes reach its function code, so that a stray byte or two at the end
// of a stream is not taken for a reply on its way.
bool beginsAnswer(const Awaited& a, const uint8_t* bytes, std::size_t have) {
    return have > a.header && mayBeginAnswer(a, bytes, have);
}

// Whether the bytes, up to the end of what came or of the request, repeat the request.
bool repeatsRequest(const std::vector<uint8_t>& request, const uint8_t* bytes, std::size_t have) {
    return std::equal(bytes, bytes + std::min(have, request.size()), request.begin());
}

// The first offset after a whole frame's first byte, up to its end, where the answer may begin.
std::size_t answerInside(const Awaited& a, const uint8_t* bytes, std::size_t at, std::size_t end,
                         std::size_t have) {
    for (std::size_t inside = at + 1; inside < end; ++inside) {
        if (mayBeginAnswer(a, bytes + inside, have - inside)) {
            return inside;
        }
    }
    return end;
}

}  // namespace

ReplyScan scanReply(Framing framing, const std::vector<uint8_t>& request, const uint8_t* bytes,
                    std::size_t have, bool from_start, bool quiet) {
    ReplyScan scan;
    if (request.size() < headerLength(framing) + 5) {
        return scan;
    }
    const Awaited awaited = awaitedOf(framing, request);
    std::size_t from = 0;
    // The line's echo comes first, maybe behind a stray byte or two: there it counts only whole.
    const auto echoAt = [&](std::size_t at) {
        return repeatsRequest(request, bytes + at, have - at) &&
               (at == 0 || have - at >= request.size());
    };
    std::size_t echo_at = 0;
    while (framing == Framing::rtu && from_start && echo_at < have && !echoAt(echo_at)) {
        ++echo_at;
    }
    if (framing == Framing::rtu && from_start && echo_at < have) {
        // Bytes that repeat the request are its echo, unless they make the answer: one that runs
        // past the request, or one that ends inside it, with nothing after it on a quiet line.
        const uint8_t* echo = bytes + echo_at;
        const std::size_t echoed = have - echo_at;
        const unsigned stray = echo_at > 0 ? unsigned{set_aside_garbage} : 0u;
        const FrameAt frame = frameAt(framing, echo, echoed);
        const Verdict verdict = frame.shape == Shape::whole ? judge(awaited, echo, frame.length)
                                                            : Verdict{ReplyState::more, 0};
        const bool answer = verdict.state != ReplyState::more &&
                            (echoed >= request.size() ? frame.length > request.size()
                                                      : quiet && frame.length == echoed);
        if (answer) {
            scan.state = verdict.state;
            scan.settled = echo_at;
            scan.length = frame.length;
            scan.set_aside |= stray;
            return scan;
        }
        if (echoed < request.size()) {
            scan.begun = true;
            return scan;
        }
        from = echo_at + request.size();
        scan.set_aside |= set_aside_echo | stray;
    }

    // The earliest answer wins over whatever the bytes before it seemed to begin. Nothing is
    // settled from hold on: an answer there may yet turn out to be the line's echo.
    std::size_t answer_at = have;
    std::size_t hold = have;
    Verdict answer{ReplyState::more, 0};
    std::size_t answer_length = 0;
    for (std::size_t at = from; at < have; ++at) {
        const FrameAt frame = frameAt(framing, bytes + at, have - at);
        if (frame.shape != Shape::whole) {
            continue;
        }
        const Verdict verdict = judge(awaited, bytes + at, frame.length);
        // Behind stray bytes too, an answer that ends inside the request and repeats it is its
        // echo when more of the request follows, and the answer only once the line is quiet.
        if (verdict.state != ReplyState::more && framing == Framing::rtu &&
            frame.length < request.size() && repeatsRequest(request, bytes + at, have - at)) {
            if (have - at > frame.length) {
                scan.set_aside |= set_aside_echo;
                continue;
            }
            if (!quiet) {
                hold = at;
                break;
            }
        }
        if (verdict.state != ReplyState::more) {
            answer_at = at;
            answer = verdict;
            answer_length = frame.length;
            break;
        }
    }

    // Everything before the answer, or before what may still become a frame, is set aside.
    std::size_t at = from;
    while (at < std::min(answer_at, hold)) {
        const FrameAt frame = frameAt(framing, bytes + at, have - at);
        if (frame.shape == Shape::whole && at + frame.length <= answer_at) {
            scan.set_aside |= judge(awaited, bytes + at, frame.length).set_aside;
            // It may take in the beginning of an answer still on its way (on TCP, stray bytes
            // before the answer can make a header whose length does): that part is kept.
            at = answer_at == have ? answerInside(awaited, bytes, at, at + frame.length, have)
                                   : at + frame.length;
            continue;
        }
        if (frame.shape == Shape::incomplete && answer_at == have) {
            break;
        }
        const bool ours = frame.damaged && bytes[at] == awaited.unit &&
                          (bytes[at + 1] & ~exception_bit) == awaited.function;
        scan.set_aside |= ours ? set_aside_bad_crc : set_aside_garbage;
        ++at;
    }
    scan.settled = at;
    if (answer.state != ReplyState::more) {
        scan.state = answer.state;
        scan.length = answer_length;
        return scan;
    }
    for (std::size_t begin = at; begin < have && !scan.begun; ++begin) {
        scan.begun = beginsAnswer(awaited, bytes + begin, have - begin);
    }
    return scan;
}
