#include "app/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <iostream>

void openMissingStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        // open takes the lowest free descriptor, which is this one as all below it are open.
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) {
            std::_Exit(1);
        }
    }
}

int outputStatus() {
    // std::cout shares the C library's buffer of standard output, whose error flag thus covers
    // both.
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good()) {
        return 0;
    }
    std::cerr << "tesmar: writing standard output failed: output was lost" << std::endl;
    return 1;
}
