#pragma once

#include <cstdint>

// What the command line sets up. The texts point into argv, which lives as long as the process.
struct StartupSettings {
    const char* host = nullptr;
    int32_t port = 502;
    const char* device = nullptr;
    int32_t baud = 19200;
    const char* format = "8N1";
    bool show_usage = false;
};

// strtoul with base 0 as C23 has it (0x, 0b, leading 0 for octal, sign, saturation), the result
// cut to its low 32 bits. Garbage gives 0 or the number at its start, never an error.
int32_t parseOptionNumber(const char* text);

// Reads the options with getopt; the last of a repeated option wins. On -? or any option error
// show_usage is set and the rest is not to be used. Never exits.
StartupSettings parseOptions(int argc, char** argv);
