#include <cstdlib>
#include <iostream>

#include "app/options.h"
#include "app/standard_streams.h"
#include "app/usage.h"
#include "bus/cModbus.h"
#include "orvel/cOrvel.h"
#include "terminal/cTerminal.h"

int main(int argc, char** argv) {
    openMissingStandardDescriptors();
    cConsole::orderStandardStreams();
    cOrvel::init(cOrvel::OrvelPiority(700));

    for (int i = 0; i < argc; ++i) {
        std::cout << "argv[" << i << "]=\"" << argv[i] << "\"" << std::endl;
    }

    const StartupSettings settings = parseOptions(argc, argv);
    if (settings.show_usage) {
        printUsage();
        std::exit(0);
    }

    if (settings.host != nullptr) {
        if (cModbus::instance == nullptr) {
            cModbus::instance = new cModbus(settings.host, settings.port);
        }
    } else if (settings.device != nullptr) {
        if (cModbus::instance == nullptr) {
            cModbus::instance = new cModbus(settings.device, settings.baud, settings.format);
        }
    } else {
        std::cout << "Need to pick RTU or TCP" << std::endl;
    }

    if (cTerminal::instance == nullptr) {
        cTerminal::instance = new cTerminal();
    }
    if (cModbus::instance != nullptr) {
        cModbus::instance->start();
        cTerminal::instance->reportBusStart(*cModbus::instance);
    }

    while (cTerminal::instance->processLine()) {
    }
    const int output_status = outputStatus();
    std::exit(cTerminal::instance->inputFailed() ? 1 : output_status);
}
