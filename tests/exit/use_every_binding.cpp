#include "use_every_binding.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include <boost/stacktrace.hpp>

#include <cstdio>
#include <optional>

namespace tav::test::exit {
namespace {

using base::system_error2_detail::failure;
using nvidia::Result;

// Built before main, so destroyed after every singleton.
std::optional<Result> keptSinceStartup;

}  // namespace

bool useEveryBinding()
{
    constexpr int line = 1;
    nvidia::Cuda& cuda = nvidia::Cuda::instance();
    nvidia::NvEnc& nvenc = nvidia::NvEnc::instance();
    nvidia::NvFBC& nvfbc = nvidia::NvFBC::instance();
    keptSinceStartup.emplace(failure<nvidia::detail::dl_error_domain>("libcuda.so", "dlopen", nullptr, "gone",
                                                                      "src/exit", line,
                                                                      boost::stacktrace::stacktrace()));
    // Built after the singletons, so destroyed before them.
    static const Result keptFromHere = nvenc.wrapStatus(NV_ENC_ERR_INVALID_PARAM, "src/exit", line);
    static_cast<void>(keptFromHere);
    static_cast<void>(failure<nvidia::detail::nvcodecheader_error_domain>("cuvid", "src/exit", line,
                                                                          boost::stacktrace::stacktrace()));
    static_cast<void>(nvfbc.wrapStatus(0, NVFBC_ERR_INVALID_HANDLE, "src/exit", line));

    bool loaded = true;
    for (const Result& load : {cuda.loadLib(0), nvidia::CuVid::instance().loadLib(), nvenc.loadLib(), nvfbc.loadLib()}) {
        if (load.has_error()) {
            std::fprintf(stderr, "%s\n", load.error().message().c_str());
            loaded = false;
        }
    }
    static_cast<void>(cuda.wrapResult(static_cast<CUresult>(1), "src/exit", line));
    return loaded;
}

}  // namespace tav::test::exit
