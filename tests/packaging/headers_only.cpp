// A program that includes every public header and handles the bindings' results without calling into the library:
// it links without libTAVNvidia. The build compiles it at each optimisation level, since an unoptimised object keeps
// what an optimised one drops.
#include <tav/nvidia/cuda>
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvencerrordomain>
#include <tav/nvidia/nvfbc>
#include <tav/nvidia/nvfbcerrordomain>

#include <cstdio>

namespace {

// What a host's own code does with a result it was handed: it keeps a copy of the error, and reads its message and
// generic condition, all through the error's domain, whichever domain that is.
int report(tav::nvidia::Result handed)
{
    if (!handed.has_error()) {
        return 0;
    }
    const tav::nvidia::Result kept{handed.error().clone()};
    std::fprintf(stderr, "%s\n", kept.error().message().c_str());
    return kept.error() == system_error2::errc::unknown ? 2 : 1;
}

}  // namespace

int main() { return report(BOOST_OUTCOME_V2_NAMESPACE::success()); }
