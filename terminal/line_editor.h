#pragma once

#include <memory>
#include <string>

// Where the command loop's lines come from. At a terminal (standard input and output both
// terminals, and a TERM that can be driven) lines are edited with history and completion;
// everywhere else they are read from std::cin exactly as typed or piped.
class cEditedLines;

class cLineEditor {
public:
    // Chooses, once, the source for this process's standard streams; prompt is shown by the
    // editor for each line it reads.
    explicit cLineEditor(const std::string& prompt);
    ~cLineEditor();

    // Reads the next line, without its newline, into line; false when no line can be read.
    bool readLine(std::string& line);

private:
    std::unique_ptr<cEditedLines> editor;  // none: plain lines from std::cin
};
