// Captures what the library writes to spdlog's default logger, for assertions on records.
#pragma once

#include <spdlog/spdlog.h>

#include <memory>
#include <string>
#include <vector>

namespace tav::test {

struct LogRecord {
    spdlog::level::level_enum level;
    std::string text;
    std::string file;
    int line;
    std::string function;
};

class RecordingSink;

// While alive, the default logger is one that records every message at every level.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const;
    std::vector<LogRecord> records(spdlog::level::level_enum level) const;
    void clear();
    // The level of the capturing logger (trace by default).
    void setLevel(spdlog::level::level_enum level);
    // Another sink of the capturing logger, written after the recording one.
    void addSink(std::shared_ptr<spdlog::sinks::sink> sink);

private:
    std::shared_ptr<RecordingSink> sink_;
    std::shared_ptr<spdlog::logger> logger_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace tav::test
