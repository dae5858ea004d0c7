#pragma once

#include <memory>
#include <string>

class cConsole;
struct EditLibrary;
struct EditorState;

// Lines edited at the terminal with libedit: emacs keys, history, Tab completion, bracketed
// paste. libedit is loaded only when an editor is opened, so a piped run maps none of it.
class cLineEditor {
public:
    enum class Outcome { line, cancelled, end, failed };

    // The editor on this process's terminal, or null when libedit cannot be loaded (said on
    // standard error) or the TERM names no terminal that it can drive. It waits for keys
    // through the console.
    static std::unique_ptr<cLineEditor> open(const std::string& prompt, cConsole& console);
    ~cLineEditor();

    // Draws the prompt and reads one line, without its newline. cancelled: Ctrl-C dropped it;
    // failed: reading the terminal failed (errno tells why).
    Outcome readLine(std::string& line);
    // Adds a line to the history that Up and Ctrl-R search.
    void remember(const std::string& line);

    // Puts back the terminal's own mode, while stopped or before the process ends.
    void leaveTerminal();
    // Takes the editor's mode afresh from the terminal's settings and draws the line again.
    void takeTerminal();
    // Forgets what was read ahead and not yet edited; returns its bytes.
    std::string forgetInput();

private:
    explicit cLineEditor(std::unique_ptr<EditorState> editor_state);

    std::unique_ptr<EditorState> state;
};

// The command words, as Tab completes them, for the line that names them.
std::string commandWordList();
