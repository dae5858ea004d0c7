#pragma once

#include <string>
#include <vector>

#include "tests/support/process.h"

// Runs the built tool with the given arguments and piped standard input.
ProcessResult runTesmar(const std::vector<std::string>& args, const std::string& input);

// The argument echo the tool starts with.
std::string echoOf(const std::vector<std::string>& args);

// Output of the parameter listing for the given values.
std::string listing(unsigned slave, unsigned address, unsigned function_code, unsigned length);

extern const std::string quit_lines;
extern const std::string prompt;
