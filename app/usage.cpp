#include "app/usage.h"

#include <iostream>

std::string usageText() {
    return "tesmar - Modbus command line interface\n"
           "Usage: tesmar [-? -p <port> -h <host> -d <device> -c <serconf]\n"
           "\n"
           "-?\tShows this help message\n"
           "-p\tTCP port number default is 502\n"
           "-h\tTCP Host\n"
           "-d\tDevice Filename for RTU connection\n"
           "-b\tRTU Baud Rate default 19200\n"
           "-c\tSerial Port Character format string. Default is 8N1\n";
}

void printUsage() {
    std::cout << usageText() << std::flush;
}
