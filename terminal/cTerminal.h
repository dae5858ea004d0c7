#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "orvel/cOrvel.h"
#include "terminal/RequestParams.h"
#include "terminal/cConsole.h"
#include "terminal/words.h"

class cModbus;

// The command loop: prompt, request parameters and register buffers.
class cTerminal : public cOrvel {
public:
    static constexpr std::size_t buffer_registers = 128;

    // Writes an empty line, and the first prompt where lines are read without the editor.
    cTerminal();

    // One pass of the command loop. Returns false once the operator has quit (or input has
    // ended or failed); the bus is closed by then and the caller ends the process.
    bool processLine();
    // Whether reading standard input failed (not its end): the session ends with status 1.
    bool inputFailed() const { return input_failed; }

    // Runs the command that the line's first word names; returns false for the quit command.
    bool dispatchCommand(std::string_view line);

    // Applies and shows the parameter tokens among the words left.
    void applyParameters(Words words);
    void readRegisters();
    void writeRegisters(Words words);
    // At a terminal, the line that says why the bus did not open, if it did not.
    void reportBusStart(const cModbus& bus);

    static cTerminal* instance;

    RequestParams params;
    std::string prompt;
    uint16_t read_buffer[buffer_registers];
    uint16_t write_buffer[buffer_registers];

private:
    void quit();
    enum class Prepared { ready, refused, too_many };
    // Checks the request and selects its slave on the bus. A refused request has had one line
    // that says why, but for a slave that the library will not select, which says nothing;
    // withheld, when not empty, refuses a request the bus would take. One of too many registers
    // fails as a request the library refuses.
    Prepared prepareRequest(cModbus& bus, bool write, int count, const std::string& withheld = {});
    // At a terminal, the line that says why a read or write failed.
    void reportFailure(const char* request, const cModbus& bus);
    // At a terminal, once a session: the line returns the requests, and the echo is skipped.
    void reportEcho(const cModbus& bus);

    // The operator's input, the terminal's mode and its signals; chosen once, when the terminal
    // is made.
    cConsole console;
    bool input_failed = false;
    bool echo_told = false;
};
