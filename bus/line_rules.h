#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/frames.h"

// Rules of the line shared by every request: how long to wait for it to go quiet, and when a
// failed transaction has left it unsettled. The frames themselves, their checksum and their timing
// on a serial line come from frames/. No I/O here.

// The next wait of the quiet-line loop in milliseconds, or -1 once the line is quiet (nothing has
// arrived for one second, or for one response timeout if that is longer) or the wait has reached
// its bound.
long quietWaitMillis(long since_arrival_ms, long since_start_ms, long timeout_ms, long bound_ms);

// Whether a transaction that failed with this errno may leave bytes on the line that a later
// request would take for its answer: not after an exception reply, which is a whole answer, nor
// when the library refused the request before sending it.
bool failureMayLeaveBytes(int error);
