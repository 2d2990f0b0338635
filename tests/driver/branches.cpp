#include "branches.h"

#include <cstdlib>
#include <stdexcept>

namespace tav::test::driver {
namespace {

constexpr char noDevice[] = "CUDA failed: no CUDA-capable device is detected";
constexpr int apiVersionMismatch = 1;
constexpr int invalidVersion = 15;
constexpr int xError = 10;
constexpr char noDisplay[] = "NvFBC failed: X error - Unable to open display";
// A status newer than API 1.6, which the binding's table does not name.
constexpr int newerStatus = 17;
constexpr char noVulkan[] =
    "NvFBC failed: Unknown - Unable to load Vulkan loader 'libvulkan.so.1' and ICD 'libGLX_nvidia.so.0'";

// clang-format off
const Branch branches[] = {
    // branch, cuInit(0), kept open; decoder lacks; encoder: 8.1 list, lacks, highest API; capture: instance, handle
    {340, 100, noDevice, false, "cuvidGetDecodeStatus",
     invalidVersion, "NvEncodeAPIGetMaxSupportedVersion", 0, 0, apiVersionMismatch, 0, nullptr},
    {390, 999, "CUDA failed: unknown error", false, "cuvidGetDecodeStatus",
     0, nullptr, 8, 1, apiVersionMismatch, 0, nullptr},
    {418, 100, noDevice, false, nullptr, 0, nullptr,  9, 0, 0, xError, noDisplay},
    {470, 100, noDevice, false, nullptr, 0, nullptr, 11, 1, 0, xError, noDisplay},
    {525, 100, noDevice, false, nullptr, 0, nullptr, 12, 0, 0, newerStatus, noVulkan},
    {535, 100, noDevice, false, nullptr, 0, nullptr, 12, 1, 0, newerStatus, noVulkan},
    {550, 100, noDevice, true,  nullptr, 0, nullptr, 12, 2, 0, newerStatus, noVulkan},
    {555, 100, noDevice, false, nullptr, 0, nullptr, 12, 2, 0, xError, noDisplay},
};
// clang-format on

}  // namespace

const Branch& branch()
{
    const char* named = std::getenv("TAV_DRIVER_BRANCH");
    const int number = named != nullptr ? std::atoi(named) : 0;
    for (const Branch& row : branches) {
        if (row.number == number) {
            return row;
        }
    }
    // GoogleTest reports the exception as the case's failure.
    throw std::runtime_error("no expected outcomes for driver branch '" + std::string(named != nullptr ? named : "") +
                             "'");
}

std::string release()
{
    const char* named = std::getenv("TAV_DRIVER_RELEASE");
    return named != nullptr ? named : "";
}

}  // namespace tav::test::driver
