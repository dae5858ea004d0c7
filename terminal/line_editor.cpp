#include "terminal/line_editor.h"

#include <histedit.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

#include "terminal/RequestParams.h"

// Last: curses defines macros with everyday names (lines, columns).
#include <term.h>

namespace {

const std::vector<std::string> command_words{"rr", "wr", "wb", "rb", "set", "show", "q", "quit"};
const std::vector<std::string> parameter_tags = [] {
    std::vector<std::string> tags = RequestParams::tagNames();
    for (std::string& tag : tags) {
        tag += '=';
    }
    return tags;
}();
const char white_space[] = " \t\n\v\f\r";

// What Tab can put in place of the word that ends at the end of before_cursor: command words
// for the first word, parameter tags after it. word_length is set to the length of that word.
std::vector<std::string> completionChoices(const std::string& before_cursor,
                                           std::size_t& word_length) {
    const std::size_t last_blank = before_cursor.find_last_of(white_space);
    const std::size_t word_start = last_blank == std::string::npos ? 0 : last_blank + 1;
    const std::string word = before_cursor.substr(word_start);
    word_length = word.size();
    const bool first_word = before_cursor.find_first_not_of(white_space) >= word_start;
    std::vector<std::string> choices;
    for (const std::string& candidate : first_word ? command_words : parameter_tags) {
        if (candidate.compare(0, word.size(), word) == 0) {
            choices.push_back(candidate);
        }
    }
    return choices;
}

// The longest text that every choice starts with.
std::string commonPrefix(const std::vector<std::string>& choices) {
    if (choices.empty()) {
        return "";
    }
    std::string prefix = choices[0];
    for (const std::string& choice : choices) {
        std::size_t same = 0;
        while (same < prefix.size() && same < choice.size() && prefix[same] == choice[same]) {
            ++same;
        }
        prefix.resize(same);
    }
    return prefix;
}

// What redrawing after a resize sends to the terminal.
struct CursorMoves {
    std::string up;
    std::string clear_below;
};

// The terminal's mode as tesmar found it, put back before a signal ends or stops the process.
termios found_mode;
// Set by the signals that ask for the line to be drawn again.
volatile std::sig_atomic_t window_resized = 0;
volatile std::sig_atomic_t continued = 0;

// The signals handled while a line is edited, when the terminal is in the editor's mode.
const int editing_signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT, SIGWINCH};

void onEditingSignal(int signal_number);

void catchSignal(int signal_number, struct sigaction* before) {
    struct sigaction action = {};
    action.sa_handler = &onEditingSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, before);  // no SA_RESTART: a read waiting for a key ends
}

// Interrupt, quit, hang-up and stop keep their default action, with the terminal's own mode
// back first; the process carries on here only after a stop.
void onEditingSignal(int signal_number) {
    if (signal_number == SIGWINCH) {
        window_resized = 1;
        return;
    }
    if (signal_number != SIGCONT) {
        tcsetattr(STDIN_FILENO, TCSADRAIN, &found_mode);
        signal(signal_number, SIG_DFL);
        sigset_t just_this;
        sigemptyset(&just_this);
        sigaddset(&just_this, signal_number);
        raise(signal_number);
        sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
        catchSignal(signal_number, nullptr);
    }
    continued = 1;
}

}  // namespace

