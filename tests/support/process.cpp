#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <regex>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv, int in_fd, int out_fd, int err_fd) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        // Only the three standard descriptors go to the child.
        for (int fd = 3; fd < 1024; ++fd) {
            close(fd);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void fillStatus(int status, ProcessResult& result) {
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::milliseconds timeout) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC)) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = spawn(argv, in_pipe[0], out_pipe[1], err_pipe[1]);
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);

    ProcessResult result;
    std::size_t written = 0;
    int in_fd = in_pipe[1];
    if (input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    int open_outputs = 2;
    while (open_outputs > 0) {
        pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
        const int ready = poll(fds, in_fd >= 0 ? 3 : 2, remainingMs(deadline));
        if (ready == 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        std::string* sinks[2] = {&result.out, &result.err};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char chunk[65536];
                const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
                if (got > 0) {
                    sinks[i]->append(chunk, static_cast<std::size_t>(got));
                } else {
                    close(fds[i].fd);
                    (i == 0 ? out_pipe[0] : err_pipe[0]) = -1;
                    --open_outputs;
                }
            }
        }
        if (in_fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t put = write(in_fd, input.data() + written, input.size() - written);
            if (put > 0) {
                written += static_cast<std::size_t>(put);
            }
            if (put < 0 || written == input.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
    }
    for (int fd : {in_fd, out_pipe[0], err_pipe[0]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    fillStatus(status, result);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv) {
    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC)) {
        throw std::runtime_error("pipe failed");
    }
    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    child = spawn(argv, null_fd, out_pipe[1], 2);
    close(null_fd);
    close(out_pipe[1]);
    out_fd = out_pipe[0];
}

BackgroundProcess::~BackgroundProcess() {
    stop();
}

std::string BackgroundProcess::readLine(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (pending.find('\n') == std::string::npos && out_fd >= 0) {
        pollfd fd = {out_fd, POLLIN, 0};
        if (poll(&fd, 1, remainingMs(deadline)) <= 0) {
            return "";
        }
        char chunk[4096];
        const ssize_t got = read(out_fd, chunk, sizeof chunk);
        if (got <= 0) {
            close(out_fd);
            out_fd = -1;
            break;
        }
        pending.append(chunk, static_cast<std::size_t>(got));
    }
    const std::size_t end = pending.find('\n');
    if (end == std::string::npos) {
        return "";
    }
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    return line;
}

int BackgroundProcess::stop() {
    if (child <= 0) {
        return -1;
    }
    kill(child, SIGTERM);
    int status = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        usleep(10000);
    }
    child = -1;
    if (out_fd >= 0) {
        close(out_fd);
        out_fd = -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string withoutLibraryTrace(const std::string& transcript) {
    static const std::regex trace(
        "Connecting to [^\n]*\n|Bytes flushed \\([0-9]+\\)\n|Waiting for a confirmation\\.\\.\\.\n|"
        "(\\[[0-9A-F]{2}\\])+\n|(<[0-9A-F]{2}>)+\n");
    return std::regex_replace(transcript, trace, "");
}

TempDir::TempDir() {
    char pattern[] = "/tmp/tesmar-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
