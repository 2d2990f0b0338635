// The loader's failure hook runs out of memory while the stand-in decoder library lacking cuvidCreateVideoSourceW
// is being loaded: the loader is left with its table allocated, the library open and std::bad_alloc on its way out.
#include <tav/nvidia/cuvid>

#include "alloc_failure.h"
#include "control.h"
#include "library_slot.h"
#include "load_failure.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <optional>
#include <string>

namespace {

using tav::nvidia::CuVid;
using tav::nvidia::Result;
using tav::test::LogCapture;
namespace cuvid = tav::test::cuvid;

std::size_t failingAllocation = 0;

// Counting starts inside the stand-in's initialisation, after the loader has allocated its table and while it is
// opening the library.
void armAllocationFailure() { tav::test::failNthAllocation(failingAllocation); }

// Runs `attempt` with the first, second, ... allocation after the library's initialisation failing, until it is
// the failure hook's text that cannot be allocated, which the hook's info record tells. The allocations before it
// belong to the dynamic loader, which copes with failing ones. Returns whether that point was reached.
template <class Attempt>
bool failTheHooksAllocation(LogCapture& capture, Attempt attempt)
{
    for (failingAllocation = 1; failingAllocation <= 16; ++failingAllocation) {
        capture.clear();
        cuvid::setLoadHook(&armAllocationFailure);
        attempt();
        cuvid::setLoadHook(nullptr);
        tav::test::stopAllocationFailures();
        if (!capture.records(spdlog::level::info).empty()) {
            return true;
        }
    }
    return false;
}

void expectOutOfMemoryRecord(const tav::test::LogRecord& record)
{
    EXPECT_EQ(record.level, spdlog::level::info);
    const std::string expected = "Create exception std::bad_alloc() (" + record.file + ":" +
                                 std::to_string(cuvid::loaderLine(record.file, "cuvidCreateVideoSourceW")) + "):\n";
    EXPECT_EQ(record.text.rfind(expected, 0), 0u) << record.text;
    EXPECT_EQ(record.function, "cuvid_load_functions");
}

class CuVidLoaderOutOfMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
        cuvid::offerLibrary("without-cuvidCreateVideoSourceW");
        // A first failed load, so that the dynamic loader's once-per-thread allocations are behind us.
        LogCapture capture;
        cuvid::expectLoadError(binding.loadLib());
    }

    CuVid& binding = CuVid::instance();
};

TEST_F(CuVidLoaderOutOfMemory, LoadLibReleasesTheHalfBuiltTableAndRethrows)
{
    LogCapture capture;
    bool thrown = false;
    ASSERT_TRUE(failTheHooksAllocation(capture, [&] {
        try {
            thrown = false;
            static_cast<void>(binding.loadLib());
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
    }));
    EXPECT_TRUE(thrown);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    expectOutOfMemoryRecord(records[0]);
    // The library that the loader had opened is closed again.
    EXPECT_EQ(cuvid::unloads(), cuvid::loads());

    // Unloaded: the next call loads afresh and fails in the ordinary way.
    const int loads = cuvid::loads();
    capture.clear();
    cuvid::expectLoadError(binding.loadLib());
    cuvid::expectFailedLoadRecords(capture.records(), "cuvidCreateVideoSourceW");
    EXPECT_EQ(cuvid::loads(), loads + 1);
}

TEST_F(CuVidLoaderOutOfMemory, AnOperationReportsTheFailedLoadInsteadOfThrowing)
{
    const cuvid::Operation& operation = cuvid::operations().front();
    LogCapture capture;
    // Replaced by emplace: this Boost's erased error is moved into by a defaulted assignment that would leak the
    // error it replaces.
    std::optional<Result> result;
    ASSERT_TRUE(failTheHooksAllocation(capture, [&] { result.emplace(operation.invoke(binding)); }));
    ASSERT_TRUE(result.has_value());
    cuvid::expectLoadError(*result);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    expectOutOfMemoryRecord(records[0]);
    EXPECT_EQ(records[1].level, spdlog::level::debug);
    EXPECT_EQ(records[1].text.rfind(cuvid::kLoadErrorRecord, 0), 0u) << records[1].text;
    EXPECT_EQ(cuvid::unloads(), cuvid::loads());
    EXPECT_TRUE(cuvid::calls().empty());

    // Nothing half-built is left behind: with the complete library the next call loads it and calls the driver.
    cuvid::offerLibrary("complete");
    EXPECT_TRUE(operation.invoke(binding).has_value());
    EXPECT_EQ(cuvid::calls(), (std::vector<cuvid::Call>{{operation.entryPoint, operation.arguments}}));
}

}  // namespace
