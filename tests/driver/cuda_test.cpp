// The CUDA binding against NVIDIA's libcuda on a machine without a GPU: every entry point resolves, and cuInit's
// refusal comes back with the driver's own status and text.
#include "branches.h"
#include "support.h"

#include <tav/nvidia/cuda>

#include <dlfcn.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAV_LEAK_CHECKED
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TAV_LEAK_CHECKED)
#include <sanitizer/lsan_interface.h>
#endif

namespace tav::test::driver {
namespace {

using tav::nvidia::Cuda;
using tav::nvidia::detail::cuda_error_domain;

// The file the package installs; the binding opens it as libcuda.so or libcuda.so.1.
std::string driverFile()
{
    return "libcuda.so." + release();
}

struct InitCase {
    unsigned int flags;
    int status;
    std::string message;
};

// Every branch refuses flags other than 0 alike; what it answers to 0 is its own.
InitCase expected(unsigned int flags)
{
    if (flags != 0) {
        return {flags, cudaInvalidValue, "CUDA failed: invalid argument"};
    }
    return {flags, branch().initStatus, branch().initMessage};
}

class CudaInit : public ::testing::TestWithParam<unsigned int> {};

// cuInit is the 29th of the 31 entries and the last two are resolved before it is called: a CUDA error from it
// (rather than a loader error) shows that NVIDIA's library exports every symbol under the binding's names.
TEST_P(CudaInit, FailsWithTheDriversStatusTextAndOrigin)
{
    const InitCase expected = driver::expected(GetParam());
    LogCapture capture;

    const auto loaded = Cuda::instance().loadLib(expected.flags);

    const auto* value = valueOf<cuda_error_domain>(loaded);
    ASSERT_NE(value, nullptr) << domainOf(loaded) << ": " << messageOf(loaded);
    EXPECT_EQ(static_cast<int>(value->status), expected.status);
    EXPECT_EQ(messageOf(loaded), expected.message);
    EXPECT_EQ(domainOf(loaded), "cuda error domain");
    EXPECT_TRUE(startsWith(text(value->origin), "(src/cuda:87)\n")) << text(value->origin);
    const auto records = creationRecords(capture);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(startsWith(records[0], "Create error in 'cuda error domain': " + expected.message +
                                           " [] (src/cuda:87)\n"))
        << records[0];
}

INSTANTIATE_TEST_SUITE_P(Driver, CudaInit, ::testing::Values(0u, 1u),
                         [](const auto& info) { return "Flags" + std::to_string(info.param); });

// With libcuda unmapped at exit, LeakSanitizer could not name the frames of what each failing cuInit leaks inside
// it, so the allocations of this case's loads are left out of the leak check; the other cases check the same
// loads with libcuda held open.
#if defined(__SANITIZE_ADDRESS__) || defined(TAV_LEAK_CHECKED)
using LeaksOfTheDriverIgnored = __lsan::ScopedDisabler;
#else
struct LeaksOfTheDriverIgnored {};
#endif

// Unless the branch's cuInit holds the library open itself (550 opens its own file once more).
TEST(CudaDriver, AFailedLoadUnmapsTheLibrary)
{
    [[maybe_unused]] const LeaksOfTheDriverIgnored ignored;
    ASSERT_FALSE(mapped(driverFile()));
    const auto loaded = Cuda::instance().loadLib(0);
    ASSERT_NE(valueOf<cuda_error_domain>(loaded), nullptr) << messageOf(loaded);
    EXPECT_EQ(mapped(driverFile()), branch().initKeepsLibcudaOpen);

    // Nothing of the failed load is remembered: an operation loads afresh and meets the same refusal.
    int count = -1;
    const auto counted = Cuda::instance().deviceGetCount(&count);
    EXPECT_EQ(messageOf(counted), branch().initMessage);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(mapped(driverFile()), branch().initKeepsLibcudaOpen);
}

// Run where the search path holds libcuda.so.1 but no libcuda.so, as many driver installations do.
TEST(CudaDriver, OpensTheVersionedNameWhenTheUnversionedIsAbsent)
{
    void* unversioned = dlopen("libcuda.so", RTLD_LAZY);
    ASSERT_EQ(unversioned, nullptr) << "libcuda.so is visible here";
    const auto loaded = Cuda::instance().loadLib(0);
    const auto* value = valueOf<cuda_error_domain>(loaded);
    ASSERT_NE(value, nullptr) << domainOf(loaded) << ": " << messageOf(loaded);
    EXPECT_EQ(static_cast<int>(value->status), branch().initStatus);
    EXPECT_TRUE(startsWith(text(value->origin), "(src/cuda:87)\n")) << text(value->origin);
}

}  // namespace
}  // namespace tav::test::driver
