#pragma once

#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.h"

// Calls check once for each item, each on a thread of its own, and returns when all have
// returned: sessions that mostly wait out a slave's timeouts then take the longest of them, not
// their sum. A failure names its row by its place in items, counted from 0.
template <typename Items, typename Check>
void checkAtOnce(const Items& items, Check check) {
    std::vector<std::future<void>> runs;
    int row = 0;
    for (const auto& item : items) {
        runs.push_back(std::async(std::launch::async, [&check, &item, row] {
            SCOPED_TRACE("row " + std::to_string(row));
            check(item);
        }));
        ++row;
    }
    for (std::future<void>& run : runs) {
        run.get();
    }
}

// Runs the built tool with the given arguments and piped standard input.
ProcessResult runTesmar(const std::vector<std::string>& args, const std::string& input);

// The argument echo the tool starts with.
std::string echoOf(const std::vector<std::string>& args);

// Output of the parameter listing for the given values.
std::string listing(unsigned slave, unsigned address, unsigned function_code, unsigned length);

extern const std::string quit_lines;
extern const std::string prompt;
