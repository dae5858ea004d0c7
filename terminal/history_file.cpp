#include "terminal/history_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The reason for errno, as the warning gives it.
std::string because(int error) {
    return std::string(": ") + std::strerror(error);
}

// Writes all of text; false with errno set when it cannot.
bool writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t now = ::write(fd, text.data() + done, text.size() - done);
        if (now < 0 && errno != EINTR) {
            return false;
        }
        done += now > 0 ? static_cast<std::size_t>(now) : 0;
    }
    return true;
}

// The folder held locked while it lives, so that sessions write the file one at a time.
// A folder whose lock another program keeps past a second is given up, so that it cannot hold
// tesmar; a folder that cannot be opened is written without the lock.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        for (int tries = 0; fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0; ++tries) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                break;
            }
            if (tries == 100) {
                held = false;
                break;
            }
            ::usleep(10000);
        }
    }
    // False when another program kept the lock.
    bool taken() const { return held; }
    ~FolderLock() {
        if (fd >= 0) {
            ::close(fd);  // lets the lock go
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd;
    bool held = true;
};

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

cHistoryFile::cHistoryFile(std::string file_path)
    : path(std::move(file_path)), usable(!path.empty()) {}

std::vector<std::string> cHistoryFile::load() {
    std::vector<std::string> lines;
    unsigned mode = 0;
    if (!usable || readFile(lines, mode) != Read::lines) {
        return {};
    }
    last_added = lines.empty() ? "" : lines.back();  // not written twice in a row
    return lines;
}

cHistoryFile::Read cHistoryFile::readFile(std::vector<std::string>& lines, unsigned& mode) {
    lines.clear();
    // Neither a planted symlink nor a FIFO or device with nothing to say can hold tesmar.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return Read::missing;
        }
        warn(errno == ELOOP ? std::string("is not a regular file of this user")
                            : "cannot be read" + because(errno));
        return Read::refused;
    }
    struct stat file = {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_uid != ::geteuid()) {
        ::close(fd);
        warn("is not a regular file of this user");
        return Read::refused;
    }
    mode = file.st_mode & 0777;
    const off_t skipped = file.st_size > static_cast<off_t>(read_bytes)
                              ? file.st_size - static_cast<off_t>(read_bytes)
                              : 0;
    std::string text(static_cast<std::size_t>(file.st_size - skipped), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t now =
            ::pread(fd, &text[got], text.size() - got, skipped + static_cast<off_t>(got));
        if (now < 0 && errno == EINTR) {
            continue;
        }
        if (now <= 0) {
            if (now < 0) {
                const int error = errno;
                ::close(fd);
                warn("cannot be read" + because(error));
                return Read::refused;
            }
            break;
        }
        got += static_cast<std::size_t>(now);
    }
    ::close(fd);
    text.resize(got);
    // From the middle of the file, the first line is cut: it goes.
    std::size_t start = skipped > 0 ? text.find('\n') : 0;
    start = start == std::string::npos ? text.size() : start + (skipped > 0 ? 1 : 0);
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    if (lines.size() > kept_lines) {
        lines.erase(lines.begin(), lines.end() - kept_lines);
    }
    return Read::lines;
}

void cHistoryFile::add(const std::string& line) {
    if (!usable || line == last_added) {
        return;
    }
    last_added = line;
    if (!makeFolders(path)) {
        warn("cannot be written" + because(errno));
        return;
    }
    const FolderLock lock(folderOf(path));
    if (!lock.taken()) {
        warn("stays locked by another program");
        return;
    }
    std::vector<std::string> lines;
    unsigned mode = 0600;  // a file that tesmar makes
    const Read read = readFile(lines, mode);
    if (read == Read::refused) {
        return;
    }
    lines.push_back(line);
    if (lines.size() > kept_lines) {
        lines.erase(lines.begin(), lines.end() - kept_lines);
    }
    if (!writeFile(lines, mode)) {
        warn("cannot be written" + because(errno));
    }
}

// Writes the lines to a new file beside the old one and puts it in its place, so that a failed
// write leaves the old file whole. The new file keeps the old one's mode.
bool cHistoryFile::writeFile(const std::vector<std::string>& lines, unsigned mode) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::string text;
    for (const std::string& kept : lines) {
        text += kept + '\n';
    }
    bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, text);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    error = written ? errno : error;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}

void cHistoryFile::warn(const std::string& why) {
    if (usable) {
        usable = false;
        std::cout.flush();
        std::cerr << "tesmar: history file " << path << " " << why
                  << "; history is kept for this session only" << std::endl;
    }
}
