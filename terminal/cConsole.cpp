#include "terminal/cConsole.h"

#include <langinfo.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "terminal/history_file.h"
#include "terminal/line_editor.h"

namespace {

// The signals that the terminal sends, or that end a session, handled while a line is edited;
// Ctrl-C and the endings also while a request waits.
const int editing_signals[] = {SIGINT, SIGTSTP, SIGCONT, SIGWINCH, SIGTERM, SIGHUP, SIGQUIT};
// Those that end the session, by their default action once the terminal's mode is back.
const int ending_signals[] = {SIGHUP, SIGTERM, SIGQUIT};

volatile std::sig_atomic_t arrived[NSIG] = {};

// Only notes the signal; what it asks for is done in normal code after the wait.
void noteSignal(int signal_number) {
    const int saved_errno = errno;
    arrived[signal_number] = 1;
    errno = saved_errno;
}

bool take(int signal_number) {
    if (arrived[signal_number] == 0) {
        return false;
    }
    arrived[signal_number] = 0;
    return true;
}

void setAction(int signal_number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);  // no SA_RESTART: the wait ends
}

// Whether a descriptor refers to a terminal that an operator types at.
bool terminal(int fd) {
    return ::isatty(fd) != 0;
}

void reportInputError(int error) {
    std::cout.flush();
    std::cerr << "tesmar: reading standard input failed: " << std::strerror(error) << std::endl;
}

// The console whose editor holds the terminal, given back when the process exits.
cConsole* holding_console = nullptr;

// The lines in bytes the terminal sent: CR, LF and CR LF each end one, and text after the last
// end is one more. Paste markers are not text.
std::size_t countLines(std::string bytes) {
    for (const char* marker : {"\033[200~", "\033[201~"}) {
        for (std::size_t at; (at = bytes.find(marker)) != std::string::npos;) {
            bytes.erase(at, std::strlen(marker));
        }
    }
    std::size_t lines = 0;
    bool text = false;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] == '\r' || bytes[at] == '\n') {
            lines += (bytes[at] == '\n' && at > 0 && bytes[at - 1] == '\r') ? 0 : 1;
            text = false;
        } else {
            text = true;
        }
    }
    return lines + (text ? 1 : 0);
}

}  // namespace

