// Errors made while memory runs out: every allocation of an error's creation fails in turn. The error must still be
// made, its status kept and fixed texts standing in for the texts that could not be made, and nothing may leak.
// Only where the creator is noexcept and a failure cannot be absorbed (rendering the stack trace, the heap copy of
// an erased error) does the process end, by std::terminate.
#include "alloc_failure.h"
#include "log_capture.h"
#include "process_resources.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using tav::base::system_error2_detail::failure;
using tav::nvidia::Result;
using namespace tav::nvidia::detail;

constexpr char duplicateFailed[] = "Failed to duplicate message, out of memory";
constexpr char createFailed[] = "Failed to create message, out of memory";
constexpr char noCounter[] = "failed to get message from system";

std::string text(const system_error2::status_code_domain::string_ref& ref) { return {ref.data(), ref.size()}; }

// What a made error reads back once memory is available again.
struct Made {
    std::size_t allocations = 0;
    long long status = 0;
    std::string message;
    std::string origin;
};

template <class Value>
long long statusOf(const Value& value)
{
    if constexpr (tav::base::system_error2_detail::carries_status<Value>::value) {
        return static_cast<long long>(value.status);
    } else {
        return 0;
    }
}

// Runs a creator with the allocation switch armed by the caller, stops the switch and reads the error back.
template <class Domain>
Made readBack(const std::function<Result()>& create)
{
    const Result result = create();
    const std::size_t allocations = tav::test::allocationCount();
    tav::test::stopAllocationFailures();
    const auto* typed = system_error2::get_if<system_error2::status_code<Domain>>(&result.error());
    return {allocations, statusOf(typed->value()), text(result.error().message()), text(typed->value().origin)};
}

Made readBackCapture(const std::function<tav::nvidia::CaptureResult()>& create)
{
    const tav::nvidia::CaptureResult result = create();
    const std::size_t allocations = tav::test::allocationCount();
    tav::test::stopAllocationFailures();
    return {allocations, statusOf(result.error().value()), text(result.error().message()),
            text(result.error().value().origin)};
}

struct Creation {
    const char* name;
    std::function<Made()> make;
    long long status;
    // The message with every text made, and the one to expect when the driver's text could not be copied (empty
    // for a domain that copies no text; the copy's fixed text stands where the driver's text would).
    std::string message;
    std::string messageWithoutText;
    std::string originPrefix;
    // An erased error ends with its heap copy, whose failure ends the process.
    bool erased;
};

std::vector<Creation> creations()
{
    // Made as the library's creators make them: inside a noexcept function, with the trace captured at the call.
    const auto trace = [] { return boost::stacktrace::stacktrace(); };
    return {
        {"dl", [=] { return readBack<dl_error_domain>([=]() noexcept {
             return failure<dl_error_domain>("libcuda.so", "dlsym", "cuDeviceGet", "undefined symbol: cuDeviceGet",
                                             "src/cuda", 76, trace());
         }); },
         0, "dlsym(cuDeviceGet) failed: undefined symbol: cuDeviceGet", "dlsym(cuDeviceGet) failed: %s",
         "(src/cuda:76)\n", true},
        {"cuda", [] { return readBack<cuda_error_domain>([] {
             return tav::nvidia::Cuda::instance().wrapResult(CUDA_ERROR_NOT_READY, "src/cuda", 184);
         }); },
         CUDA_ERROR_NOT_READY, "CUDA failed: stand-in error text", "CUDA failed: %s", "(src/cuda:184)\n", true},
        {"nvcodecheader", [=] { return readBack<nvcodecheader_error_domain>([=]() noexcept {
             return failure<nvcodecheader_error_domain>("nvenc", "src/nvenc", 38, trace());
         }); },
         0, "Failed to open nvenc", "", "(src/nvenc:38)\n", true},
        {"nvenc", [] { return readBack<nvenc_error_domain>([] {
             return tav::nvidia::NvEnc::instance().wrapStatus(NV_ENC_ERR_INVALID_PARAM, "src/nvenc", 148);
         }); },
         NV_ENC_ERR_INVALID_PARAM, "NvEnc failed: One or more invalid parameters", "", "(src/nvenc:148)\n", true},
        // Before the library is loaded the binding gives its own last-error text, which the error copies.
        {"nvfbc", [] { return readBackCapture([] {
             return tav::nvidia::NvFBC::instance().wrapStatus(0, NVFBC_ERR_INVALID_HANDLE, "src/nvfbc", 143);
         }); },
         NVFBC_ERR_INVALID_HANDLE,
         "NvFBC failed: Invalid handle - libnvidia-fbc.so.1 is not loaded: create a handle first",
         "NvFBC failed: Invalid handle - %s", "(src/nvfbc:143)\n", false},
    };
}

std::string replaced(const std::string& format, const char* text)
{
    std::string result = format;
    result.replace(result.find("%s"), 2, text);
    return result;
}

// Makes the error on a thread of its own with the n-th allocation failing (0: none fails, they are counted). The
// rendered trace, and so the allocations it takes, depend on the depth of the stack; a new thread makes that depth
// the same wherever the test asks.
Made attempt(const Creation& creation, std::size_t n)
{
    Made made;
    std::thread([&] {
        n == 0 ? tav::test::countAllocations() : tav::test::failNthAllocation(n);
        made = creation.make();
    }).join();
    return made;
}

