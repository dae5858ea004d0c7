#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvel/cOrvel.h"
#include "terminal/RequestParams.h"
#include "terminal/line_editor.h"

class cModbus;

// The operator's terminal: prompt, request parameters and register buffers.
class cTerminal : public cOrvel {
public:
    static constexpr std::size_t buffer_registers = 128;

    // Writes an empty line and the first prompt.
    cTerminal();

    // One pass of the command loop. Returns false once the operator has quit (or input has
    // ended); the bus is closed by then and the caller ends the process.
    bool processLine();

    static std::vector<std::string> splitWords(std::string line);
    // Returns false for the quit command.
    bool dispatchCommand(const std::vector<std::string>& words);

    void applyParameters(std::vector<std::string> words);
    void readRegisters();
    void writeRegisters(std::vector<std::string> words);

    static cTerminal* instance;

    RequestParams params;
    std::string prompt;
    uint16_t read_buffer[buffer_registers];
    uint16_t write_buffer[buffer_registers];

private:
    void quit();
    // Selects the request's slave on the bus; false, after one line that says why, when the
    // request must not go out.
    bool selectSlave(cModbus& bus, bool for_write);

    // Chosen once, when the terminal is made.
    cLineEditor lines;
};
