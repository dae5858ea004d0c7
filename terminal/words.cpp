#include "terminal/words.h"

namespace {

constexpr std::string_view white_space = " \t\n\v\f\r";

}  // namespace

bool Words::next(std::string_view& word) {
    const std::size_t start = rest.find_first_not_of(white_space);
    if (start == std::string_view::npos) {
        rest = {};
        return false;
    }
    rest.remove_prefix(start);
    word = rest.substr(0, rest.find_first_of(white_space));
    rest.remove_prefix(word.size());
    return true;
}

bool Words::empty() const {
    return rest.find_first_not_of(white_space) == std::string_view::npos;
}
