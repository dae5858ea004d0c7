#include "terminal/write_check.h"

#include <modbus/modbus.h>

#include "terminal/value_parsing.h"

namespace {

const char* const nothing_sent = ": nothing sent";

// The refusal for a setting made on an earlier line; empty when it was taken as typed.
std::string earlierRefusal(const RequestParams::Setting& setting) {
    return setting.fault.empty() ? ""
                                 : setting.token + " (set earlier) " + setting.fault + nothing_sent;
}

}  // namespace

WriteCheck checkWrite(Words words, const RequestParams& params) {
    WriteCheck check;
    std::size_t given = 0;
    std::string_view word;
    while (words.next(word)) {
        std::string refusal;
        if (word.find('=') != std::string_view::npos) {
            const std::string fault = RequestParams::tokenFault(word);
            refusal = fault.empty() ? "" : std::string(word) + " " + fault + nothing_sent;
        } else {
            // Past the limit the words are only counted: a line has no length limit.
            if (++given <= MODBUS_MAX_WRITE_REGISTERS) {
                check.values.push_back(parseHexWord(std::string(word)));
            }
            const std::string fault = hexWordFault(word);
            refusal = fault.empty() ? "" : "'" + std::string(word) + "' " + fault + nothing_sent;
        }
        if (check.refusal.empty()) {
            check.refusal = refusal;
        }
    }
    if (given == 0) {
        return {WriteCheck::Verdict::no_values, {}, "We need data to write"};
    }
    if (given > MODBUS_MAX_WRITE_REGISTERS) {
        return {WriteCheck::Verdict::too_many,
                {},
                "Too many values: " + std::to_string(given) + " given, at most " +
                    std::to_string(MODBUS_MAX_WRITE_REGISTERS) + " fit in one write"};
    }
    // A field whose setting on this line was not taken has been named above already.
    for (const RequestParams::Setting* setting :
         {&params.slave_set, &params.page_set, &params.offset_set}) {
        if (check.refusal.empty()) {
            check.refusal = earlierRefusal(*setting);
        }
    }
    if (!check.refusal.empty()) {
        check.verdict = WriteCheck::Verdict::withheld;
    }
    return check;
}
