#pragma once

// Data bits, parity and stop bits of a serial character format such as "8N1".
struct SerialFormat {
    int data_bits;
    char parity;
    int stop_bits;
};

// Reads the first three characters by position; a shorter text is completed from "8N1" and
// anything past the third character is ignored. Nothing is validated.
SerialFormat parseSerialFormat(const char* format);
