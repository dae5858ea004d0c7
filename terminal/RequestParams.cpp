#include "RequestParams.h"

#include <iostream>

#include "value_parsing.h"

std::vector<std::string> RequestParams::applyTokens(const std::vector<std::string>& tokens) {
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        applyToken(tokens[i], lines);
    }
    return lines;
}

void RequestParams::applyToken(const std::string& token, std::vector<std::string>& lines) {
    const std::size_t equals = token.find('=');
    if (equals == std::string::npos) {
        return;
    }
    const std::string tag = token.substr(0, equals);
    const std::string value = token.substr(equals + 1);
    lines.push_back("Got param '" + token + "' tag: '" + tag + "' val: '" + value + "'");

    if (tag.size() != 1 || std::string("apolfs").find(tag[0]) == std::string::npos) {
        lines.push_back("Unknown parameter '" + tag + "'");
        return;
    }
    // An empty value leaves the field as it was.
    if (const std::optional<int32_t> number = parseDecimalValue(value)) {
        assign(tag[0], static_cast<uint32_t>(*number));
    }
    if (tag[0] == 'a') {
        lines.push_back("Address: " + std::to_string(address));
    } else if (tag[0] == 'l') {
        lines.push_back("Length: " + std::to_string(length));
    }
}

// Narrow fields take the low bits of the number; address, page and offset stay in step.
void RequestParams::assign(char tag, uint32_t bits) {
    switch (tag) {
        case 'a':
            address = static_cast<uint16_t>(bits);
            page = static_cast<uint8_t>(address >> 8);
            offset = static_cast<uint8_t>(address & 0xFF);
            break;
        case 'p':
            page = static_cast<uint8_t>(bits);
            address = static_cast<uint16_t>(page << 8 | offset);
            break;
        case 'o':
            offset = static_cast<uint8_t>(bits);
            address = static_cast<uint16_t>(page << 8 | offset);
            break;
        case 'l':
            length = static_cast<uint8_t>(bits);
            break;
        case 'f':
            function_code = static_cast<uint8_t>(bits);
            break;
        case 's':
            slave = static_cast<uint8_t>(bits);
            break;
        default:
            break;
    }
}

std::vector<std::string> RequestParams::listing() const {
    return {
        "Current Parameter settings:",
        "s=" + std::to_string(slave) + " (Slave Address)",
        "a=" + std::to_string(address) + " (I/O Address)",
        "p=" + std::to_string(page) + " (I/O Page)",
        "o=" + std::to_string(offset) + " (I/O Offset)",
        "f=" + std::to_string(function_code) + " (Function Code)",
        "l=" + std::to_string(length) + " (Data Length)",
    };
}

void RequestParams::showParameters() const {
    for (const std::string& line : listing()) {
        std::cout << line << std::endl;
    }
}
