// Without libnvcuvid.so.1 anywhere the loader looks.
#include <tav/nvidia/cuvid>

#include "alloc_failure.h"
#include "control.h"
#include "load_failure.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

namespace {

using tav::nvidia::CuVid;
using tav::test::LogCapture;
namespace cuvid = tav::test::cuvid;

TEST(CuVidWithoutLibrary, EveryCallReturnsTheLoadErrorAndLogsAfresh)
{
    CuVid& binding = CuVid::instance();
    for (int attempt = 0; attempt < 2; ++attempt) {
        LogCapture capture;
        cuvid::expectLoadError(binding.loadLib());
        cuvid::expectFailedLoadRecords(capture.records(), "libnvcuvid.so.1");
    }
    for (const cuvid::Operation& operation : cuvid::operations()) {
        SCOPED_TRACE(operation.name);
        LogCapture capture;
        cuvid::expectLoadError(operation.invoke(binding));
        cuvid::expectFailedLoadRecords(capture.records(), "libnvcuvid.so.1");
    }
    EXPECT_TRUE(cuvid::calls().empty());
    EXPECT_EQ(cuvid::loads(), 0);
}

TEST(CuVidWithoutLibrary, NoMemoryForTheTableIsTheSameLoadErrorWithoutALoaderRecord)
{
    LogCapture capture;
    const tav::nvidia::Result result = [] {
        // The loader's first allocation is its table.
        tav::test::AllocationFailure failure(1);
        return CuVid::instance().loadLib();
    }();
    cuvid::expectLoadError(result);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::debug);
    EXPECT_EQ(records[0].text.rfind(cuvid::kLoadErrorRecord, 0), 0u) << records[0].text;
}

}  // namespace
