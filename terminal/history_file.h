#pragma once

#include <string>
#include <vector>

// The lines entered at the terminal, kept in a file across sessions: the last 1000. Only a
// regular file of this user is used; anything else, or a file that cannot be read or written,
// gives one warning on standard error, and the session goes on with its history in memory only.
class cHistoryFile {
public:
    static constexpr std::size_t kept_lines = 1000;
    // The most of the file that is read: its end, far more than 1000 typed lines.
    static constexpr std::size_t read_bytes = 4 << 20;

    // The file that TESMAR_HISTFILE names (empty: none), else $XDG_STATE_HOME/tesmar/history,
    // else ~/.local/state/tesmar/history; "" when history is kept in memory only.
    static std::string pathFromEnvironment();

    explicit cHistoryFile(std::string file_path);

    // The lines the file holds, oldest first, at most kept_lines.
    std::vector<std::string> load();
    // Adds an entered line to the file, after the lines other sessions have added meanwhile.
    void add(const std::string& line);

private:
    enum class Read { lines, missing, refused };
    // Reads the file's last lines into lines; refused after the warning.
    Read readFile(std::vector<std::string>& lines, unsigned& mode);
    bool writeFile(const std::vector<std::string>& lines, unsigned mode);
    void warn(const std::string& why);

    std::string path;
    std::string last_added;
    bool usable = true;
};
