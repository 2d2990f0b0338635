// Collects what the codec-header loader reports at error level ("Cannot load libnvcuvid.so.1"), so that the
// probe can show it beside the binding's own error.
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <mutex>
#include <string>

namespace tav::probe {

class LoaderMessages : public spdlog::sinks::base_sink<std::mutex> {
public:
    // The messages recorded since the last call, without their trailing newlines, joined by "; ".
    std::string take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string taken;
        taken.swap(messages_);
        return taken;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& message) override
    {
        if (message.level < spdlog::level::err) {
            return;
        }
        std::string text(message.payload.data(), message.payload.size());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        messages_ += (messages_.empty() ? "" : "; ") + text;
    }

    void flush_() override {}

private:
    std::string messages_;
};

}  // namespace tav::probe
