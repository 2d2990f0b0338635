#include "log_capture.h"

#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <utility>

namespace tav::test {

class RecordingSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<LogRecord> records()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override
    {
        records_.push_back(LogRecord{msg.level, std::string(msg.payload.data(), msg.payload.size()),
                                     msg.source.filename != nullptr ? msg.source.filename : "", msg.source.line,
                                     msg.source.funcname != nullptr ? msg.source.funcname : ""});
    }

    void flush_() override {}

private:
    std::vector<LogRecord> records_;
};

LogCapture::LogCapture()
    : sink_(std::make_shared<RecordingSink>()),
      logger_(std::make_shared<spdlog::logger>("capture", sink_)),
      previous_(spdlog::default_logger())
{
    logger_->set_level(spdlog::level::trace);
    spdlog::set_default_logger(logger_);
}

LogCapture::~LogCapture() { spdlog::set_default_logger(previous_); }

std::vector<LogRecord> LogCapture::records() const { return sink_->records(); }

void LogCapture::addSink(std::shared_ptr<spdlog::sinks::sink> sink) { logger_->sinks().push_back(std::move(sink)); }

std::vector<LogRecord> LogCapture::records(spdlog::level::level_enum level) const
{
    std::vector<LogRecord> all = sink_->records();
    std::vector<LogRecord> selected;
    std::copy_if(all.begin(), all.end(), std::back_inserter(selected),
                 [level](const LogRecord& record) { return record.level == level; });
    return selected;
}

void LogCapture::clear() { sink_->clear(); }

void LogCapture::setLevel(spdlog::level::level_enum level) { logger_->set_level(level); }

}  // namespace tav::test
