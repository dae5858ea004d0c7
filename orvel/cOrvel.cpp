#include "orvel/cOrvel.h"

#include <cstdarg>
#include <iostream>

#include <log4cpp/Category.hh>
#include <log4cpp/Layout.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/OstreamAppender.hh>
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

}  // namespace

void cOrvel::init(OrvelPiority threshold) {
    // std::cerr is tied to std::cout, which shares its buffer with the C library's standard
    // output: a log line first flushes what was written there before it, so in any capture
    // of both it never overtakes that output.
    auto* appender = new log4cpp::OstreamAppender("stderr", &std::cerr);
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
