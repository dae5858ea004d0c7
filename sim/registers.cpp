#include "sim/registers.h"

#include <sstream>
#include <string_view>
#include <utility>

namespace {

// Characters of a bad token that a message shows.
const std::size_t shown_token = 40;
// Longest line of a map file: one line may carry many values, but not without bound.
const std::size_t max_line = 65536;

// A whole number in decimal or with 0x in hex, no sign, at most max.
std::optional<long> parseMapNumber(const std::string& text, long max) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) {
        return std::nullopt;
    }
    long value = 0;
    for (const char c : digits) {
        const std::string_view allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
        if (allowed.find(c) == std::string_view::npos) {
            return std::nullopt;
        }
        const long digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value * (hex ? 16 : 10) + digit;
        if (value > max) {
            return std::nullopt;
        }
    }
    return value;
}

// A token as a message shows it: its first characters, non-printing bytes as \xHH, "..." when cut.
std::string shown(const std::string& token) {
    std::string text;
    for (std::size_t i = 0; i < token.size() && i < shown_token; ++i) {
        const auto byte = static_cast<unsigned char>(token[i]);
        if (byte < 0x20 || byte >= 0x7F) {
            static const char hex[] = "0123456789abcdef";
            text += {'\\', 'x', hex[byte >> 4], hex[byte & 0xF]};
        } else {
            text += static_cast<char>(byte);
        }
    }
    return token.size() > shown_token ? text + "..." : text;
}

// Applies one line without its comment to map; returns what is wrong with it, or "".
std::string applyMapLine(const std::string& line, RegisterMap& map) {
    std::istringstream words(line);
    std::string table;
    std::string address_text;
    if (!(words >> table)) {
        return "";
    }
    const bool bits = table == "coil" || table == "discrete";
    if (!bits && table != "holding" && table != "input") {
        return "unknown table '" + shown(table) + "' (holding, input, coil or discrete)";
    }
    if (!(words >> address_text)) {
        return "no address after '" + shown(table) + "'";
    }
    const std::optional<long> address = parseMapNumber(address_text, 65535);
    if (!address) {
        return "bad address '" + shown(address_text) + "' (0 to 65535)";
    }
    std::vector<uint16_t> values;
    for (std::string text; words >> text;) {
        const std::optional<long> value = parseMapNumber(text, bits ? 1 : 65535);
        if (!value) {
            return "bad value '" + shown(text) + "' (" + (bits ? "0 or 1" : "0 to 65535") + ")";
        }
        values.push_back(static_cast<uint16_t>(*value));
    }
    if (values.empty()) {
        return "no values after the address";
    }
    if (*address + static_cast<long>(values.size()) > 65536) {
        return "values run past address 65535";
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t at = static_cast<std::size_t>(*address) + i;
        if (table == "holding") {
            map.holding[at] = values[i];
        } else if (table == "input") {
            map.input[at] = values[i];
        } else {
            (table == "coil" ? map.coils : map.discrete_inputs)[at] =
                static_cast<uint8_t>(values[i]);
        }
    }
    return "";
}

}  // namespace

RegisterMap presetRegisters() {
    RegisterMap map;
    static constexpr struct {
        int address;
        uint16_t value;
    } presets[] = {
        {0, 0x1234},   {1, 0x5678},   {100, 0x4148}, {101, 0x0000}, {102, 0xBF80},   {103, 0x0000},
        {300, 0x1F20}, {301, 0x7E7F}, {302, 0x8000}, {303, 0xFF41}, {65535, 0xBEEF},
    };
    auto set_both = [&map](int address, uint16_t value) {
        map.holding[static_cast<std::size_t>(address)] = value;
        map.input[static_cast<std::size_t>(address)] = value;
    };
    for (const auto& p : presets) {
        set_both(p.address, p.value);
    }
    static constexpr std::string_view text = "tesmar simulator";
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto high = static_cast<uint8_t>(text[i]);
        const auto low = static_cast<uint8_t>(text[i + 1]);
        set_both(200 + static_cast<int>(i / 2), static_cast<uint16_t>(high << 8 | low));
    }
    // Lets a master tell FC3 from FC4 at address 0.
    map.input[0] = 0x4321;
    return map;
}

MapFile parseRegisterMap(std::istream& in, const std::string& name) {
    RegisterMap map;
    std::vector<char> buffer(max_line + 1);
    for (int number = 1; !in.eof(); ++number) {
        in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (in.bad() || (got == 0 && in.eof())) {
            break;
        }
        if (in.fail() && !in.eof()) {
            return {std::nullopt, name + ":" + std::to_string(number) + ": line longer than " +
                                      std::to_string(max_line) + " characters"};
        }
        // gcount counts the newline, which the buffer does not hold; the last line may lack it.
        const std::string line(buffer.data(), in.eof() ? got : got - 1);
        const std::string error = applyMapLine(line.substr(0, line.find('#')), map);
        if (!error.empty()) {
            return {std::nullopt, name + ":" + std::to_string(number) + ": " + error};
        }
    }
    if (in.bad()) {
        return {std::nullopt, name + ": cannot be read"};
    }
    return {std::move(map), ""};
}
