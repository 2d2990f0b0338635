// A host whose global is built before the bindings and so destroyed after them: its destructor still calls a decoder
// and an encoder operation, which must load their libraries again (or fail cleanly) rather than touch what the
// bindings' destructors freed or closed. Exits with status 0 when every call went well; a sanitizer report makes
// the status non-zero.
#include <tav/nvidia/cuvid>
#include <tav/nvidia/nvenc>

#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstdlib>

namespace {

using tav::nvidia::CuVid;
using tav::nvidia::NvEnc;
using tav::nvidia::Result;

bool succeeded(const Result& result, const char* step)
{
    if (!result.has_error()) {
        return true;
    }
    std::fprintf(stderr, "%s failed: %s\n", step, result.error().message().c_str());
    return false;
}

struct LateCaller {
    // The logger's registry is made first, so that it outlives this object and the records of its calls.
    LateCaller() { static_cast<void>(spdlog::default_logger_raw()); }

    ~LateCaller()
    {
        const bool decoded = succeeded(CuVid::instance().destroyDecoder(nullptr), "destroyDecoder after exit");
        const bool encoded = succeeded(NvEnc::instance().destroyEncoder(nullptr), "destroyEncoder after exit");
        if (!decoded || !encoded) {
            std::_Exit(EXIT_FAILURE);
        }
    }
};

LateCaller lateCaller;

}  // namespace

int main()
{
    const bool loaded = succeeded(CuVid::instance().loadLib(), "decoder load") &&
                        succeeded(NvEnc::instance().loadLib(), "encoder load");
    return loaded ? EXIT_SUCCESS : EXIT_FAILURE;
}
