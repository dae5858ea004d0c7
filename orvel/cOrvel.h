#pragma once

#include <cstdarg>

namespace log4cpp {
class Category;
}

// A named, levelled, printf-style logger. Objects that derive from it log under their own category.
class cOrvel {
public:
    // log4cpp's numeric priority scale: a lower value is more severe.
    enum OrvelPiority {
        FATAL = 0,
        ALERT = 100,
        CRIT = 200,
        ERROR = 300,
        WARN = 400,
        NOTICE = 500,
        INFO = 600,
        DEBUG = 700,
        NOTSET = 800,
    };

    // Sets the threshold and routes every category to standard error.
    static void init(OrvelPiority threshold);

    explicit cOrvel(const char* category_name);

    void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    void logv(int priority, const char* format, va_list args);

    log4cpp::Category* category;
};
