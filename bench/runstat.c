/* Runs a command and writes its wall time and peak resident size to a file, so that the
 * command's own standard streams stay free for what is measured.
 *
 *   runstat RESULT_FILE COMMAND [ARG...]
 *
 * RESULT_FILE gets one line: "<wall microseconds> <peak RSS KiB>". The exit status is the
 * command's (128 + signal if it was killed). */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long nowMicros(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s RESULT_FILE COMMAND [ARG...]\n", argv[0]);
        return 2;
    }
    const long long started = nowMicros();
    const pid_t child = fork();
    if (child < 0) {
        perror("runstat: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        perror("runstat: exec");
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) < 0) {
        perror("runstat: wait4");
        return 2;
    }
    const long long wall = nowMicros() - started;

    FILE* result = fopen(argv[1], "w");
    if (result == NULL) {
        perror("runstat: result file");
        return 2;
    }
    fprintf(result, "%lld %ld\n", wall, usage.ru_maxrss);
    fclose(result);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