void cConsole::orderStandardStreams() {
    struct stat out = {}, err = {};
    if (!terminal(STDOUT_FILENO) && ::fstat(STDOUT_FILENO, &out) == 0 &&
        ::fstat(STDERR_FILENO, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino) {
        std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    }
}

cConsole::cConsole(const std::string& prompt_text) : prompt(prompt_text) {
    sigemptyset(&caught);
    sigemptyset(&request_mask);
    at_terminal = terminal(STDIN_FILENO) && terminal(STDOUT_FILENO);
    if (!at_terminal) {
        return;
    }
    // The handlers come before the editor takes the terminal into its mode.
    catchSignals();
    // Characters as the operator's locale encodes them, so that one UTF-8 character is one
    // character to edit. Only the character type: numbers and the C++ streams stay classic.
    // The C locale's ASCII would make libedit take each byte of a UTF-8 character for a Meta
    // key, so there UTF-8 is read, as terminals send it.
    std::setlocale(LC_CTYPE, "");
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    editor = cLineEditor::open(prompt, *this);
    if (editor == nullptr) {
        std::setlocale(LC_CTYPE, "C");  // lines are read as they come
        return;
    }
    // The editor keeps the terminal between lines too; an exit from anywhere gives it back.
    holding_console = this;
    static const bool registered =
        std::atexit([] {
            if (holding_console != nullptr && holding_console->editor != nullptr) {
                holding_console->editor->leaveTerminal();
            }
        }) == 0;
    (void)registered;
    history = std::make_unique<cHistoryFile>(cHistoryFile::pathFromEnvironment());
    for (const std::string& line : history->load()) {
        editor->remember(line);
    }
}

cConsole::~cConsole() {
    if (editor != nullptr) {
        editor->leaveTerminal();
    }
    holding_console = nullptr;
    editor.reset();
    releaseSignals();
}

void cConsole::catchSignals() {
    sigset_t blocked_before;
    sigprocmask(SIG_SETMASK, nullptr, &blocked_before);
    for (int signal_number : editing_signals) {
        struct sigaction before = {};
        sigaction(signal_number, nullptr, &before);
        // Ignored or blocked by whoever started tesmar (trap "" INT, nohup): left as it is.
        if (before.sa_handler == SIG_IGN || sigismember(&blocked_before, signal_number) == 1) {
            continue;
        }
        sigaddset(&caught, signal_number);
        setAction(signal_number, &noteSignal);
    }
    sigprocmask(SIG_BLOCK, &caught, &request_mask);
    // A request lets in Ctrl-C and the endings; a stop or a resize waits for the prompt.
    for (int signal_number : {SIGTSTP, SIGCONT, SIGWINCH}) {
        if (sigismember(&caught, signal_number) == 1) {
            sigaddset(&request_mask, signal_number);
        }
    }
    catching = true;
}

void cConsole::releaseSignals() {
    if (!catching) {
        return;
    }
    for (int signal_number : editing_signals) {
        if (sigismember(&caught, signal_number) == 1) {
            setAction(signal_number, SIG_DFL);
        }
    }
    sigprocmask(SIG_UNBLOCK, &caught, nullptr);
    sigemptyset(&caught);
    catching = false;
}

void cConsole::takeDefaultAction(int signal_number) {
    if (editor != nullptr) {
        editor->leaveTerminal();
    }
    std::cout.flush();
    setAction(signal_number, SIG_DFL);
    raise(signal_number);
    sigset_t let_in;
    sigemptyset(&let_in);
    sigaddset(&let_in, signal_number);
    if (sigismember(&caught, SIGCONT) == 1) {
        sigaddset(&let_in, SIGCONT);
    }
    sigprocmask(SIG_UNBLOCK, &let_in, nullptr);
    sigprocmask(SIG_BLOCK, &let_in, nullptr);
    setAction(signal_number, &noteSignal);
    take(SIGCONT);
}

void cConsole::takeEndings() {
    for (int ending : ending_signals) {
        if (take(ending)) {
            takeDefaultAction(ending);
            std::_Exit(128 + ending);  // not reached: the default action ends the process
        }
    }
}

bool cConsole::takeNoted(Wake& wake) {
    takeEndings();
    if (take(SIGTSTP)) {
        // Back here after fg: the editor takes the terminal's mode afresh, with any stty
        // changes made while stopped.
        takeDefaultAction(SIGTSTP);
        if (editor != nullptr) {
            editor->takeTerminal();
        }
        wake = Wake::resumed;
        return true;
    }
    if (take(SIGCONT)) {
        // Stopped from elsewhere (SIGSTOP) and continued: the editor's mode may be gone.
        if (editor != nullptr) {
            editor->leaveTerminal();
            editor->takeTerminal();
        }
        wake = Wake::resumed;
        return true;
    }
    if (take(SIGINT)) {
        wake = Wake::interrupt;
        return true;
    }
    if (take(SIGWINCH)) {
        wake = Wake::resize;
        return true;
    }
    return false;
}

cConsole::Wake cConsole::waitForKey() {
    for (;;) {
        Wake wake = Wake::input;
        if (takeNoted(wake)) {
            return wake;
        }
        if (!held.empty()) {
            return Wake::input;
        }
        // The caught signals can arrive only inside this wait.
        sigset_t open_mask;
        sigprocmask(SIG_SETMASK, nullptr, &open_mask);
        for (int signal_number : editing_signals) {
            if (sigismember(&caught, signal_number) == 1) {
                sigdelset(&open_mask, signal_number);
            }
        }
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = ::ppoll(&input, 1, nullptr, &open_mask);
        const int wait_error = errno;
        if (takeNoted(wake)) {
            return wake;
        }
        if (ready > 0 || (ready < 0 && wait_error != EINTR)) {
            return Wake::input;  // the read that follows tells an error or the end
        }
    }
}

ssize_t cConsole::holdRead() {
    char bytes[4096];
    const ssize_t got = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (got > 0) {
        held.emplace_back(bytes, static_cast<std::size_t>(got));
    }
    return got;
}

int cConsole::readByte(unsigned char& byte, bool& alone) {
    if (held.empty()) {
        const ssize_t got = holdRead();
        if (got <= 0) {
            return got == 0 ? 0 : -1;
        }
        held_used = 0;
    }
    const std::string& first = held.front();
    byte = static_cast<unsigned char>(first[held_used++]);
    alone = first.size() == 1;
    if (held_used == first.size()) {
        held.pop_front();
        held_used = 0;
    }
    return 1;
}

void cConsole::drainInput() {
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        // At the end or an error the editor's own read tells which.
        if (::poll(&input, 1, 0) <= 0 || (input.revents & POLLIN) == 0 || holdRead() <= 0) {
            return;
        }
    }
}

void cConsole::dropUnrunLines() {
    drainInput();
    std::string bytes = editor->forgetInput();
    for (std::string& read : held) {
        bytes += read.substr(&read == &held.front() ? held_used : 0);
    }
    held.clear();
    held_used = 0;
    const std::size_t lines = countLines(bytes);
    if (lines > 0) {
        std::cout << "Ctrl-C: dropped " << lines << (lines == 1 ? " line" : " lines")
                  << " not yet run" << std::endl;
    }
}

