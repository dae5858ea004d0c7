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
    // The token that last set a field, as typed, and why it was not taken as typed (see
    // tokenFault); the fault is empty when it was.
    struct Setting {
        std::string token;
        std::string fault;
    };
    // The slave's token is empty while none has set it. The address is set in two halves, so
    // that an exact token that sets only one half leaves the other's fault standing.
    Setting slave_set;
    Setting page_set;
    Setting offset_set;

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
    // Why a parameter token is not taken as typed, worded to follow the token ("was read as 0
    // (parameter values are decimal)"); empty when its tag is one of the six and its value a
    // plain decimal number that fits the field unchanged.
    static std::string tokenFault(std::string_view token);

private:
    void applyToken(std::string_view token, std::ostream& out);
};
