#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/words.h"

// The request parameters that persist from command to command.
// address always equals page * 256 + offset.
struct RequestParams {
    uint16_t address = 0;
    uint8_t length = 1;
    uint8_t slave = 0;
    uint8_t function_code = 3;
    uint8_t page = 0;
    uint8_t offset = 0;
    // The value of the last s= token that set the slave, as typed; empty while none has.
    std::string slave_text;

    // The tags a parameter token may carry, in the order the listing shows their fields.
    static std::vector<std::string> tagNames();
    // Applies the parameter tokens among the words left, in order, writing the lines that show
    // them to out as each is applied.
    void applyTokens(Words words, std::ostream& out);
    // The seven lines of the listing.
    std::vector<std::string> listing() const;
    void showParameters() const;
    // Whether the slave is 0 because the operator typed a plain decimal zero.
    bool slaveIsTypedZero() const;

private:
    void applyToken(std::string_view token, std::ostream& out);
};
