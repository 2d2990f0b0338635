// Decodes an H.264 elementary stream with the decoder binding and hands back each frame's luma plane.
#pragma once

#include <tav/nvidia/cuda>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tav::test::gpu {

struct DecodedStream {
    unsigned width = 0;
    unsigned height = 0;
    // One plane per frame, in display order, width × height bytes without padding.
    std::vector<std::vector<uint8_t>> lumaPlanes;
};

// Parses and decodes the whole stream on context, which must be current on the calling thread; every frame is
// mapped and its visible luma copied to the host. The failure names the step and carries the library's message.
::testing::AssertionResult decodeH264(const std::vector<uint8_t>& stream, CUcontext context, DecodedStream& decoded);

}  // namespace tav::test::gpu
