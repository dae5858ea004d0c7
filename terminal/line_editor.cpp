#include "terminal/line_editor.h"

#include <dlfcn.h>
#include <histedit.h>
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <iostream>
#include <vector>

#include "terminal/RequestParams.h"
#include "terminal/cConsole.h"
#include "terminal/history_file.h"

// Last: curses defines macros with everyday names (lines, columns).
#include <term.h>

// libedit's and terminfo's functions, looked up when the first editor opens. libedit brings
// libtinfo, libbsd and libmd with it; a run without an editor maps none of them.
struct EditLibrary {
    decltype(&::el_init) el_init;
    decltype(&::el_end) el_end;
    decltype(&::el_set) el_set;
    decltype(&::el_get) el_get;
    decltype(&::el_wgets) el_wgets;  // wide: undecodable bytes come back as they came
    decltype(&::el_line) el_line;
    decltype(&::el_insertstr) el_insertstr;
    decltype(&::el_deletestr) el_deletestr;
    decltype(&::el_cursor) el_cursor;
    decltype(&::el_resize) el_resize;
    decltype(&::history_init) history_init;
    decltype(&::history_end) history_end;
    decltype(&::history) history;
    decltype(&::setupterm) setupterm;
    decltype(&::tigetstr) tigetstr;
    decltype(&::tputs) tputs;
};

namespace {

template <typename Function>
bool lookUp(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

// libedit's and terminfo's functions, or null and why not.
struct LoadedLibrary {
    const EditLibrary* functions;
    std::string why_not;
};

// Loaded once and kept for the life of the process; null when a library or one of its functions
// is missing.
const LoadedLibrary& loadedLibrary() {
    static const LoadedLibrary loaded = []() -> LoadedLibrary {
        void* edit = ::dlopen("libedit.so.2", RTLD_NOW | RTLD_LOCAL);
        void* tinfo = edit != nullptr ? ::dlopen("libtinfo.so.6", RTLD_NOW | RTLD_LOCAL) : nullptr;
        static EditLibrary lib;
        if (tinfo == nullptr || !lookUp(edit, "el_init", lib.el_init) ||
            !lookUp(edit, "el_end", lib.el_end) || !lookUp(edit, "el_set", lib.el_set) ||
            !lookUp(edit, "el_get", lib.el_get) || !lookUp(edit, "el_wgets", lib.el_wgets) ||
            !lookUp(edit, "el_line", lib.el_line) ||
            !lookUp(edit, "el_insertstr", lib.el_insertstr) ||
            !lookUp(edit, "el_deletestr", lib.el_deletestr) ||
            !lookUp(edit, "el_cursor", lib.el_cursor) ||
            !lookUp(edit, "el_resize", lib.el_resize) ||
            !lookUp(edit, "history_init", lib.history_init) ||
            !lookUp(edit, "history_end", lib.history_end) ||
            !lookUp(edit, "history", lib.history) || !lookUp(tinfo, "setupterm", lib.setupterm) ||
            !lookUp(tinfo, "tigetstr", lib.tigetstr) || !lookUp(tinfo, "tputs", lib.tputs)) {
            // The failed dlopen or dlsym says which library or function.
            const char* why = ::dlerror();
            return {nullptr, why != nullptr ? why : "libedit.so.2 could not be loaded"};
        }
        return {&lib, ""};
    }();
    return loaded;
}

// The functions, loaded on first use; null when they cannot be.
const EditLibrary* editLibrary() {
    return loadedLibrary().functions;
}

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

// What the terminal is sent to redraw after a resize, and to switch bracketed paste on and off
// (empty where its terminfo entry has none).
struct TerminalStrings {
    std::string up;
    std::string clear_below;
    std::string paste_on;
    std::string paste_off;
};

// The string of a terminfo capability, or "" when the terminal lacks it.
std::string capability(const EditLibrary& lib, const char* name) {
    const char* value = lib.tigetstr(const_cast<char*>(name));
    return (value == nullptr || value == reinterpret_cast<char*>(-1)) ? "" : value;
}

// Whether term names a terminal that libedit can move the cursor on; anything else (unknown, or
// lacking a capability) would have it complain on standard error and draw badly.
bool drivableTerminal(const char* term, const EditLibrary& lib, TerminalStrings& strings) {
    int status = 0;
    if (lib.setupterm(term, STDOUT_FILENO, &status) != 0) {  // 0 is curses' OK
        return false;
    }
    // One column left, one row up, clear to the end of the screen.
    if (capability(lib, "cub1").empty() || capability(lib, "cuu1").empty() ||
        capability(lib, "ed").empty()) {
        return false;
    }
    strings = {capability(lib, "cuu1"), capability(lib, "ed"), capability(lib, "BE"),
               capability(lib, "BD")};
    return true;
}

// The columns text takes on the screen, in the locale's encoding: a wide character takes two,
// a combining one none. A byte that starts no character counts as one column.
std::size_t screenColumns(const std::string& text) {
    std::mbstate_t shift = {};
    std::size_t taken = 0;
    for (std::size_t at = 0; at < text.size();) {
        wchar_t decoded = 0;
        const std::size_t used = std::mbrtowc(&decoded, &text[at], text.size() - at, &shift);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
            shift = {};
            ++taken;
            ++at;
            continue;
        }
        taken += static_cast<std::size_t>(std::max(::wcwidth(decoded), 0));
        at += std::max<std::size_t>(used, 1);
    }
    return taken;
}

// A byte that is not a character of the locale's encoding stands in the edited line for itself
// as one of these (lone surrogates, which no decoding gives), and goes back to the byte.
const wchar_t byte_as_key = 0xDC00;

bool standsForByte(wchar_t key) {
    return key >= byte_as_key && key <= byte_as_key + 0xFF;
}

// The bytes of an edited line: characters in the locale's encoding, undecodable bytes as they
// came.
std::string bytesOf(const wchar_t* text, int count) {
    std::string bytes;
    std::mbstate_t shift = {};
    for (int at = 0; at < count; ++at) {
        if (standsForByte(text[at])) {
            bytes += static_cast<char>(text[at] - byte_as_key);
            continue;
        }
        char encoded[MB_LEN_MAX];
        const std::size_t used = std::wcrtomb(encoded, text[at], &shift);
        if (used != static_cast<std::size_t>(-1)) {
            bytes.append(encoded, used);
        }
    }
    return bytes;
}

const unsigned char escape = 0x1b;
// How long a paste marker's bytes may lag behind its escape.
const int marker_gap_ms = 100;
// What nextByte gives besides a byte.
enum : int { input_ended = -1, input_failed = -2, interrupted = -3 };

}  // namespace

