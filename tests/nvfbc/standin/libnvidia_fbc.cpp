// The stand-in capture library: fills the function list with entries that record each call and answer what the
// tests chose (see control.h). Built with TAV_STANDIN_FRAME_BYTES, it captures a frame larger than its buffer.
#include "control.h"

namespace {

using tav::test::nvfbc::standin;

constexpr std::uint32_t apiVersion = 0x106;

NVFBCSTATUS answer(const char* entry, NVFBC_SESSION_HANDLE handle, std::uint32_t version)
{
    standin().calls.push_back({entry, handle, version});
    const auto chosen = standin().statuses.find(entry);
    return chosen == standin().statuses.end() ? NVFBC_SUCCESS : chosen->second;
}

const char* getLastErrorStr(const NVFBC_SESSION_HANDLE handle)
{
    standin().calls.push_back({"nvFBCGetLastErrorStr", handle, 0});
    const auto text = standin().lastErrors.find(handle);
    return text == standin().lastErrors.end() ? nullptr : text->second.c_str();
}

NVFBCSTATUS createHandle(NVFBC_SESSION_HANDLE* handle, NVFBC_CREATE_HANDLE_PARAMS* params)
{
    const NVFBCSTATUS status = answer("nvFBCCreateHandle", *handle, params->dwVersion);
    if (standin().createdHandle) {
        *handle = *standin().createdHandle;
    } else if (status == NVFBC_SUCCESS) {
        *handle = ++standin().handlesCreated;
    }
    return status;
}

#ifdef TAV_STANDIN_FRAME_BYTES
// A faulty capture: a 64x48 RGB frame in a buffer of TAV_STANDIN_FRAME_BYTES bytes, or in none when that is 0.
unsigned char frameBuffer[TAV_STANDIN_FRAME_BYTES + 1];

NVFBCSTATUS toSysSetUp(NVFBC_SESSION_HANDLE handle, NVFBC_TOSYS_SETUP_PARAMS* params)
{
    *params->ppBuffer = TAV_STANDIN_FRAME_BYTES == 0 ? nullptr : frameBuffer;
    return answer("nvFBCToSysSetUp", handle, params->dwVersion);
}

NVFBCSTATUS toSysGrabFrame(NVFBC_SESSION_HANDLE handle, NVFBC_TOSYS_GRAB_FRAME_PARAMS* params)
{
    params->pFrameGrabInfo->dwWidth = 64;
    params->pFrameGrabInfo->dwHeight = 48;
    params->pFrameGrabInfo->dwByteSize = TAV_STANDIN_FRAME_BYTES;
    return answer("nvFBCToSysGrabFrame", handle, params->dwVersion);
}
#endif

// An entry that records its name, handle and the version word it found, then answers the chosen status.
#define TAV_RECORDING_ENTRY(list, entry) \
    (list)->entry = [](NVFBC_SESSION_HANDLE handle, auto* params) { return answer(#entry, handle, params->dwVersion); }

// Empties the entry when the test chose so.
#define TAV_EMPTY_IF_CHOSEN(list, entry)                     \
    if (standin().entriesLeftEmpty.count(#entry) != 0) {     \
        (list)->entry = nullptr;                             \
    }

void fill(NVFBC_API_FUNCTION_LIST* list)
{
    list->nvFBCGetLastErrorStr = getLastErrorStr;
    list->nvFBCCreateHandle = createHandle;
    TAV_RECORDING_ENTRY(list, nvFBCDestroyHandle);
    TAV_RECORDING_ENTRY(list, nvFBCGetStatus);
    TAV_RECORDING_ENTRY(list, nvFBCCreateCaptureSession);
    TAV_RECORDING_ENTRY(list, nvFBCDestroyCaptureSession);
    TAV_RECORDING_ENTRY(list, nvFBCToSysSetUp);
    TAV_RECORDING_ENTRY(list, nvFBCToSysGrabFrame);
    TAV_RECORDING_ENTRY(list, nvFBCToCudaSetUp);
    TAV_RECORDING_ENTRY(list, nvFBCToCudaGrabFrame);
    TAV_RECORDING_ENTRY(list, nvFBCBindContext);
    TAV_RECORDING_ENTRY(list, nvFBCReleaseContext);
    TAV_RECORDING_ENTRY(list, nvFBCToGLSetUp);
    TAV_RECORDING_ENTRY(list, nvFBCToGLGrabFrame);
#ifdef TAV_STANDIN_FRAME_BYTES
    list->nvFBCToSysSetUp = toSysSetUp;
    list->nvFBCToSysGrabFrame = toSysGrabFrame;
#endif
    TAV_EMPTY_IF_CHOSEN(list, nvFBCGetLastErrorStr)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCCreateHandle)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCDestroyHandle)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCGetStatus)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCCreateCaptureSession)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCDestroyCaptureSession)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCToSysSetUp)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCToSysGrabFrame)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCToCudaSetUp)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCToCudaGrabFrame)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCBindContext)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCReleaseContext)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCToGLSetUp)
    TAV_EMPTY_IF_CHOSEN(list, nvFBCToGLGrabFrame)
}

}  // namespace

// The list is filled even when the chosen status is a failure, as a real library may leave it: the binding must not
// call through it then.
extern "C" __attribute__((visibility("default"))) NVFBCSTATUS NvFBCCreateInstance(NVFBC_API_FUNCTION_LIST* list)
{
    if (list == nullptr) {
        return NVFBC_ERR_INVALID_PTR;
    }
    standin().calls.push_back({"NvFBCCreateInstance", 0, list->dwVersion});
    if (list->dwVersion != apiVersion) {
        return NVFBC_ERR_API_VERSION;
    }
    fill(list);
    return standin().instanceStatus;
}
