#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Register bytes as they travel on the wire: each register high byte first.
// image must hold 2 * count bytes; returns the number of bytes written.
std::size_t registerImage(const uint16_t* registers, int count, unsigned char* image);

// The header line of a dump: the title right-aligned in 20 columns, the size and the address.
std::string dumpHeader(const char* title, const void* data, int size);
// The column header and the 74-column rows, sixteen bytes to a row.
std::string dumpRows(const unsigned char* data, int size);
// Writes the header and rows to standard output.
void dumpBytes(const char* title, const unsigned char* data, int size);

// The lines shown after a dump: the 16-bit view for one register, the 32-bit and float views
// for two, nothing otherwise.
std::string registerViews(const uint16_t* registers, int count);
