#pragma once

#include <string>
#include <vector>

// What a scripted session left, seen as the operator's screen.
struct SessionRun {
    std::string screen;
    std::string err;
    int exit_status = -1;
    bool timed_out = false;
};

// The lines typed in a transcript: the text after each "modbus$>". A last prompt with nothing
// after it types nothing: there the input ends.
std::vector<std::string> typedLines(const std::string& transcript);

// Standard output as the operator sees it: each typed line after the prompt it answered, without
// the argv echo lines and libmodbus's own frame trace, and with each dump's address as PTR.
std::string screenOf(const std::string& out, const std::vector<std::string>& typed);

// Runs tesmar with args, typing the transcript's lines, and returns the screen it gave.
SessionRun runSession(const std::vector<std::string>& args, const std::string& transcript);
