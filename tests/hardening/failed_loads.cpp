#include "failed_loads.h"

#include "process_resources.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

namespace tav::test {

namespace {

// The first failures pay for what a process sets up once: the loader's error buffer, function-local statics.
constexpr int warmUpAttempts = 16;
constexpr int measuredAttempts = 10000;

// Silences the default logger, so that ten thousand failures are not written out. The error records are still
// built, as they always are; only the sink is spared.
class QuietLogger {
public:
    QuietLogger() : level_(spdlog::default_logger_raw()->level())
    {
        spdlog::default_logger_raw()->set_level(spdlog::level::off);
    }
    ~QuietLogger() { spdlog::default_logger_raw()->set_level(level_); }
    QuietLogger(const QuietLogger&) = delete;
    QuietLogger& operator=(const QuietLogger&) = delete;

private:
    spdlog::level::level_enum level_;
};

}  // namespace

void expectFailedLoadsReleaseEverything(const std::string& libraryFile,
                                        const std::function<tav::nvidia::Result()>& attempt)
{
    const QuietLogger quiet;
    for (int i = 0; i < warmUpAttempts; ++i) {
        ASSERT_TRUE(attempt().has_error());
    }
    // Reading the resources sets up what reading them needs, once.
    processResources(libraryFile);
    const ProcessResources before = processResources(libraryFile);
    for (int i = 0; i < measuredAttempts; ++i) {
        if (!attempt().has_error()) {
            FAIL() << "attempt " << i << " loaded the library";
        }
    }
    const ProcessResources after = processResources(libraryFile);
    EXPECT_EQ(before, after) << "before: " << describe(before) << "; after: " << describe(after);
    EXPECT_EQ(after.libraryMappings, 0u);
}

}  // namespace tav::test
