#include "branches.h"

#include "support.h"

#include <cstdlib>
#include <stdexcept>

namespace tav::test::driver {
namespace {

constexpr char noDevice[] = "CUDA failed: no CUDA-capable device is detected";
constexpr int cudaUnknown = 999;
constexpr int apiVersionMismatch = 1;
constexpr int invalidVersion = 15;
constexpr int xError = 10;
constexpr char noDisplay[] = "NvFBC failed: X error - Unable to open display";
// A status newer than API 1.6, which the binding's table does not name.
constexpr int newerStatus = 17;
constexpr char noVulkan[] =
    "NvFBC failed: Unknown - Unable to load Vulkan loader 'libvulkan.so.1' and ICD 'libGLX_nvidia.so.0'";

// The fields in the order of Branch: number; cuInit(0)'s status and message, whether it keeps libcuda open; what
// the decoder lacks; the encoder's status at 8.1, what it lacks, its highest API; capture's instance status at 1.6,
// createHandle's status and message.
const Branch branches[] = {
    {340, cudaNoDevice, noDevice, false, "cuvidGetDecodeStatus",
     invalidVersion, "NvEncodeAPIGetMaxSupportedVersion", 0, 0, apiVersionMismatch, 0, nullptr},
    {390, cudaUnknown, "CUDA failed: unknown error", false, "cuvidGetDecodeStatus",
     0, nullptr, 8, 1, apiVersionMismatch, 0, nullptr},
    {418, cudaNoDevice, noDevice, false, nullptr, 0, nullptr,  9, 0, 0, xError, noDisplay},
    {470, cudaNoDevice, noDevice, false, nullptr, 0, nullptr, 11, 1, 0, xError, noDisplay},
    {525, cudaNoDevice, noDevice, false, nullptr, 0, nullptr, 12, 0, 0, newerStatus, noVulkan},
    {535, cudaNoDevice, noDevice, false, nullptr, 0, nullptr, 12, 1, 0, newerStatus, noVulkan},
    {550, cudaNoDevice, noDevice, true,  nullptr, 0, nullptr, 12, 2, 0, newerStatus, noVulkan},
    {555, cudaNoDevice, noDevice, false, nullptr, 0, nullptr, 12, 2, 0, xError, noDisplay},
};

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
