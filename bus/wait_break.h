#pragma once

#include <signal.h>

// What may end a wait of the bus before its deadline. Signals come in only inside the bus's
// waits, under open_mask (null: the process's mask as it is); after one came, stop says whether
// the request ends now, failing with EINTR, or the wait goes on.
struct WaitBreak {
    const sigset_t* open_mask = nullptr;
    bool (*stop)(void* context) = nullptr;
    void* context = nullptr;
};
