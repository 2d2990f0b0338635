// A tiny application built against the installed library.
#include <tav/nvidia/cuda>

#include <cstdio>

int main()
{
    int count = 0;
    const tav::nvidia::Result result = tav::nvidia::Cuda::instance().deviceGetCount(&count);
    if (result.has_error()) {
        std::printf("no CUDA device: %s\n", result.error().message().c_str());
    } else {
        std::printf("CUDA devices: %d\n", count);
    }
    return 0;
}
