#include "terminal/history_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace {

// Makes each missing folder of the path up to its last slash, with mode 0700.
bool makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string cHistoryFile::pathFromEnvironment() {
    if (const char* named = std::getenv("TESMAR_HISTFILE")) {
        return named;
    }
    // XDG wants an absolute path; a relative one is ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/tesmar/history";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.local/state/tesmar/history";
    }
    return "";
}

cHistoryFile::cHistoryFile(std::string file_path) : path(std::move(file_path)) {}

std::vector<std::string> cHistoryFile::load() {
    if (path.empty()) {
        return {};
    }
    std::ifstream file(path);
    if (!file.is_open()) {
        if (errno != ENOENT) {
            warn("cannot be read", errno);
        }
        return {};
    }
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
        if (lines.size() > kept_lines) {
            lines.pop_front();
        }
    }
    if (file.bad()) {
        warn("cannot be read", errno);
    }
    return {lines.begin(), lines.end()};
}

void cHistoryFile::add(const std::string& line) {
    if (path.empty() || (!lines.empty() && lines.back() == line)) {
        return;
    }
    lines.push_back(line);
    if (lines.size() > kept_lines) {
        lines.pop_front();
    }
    std::string text;
    for (const std::string& kept : lines) {
        text += kept + '\n';
    }
    const int fd = makeFolders(path)
                       ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)
                       : -1;
    bool written = fd >= 0 && ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t now = ::write(fd, text.data() + done, text.size() - done);
        written = now > 0 || (now < 0 && errno == EINTR);
        done += now > 0 ? static_cast<std::size_t>(now) : 0;
    }
    const int error = errno;
    if (fd >= 0 && ::close(fd) != 0 && written) {
        written = false;
    }
    if (!written) {
        warn("cannot be written", error);
    }
}

void cHistoryFile::warn(const char* what, int error) {
    if (!warned) {
        warned = true;
        std::cout.flush();
        std::cerr << "tesmar: history file " << path << " " << what << ": " << std::strerror(error)
                  << "; history is kept for this session only" << std::endl;
    }
}
