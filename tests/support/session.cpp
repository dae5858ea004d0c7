#include "tests/support/session.h"

ProcessResult runTesmar(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv{TESMAR_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, input);
}

std::string echoOf(const std::vector<std::string>& args) {
    std::string text = "argv[0]=\"" TESMAR_BINARY "\"\n";
    for (std::size_t i = 0; i < args.size(); ++i) {
        text += "argv[" + std::to_string(i + 1) + "]=\"" + args[i] + "\"\n";
    }
    return text;
}

std::string listing(unsigned slave, unsigned address, unsigned function_code, unsigned length) {
    return "Current Parameter settings:\n"
           "s=" +
           std::to_string(slave) +
           " (Slave Address)\n"
           "a=" +
           std::to_string(address) +
           " (I/O Address)\n"
           "p=" +
           std::to_string(address / 256) +
           " (I/O Page)\n"
           "o=" +
           std::to_string(address % 256) +
           " (I/O Offset)\n"
           "f=" +
           std::to_string(function_code) +
           " (Function Code)\n"
           "l=" +
           std::to_string(length) + " (Data Length)\n";
}

const std::string quit_lines = "Closing Bus interface...\nBye Bye\n";
const std::string prompt = "\nmodbus$>";
