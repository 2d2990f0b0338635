// The decoder binding against the real driver: the fixture stream decodes to exactly the CPU decoder's pictures.
#include "crc32.h"
#include "driver.h"
#include "h264_decoding.h"

#include <tav/nvidia/cuvid>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tav::nvidia::CuVid;
using tav::test::gpu::crc32;
using tav::test::gpu::CudaContextTest;
using tav::test::gpu::DecodedStream;
using tav::test::gpu::decodeH264;
using tav::test::gpu::messageOf;

const std::string fixtures = TAV_GPU_FIXTURES;

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The last column of each frame line of FFmpeg's framehash output: the frame's CRC-32 in hex.
std::vector<uint32_t> referenceHashes(const std::string& path)
{
    std::ifstream in(path);
    EXPECT_TRUE(in) << "cannot read " << path;
    std::vector<uint32_t> hashes;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream hex(line.substr(line.rfind(',') + 1));
        uint32_t hash = 0;
        hex >> std::hex >> hash;
        hashes.push_back(hash);
    }
    return hashes;
}

class DecoderDriver : public CudaContextTest {
protected:
    void SetUp() override
    {
        CudaContextTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        if (auto loaded = CuVid::instance().loadLib(); loaded.has_error()) {
            GTEST_SKIP() << "decoder library unavailable: " << messageOf(loaded);
        }
    }
};

TEST_F(DecoderDriver, DecodesTheFixtureToTheCpuDecodersLumaPlanes)
{
    const std::vector<uint32_t> expected = referenceHashes(fixtures + "/pattern.luma.framehash");
    ASSERT_EQ(expected.size(), 12u);

    DecodedStream decoded;
    ASSERT_TRUE(decodeH264(readFile(fixtures + "/pattern.h264"), context_, decoded));
    EXPECT_EQ(decoded.width, 176u);
    EXPECT_EQ(decoded.height, 144u);
    ASSERT_EQ(decoded.lumaPlanes.size(), expected.size());
    for (std::size_t frame = 0; frame < expected.size(); ++frame) {
        EXPECT_EQ(crc32(decoded.lumaPlanes[frame]), expected[frame]) << "frame " << frame;
    }
}

}  // namespace