void cConsole::notePending() {
    sigset_t pending;
    sigpending(&pending);
    const timespec now = {0, 0};
    for (int signal_number : editing_signals) {
        if (sigismember(&caught, signal_number) == 1 && sigismember(&pending, signal_number) == 1) {
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signal_number);
            if (::sigtimedwait(&one, nullptr, &now) == signal_number) {
                arrived[signal_number] = 1;
            }
        }
    }
}

bool cConsole::stopRequest(void* context) {
    cConsole& self = *static_cast<cConsole*>(context);
    self.takeEndings();
    if (take(SIGINT)) {
        self.interrupted = true;
        return true;
    }
    return false;
}

WaitBreak cConsole::waitBreak() {
    WaitBreak wait;
    if (catching) {
        wait.open_mask = &request_mask;
        wait.stop = &stopRequest;
        wait.context = this;
    }
    return wait;
}

void cConsole::refuseLongLine() {
    std::cout.flush();
    std::cerr << "tesmar: reading standard input failed: a line is longer than 16 MiB" << std::endl;
    std::exit(1);
}

void cConsole::settleCommand() {
    if (editor == nullptr) {
        return;
    }
    // The terminal's queue moves on, so that a Ctrl-C behind a paste is seen.
    drainInput();
    notePending();
    if (take(SIGINT) || interrupted) {
        interrupted = false;
        dropUnrunLines();
    }
}

void cConsole::showPrompt() {
    if (editor == nullptr && !prompt_shown) {
        std::cout << prompt;  // flushed by the next read, as standard input is tied to it
        prompt_shown = true;
    }
}

cConsole::Input cConsole::readLine(std::string& line) {
    if (editor == nullptr) {
        return at_terminal ? readTyped(line) : readPlain(line);
    }
    for (;;) {
        switch (editor->readLine(line)) {
            case cLineEditor::Outcome::line:
                if (line.find_first_not_of(" \t\n\v\f\r") != std::string::npos) {
                    editor->remember(line);
                    history->add(line);
                }
                return Input::line;
            case cLineEditor::Outcome::cancelled:
                continue;  // the line is dropped; a fresh prompt follows
            case cLineEditor::Outcome::end:
                return Input::end;
            case cLineEditor::Outcome::failed:
                reportInputError(errno);
                return Input::failed;
        }
    }
}

// Lines typed at a terminal without the editor, as the terminal's own line editing hands them
// over. Ctrl-C drops the line typed so far (the terminal has dropped it already).
cConsole::Input cConsole::readTyped(std::string& line) {
    showPrompt();
    prompt_shown = false;
    std::cout.flush();
    for (;;) {
        if (typed_ended) {
            return Input::end;
        }
        const std::size_t end = typed.find('\n');
        if (end != std::string::npos) {
            line.assign(typed, 0, end);
            typed.erase(0, end + 1);
            return Input::line;
        }
        if (typed.size() > longest_line) {
            refuseLongLine();
        }
        const Wake wake = waitForKey();
        if (wake == Wake::interrupt) {
            typed.clear();
            std::cout << std::endl << prompt << std::flush;
        }
        if (wake != Wake::input) {
            continue;
        }
        char bytes[4096];
        const ssize_t got = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (got > 0) {
            typed.append(bytes, static_cast<std::size_t>(got));
        } else if (got == 0) {
            // Ctrl-D: the end, after any line typed without its newline.
            typed_ended = true;
            if (!typed.empty()) {
                line.swap(typed);
                typed.clear();
                return Input::line;
            }
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            reportInputError(errno);
            return Input::failed;
        }
    }
}

// Lines as standard input gives them: piped, from a file, or from a terminal while standard
// output is not one. A descriptor left non-blocking is waited on; only the end of input ends the
// lines.
cConsole::Input cConsole::readPlain(std::string& line) {
    showPrompt();
    prompt_shown = false;
    line.clear();
    // Read from its buffer, to bound the line; the prompt goes out first through the tie, as
    // for std::getline.
    if (std::cin.tie() != nullptr) {
        std::cin.tie()->flush();
    }
    std::streambuf& input = *std::cin.rdbuf();
    for (;;) {
        errno = 0;
        int c = input.sbumpc();
        for (; c != EOF && c != '\n'; c = input.sbumpc()) {
            line += static_cast<char>(c);
            if (line.size() > longest_line) {
                refuseLongLine();
            }
        }
        const int read_error = errno;
        if (c == '\n') {
            return Input::line;
        }
        // std::cin reads through the C library's standard input, whose error flag tells a
        // failed read from the end.
        if (!std::ferror(stdin)) {
            return line.empty() ? Input::end : Input::line;
        }
        std::clearerr(stdin);
        if (read_error != EAGAIN && read_error != EWOULDBLOCK && read_error != EINTR) {
            reportInputError(read_error);
            return Input::failed;
        }
        pollfd input_ready = {STDIN_FILENO, POLLIN, 0};
        while (::poll(&input_ready, 1, -1) < 0 && errno == EINTR) {
        }
    }
}
