// The encoder binding against the real driver: a session on a CUDA context lists what the GPU offers, and 30
// encoded frames of a generated pattern decode back with the decoder binding. A GPU without an encoder skips,
// with the status the driver gave.
#include "driver.h"
#include "h264_decoding.h"

#include <tav/nvidia/cuvid>
#include <tav/nvidia/nvenc>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tav::nvidia::CuVid;
using tav::nvidia::NvEnc;
using tav::nvidia::detail::nvenc_error_domain;
using tav::test::gpu::CudaContextTest;
using tav::test::gpu::DecodedStream;
using tav::test::gpu::decodeH264;
using tav::test::gpu::messageOf;
using tav::test::gpu::succeeded;
using tav::test::gpu::zeroed;

constexpr uint32_t width = 320;
constexpr uint32_t height = 240;
constexpr uint32_t frames = 30;

bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

template <class Item>
bool contains(const std::vector<Item>& items, const Item& wanted)
{
    for (const Item& item : items) {
        if (item == wanted) {
            return true;
        }
    }
    return false;
}

// The statuses with which the driver turns down a GPU that has no encoder.
bool meansNoEncoder(const std::string& message)
{
    for (const NVENCSTATUS status : {NV_ENC_ERR_NO_ENCODE_DEVICE, NV_ENC_ERR_UNSUPPORTED_DEVICE}) {
        if (message == std::string("NvEnc failed: ") + nvenc_error_domain::getStatusMessage(status)) {
            return true;
        }
    }
    return false;
}

// NV12: a luma ramp that brightens with the frame, below 256 everywhere so that it has no hard edge, and neutral
// chroma.
uint8_t lumaAt(uint32_t x, uint32_t y, uint32_t frame) { return static_cast<uint8_t>((x + y) / 3 + 2 * frame); }

void fillPattern(uint8_t* data, uint32_t pitch, uint32_t frame)
{
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            data[y * pitch + x] = lumaAt(x, y, frame);
        }
    }
    std::memset(data + height * pitch, 128, pitch * height / 2);
}

class EncoderDriver : public CudaContextTest {
protected:
    void SetUp() override
    {
        CudaContextTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        if (auto loaded = NvEnc::instance().loadLib(); loaded.has_error()) {
            GTEST_SKIP() << "encoder library unavailable: " << messageOf(loaded);
        }
        auto session = zeroed<NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS>();
        session.deviceType = NV_ENC_DEVICE_TYPE_CUDA;
        session.device = context_;
        if (auto opened = NvEnc::instance().openEncodeSessionEx(&session, &encoder_); opened.has_error()) {
            encoder_ = nullptr;
            if (meansNoEncoder(messageOf(opened))) {
                GTEST_SKIP() << "the GPU has no encoder: " << messageOf(opened);
            }
            FAIL() << messageOf(opened);
        }
    }

    void TearDown() override
    {
        if (encoder_ != nullptr) {
            EXPECT_TRUE(succeeded(NvEnc::instance().destroyEncoder(encoder_)));
        }
        CudaContextTest::TearDown();
    }

    // The driver's two-step enumeration: how many, then that many.
    template <class Item, class Count, class List>
    std::vector<Item> enumerate(Count count, List list)
    {
        unsigned int n = 0;
        EXPECT_TRUE(succeeded(count(&n)));
        std::vector<Item> items(n);
        unsigned int filled = 0;
        EXPECT_TRUE(succeeded(list(items.data(), n, &filled)));
        EXPECT_EQ(filled, n);
        items.resize(filled);
        return items;
    }

    std::vector<GUID> codecs()
    {
        NvEnc& nvenc = NvEnc::instance();
        return enumerate<GUID>([&](unsigned int* n) { return nvenc.getEncodeGUIDCount(encoder_, n); },
                               [&](GUID* items, unsigned int n, unsigned int* filled) {
                                   return nvenc.getEncodeGUIDs(encoder_, items, n, filled);
                               });
    }

