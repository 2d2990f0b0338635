// A capture library that does nothing: instance and handle creation succeed, the frame grab the benchmarks call
// succeeds at once without recording anything, and every handle has the same last-error text.
#include <tav/nvidia/nvfbcapi>

#define TAV_BENCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char* lastError(const NVFBC_SESSION_HANDLE) { return "The capture session is not set up"; }

NVFBCSTATUS createHandle(NVFBC_SESSION_HANDLE* handle, NVFBC_CREATE_HANDLE_PARAMS*)
{
    *handle = 1;
    return NVFBC_SUCCESS;
}

NVFBCSTATUS grabFrame(const NVFBC_SESSION_HANDLE, NVFBC_TOSYS_GRAB_FRAME_PARAMS*) { return NVFBC_SUCCESS; }

}  // namespace

TAV_BENCH_EXPORT NVFBCSTATUS NvFBCCreateInstance(NVFBC_API_FUNCTION_LIST* list)
{
    list->nvFBCGetLastErrorStr = lastError;
    list->nvFBCCreateHandle = createHandle;
    list->nvFBCToSysGrabFrame = grabFrame;
    return NVFBC_SUCCESS;
}
