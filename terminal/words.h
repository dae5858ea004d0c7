#pragma once

#include <string_view>

// The words of a command line in order: runs of anything but the classic locale's white space.
// Each word is a view into the line, taken when asked for, so a line of any length costs no
// memory beyond its own. A copy reads on from where the original stood.
class Words {
public:
    explicit Words(std::string_view line) : rest(line) {}

    // Takes the next word into word; false once none is left.
    bool next(std::string_view& word);
    // Whether no word is left.
    bool empty() const;

private:
    std::string_view rest;
};
