// A host application that included NVIDIA's capture header before ours. These declarations stand in for it: the
// published guard first, then the published names in the global namespace, as C declarations. Had our own
// declarations not stepped aside, this file would not compile; had the binding's signatures named other types, it
// would not link.
#define _NVFBC_H_

#include <stdint.h>

extern "C" {

typedef enum _NVFBCSTATUS {
    NVFBC_SUCCESS = 0,
    NVFBC_ERR_API_VERSION,
    NVFBC_ERR_INTERNAL,
    NVFBC_ERR_INVALID_PARAM,
    NVFBC_ERR_INVALID_PTR,
    NVFBC_ERR_INVALID_HANDLE,
    NVFBC_ERR_MAX_CLIENTS,
    NVFBC_ERR_UNSUPPORTED,
    NVFBC_ERR_OUT_OF_MEMORY,
    NVFBC_ERR_BAD_REQUEST,
    NVFBC_ERR_X,
    NVFBC_ERR_GLX,
    NVFBC_ERR_GL,
    NVFBC_ERR_CUDA,
    NVFBC_ERR_ENCODER,
    NVFBC_ERR_CONTEXT,
    NVFBC_ERR_MUST_RECREATE,
} NVFBCSTATUS;

typedef uint64_t NVFBC_SESSION_HANDLE;

// Only the binding's own use matters here: the structures it passes by pointer may stay incomplete, save the one
// this host fills in.
typedef struct _NVFBC_CREATE_HANDLE_PARAMS NVFBC_CREATE_HANDLE_PARAMS;
typedef struct _NVFBC_DESTROY_HANDLE_PARAMS NVFBC_DESTROY_HANDLE_PARAMS;
typedef struct _NVFBC_BIND_CONTEXT_PARAMS {
    uint32_t dwVersion;
} NVFBC_BIND_CONTEXT_PARAMS;
typedef struct _NVFBC_RELEASE_CONTEXT_PARAMS NVFBC_RELEASE_CONTEXT_PARAMS;
typedef struct _NVFBC_GET_STATUS_PARAMS NVFBC_GET_STATUS_PARAMS;
typedef struct _NVFBC_CREATE_CAPTURE_SESSION_PARAMS NVFBC_CREATE_CAPTURE_SESSION_PARAMS;
typedef struct _NVFBC_DESTROY_CAPTURE_SESSION_PARAMS NVFBC_DESTROY_CAPTURE_SESSION_PARAMS;
typedef struct _NVFBC_TOSYS_SETUP_PARAMS NVFBC_TOSYS_SETUP_PARAMS;
typedef struct _NVFBC_TOSYS_GRAB_FRAME_PARAMS NVFBC_TOSYS_GRAB_FRAME_PARAMS;
typedef struct _NVFBC_TOCUDA_SETUP_PARAMS NVFBC_TOCUDA_SETUP_PARAMS;
typedef struct _NVFBC_TOCUDA_GRAB_FRAME_PARAMS NVFBC_TOCUDA_GRAB_FRAME_PARAMS;
typedef struct _NVFBC_TOGL_SETUP_PARAMS NVFBC_TOGL_SETUP_PARAMS;
typedef struct _NVFBC_TOGL_GRAB_FRAME_PARAMS NVFBC_TOGL_GRAB_FRAME_PARAMS;

// Same size and order as API 1.6's list; the host's own entry types.
typedef NVFBCSTATUS (*PHOSTENTRY)(const NVFBC_SESSION_HANDLE, void*);
typedef struct {
    uint32_t dwVersion;
    const char* (*nvFBCGetLastErrorStr)(const NVFBC_SESSION_HANDLE);
    NVFBCSTATUS (*nvFBCCreateHandle)(NVFBC_SESSION_HANDLE*, NVFBC_CREATE_HANDLE_PARAMS*);
    PHOSTENTRY entries[19];
} NVFBC_API_FUNCTION_LIST;

}

#include <tav/nvidia/nvfbc>

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

// Our declarations would have made this a complete type.
template <class T, class = void>
struct isComplete : std::false_type {};
template <class T>
struct isComplete<T, std::void_t<decltype(sizeof(T))>> : std::true_type {};

static_assert(!isComplete<_NVFBC_GET_STATUS_PARAMS>::value, "the host's declarations are in use");
static_assert(sizeof(NVFBC_API_FUNCTION_LIST) == 176, "the host's list has the library's layout");

TEST(NvFBCHostHeader, BindingUsesTheHostsDeclarations)
{
    NVFBC_BIND_CONTEXT_PARAMS params{};
    const tav::nvidia::CaptureResult result = tav::nvidia::NvFBC::instance().bindContext(1, &params);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().value().status, NVFBC_ERR_BAD_REQUEST);
    const auto message = result.error().message();
    EXPECT_EQ(std::string(message.data(), message.size()),
              "NvFBC failed: API call not expected - libnvidia-fbc.so.1 is not loaded: create a handle first");
}

}  // namespace
