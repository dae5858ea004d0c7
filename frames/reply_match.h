#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/frames.h"

// Whether bytes received after a request answer it. No I/O here: the bus hands over what it has
// received so far and learns what to do with it.

// What was received and is no answer to the request, one bit each.
enum SetAside : unsigned {
    set_aside_echo = 1u << 0,           // the request itself, returned by the line (RTU)
    set_aside_garbage = 1u << 1,        // bytes that make no frame
    set_aside_other_unit = 1u << 2,     // a whole frame from another unit
    set_aside_other_request = 1u << 3,  // a whole frame that answers another request
    set_aside_misfit = 1u << 4,         // a reply of the unit and function that does not fit
    set_aside_bad_crc = 1u << 5,        // a frame of the unit and function with a broken checksum
};

enum class ReplyState {
    more,       // no answer yet: the wait goes on
    answer,     // the reply the request waits for
    exception,  // the slave refused the request
};

struct ReplyScan {
    ReplyState state = ReplyState::more;
    // Bytes at the front that are no part of the answer: before it, or (while more) set aside
    // for good, so that the caller may drop them.
    std::size_t settled = 0;
    // Bytes of the answer or exception frame right after the settled ones.
    std::size_t length = 0;
    // SetAside bits for the settled bytes.
    unsigned set_aside = 0;
    // While more: the bytes after the settled ones may be the beginning of the answer (or of
    // the line's echo), so the reply is on its way.
    bool begun = false;
};

// Looks for the answer to the request frame (as it went on the line; RTU with its checksum) in
// the bytes received since (from_start) or since the bytes settled by an earlier scan. A TCP
// answer carries the request's transaction id, protocol 0 and unit; an RTU answer the slave
// address and a good checksum; both the function (or the exception bit on it), the byte count
// of a read, or the address and count of a write. On RTU, bytes right after the request, or
// behind stray bytes, that repeat it are the line's echo; while they are still a part of the
// request they are taken for the echo, unless they also make the whole answer and the line has
// gone quiet after them.
ReplyScan scanReply(Framing framing, const std::vector<uint8_t>& request, const uint8_t* bytes,
                    std::size_t have, bool from_start, bool quiet);
