#include "cOrvel.h"

#include <unistd.h>
#include <cstdarg>
#include <cstdio>

#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/Layout.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/Priority.hh>

namespace {

// "LEVEL category: message", one line.
class LineLayout : public log4cpp::Layout {
public:
    std::string format(const log4cpp::LoggingEvent& event) override {
        const std::string& level = log4cpp::Priority::getPriorityName(event.priority);
        std::string line;
        line.reserve(level.size() + event.categoryName.size() + event.message.size() + 4);
        line.append(level).append(" ").append(event.categoryName).append(": ");
        line.append(event.message).append("\n");
        return line;
    }
};

// Whether standard output is a terminal, where log lines must not overtake its pending text.
bool output_on_terminal = false;

}  // namespace

void cOrvel::init(OrvelPiority threshold) {
    output_on_terminal = ::isatty(STDOUT_FILENO) != 0;
    // Straight to the descriptor, one write a line: through std::cerr, every log line would
    // first flush the operator's output, which is tied to it, even into a pipe or a file.
    auto* appender = new log4cpp::FileAppender("stderr", ::dup(STDERR_FILENO));
    appender->setLayout(new LineLayout());

    log4cpp::Category& root = log4cpp::Category::getRoot();
    root.removeAllAppenders();
    root.addAppender(appender);
    root.setPriority(static_cast<log4cpp::Priority::Value>(threshold));
}

cOrvel::cOrvel(const char* category_name)
    : category(&log4cpp::Category::getInstance(category_name)) {}

// Categories inherit the root's threshold and appender, so one check and one layout serve all.
void cOrvel::logv(int priority, const char* format, va_list args) {
    if (category->isPriorityEnabled(priority)) {
        if (output_on_terminal) {
            std::fflush(stdout);  // e.g. the prompt, written just before the bus starts
        }
        category->logva(priority, format, args);
    }
}

#define ORVEL_FORWARD(priority)   \
    va_list args;                 \
    va_start(args, format);       \
    logv(priority, format, args); \
    va_end(args)

void cOrvel::info(const char* format, ...) {
    ORVEL_FORWARD(log4cpp::Priority::INFO);
}

void cOrvel::debug(const char* format, ...) {
    ORVEL_FORWARD(log4cpp::Priority::DEBUG);
}

void cOrvel::error(const char* format, ...) {
    ORVEL_FORWARD(log4cpp::Priority::ERROR);
}
