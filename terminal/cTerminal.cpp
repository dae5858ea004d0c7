#include "terminal/cTerminal.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "bus/cModbus.h"
#include "terminal/line_editor.h"
#include "terminal/register_view.h"
#include "terminal/write_check.h"

cTerminal* cTerminal::instance = nullptr;

namespace {

// The bus to talk through, or null when there is none that the library accepted.
cModbus* usableBus() {
    cModbus* bus = cModbus::instance;
    return (bus != nullptr && bus->usable()) ? bus : nullptr;
}

void reportNoBus() {
    if (cModbus::instance == nullptr) {
        std::cout << "No bus interface (start tesmar with -h <host> or -d <device>)" << std::endl;
    } else {
        std::cout << "No bus interface (the library refused the bus settings)" << std::endl;
    }
}

}  // namespace

cTerminal::cTerminal() : cOrvel("cTerminal"), prompt("modbus$>"), console(prompt) {
    // At a terminal, Ctrl-C ends a request's wait, and so do the signals that end the session.
    if (console.atTerminal() && cModbus::instance != nullptr) {
        cModbus::instance->setWaitBreak(console.waitBreak());
    }
    std::cout << std::endl;
    console.showPrompt();
}

bool cTerminal::processLine() {
    std::string line;
    const cConsole::Input input = console.readLine(line);
    if (input == cConsole::Input::failed) {
        input_failed = true;
        if (cModbus::instance != nullptr) {
            cModbus::instance->close();
        }
        return false;
    }
    if (input == cConsole::Input::end) {
        // Nothing more can arrive: end the prompt line and leave as quit does.
        std::cout << std::endl;
        quit();
        return false;
    }
    if (!dispatchCommand(line)) {
        return false;
    }
    console.settleCommand();
    std::cout << std::endl;
    return true;
}

// The words are views into the line, taken one at a time as they are applied, so a line of any
// length is not copied; only a write's values are held, at most 123 of them.
bool cTerminal::dispatchCommand(std::string_view line) {
    Words words(line);
    std::string_view command;
    if (!words.next(command)) {
        std::cout << "we nee a command OK" << std::endl;
        return true;
    }
    if (command == "rr") {
        std::cout << "Perform read register" << std::endl;
        applyParameters(words);
        readRegisters();
    } else if (command == "wr") {
        std::cout << "Perform write register" << std::endl;
        applyParameters(words);
        writeRegisters(words);
    } else if (command == "wb") {
        std::cout << "Perform write" << std::endl;
        applyParameters(words);
    } else if (command == "rb") {
        std::cout << "Perform read" << std::endl;
        applyParameters(words);
    } else if (command == "set") {
        std::cout << "Setting Parameters" << std::endl;
        applyParameters(words);
        params.showParameters();
    } else if (command == "show") {
        std::cout << "Setting Parameters" << std::endl;
        params.showParameters();
    } else if (command == "q" || command == "quit") {
        quit();
        return false;
    } else {
        std::cout << "Dunno about command '" << command << std::endl;
        if (console.atTerminal()) {
            std::cout << "Commands: " << commandWordList() << " (Tab completes them)" << std::endl;
        }
    }
    return true;
}

void cTerminal::quit() {
    std::cout << "Closing Bus interface..." << std::endl;
    std::cout << "Bye Bye" << std::endl;
    if (cModbus::instance != nullptr) {
        cModbus::instance->close();
    }
}

void cTerminal::applyParameters(Words words) {
    params.applyTokens(words, std::cout);
}

cTerminal::Prepared cTerminal::prepareRequest(cModbus& bus, bool write, int count,
                                              const std::string& withheld) {
    switch (bus.check(params.slave, write, params.function_code, count)) {
        case RequestCheck::slave_out_of_range:
            std::cout << "Slave " << unsigned(params.slave) << " refused: valid slave numbers are "
                      << bus.transport().slave_range << std::endl;
            return Prepared::refused;
        case RequestCheck::broadcast_read:
            std::cout << "Slave 0 refused: it is the broadcast address and no slave answers a "
                         "read from it (valid 1-247)"
                      << std::endl;
            return Prepared::refused;
        case RequestCheck::not_a_register_read:
            bus.error("Function code 0x%02X is not for reading registers", params.function_code);
            return Prepared::refused;
        case RequestCheck::too_many:
            return Prepared::too_many;
        case RequestCheck::ok:
            break;
    }
    if (bus.isBroadcast(params.slave) && !params.slaveIsTypedZero()) {
        const std::string chosen = params.slave_set.token.empty()
                                       ? "No slave chosen, and 0 is"
                                       : "Slave " + params.slave_set.token + " reads as 0,";
        std::cout << chosen
                  << " the broadcast address: nothing sent (type s=0 to write to every slave on "
                     "purpose)"
                  << std::endl;
        return Prepared::refused;
    }
    if (!withheld.empty()) {
        std::cout << withheld << std::endl;
        return Prepared::refused;
    }
    return bus.selectSlave(params.slave) ? Prepared::ready : Prepared::refused;
}

