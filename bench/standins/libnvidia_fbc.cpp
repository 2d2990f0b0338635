// A capture library that does nothing: instance and handle creation succeed, instance creation fills every entry
// the binding requires, each of them succeeds at once without recording anything, and every handle has the same
// last-error text.
#include <tav/nvidia/nvfbcapi>

#define TAV_BENCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char* lastError(const NVFBC_SESSION_HANDLE) { return "The capture session is not set up"; }

NVFBCSTATUS createHandle(NVFBC_SESSION_HANDLE* handle, NVFBC_CREATE_HANDLE_PARAMS*)
{
    *handle = 1;
    return NVFBC_SUCCESS;
}

template <class Params>
NVFBCSTATUS succeed(const NVFBC_SESSION_HANDLE, Params*)
{
    return NVFBC_SUCCESS;
}

template <class Params>
void fill(NVFBCSTATUS (*&entry)(const NVFBC_SESSION_HANDLE, Params*))
{
    entry = succeed<Params>;
}

}  // namespace

TAV_BENCH_EXPORT NVFBCSTATUS NvFBCCreateInstance(NVFBC_API_FUNCTION_LIST* list)
{
    list->nvFBCGetLastErrorStr = lastError;
    list->nvFBCCreateHandle = createHandle;
    // The binding refuses a list with an empty entry.
    fill(list->nvFBCDestroyHandle);
    fill(list->nvFBCGetStatus);
    fill(list->nvFBCCreateCaptureSession);
    fill(list->nvFBCDestroyCaptureSession);
    fill(list->nvFBCToSysSetUp);
    fill(list->nvFBCToSysGrabFrame);
    fill(list->nvFBCToCudaSetUp);
    fill(list->nvFBCToCudaGrabFrame);
    fill(list->nvFBCBindContext);
    fill(list->nvFBCReleaseContext);
    fill(list->nvFBCToGLSetUp);
    fill(list->nvFBCToGLGrabFrame);
    return NVFBC_SUCCESS;
}