// libedit on the terminal: emacs keys, history for this session only, Tab completion.
class cEditedLines {
public:
    cEditedLines(EditLine* editor, const std::string& prompt_text, const CursorMoves& moves)
        : el(editor), history_list(history_init()), prompt(prompt_text), cursor_moves(moves) {
        HistEvent event;
        history(history_list, &event, H_SETSIZE, 1000);
        history(history_list, &event, H_SETUNIQUE, 1);  // no immediate repeats

        el_set(el, EL_CLIENTDATA, this);
        el_set(el, EL_PROMPT, &promptOf);
        el_set(el, EL_EDITOR, "emacs");
        el_set(el, EL_HIST, history, history_list);
        el_set(el, EL_GETCFN, &readKey);
        el_set(el, EL_ADDFN, "tesmar-complete", "Complete a command word or a parameter tag",
               &complete);
        el_set(el, EL_BIND, "^I", "tesmar-complete", nullptr);
        el_set(el, EL_ADDFN, "tesmar-eof-or-delete", "End of input on an empty line", &endOrDelete);
        el_set(el, EL_BIND, "^D", "tesmar-eof-or-delete", nullptr);
        // The keys as readline users know them; libedit's emacs map differs on these.
        el_set(el, EL_BIND, "^R", "em-inc-search-prev", nullptr);
        el_set(el, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
        el_set(el, EL_BIND, "^U", "vi-kill-line-prev", nullptr);
        // Home, End and Delete as the common terminals send them, whatever TERM says.
        for (const char* home : {"\033[1~", "\033[7~", "\033[H", "\033OH"}) {
            el_set(el, EL_BIND, home, "ed-move-to-beg", nullptr);
        }
        for (const char* end : {"\033[4~", "\033[8~", "\033[F", "\033OF"}) {
            el_set(el, EL_BIND, end, "ed-move-to-end", nullptr);
        }
        el_set(el, EL_BIND, "\033[3~", "ed-delete-next-char", nullptr);
    }

    ~cEditedLines() {
        el_end(el);
        history_end(history_list);
    }

    bool readLine(std::string& line) {
        // The editor's mode before its prompt shows, so that keys typed at the prompt reach the
        // editor (libedit itself draws the prompt first). The loop has written its prompt
        // already; the editor draws its own over it.
        el_set(el, EL_PREP_TERM, 1);
        std::cout << '\r' << std::flush;

        struct sigaction before[std::size(editing_signals)];
        for (std::size_t i = 0; i < std::size(editing_signals); ++i) {
            catchSignal(editing_signals[i], &before[i]);
        }
        int count = 0;
        const char* text = el_gets(el, &count);
        // Outside the editor the signals act as they did: a resize, say, must not interrupt the
        // bus's waits.
        for (std::size_t i = 0; i < std::size(editing_signals); ++i) {
            sigaction(editing_signals[i], &before[i], nullptr);
        }

        if (text == nullptr || count <= 0) {
            return false;
        }
        line.assign(text, static_cast<std::size_t>(count));
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        if (line.find_first_not_of(white_space) != std::string::npos) {
            HistEvent event;
            history(history_list, &event, H_ENTER, line.c_str());
        }
        return true;
    }

private:
    static cEditedLines* of(EditLine* editor) {
        void* self = nullptr;
        el_get(editor, EL_CLIENTDATA, &self);
        return static_cast<cEditedLines*>(self);
    }

    static char* promptOf(EditLine* editor) {
        return const_cast<char*>(of(editor)->prompt.c_str());
    }

    // One key from the terminal; a resize redraws the line at the new width.
    static int readKey(EditLine* editor, wchar_t* key) {
        for (;;) {
            unsigned char byte = 0;
            const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
            if (got == 1) {
                *key = static_cast<wchar_t>(byte);
                return 1;
            }
            if (got == 0) {
                return 0;
            }
            if (errno != EINTR) {
                return -1;
            }
            if (continued != 0) {
                // Back from a stop: the editor's mode again (the operator may have changed the
                // terminal's settings meanwhile), and the line drawn anew.
                continued = 0;
                el_set(editor, EL_PREP_TERM, 0);
                el_set(editor, EL_PREP_TERM, 1);
                el_set(editor, EL_REFRESH);
            }
            if (window_resized != 0) {
                window_resized = 0;
                of(editor)->redrawResized();
            }
        }
    }

    // Ctrl-D: on an empty line the end of input, as at a terminal without the editor (libedit
    // would echo "^D" first); elsewhere it deletes the character under the cursor.
    static unsigned char endOrDelete(EditLine* editor, int) {
        const LineInfo* info = el_line(editor);
        if (info->buffer == info->lastchar) {
            return CC_EOF;
        }
        if (info->cursor == info->lastchar) {
            return CC_ERROR;
        }
        el_cursor(editor, 1);
        el_deletestr(editor, 1);
        return CC_REFRESH;
    }

    // Most terminals rewrap the edited line to the new width: back to where it starts, clear
    // below, and draw it afresh.
    void redrawResized() {
        el_resize(el);
        int width = 0;
        el_get(el, EL_GETTC, "co", &width);
        const LineInfo* info = el_line(el);
        const std::size_t before_cursor =
            prompt.size() + static_cast<std::size_t>(info->cursor - info->buffer);
        std::fputs("\r", stdout);
        for (std::size_t row = before_cursor / static_cast<std::size_t>(std::max(width, 1));
             row > 0; --row) {
            tputs(cursor_moves.up.c_str(), 1, &std::putchar);
        }
        tputs(cursor_moves.clear_below.c_str(), 1, &std::putchar);
        el_set(el, EL_REFRESH);
    }

    static unsigned char complete(EditLine* editor, int) { return of(editor)->completeWord(); }

    // Tab: completes the word before the cursor as far as the choices agree; a second Tab on
    // the same text lists them.
    unsigned char completeWord() {
        const LineInfo* info = el_line(el);
        const std::string before(info->buffer,
                                 static_cast<std::size_t>(info->cursor - info->buffer));
        const std::string state(info->buffer,
                                static_cast<std::size_t>(info->lastchar - info->buffer));
        const bool again = state == last_tab_text && before.size() == last_tab_cursor;

        std::size_t word_length = 0;
        const std::vector<std::string> choices = completionChoices(before, word_length);
        unsigned char outcome = CC_REFRESH_BEEP;
        if (choices.size() == 1) {
            // A command word is followed by its arguments, a tag by its value.
            const std::string& choice = choices[0];
            const bool tag = choice.back() == '=';
            el_insertstr(el, (choice.substr(word_length) + (tag ? "" : " ")).c_str());
            outcome = CC_REFRESH;
        } else if (!choices.empty()) {
            const std::string prefix = commonPrefix(choices);
            if (prefix.size() > word_length) {
                el_insertstr(el, prefix.substr(word_length).c_str());
                outcome = CC_REFRESH;
            } else if (again) {
                std::string list = "\n";
                for (const std::string& choice : choices) {
                    list += choice + (&choice == &choices.back() ? "\n" : "  ");
                }
                std::fputs(list.c_str(), stdout);
                outcome = CC_REDISPLAY;
            }
        }
        const LineInfo* after = el_line(el);
        last_tab_text.assign(after->buffer,
                             static_cast<std::size_t>(after->lastchar - after->buffer));
        last_tab_cursor = static_cast<std::size_t>(after->cursor - after->buffer);
        return outcome;
    }

    EditLine* el;
    History* history_list;
    std::string prompt;
    std::string last_tab_text;
    std::size_t last_tab_cursor = std::string::npos;
    CursorMoves cursor_moves;
};

namespace {

// Whether the TERM names a terminal that libedit can move the cursor on; anything else (unset,
// dumb, unknown) would have it complain on standard error and draw badly.
bool drivableTerminal(CursorMoves& moves) {
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) {
        return false;
    }
    int status = 0;
    if (setupterm(term, STDOUT_FILENO, &status) != 0) {  // 0 is curses' OK
        return false;
    }
    // One column left, one row up, clear to the end of the screen.
    const char* needed[] = {tigetstr("cub1"), tigetstr("cuu1"), tigetstr("ed")};
    for (const char* capability : needed) {
        if (capability == nullptr || capability == reinterpret_cast<char*>(-1)) {
            return false;
        }
    }
    moves.up = needed[1];
    moves.clear_below = needed[2];
    return true;
}

}  // namespace

cLineEditor::cLineEditor(const std::string& prompt) {
    CursorMoves moves;
    if (::isatty(STDIN_FILENO) != 0 && ::isatty(STDOUT_FILENO) != 0 && drivableTerminal(moves) &&
        tcgetattr(STDIN_FILENO, &found_mode) == 0) {
        if (EditLine* el = el_init("tesmar", stdin, stdout, stderr)) {
            editor = std::make_unique<cEditedLines>(el, prompt, moves);
        }
    }
}

cLineEditor::~cLineEditor() = default;

// Without the editor, lines are read as the standard input gives them: piped, from a file, or
// typed on a terminal that cannot be driven.
bool cLineEditor::readLine(std::string& line) {
    if (editor != nullptr) {
        return editor->readLine(line);
    }
    return static_cast<bool>(std::getline(std::cin, line));
}
