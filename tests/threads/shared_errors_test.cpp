// One error shared by eight threads: each clones, reads, compares and destroys copies while the others do the same,
// and the original goes away on another thread meanwhile. The texts are shared through reference counts, so
// ThreadSanitizer sees the counting and LeakSanitizer sees that the last copy frees them.
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvfbcerrordomain>
#include <tav/nvidia/result>

#include <boost/stacktrace.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using tav::base::system_error2_detail::failure;
using tav::base::system_error2_detail::typedFailure;
using ErasedError = tav::base::outcome::erased_error;
using tav::nvidia::detail::cuda_error_domain;
using tav::nvidia::detail::dl_error_domain;
using tav::nvidia::detail::nvfbc_error_domain;

constexpr int threadCount = 8;
constexpr int roundsPerThread = 200;

// Gives each of threadCount threads a copy of original, destroys original while they run and lets each thread
// work on its copy; work returns whether what the thread saw was right.
template <class Error, class Copy, class Work>
void shareAcrossThreads(std::optional<Error>& original, Copy copy, Work work)
{
    std::atomic<int> waiting{threadCount + 1};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, own = copy(*original)] {
            --waiting;
            while (waiting.load() > 0) {
                std::this_thread::yield();
            }
            for (int round = 0; round < roundsPerThread; ++round) {
                if (!work(own)) {
                    ++wrong;
                }
            }
        });
    }
    --waiting;
    original.reset();
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

// The error a failed operation returns.
template <class Domain, class... Args>
std::optional<ErasedError> erasedError(Args... args)
{
    return std::move(failure<Domain>(args..., boost::stacktrace::stacktrace())).error();
}

TEST(SharedErrors, ClonesOfOneErasedError)
{
    std::optional<ErasedError> original = erasedError<cuda_error_domain>(static_cast<CUresult>(1), "invalid argument",
                                                                         "src/cuda", 265);

    shareAcrossThreads(original, [](const ErasedError& error) { return error.clone(); }, [&](const auto& own) {
        const auto copy = own.clone();
        const auto second = copy.clone();
        const auto* typed = system_error2::get_if<system_error2::status_code<cuda_error_domain>>(&second);
        return std::string(copy.message().c_str()) == "CUDA failed: invalid argument" && typed != nullptr &&
               typed->value().status == 1 && std::string(typed->value().origin.c_str()).rfind("(src/cuda:265)", 0) == 0;
    });
}

TEST(SharedErrors, ClonesOfAnErrorWithTheLoadersText)
{
    std::optional<ErasedError> original =
        erasedError<dl_error_domain>("libcuda.so", "dlsym", "cuInit", "undefined symbol", "src/cuda", 76);
    const std::string expected(original->message().c_str());

    shareAcrossThreads(original, [](const ErasedError& error) { return error.clone(); }, [&](const auto& own) {
        const auto copy = own.clone();
        return std::string(copy.message().c_str()) == expected;
    });
}

TEST(SharedErrors, CopiesOfOneTypedCaptureError)
{
    using Code = system_error2::status_code<nvfbc_error_domain>;
    std::optional<Code> original{
        typedFailure<nvfbc_error_domain>(NVFBC_ERR_INVALID_HANDLE, "the library's last error", "src/nvfbc", 94,
                                         boost::stacktrace::stacktrace())
            .error()};
    const std::string expected(original->message().c_str());

    shareAcrossThreads(original, [](const Code& code) { return code; }, [&](const Code& own) {
        const Code copy = own;
        Code assigned = copy;
        assigned = own;
        return std::string(assigned.message().c_str()) == expected && copy == own &&
               std::string(copy.value().lastError.c_str()) == "the library's last error";
    });
}

}  // namespace