    std::vector<GUID> profiles(const GUID& codec)
    {
        NvEnc& nvenc = NvEnc::instance();
        return enumerate<GUID>(
            [&](unsigned int* n) { return nvenc.getEncodeProfileGUIDCount(encoder_, codec, n); },
            [&](GUID* items, unsigned int n, unsigned int* filled) {
                return nvenc.getEncodeProfileGUIDs(encoder_, codec, items, n, filled);
            });
    }

    std::vector<GUID> presets(const GUID& codec)
    {
        NvEnc& nvenc = NvEnc::instance();
        return enumerate<GUID>([&](unsigned int* n) { return nvenc.getEncodePresetCount(encoder_, codec, n); },
                               [&](GUID* items, unsigned int n, unsigned int* filled) {
                                   return nvenc.getEncodePresetGUIDs(encoder_, codec, items, n, filled);
                               });
    }

    std::vector<NV_ENC_BUFFER_FORMAT> inputFormats(const GUID& codec)
    {
        NvEnc& nvenc = NvEnc::instance();
        return enumerate<NV_ENC_BUFFER_FORMAT>(
            [&](unsigned int* n) { return nvenc.getInputFormatCount(encoder_, codec, n); },
            [&](NV_ENC_BUFFER_FORMAT* items, unsigned int n, unsigned int* filled) {
                return nvenc.getInputFormats(encoder_, codec, items, n, filled);
            });
    }

    // Encodes the pattern into an H.264 elementary stream, one picture in and one out at a time.
    void encodePattern(const GUID& preset, std::vector<uint8_t>& stream);

    void* encoder_ = nullptr;
};

TEST_F(EncoderDriver, ListsCodecsProfilesPresetsAndInputFormats)
{
    const std::vector<GUID> offered = codecs();
    ASSERT_TRUE(contains(offered, NV_ENC_CODEC_H264_GUID));
    for (const GUID& codec : offered) {
        EXPECT_FALSE(profiles(codec).empty());
        EXPECT_FALSE(presets(codec).empty());
        EXPECT_FALSE(inputFormats(codec).empty());
    }
    EXPECT_TRUE(contains(profiles(NV_ENC_CODEC_H264_GUID), NV_ENC_H264_PROFILE_MAIN_GUID));
    EXPECT_TRUE(contains(inputFormats(NV_ENC_CODEC_H264_GUID), NV_ENC_BUFFER_FORMAT_NV12));

    auto caps = zeroed<NV_ENC_CAPS_PARAM>();
    caps.capsToQuery = NV_ENC_CAPS_WIDTH_MAX;
    int widthMax = 0;
    ASSERT_TRUE(succeeded(NvEnc::instance().getEncodeCAPS(encoder_, NV_ENC_CODEC_H264_GUID, &caps, &widthMax)));
    EXPECT_GE(widthMax, static_cast<int>(width));
}