void cTerminal::reportBusStart(const cModbus& bus) {
    const std::string why = bus.startFailure();
    if (console.atTerminal() && !why.empty()) {
        std::cout << "The bus did not open: " << why << std::endl;
    }
}

void cTerminal::reportEcho(const cModbus& bus) {
    if (console.atTerminal() && !echo_told && bus.lineEchoes()) {
        echo_told = true;
        std::cout << "The line echoes every request (an RS-485 adapter that hears itself): the "
                     "echo is skipped"
                  << std::endl;
    }
}

void cTerminal::reportFailure(const char* request, const cModbus& bus) {
    if (console.atTerminal()) {
        std::cout << request << " failed: " << bus.lastFailure() << std::endl;
    }
}

void cTerminal::readRegisters() {
    std::memset(read_buffer, 0, sizeof read_buffer);
    cModbus* bus = usableBus();
    if (bus == nullptr) {
        reportNoBus();
        return;
    }
    std::cout << "Read a: " << params.address << std::endl;
    const Prepared prepared = prepareRequest(*bus, false, params.length);
    if (prepared != Prepared::ready) {
        if (prepared == Prepared::too_many) {
            reportFailure("Read", *bus);
        }
        return;
    }
    const int count =
        bus->readRegisters(params.function_code, params.address, params.length, read_buffer);
    reportEcho(*bus);
    // The bus never returns more registers than it asked for; the bounds keep the image safe.
    if (count < 1 || count > params.length || count > static_cast<int>(buffer_registers)) {
        if (count < 0) {
            reportFailure("Read", *bus);
        }
        return;
    }
    bus->debug("Received %d registers", count);

    unsigned char image[2 * buffer_registers];
    const std::size_t size = registerImage(read_buffer, count, image);
    dumpBytes("", image, static_cast<int>(size));
    std::fputs(registerViews(read_buffer, count).c_str(), stdout);
}

void cTerminal::writeRegisters(Words words) {
    const WriteCheck check = checkWrite(words, params);
    if (check.verdict == WriteCheck::Verdict::no_values) {
        std::cout << check.refusal << std::endl;
        return;
    }
    cModbus* bus = usableBus();
    if (bus == nullptr) {
        reportNoBus();
        return;
    }
    if (check.verdict == WriteCheck::Verdict::too_many) {
        std::cout << check.refusal << std::endl;
        return;
    }
    const std::vector<uint16_t>& values = check.values;
    std::cout << "Writing to " << params.address << ":" << std::endl;
    for (uint16_t value : values) {
        std::cout << "0x" << std::hex << value << std::dec << std::endl;
    }
    std::copy(values.begin(), values.end(), write_buffer);

    const int count = static_cast<int>(values.size());
    const Prepared prepared = prepareRequest(*bus, true, count, check.refusal);
    if (prepared == Prepared::refused) {
        return;
    }
    const bool may_go = prepared == Prepared::ready;
    if (bus->isBroadcast(params.slave)) {
        if (!may_go || bus->broadcastRegisters(params.address, count, write_buffer) < 0) {
            std::cout << "Broadcast could not be sent" << std::endl;
        } else {
            std::cout << "Broadcast to all slaves: no slave confirms a broadcast" << std::endl;
        }
        return;
    }
    const int written = may_go ? bus->writeRegisters(params.address, count, write_buffer) : -1;
    reportEcho(*bus);
    if (written < 0) {
        std::cout << "Write bombed" << std::endl;
        reportFailure("Write", *bus);
    } else {
        std::cout << "Sucessfully wrote " << written << " registers" << std::endl;
    }
}