std::string commandWordList() {
    std::string list;
    for (const std::string& word : command_words) {
        list += (list.empty() ? "" : " ") + word;
    }
    return list;
}

// libedit on the terminal: emacs keys, history, Tab completion, bracketed paste, and Ctrl-C that
// drops the line. Keys are read one byte at a time after the console's wait.
struct EditorState {
    EditorState(const EditLibrary& library, EditLine* editor, const std::string& prompt_text,
                const TerminalStrings& terminal_strings, cConsole& owner)
        : lib(library),
          el(editor),
          history_list(library.history_init()),
          prompt(prompt_text),
          strings(terminal_strings),
          console(owner) {
        HistEvent event;
        lib.history(history_list, &event, H_SETSIZE, static_cast<int>(cHistoryFile::kept_lines));
        lib.history(history_list, &event, H_SETUNIQUE, 1);  // no immediate repeats

        lib.el_set(el, EL_CLIENTDATA, this);
        lib.el_set(el, EL_PROMPT, &promptOf);
        lib.el_set(el, EL_EDITOR, "emacs");
        lib.el_set(el, EL_HIST, lib.history, history_list);
        lib.el_set(el, EL_GETCFN, &readKey);
        lib.el_set(el, EL_ADDFN, "tesmar-complete", "Complete a command word or a parameter tag",
                   &complete);
        lib.el_set(el, EL_BIND, "^I", "tesmar-complete", nullptr);
        lib.el_set(el, EL_ADDFN, "tesmar-eof-or-delete", "End of input on an empty line",
                   &endOrDelete);
        lib.el_set(el, EL_BIND, "^D", "tesmar-eof-or-delete", nullptr);
        lib.el_set(el, EL_ADDFN, "tesmar-cancel", "Drop the line", &cancel);
        lib.el_set(el, EL_BIND, "^C", "tesmar-cancel", nullptr);
        // The keys as readline users know them; libedit's emacs map differs on these.
        lib.el_set(el, EL_BIND, "^R", "em-inc-search-prev", nullptr);
        lib.el_set(el, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
        lib.el_set(el, EL_BIND, "^U", "vi-kill-line-prev", nullptr);
        // Home, End and Delete as the common terminals send them, whatever TERM says.
        for (const char* home : {"\033[1~", "\033[7~", "\033[H", "\033OH"}) {
            lib.el_set(el, EL_BIND, home, "ed-move-to-beg", nullptr);
        }
        for (const char* end : {"\033[4~", "\033[8~", "\033[F", "\033OF"}) {
            lib.el_set(el, EL_BIND, end, "ed-move-to-end", nullptr);
        }
        lib.el_set(el, EL_BIND, "\033[3~", "ed-delete-next-char", nullptr);
        // In the editor's mode Ctrl-C signals however much waits in the terminal's queue, and
        // the queue stays for tesmar to count what the Ctrl-C drops.
        lib.el_set(el, EL_SETTY, "-d", "+noflsh", nullptr);
    }

    ~EditorState() {
        lib.el_end(el);
        lib.history_end(history_list);
    }

    cLineEditor::Outcome readLine(std::string& line) {
        cancelled = false;
        read_error = 0;
        if (!holding) {
            hold();
        }
        int count = 0;
        const wchar_t* text = lib.el_wgets(el, &count);
        lib.el_set(el, EL_EDITMODE, 1);
        keepMode();  // should libedit have given back the terminal's own mode after all
        std::fflush(stdout);
        if (cancelled) {
            return cLineEditor::Outcome::cancelled;
        }
        if (text == nullptr || count <= 0) {
            errno = read_error;
            return read_error != 0 ? cLineEditor::Outcome::failed : cLineEditor::Outcome::end;
        }
        line = bytesOf(text, count);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        return cLineEditor::Outcome::line;
    }

    void remember(const std::string& line) {
        HistEvent event;
        lib.history(history_list, &event, H_ENTER, line.c_str());
    }

    void leaveTerminal() {
        std::fputs(strings.paste_off.c_str(), stdout);
        std::fflush(stdout);
        lib.el_set(el, EL_PREP_TERM, 0);
        holding = false;
    }

    void takeTerminal() {
        hold();
        lib.el_set(el, EL_REFRESH);
    }

    // What was read ahead and not yet edited, as the bytes came; it is forgotten, and so is a
    // paste that was under way.
    std::string forgetInput() {
        std::string bytes(lookahead.begin(), lookahead.end());
        lookahead.clear();
        decoded.clear();
        undecoded.clear();
        shift = {};
        pasting = false;
        last_pasted = 0;
        line_bytes = 0;
        return bytes;
    }

private:
    // The editor's mode, taken afresh from the terminal's settings, with bracketed paste on.
    void hold() {
        keepMode();
        std::fputs(strings.paste_on.c_str(), stdout);
        holding = true;
    }

    // The editor's mode; nothing to do while the terminal is in it.
    void keepMode() { lib.el_set(el, EL_PREP_TERM, 1); }

    static EditorState* of(EditLine* editor) {
        void* self = nullptr;
        editLibrary()->el_get(editor, EL_CLIENTDATA, &self);
        return static_cast<EditorState*>(self);
    }

    static char* promptOf(EditLine* editor) {
        return const_cast<char*>(of(editor)->prompt.c_str());
    }

    static int readKey(EditLine* editor, wchar_t* key) { return of(editor)->nextKey(*key); }

    // One character of the locale's encoding for libedit: 1, or 0 at the end of input, -1 when
    // reading failed. Bracketed paste's markers are taken out here; Ctrl-C comes as its key.
    int nextKey(wchar_t& key) {
        if (end_cancelled_line) {
            end_cancelled_line = false;
            key = L'\n';
            endingLine(true);
            return 1;
        }
        endingLine(false);
        while (decoded.empty()) {
            bool alone = false;
            const int byte = nextByte(alone);
            if (byte == interrupted) {
                key = 0x03;  // Ctrl-C, bound to tesmar-cancel
                return 1;
            }
            if (byte < 0) {
                return byte == input_ended ? 0 : -1;
            }
            if (byte == escape && follows("[200~")) {
                pasting = true;
                continue;
            }
            if (byte == escape && pasting && follows("[201~")) {
                pasting = false;
                continue;
            }
            // A pasted line end: CR, LF or CR LF each end one line.
            if (pasting && byte == '\n' && last_pasted == '\r') {
                last_pasted = 0;
                continue;
            }
            last_pasted = pasting ? byte : 0;
            line_bytes = (byte == '\r' || byte == '\n') ? 0 : line_bytes + 1;
            if (line_bytes > cConsole::longest_line) {
                leaveTerminal();
                cConsole::refuseLongLine();
            }
            // A Tab that came with other text, where the terminal does not bracket a paste, is
            // text too.
            tab_is_text = pasting || !alone;
            // Any other control character in a paste is text too, as it is piped, not a key
            // that edits the line.
            const bool control = byte < 0x20 || byte == 0x7f;
            if (pasting && control && byte != '\r' && byte != '\n' && byte != '\t') {
                decode(static_cast<char>(byte), true);
            } else {
                decode(static_cast<char>(byte));
            }
        }
        key = decoded.front();
        decoded.pop_front();
        endingLine(key == L'\n' || key == L'\r');
        return 1;
    }

    // libedit gives back the terminal's own mode after each line unless editing is off then: it
    // is off from a key that may end the line until the next key is asked for, so that the
    // editor's mode stays while the command runs, and what comes meanwhile is neither echoed
    // nor edited by the terminal.
    void endingLine(bool ending) { lib.el_set(el, EL_EDITMODE, ending ? 0 : 1); }

    // Takes a byte into the characters read: a whole character of the locale's encoding is
    // one key, and each byte that cannot be one is a key that stands for itself. literal: the
    // byte stands for itself whatever it is.
    void decode(char byte, bool literal = false) {
        if (literal) {
            for (const char before : undecoded + byte) {
                decoded.push_back(byte_as_key + static_cast<unsigned char>(before));
            }
            undecoded.clear();
            shift = {};
            return;
        }
        undecoded += byte;
        wchar_t character = 0;
        std::size_t used = std::mbrtowc(&character, &byte, 1, &shift);
        if (used == static_cast<std::size_t>(-2)) {
            return;  // more bytes of this character follow
        }
        if (used == static_cast<std::size_t>(-1)) {
            // The bytes before stand for themselves; this one may start a character afresh.
            shift = {};
            for (std::size_t at = 0; at + 1 < undecoded.size(); ++at) {
                decoded.push_back(byte_as_key + static_cast<unsigned char>(undecoded[at]));
            }
            undecoded = byte;
            used = std::mbrtowc(&character, &byte, 1, &shift);
            if (used == static_cast<std::size_t>(-2)) {
                return;
            }
            if (used == static_cast<std::size_t>(-1)) {
                shift = {};
                character = byte_as_key + static_cast<unsigned char>(byte);
            }
        }
        undecoded.clear();
        decoded.push_back(character);
    }

    // The next byte from the terminal, or what came instead; a resize redraws the line, a stop
    // and continue has the console redraw it through takeTerminal. alone: it came by itself.
    int nextByte(bool& alone) {
        alone = false;
        if (!lookahead.empty()) {
            const int byte = lookahead.front();
            lookahead.pop_front();
            return byte;
        }
        for (;;) {
            switch (console.waitForKey()) {
                case cConsole::Wake::interrupt:
                    return interrupted;
                case cConsole::Wake::resize:
                    redrawResized();
                    continue;
                case cConsole::Wake::resumed:
                    continue;
                case cConsole::Wake::input:
                    break;
            }
            unsigned char byte = 0;
            const int got = console.readByte(byte, alone);
            if (got == 1) {
                return byte;
            }
            if (got == 0) {
                return input_ended;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                read_error = errno;
                return input_failed;
            }
        }
    }

    // Whether the bytes after an escape are rest; if not, those read are read again later. A
    // terminal sends a marker at once, so a lone Esc (which leaves a history search) is not
    // held back waiting for more.
    bool follows(const char* rest) {
        std::deque<int> seen;
        for (const char* expected = rest; *expected != '\0'; ++expected) {
            pollfd input = {STDIN_FILENO, POLLIN, 0};
            if (lookahead.empty() && !console.inputHeld() &&
                ::poll(&input, 1, marker_gap_ms) <= 0) {
                lookahead.insert(lookahead.begin(), seen.begin(), seen.end());
                return false;
            }
            bool alone = false;
            const int byte = nextByte(alone);
            seen.push_back(byte);
            if (byte != static_cast<unsigned char>(*expected)) {
                lookahead.insert(lookahead.begin(), seen.begin(), seen.end());
                return false;
            }
        }
        return true;
    }

    // Ctrl-C: the line is shown with ^C at its end, ended, and dropped.
    static unsigned char cancel(EditLine* editor, int) {
        EditorState& self = *of(editor);
        const LineInfo* info = self.lib.el_line(editor);
        self.lib.el_cursor(editor, static_cast<int>(info->lastchar - info->cursor));
        self.lib.el_insertstr(editor, "^C");
        self.cancelled = true;
        self.end_cancelled_line = true;
        return CC_REFRESH;
    }

    // Ctrl-D: on an empty line the end of input, as at a terminal without the editor (libedit
    // would echo "^D" first); elsewhere it deletes the character under the cursor.
    static unsigned char endOrDelete(EditLine* editor, int) {
        const EditLibrary& lib = *editLibrary();
        const LineInfo* info = lib.el_line(editor);
        if (info->buffer == info->lastchar) {
            return CC_EOF;
        }
        if (info->cursor == info->lastchar) {
            return CC_ERROR;
        }
        lib.el_cursor(editor, 1);
        lib.el_deletestr(editor, 1);
        return CC_REFRESH;
    }

    // Most terminals rewrap the edited line to the new width: back to where it starts, clear
    // below, and draw it afresh.
    void redrawResized() {
        lib.el_resize(el);
        int width = 0;
        // The null ends the arguments, which older libedit reads until it finds one.
        lib.el_get(el, EL_GETTC, "co", &width, nullptr);
        const LineInfo* info = lib.el_line(el);
        const std::size_t before_cursor =
            screenColumns(prompt) +
            screenColumns(
                std::string(info->buffer, static_cast<std::size_t>(info->cursor - info->buffer)));
        std::fputs("\r", stdout);
        for (std::size_t row = before_cursor / static_cast<std::size_t>(std::max(width, 1));
             row > 0; --row) {
            lib.tputs(strings.up.c_str(), 1, &std::putchar);
        }
        lib.tputs(strings.clear_below.c_str(), 1, &std::putchar);
        lib.el_set(el, EL_REFRESH);
    }

    static unsigned char complete(EditLine* editor, int) { return of(editor)->completeWord(); }

    // Tab: completes the word before the cursor as far as the choices agree; a second Tab on
    // the same text lists them. A Tab inside pasted text is text.
    unsigned char completeWord() {
        if (tab_is_text) {
            lib.el_insertstr(el, "\t");
            return CC_REFRESH;
        }
        const LineInfo* info = lib.el_line(el);
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
            lib.el_insertstr(el, (choice.substr(word_length) + (tag ? "" : " ")).c_str());
            outcome = CC_REFRESH;
        } else if (!choices.empty()) {
            const std::string prefix = commonPrefix(choices);
            if (prefix.size() > word_length) {
                lib.el_insertstr(el, prefix.substr(word_length).c_str());
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
        const LineInfo* after = lib.el_line(el);
        last_tab_text.assign(after->buffer,
                             static_cast<std::size_t>(after->lastchar - after->buffer));
        last_tab_cursor = static_cast<std::size_t>(after->cursor - after->buffer);
        return outcome;
    }

    const EditLibrary& lib;
    EditLine* el;
    History* history_list;
    std::string prompt;
    TerminalStrings strings;
    cConsole& console;
    std::deque<int> lookahead;    // bytes read ahead to tell a paste marker from a key
    std::deque<wchar_t> decoded;  // keys decoded and not yet handed to libedit
    std::string undecoded;        // the bytes of a character so far
    std::mbstate_t shift = {};
    std::size_t line_bytes = 0;  // since the last line end
    bool holding = false;        // the terminal is in the editor's mode, with paste on
    bool tab_is_text = false;
    bool pasting = false;
    int last_pasted = 0;
    bool cancelled = false;
    bool end_cancelled_line = false;
    int read_error = 0;
    std::string last_tab_text;
    std::size_t last_tab_cursor = std::string::npos;
};

std::unique_ptr<cLineEditor> cLineEditor::open(const std::string& prompt, cConsole& console) {
    // No TERM, or dumb: nothing to drive, and no library to load.
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) {
        return nullptr;
    }
    const LoadedLibrary& loaded = loadedLibrary();
    if (loaded.functions == nullptr) {
        std::cerr << "tesmar: line editing is off: " << loaded.why_not << std::endl;
        return nullptr;
    }
    const EditLibrary* lib = loaded.functions;
    TerminalStrings strings;
    if (!drivableTerminal(term, *lib, strings)) {
        return nullptr;
    }
    EditLine* el = lib->el_init("tesmar", stdin, stdout, stderr);
    if (el == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<cLineEditor>(
        new cLineEditor(std::make_unique<EditorState>(*lib, el, prompt, strings, console)));
}

cLineEditor::cLineEditor(std::unique_ptr<EditorState> editor_state)
    : state(std::move(editor_state)) {}

cLineEditor::~cLineEditor() = default;

cLineEditor::Outcome cLineEditor::readLine(std::string& line) {
    return state->readLine(line);
}

void cLineEditor::remember(const std::string& line) {
    state->remember(line);
}

void cLineEditor::leaveTerminal() {
    state->leaveTerminal();
}

void cLineEditor::takeTerminal() {
    state->takeTerminal();
}

std::string cLineEditor::forgetInput() {
    return state->forgetInput();
}
