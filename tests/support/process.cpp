#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <regex>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

// Forks are taken under this lock, and so is every descriptor that cannot be made close-on-exec
// as it is created, so that no child of another thread inherits it.
std::mutex fork_lock;

// Everything a child needs, made before the fork: between fork() and exec the child of a
// threaded process may only make async-signal-safe calls, and an allocation there can wait
// forever on a lock that another thread held at the fork.
struct ChildPlan {
    std::vector<std::string> argv_text;
    std::vector<std::string> env_text;
    std::vector<char*> argv;
    std::vector<char*> envp;
    int in = -1, out = -1, err = -1;
    int controlling = -1;  // >= 0: the child leads a session with this terminal
    bool interrupt_ignored = false;
    int max_fd = 1024;

    ChildPlan(std::vector<std::string> args, std::vector<std::string> environment)
        : argv_text(std::move(args)), env_text(std::move(environment)) {
        for (std::string& arg : argv_text) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        for (std::string& entry : env_text) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        const long open_max = sysconf(_SC_OPEN_MAX);
        max_fd = open_max > 0 && open_max < 65536 ? static_cast<int>(open_max) : 65536;
    }
};

// This process's environment as NAME=value entries.
std::vector<std::string> currentEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

// In the child: async-signal-safe calls only, then exec or _exit.
[[noreturn]] void becomeChild(const ChildPlan& plan) {
    if (plan.controlling >= 0) {
        setsid();
        ioctl(plan.controlling, TIOCSCTTY, 0);
    }
    if (plan.interrupt_ignored) {
        signal(SIGINT, SIG_IGN);
    }
    dup2(plan.in, 0);
    dup2(plan.out, 1);
    dup2(plan.err, 2);
    // Only the three standard descriptors go to the child.
    for (int fd = 3; fd < plan.max_fd; ++fd) {
        close(fd);
    }
    execve(plan.argv[0], plan.argv.data(), plan.envp.data());
    _exit(127);
}

pid_t forkChild(const ChildPlan& plan) {
    const std::lock_guard<std::mutex> forking(fork_lock);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        becomeChild(plan);
    }
    return pid;
}

pid_t spawn(const std::vector<std::string>& argv, int in_fd, int out_fd, int err_fd) {
    ChildPlan plan(argv, currentEnvironment());
    plan.in = in_fd;
    plan.out = out_fd;
    plan.err = err_fd;
    return forkChild(plan);
}

void fillStatus(int status, ProcessResult& result) {
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads what fd has into sink; false at the deadline or at the end of the output, where fd is
// closed and set to -1.
bool fillFrom(int& fd, std::string& sink, Clock::time_point deadline) {
    pollfd ready = {fd, POLLIN, 0};
    if (fd < 0 || poll(&ready, 1, remainingMs(deadline)) <= 0) {
        return false;
    }
    char chunk[65536];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) {
        close(fd);
        fd = -1;
        return false;
    }
    sink.append(chunk, static_cast<std::size_t>(got));
    return true;
}

// Reads fd into pending until the marker has come, and takes all up to and including it (all
// of pending when it does not come).
std::string readThrough(int& fd, std::string& pending, const std::string& marker,
                        std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (pending.find(marker) == std::string::npos && fillFrom(fd, pending, deadline)) {
    }
    const std::size_t found = pending.find(marker);
    const std::size_t end = found == std::string::npos ? pending.size() : found + marker.size();
    std::string text = pending.substr(0, end);
    pending.erase(0, end);
    if (found == std::string::npos) {
        ADD_FAILURE() << "\"" << marker << "\" did not come within " << timeout.count()
                      << " ms; what came:\n"
                      << text;
    }
    return text;
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
    int in_pipe[2], out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC)) {
        throw std::runtime_error("pipe failed");
    }
    signal(SIGPIPE, SIG_IGN);
    child = spawn(argv, in_pipe[0], out_pipe[1], 2);
    close(in_pipe[0]);
    close(out_pipe[1]);
    in_fd = in_pipe[1];
    out_fd = out_pipe[0];
}

BackgroundProcess::~BackgroundProcess() {
    stop();
}

std::string BackgroundProcess::readUntil(const std::string& marker,
                                         std::chrono::milliseconds timeout) {
    return readThrough(out_fd, pending, marker, timeout);
}

std::string BackgroundProcess::readLine(std::chrono::milliseconds timeout) {
    std::string line = readUntil("\n", timeout);
    if (line.empty() || line.back() != '\n') {
        pending.insert(0, line);
        return "";
    }
    line.pop_back();
    return line;
}

