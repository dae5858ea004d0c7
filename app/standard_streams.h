#pragma once

// Opens /dev/null on each of the descriptors 0-2 that is closed, so that no descriptor the
// process opens later (the bus's socket) can stand in for standard input or output.
void openMissingStandardDescriptors();

// The exit status after the session: 0, or 1 after one line on standard error when writing
// standard output failed and lines were lost.
int outputStatus();
