// A host whose sink throws something that is no std::exception, which spdlog passes on to its caller. Every record
// the library writes must keep that inside the library: errors are made in noexcept functions, and the loader's
// failure hook throws only std::bad_alloc.
#include "codecheaderloader.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include "alloc_failure.h"
#include "log_capture.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>

#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

using tav::test::LogCapture;

struct SinkFailure {};

class ThrowingSink : public spdlog::sinks::base_sink<std::mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg&) override { throw SinkFailure{}; }
    void flush_() override {}
};

// The capture records each record before the throwing sink sees it.
class ThrowingSinkHost : public ::testing::Test {
protected:
    ThrowingSinkHost() { capture.addSink(std::make_shared<ThrowingSink>()); }

    LogCapture capture;
};

struct Creation {
    const char* name;
    std::function<void()> make;
    // Records at these levels, in this order.
    std::vector<spdlog::level::level_enum> levels;
};

TEST_F(ThrowingSinkHost, ErrorsOfEveryDomainAreMadeAndTheirRecordsWritten)
{
    const boost::stacktrace::stacktrace noFrames(0, 0);
    const std::vector<Creation> creations = {
        {"dl",
         [&] {
             const system_error2::status_code<tav::nvidia::detail::dl_error_domain> code(
                 system_error2::in_place, "libcuda.so", "dlopen", nullptr, "not found", "host", 1, noFrames);
             EXPECT_EQ(code.message().c_str(), std::string("dlopen() failed: not found"));
         },
         {spdlog::level::debug}},
        {"cuda",
         [] {
             const tav::nvidia::Result result =
                 tav::nvidia::Cuda::instance().wrapResult(CUDA_ERROR_UNKNOWN, "host", 2);
             EXPECT_TRUE(result.has_error());
         },
         {spdlog::level::debug}},
        {"nvcodecheader",
         [&] {
             const system_error2::status_code<tav::nvidia::detail::nvcodecheader_error_domain> code(
                 system_error2::in_place, "cuvid", "host", 3, noFrames);
             EXPECT_EQ(code.message().c_str(), std::string("Failed to open cuvid"));
         },
         {spdlog::level::debug}},
        // A status outside the table also warns while the error's message is composed for its record.
        {"nvenc with an unexpected status",
         [] {
             const tav::nvidia::Result result =
                 tav::nvidia::NvEnc::instance().wrapStatus(static_cast<NVENCSTATUS>(999), "host", 4);
             EXPECT_TRUE(result.has_error());
         },
         {spdlog::level::warn, spdlog::level::debug}},
        {"nvfbc with an unexpected status",
         [] {
             const tav::nvidia::CaptureResult result =
                 tav::nvidia::NvFBC::instance().wrapStatus(1, static_cast<NVFBCSTATUS>(999), "host", 5);
             EXPECT_TRUE(result.has_error());
         },
         {spdlog::level::warn, spdlog::level::debug}},
        // No decoder library where the loader looks: its failure hook logs, then the load error is made.
        {"cuvid load failure",
         [] {
             void* decoder = nullptr;
             EXPECT_TRUE(tav::nvidia::CuVid::instance().createDecoder(&decoder, nullptr).has_error());
         },
         {spdlog::level::err, spdlog::level::debug}},
    };
    for (const Creation& creation : creations) {
        SCOPED_TRACE(creation.name);
        capture.clear();
        creation.make();
        std::vector<spdlog::level::level_enum> levels;
        for (const tav::test::LogRecord& record : capture.records()) {
            levels.push_back(record.level);
        }
        EXPECT_EQ(levels, creation.levels);
    }
}

TEST_F(ThrowingSinkHost, TheLoaderHookWithoutMemoryStillThrowsBadAlloc)
{
    bool badAlloc = false;
    try {
        tav::test::AllocationFailure failure(1);
        tav::nvidia::detail::codecHeaderLoaderFailure("dynlink_loader.h", 95, "nvenc_load_functions",
                                                      "Cannot load %s\n", "sym");
    } catch (const std::bad_alloc&) {
        badAlloc = true;
    } catch (const SinkFailure&) {
        ADD_FAILURE() << "the sink's exception left the hook";
    }
    EXPECT_TRUE(badAlloc);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::info);
}

}  // namespace