// Buffers left behind by a failed assertion go with the session in TearDown.
void EncoderDriver::encodePattern(const GUID& preset, std::vector<uint8_t>& stream)
{
    NvEnc& nvenc = NvEnc::instance();
    auto presetConfig = zeroed<NV_ENC_PRESET_CONFIG>();
    ASSERT_TRUE(succeeded(nvenc.getEncodePresetConfig(encoder_, NV_ENC_CODEC_H264_GUID, preset, &presetConfig)));
    // No B-frames and no lookahead: every picture comes out as soon as it went in.
    presetConfig.presetCfg.frameIntervalP = 1;
    presetConfig.presetCfg.rcParams.enableLookahead = 0;
    auto init = zeroed<NV_ENC_INITIALIZE_PARAMS>();
    init.encodeGUID = NV_ENC_CODEC_H264_GUID;
    init.presetGUID = preset;
    init.encodeWidth = init.darWidth = init.maxEncodeWidth = width;
    init.encodeHeight = init.darHeight = init.maxEncodeHeight = height;
    init.frameRateNum = 30;
    init.frameRateDen = 1;
    init.enablePTD = 1;
    init.encodeConfig = &presetConfig.presetCfg;
    ASSERT_TRUE(succeeded(nvenc.initializeEncoder(encoder_, &init)));

    auto input = zeroed<NV_ENC_CREATE_INPUT_BUFFER>();
    input.width = width;
    input.height = height;
    input.bufferFmt = NV_ENC_BUFFER_FORMAT_NV12;
    ASSERT_TRUE(succeeded(nvenc.createInputBuffer(encoder_, &input)));
    auto bitstream = zeroed<NV_ENC_CREATE_BITSTREAM_BUFFER>();
    ASSERT_TRUE(succeeded(nvenc.createBitstreamBuffer(encoder_, &bitstream)));

    for (uint32_t frame = 0; frame < frames; ++frame) {
        SCOPED_TRACE(testing::Message() << "frame " << frame);
        auto lock = zeroed<NV_ENC_LOCK_INPUT_BUFFER>();
        lock.inputBuffer = input.inputBuffer;
        ASSERT_TRUE(succeeded(nvenc.lockInputBuffer(encoder_, &lock)));
        fillPattern(static_cast<uint8_t*>(lock.bufferDataPtr), lock.pitch, frame);
        ASSERT_TRUE(succeeded(nvenc.unlockInputBuffer(encoder_, input.inputBuffer)));

        auto picture = zeroed<NV_ENC_PIC_PARAMS>();
        picture.inputWidth = width;
        picture.inputHeight = height;
        picture.inputPitch = lock.pitch;
        picture.inputBuffer = input.inputBuffer;
        picture.outputBitstream = bitstream.bitstreamBuffer;
        picture.bufferFmt = NV_ENC_BUFFER_FORMAT_NV12;
        picture.pictureStruct = NV_ENC_PIC_STRUCT_FRAME;
        picture.inputTimeStamp = frame;
        ASSERT_TRUE(succeeded(nvenc.encodePicture(encoder_, &picture)));

        auto out = zeroed<NV_ENC_LOCK_BITSTREAM>();
        out.outputBitstream = bitstream.bitstreamBuffer;
        ASSERT_TRUE(succeeded(nvenc.lockBitstream(encoder_, &out)));
        const auto* bytes = static_cast<const uint8_t*>(out.bitstreamBufferPtr);
        stream.insert(stream.end(), bytes, bytes + out.bitstreamSizeInBytes);
        ASSERT_TRUE(succeeded(nvenc.unlockBitstream(encoder_, bitstream.bitstreamBuffer)));
    }
    // End of stream: nothing is left to come out, and "needs more input" counts as success here.
    auto end = zeroed<NV_ENC_PIC_PARAMS>();
    end.encodePicFlags = NV_ENC_PIC_FLAG_EOS;
    EXPECT_TRUE(succeeded(nvenc.encodePicture(encoder_, &end)));
    EXPECT_TRUE(succeeded(nvenc.destroyBitstreamBuffer(encoder_, bitstream.bitstreamBuffer)));
    EXPECT_TRUE(succeeded(nvenc.destroyInputBuffer(encoder_, input.inputBuffer)));
}

TEST_F(EncoderDriver, EncodesThirtyFramesThatDecodeBack)
{
    if (auto loaded = CuVid::instance().loadLib(); loaded.has_error()) {
        GTEST_SKIP() << "decoder library unavailable to decode the result: " << messageOf(loaded);
    }
    // The balanced preset where the driver offers it, otherwise the first it lists.
    const std::vector<GUID> offered = presets(NV_ENC_CODEC_H264_GUID);
    ASSERT_FALSE(offered.empty());
    const GUID preset = contains(offered, NV_ENC_PRESET_P4_GUID) ? NV_ENC_PRESET_P4_GUID : offered.front();

    std::vector<uint8_t> stream;
    encodePattern(preset, stream);
    ASSERT_FALSE(HasFailure());
    ASSERT_FALSE(stream.empty());

    DecodedStream decoded;
    ASSERT_TRUE(decodeH264(stream, context_, decoded));
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
    ASSERT_EQ(decoded.lumaPlanes.size(), frames);
    // Lossy, but close: the mean error of each picture against what went in stays small.
    for (uint32_t frame = 0; frame < frames; ++frame) {
        long error = 0;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                error += std::abs(decoded.lumaPlanes[frame][y * width + x] - lumaAt(x, y, frame));
            }
        }
        EXPECT_LT(error / static_cast<long>(width * height), 8) << "frame " << frame;
    }
}

}  // namespace
