#include "terminal/RequestParams.h"

#include <iostream>

#include "terminal/value_parsing.h"

namespace {

// Narrow fields keep the low bits of the number; address, page and offset stay in step.
void setAddress(RequestParams& params, uint32_t bits) {
    params.address = static_cast<uint16_t>(bits);
    params.page = static_cast<uint8_t>(params.address >> 8);
    params.offset = static_cast<uint8_t>(params.address & 0xFF);
}

void setPage(RequestParams& params, uint32_t bits) {
    setAddress(params, (bits & 0xFF) << 8 | params.offset);
}

void setOffset(RequestParams& params, uint32_t bits) {
    setAddress(params, static_cast<uint32_t>(params.page) << 8 | (bits & 0xFF));
}

// The parameter tags, the field each sets, the line that shows the new value, if any, and the
// largest number the field holds (its low bits are what it keeps of any other).
struct Tag {
    char name;
    void (*set)(RequestParams&, uint32_t);
    std::string (*shown)(const RequestParams&);
    uint32_t most;
};

// In the order the listing shows the fields.
const Tag tags[] = {
    {'s', [](RequestParams& p, uint32_t bits) { p.slave = static_cast<uint8_t>(bits); }, nullptr,
     0xFF},
    {'a', setAddress,
     [](const RequestParams& p) { return "Address: " + std::to_string(p.address); }, 0xFFFF},
    {'p', setPage, nullptr, 0xFF},
    {'o', setOffset, nullptr, 0xFF},
    {'f', [](RequestParams& p, uint32_t bits) { p.function_code = static_cast<uint8_t>(bits); },
     nullptr, 0xFF},
    {'l', [](RequestParams& p, uint32_t bits) { p.length = static_cast<uint8_t>(bits); },
     [](const RequestParams& p) { return "Length: " + std::to_string(p.length); }, 0xFF},
};

const Tag* findTag(std::string_view name) {
    for (const Tag& tag : tags) {
        if (name.size() == 1 && name[0] == tag.name) {
            return &tag;
        }
    }
    return nullptr;
}

// Why the value of a token with this tag is not taken as typed; empty when it is.
std::string faultOf(const Tag& tag, std::string_view value) {
    const DecimalForm form = decimalForm(value, tag.most);
    if (form == DecimalForm::plain) {
        return {};
    }
    if (form == DecimalForm::empty) {
        return "has no value";
    }
    const uint32_t kept = static_cast<uint32_t>(*parseDecimalValue(std::string(value))) & tag.most;
    const std::string read = "was read as " + std::to_string(kept);
    if (form == DecimalForm::out_of_range) {
        return read + " (" + tag.name + " takes 0 to " + std::to_string(tag.most) + ")";
    }
    if (form == DecimalForm::signed_number) {
        return read + " (parameter values take no sign)";
    }
    return read + " (parameter values are decimal)";
}

}  // namespace

std::vector<std::string> RequestParams::tagNames() {
    std::vector<std::string> names;
    for (const Tag& tag : tags) {
        names.emplace_back(1, tag.name);
    }
    return names;
}

void RequestParams::applyTokens(Words words, std::ostream& out) {
    std::string_view token;
    while (words.next(token)) {
        applyToken(token, out);
    }
}

void RequestParams::applyToken(std::string_view token, std::ostream& out) {
    const std::size_t equals = token.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    const std::string_view name = token.substr(0, equals);
    const std::string_view value = token.substr(equals + 1);
    out << "Got param '" << token << "' tag: '" << name << "' val: '" << value << "'" << std::endl;

    const Tag* tag = findTag(name);
    if (tag == nullptr) {
        out << "Unknown parameter '" << name << "'" << std::endl;
        return;
    }
    // An empty value leaves the field as it was.
    if (const std::optional<int32_t> number = parseDecimalValue(std::string(value))) {
        tag->set(*this, static_cast<uint32_t>(*number));
        const Setting setting{std::string(token), faultOf(*tag, value)};
        if (tag->name == 's') {
            slave_set = setting;
        }
        if (tag->name == 'a' || tag->name == 'p') {
            page_set = setting;
        }
        if (tag->name == 'a' || tag->name == 'o') {
            offset_set = setting;
        }
    }
    if (tag->shown != nullptr) {
        out << tag->shown(*this) << std::endl;
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

bool RequestParams::slaveIsTypedZero() const {
    return slave == 0 && !slave_set.token.empty() && slave_set.fault.empty();
}

std::string RequestParams::tokenFault(std::string_view token) {
    const std::size_t equals = token.find('=');
    const Tag* tag = findTag(token.substr(0, equals));
    if (tag == nullptr) {
        std::string names;
        for (const Tag& known : tags) {
            names += names.empty() ? "" : (&known == std::end(tags) - 1 ? " and " : ", ");
            names += known.name;
        }
        return "is not a parameter (the tags are " + names + ")";
    }
    return faultOf(*tag, token.substr(equals + 1));
}

void RequestParams::showParameters() const {
    for (const std::string& line : listing()) {
        std::cout << line << std::endl;
    }
}