void BackgroundProcess::send(const std::string& text) {
    if (in_fd >= 0 && write(in_fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("could not write to the child");
    }
}

int BackgroundProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (child <= 0) {
        return -1;
    }
    int status = 0;
    const Clock::time_point deadline = Clock::now() + timeout;
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
        usleep(5000);
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        status = -1;
    }
    child = -1;
    for (int* fd : {&in_fd, &out_fd}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

int BackgroundProcess::finish(std::chrono::milliseconds timeout) {
    if (in_fd >= 0) {
        close(in_fd);
        in_fd = -1;
    }
    // Keep draining so a child blocked on a full pipe can still end.
    const Clock::time_point deadline = Clock::now() + timeout;
    while (fillFrom(out_fd, pending, deadline)) {
    }
    return waitForExit(timeout);
}

int BackgroundProcess::stop() {
    if (child > 0) {
        kill(child, SIGTERM);
    }
    return waitForExit(std::chrono::seconds(5));
}

TerminalProcess::TerminalProcess(const std::vector<std::string>& argv, Wiring wiring,
                                 const std::string& term, const TerminalStart& start) {
    // No history file of the account running the tests, unless a test names where to keep one.
    bool names_history = false;
    for (const std::string& entry : start.environment) {
        for (const char* history_name : {"TESMAR_HISTFILE=", "XDG_STATE_HOME=", "HOME="}) {
            names_history = names_history || entry.rfind(history_name, 0) == 0;
        }
    }
    std::vector<std::string> environment;
    const auto set = [&environment](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        environment.erase(
            std::remove_if(environment.begin(), environment.end(),
                           [&name](const std::string& kept) { return kept.rfind(name, 0) == 0; }),
            environment.end());
        environment.push_back(entry);
    };
    for (const std::string& entry : currentEnvironment()) {
        const bool replaced =
            entry.rfind("TERM=", 0) == 0 || entry.rfind("TESMAR_HISTFILE=", 0) == 0;
        if (!replaced) {
            environment.push_back(entry);
        }
    }
    if (!term.empty()) {
        set("TERM=" + term);
    }
    if (!names_history) {
        set("TESMAR_HISTFILE=");
    }
    for (const std::string& entry : start.environment) {
        set(entry);
    }
    ChildPlan plan(argv, environment);

    winsize size = {};
    size.ws_row = 24;
    size.ws_col = 80;
    int pipe_ends[2] = {-1, -1};
    {
        // openpty cannot make its descriptors close-on-exec: no fork until they are.
        const std::lock_guard<std::mutex> opening(fork_lock);
        if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
            throw std::runtime_error("openpty failed");
        }
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    if (wiring != Wiring::both && pipe2(pipe_ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    signal(SIGPIPE, SIG_IGN);
    if (start.non_blocking) {
        // The flag belongs to the open terminal, which the child shares.
        fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    }
    plan.in = wiring == Wiring::input_from_pipe ? pipe_ends[0] : slave;
    plan.out = wiring == Wiring::output_to_pipe ? pipe_ends[1] : slave;
    // With input piped, standard error stays off the terminal so its output is the tool's alone.
    plan.err = wiring == Wiring::input_from_pipe ? open("/dev/null", O_WRONLY | O_CLOEXEC) : slave;
    plan.controlling = slave;
    plan.interrupt_ignored = start.interrupt_ignored;
    settings_at_start = sttySettings();

    child = forkChild(plan);
    if (wiring == Wiring::input_from_pipe) {
        close(plan.err);
        close(pipe_ends[0]);
        in_fd = pipe_ends[1];
        out_fd = master;
    } else if (wiring == Wiring::output_to_pipe) {
        close(pipe_ends[1]);
        in_fd = master;
        out_fd = pipe_ends[0];
    } else {
        in_fd = master;
        out_fd = master;
    }
}

TerminalProcess::~TerminalProcess() {
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    for (int fd : {in_fd, out_fd == in_fd ? -1 : out_fd, slave}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void TerminalProcess::type(const std::string& keys) {
    if (write(in_fd, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
        throw std::runtime_error("could not type at the child");
    }
}

void TerminalProcess::closeInput() {
    if (in_fd != master) {
        close(in_fd);
        in_fd = -1;
    }
}

std::string TerminalProcess::readUntil(const std::string& marker,
                                       std::chrono::milliseconds timeout) {
    return readThrough(out_fd, pending, marker, timeout);
}

ProcessResult TerminalProcess::finish(std::chrono::milliseconds timeout) {
    ProcessResult result;
    const Clock::time_point deadline = Clock::now() + timeout;
    int status = 0;
    pid_t done = 0;
    // The terminal stays open here, so its output has no end: read until the child is gone.
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
        fillFrom(out_fd, pending, std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
    }
    if (done == 0) {
        result.timed_out = true;
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    child = -1;
    while (fillFrom(out_fd, pending, Clock::now())) {
    }
    fillStatus(status, result);
    result.out = std::move(pending);
    pending.clear();
    return result;
}

std::string TerminalProcess::sttySettings() const {
    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t stty = spawn({"/bin/stty", "-g"}, slave, out_pipe[1], 2);
    close(out_pipe[1]);
    std::string settings;
    int fd = out_pipe[0];
    while (fillFrom(fd, settings, Clock::now() + std::chrono::seconds(10))) {
    }
    waitpid(stty, nullptr, 0);
    return settings;
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