// The allocations that making the error takes once the process has made one before.
std::size_t allocationsOf(const Creation& creation)
{
    attempt(creation, 0);
    const Made made = attempt(creation, 0);
    EXPECT_EQ(made.message, creation.message);
    return made.allocations;
}

// Whether making the error with the n-th allocation failing ends the process, found in a child process whose
// output is discarded.
bool endsTheProcess(const Creation& creation, std::size_t n)
{
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        attempt(creation, n);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

class CudaLoaded : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The CUDA error then carries the stand-in driver's text for the status.
        ASSERT_FALSE(tav::nvidia::Cuda::instance().loadLib(0).has_error());
    }
};

class Exhaustion : public CudaLoaded, public ::testing::WithParamInterface<Creation> {};

// What a surviving error must show: the status, and each text either made or replaced by a fixed text.
void expectIntact(const Creation& creation, const Made& made, std::size_t n)
{
    SCOPED_TRACE("allocation " + std::to_string(n));
    EXPECT_EQ(made.status, creation.status);
    std::set<std::string> messages{creation.message};
    if (!creation.messageWithoutText.empty()) {
        messages.insert(replaced(creation.messageWithoutText, duplicateFailed));
        messages.insert(replaced(creation.messageWithoutText, noCounter));
    }
    EXPECT_EQ(messages.count(made.message), 1u) << made.message;
    EXPECT_TRUE(made.origin.rfind(creation.originPrefix, 0) == 0 || made.origin == createFailed ||
                made.origin == noCounter)
        << made.origin;
}

TEST_P(Exhaustion, EveryAllocationFailsInTurn)
{
    const Creation& creation = GetParam();
    // The default logger leaves out debug records; the record's text is made all the same.
    const std::size_t total = allocationsOf(creation);

    std::vector<std::size_t> ending;
    std::size_t originFailsAt = 0;
    for (std::size_t n = 1; n <= total; ++n) {
        if (endsTheProcess(creation, n)) {
            ending.push_back(n);
            continue;
        }
        {
            const Made made = attempt(creation, n);
            expectIntact(creation, made, n);
            if (originFailsAt == 0 && made.origin == createFailed) {
                originFailsAt = n;
            }
        }
        // Measured on a second run: a path taken for the first time may set up what the process keeps (the
        // first exception thrown, for one). A leak repeats; set-up does not.
        const std::size_t heapBefore = tav::test::heapInUse();
        attempt(creation, n);
        EXPECT_EQ(tav::test::heapInUse(), heapBefore) << "allocation " << n;
    }
    // One allocation more than the creation makes fails nothing.
    const Made unaffected = attempt(creation, total + 1);
    EXPECT_EQ(unaffected.allocations, total);
    EXPECT_EQ(unaffected.message, creation.message);

    // The first allocation is the stack trace's own, which the trace absorbs: the error has no frames then.
    EXPECT_EQ(attempt(creation, 1).origin, creation.originPrefix);

    // The process ends only while the trace is rendered (after the trace's own allocation, before the origin is
    // formatted) and, for an erased error, at the heap copy, the last allocation.
    ASSERT_NE(originFailsAt, 0u);
    ASSERT_FALSE(ending.empty());
    for (const std::size_t n : ending) {
        EXPECT_TRUE((n > 1 && n < originFailsAt) || (creation.erased && n == total)) << "allocation " << n;
    }
    EXPECT_EQ(creation.erased, ending.back() == total);
    EXPECT_GT(ending.front(), 1u);
    EXPECT_LT(ending.front(), originFailsAt);
}

TEST_P(Exhaustion, RenderingTheTraceWithoutMemoryEndsTheProcess)
{
    const Creation& creation = GetParam();
    // The trace's own allocation comes first, the rendering's right after it.
    EXPECT_DEATH(attempt(creation, 2), "terminate called");
}

// With debug records written, the logger's own allocations fail too: it absorbs them, and the error is made.
TEST_P(Exhaustion, RecordAllocationsFailInTurn)
{
    const Creation& creation = GetParam();
    tav::test::LogCapture capture;
    spdlog::default_logger_raw()->set_error_handler([](const std::string&) {});
    const std::size_t total = allocationsOf(creation);
    capture.clear();
    for (std::size_t n = 1; n <= total; ++n) {
        if (endsTheProcess(creation, n)) {
            continue;
        }
        expectIntact(creation, attempt(creation, n), n);
        const auto records = capture.records();
        ASSERT_LE(records.size(), 1u) << "allocation " << n;
        if (!records.empty()) {
            const std::string& record = records.front().text;
            EXPECT_TRUE(record.rfind(std::string("Create error in '"), 0) == 0 || record == createFailed ||
                        record == noCounter)
                << record;
        }
        capture.clear();
    }
}

TEST_F(CudaLoaded, HeapCopyWithoutMemoryEndsTheProcess)
{
    for (const Creation& creation : creations()) {
        // The typed capture result holds its error by value; there is no heap copy.
        if (creation.erased) {
            const std::size_t total = allocationsOf(creation);
            EXPECT_DEATH(attempt(creation, total), "terminate called") << creation.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Domains, Exhaustion, ::testing::ValuesIn(creations()),
                         [](const ::testing::TestParamInfo<Creation>& info) { return std::string(info.param.name); });

}  // namespace
