#pragma once

#include <deque>
#include <string>
#include <vector>

// The lines entered at the terminal, kept in a file across sessions: the last 1000, in a file of
// mode 0600. A file that cannot be read or written gives one warning on standard error; the
// session goes on with its history in memory only.
class cHistoryFile {
public:
    static constexpr std::size_t kept_lines = 1000;

    // The file that TESMAR_HISTFILE names (empty: none), else $XDG_STATE_HOME/tesmar/history,
    // else ~/.local/state/tesmar/history; "" when history is kept in memory only.
    static std::string pathFromEnvironment();

    explicit cHistoryFile(std::string file_path);

    // The lines the file holds, oldest first, at most kept_lines.
    std::vector<std::string> load();
    // Adds an entered line and writes the file anew.
    void add(const std::string& line);

private:
    void warn(const char* what, int error);

    std::string path;
    std::deque<std::string> lines;
    bool warned = false;
};
