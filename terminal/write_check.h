#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/RequestParams.h"
#include "terminal/words.h"

// What a write line may do, decided before anything reaches the bus.
struct WriteCheck {
    enum class Verdict {
        send,       // every word that decides the write was taken as typed
        withheld,   // the values are shown, then the refusal instead of the write
        no_values,  // only the refusal
        too_many,   // only the refusal
    };
    Verdict verdict = Verdict::send;
    // The values as the line reads them, for the echo; empty for no_values and too_many.
    std::vector<uint16_t> values;
    // The one line that says why nothing is sent; empty for send.
    std::string refusal;
};

// Checks the words of a write line after its command word, once they have been applied to
// params: there must be 1 to 123 value words, and every tag and value word on the line, and the
// tokens that set the slave and the address on earlier lines, must have been taken as typed.
// The refusal names the first word of the line that was not, or else the earlier token.
WriteCheck checkWrite(Words words, const RequestParams& params);
