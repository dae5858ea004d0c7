#pragma once

#include <string>

// The usage text, every line ended.
std::string usageText();
void printUsage();
