// The decoder binding against NVIDIA's libnvcuvid without a GPU: the H.264 parser runs on the CPU, and the calls
// that need the device fail with CUDA's statuses, without a crash. A branch whose library lacks an entry point
// that the binding resolves answers every call with the load's failure.
#include "branches.h"
#include "support.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>

#include <ffnvcodec/dynlink_cuviddec.h>
#include <ffnvcodec/dynlink_nvcuvid.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace tav::test::driver {
namespace {

using tav::nvidia::CuVid;
using tav::nvidia::detail::cuda_error_domain;

template <class T>
T zeroed()
{
    T value;
    std::memset(&value, 0, sizeof(value));
    return value;
}

std::vector<char> fixture(const std::string& name)
{
    std::ifstream file(std::string(TAV_GPU_FIXTURES) + "/" + name, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What the parser reported through its callbacks.
struct Parsed {
    std::vector<CUVIDEOFORMAT> sequences;
    int decoded = 0;
    // The decode number of the picture in each decode surface, and the decode numbers in display order.
    std::map<int, int> decodeNumberOfSurface;
    std::vector<int> displayOrder;
};

int CUDAAPI onSequence(void* user, CUVIDEOFORMAT* format)
{
    static_cast<Parsed*>(user)->sequences.push_back(*format);
    return 1;
}

int CUDAAPI onDecode(void* user, CUVIDPICPARAMS* picture)
{
    auto& parsed = *static_cast<Parsed*>(user);
    parsed.decodeNumberOfSurface[picture->CurrPicIdx] = parsed.decoded++;
    return 1;
}

int CUDAAPI onDisplay(void* user, CUVIDPARSERDISPINFO* display)
{
    auto& parsed = *static_cast<Parsed*>(user);
    const auto surface = parsed.decodeNumberOfSurface.find(display->picture_index);
    parsed.displayOrder.push_back(surface != parsed.decodeNumberOfSurface.end() ? surface->second : -1);
    return 1;
}

// The values make-fixture wrote from ffprobe: "key value..." lines.
std::map<std::string, std::string> expectedFormat()
{
    std::ifstream file(std::string(TAV_GPU_FIXTURES) + "/pattern.expected");
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(file, line);) {
        const auto space = line.find(' ');
        if (space != std::string::npos) {
            values[line.substr(0, space)] = line.substr(space + 1);
        }
    }
    return values;
}

std::string joined(const std::vector<int>& numbers)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        out << (i == 0 ? "" : " ") << numbers[i];
    }
    return out.str();
}

bool loads(const tav::nvidia::Result& result, const LogCapture& capture)
{
    return driver::loads(result, capture, "cuvid", branch().cuvidMissing);
}

TEST(CuVidDriver, ParsesTheFixtureAsFfprobeDescribesIt)
{
    LogCapture capture;
    const auto expected = expectedFormat();
    ASSERT_FALSE(expected.empty()) << "pattern.expected is missing; run tests/gpu/fixtures/make-fixture";
    const std::vector<char> stream = fixture("pattern.h264");
    ASSERT_FALSE(stream.empty());
    CuVid& cuvid = CuVid::instance();
    Parsed parsed;
    auto parameters = zeroed<CUVIDPARSERPARAMS>();
    parameters.CodecType = cudaVideoCodec_H264;
    parameters.ulMaxNumDecodeSurfaces = 20;
    parameters.pUserData = &parsed;
    parameters.pfnSequenceCallback = onSequence;
    parameters.pfnDecodePicture = onDecode;
    parameters.pfnDisplayPicture = onDisplay;
    void* parser = nullptr;
    const auto created = cuvid.createVideoParser(&parser, &parameters);
    if (!loads(created, capture)) {
        return;
    }
    ASSERT_FALSE(created.has_error()) << messageOf(created);

    auto packet = zeroed<CUVIDSOURCEDATAPACKET>();
    packet.payload = reinterpret_cast<const unsigned char*>(stream.data());
    packet.payload_size = static_cast<unsigned long>(stream.size());
    packet.flags = CUVID_PKT_ENDOFSTREAM;
    const auto fed = cuvid.parseVideoData(parser, &packet);
    EXPECT_FALSE(fed.has_error()) << messageOf(fed);
    const auto destroyed = cuvid.destroyVideoParser(parser);
    EXPECT_FALSE(destroyed.has_error()) << messageOf(destroyed);

    ASSERT_EQ(parsed.sequences.size(), 1u);
    const CUVIDEOFORMAT& format = parsed.sequences[0];
    EXPECT_EQ(format.codec, cudaVideoCodec_H264);
    EXPECT_EQ(expected.at("codec"), "h264");
    EXPECT_EQ(std::to_string(format.coded_width) + "x" + std::to_string(format.coded_height), expected.at("coded"));
    EXPECT_EQ(std::to_string(format.display_area.right - format.display_area.left) + "x" +
                  std::to_string(format.display_area.bottom - format.display_area.top),
              expected.at("display"));
    EXPECT_EQ(format.chroma_format, cudaVideoChromaFormat_420);
    EXPECT_EQ(expected.at("chroma"), "420");
    EXPECT_EQ(std::to_string(format.bit_depth_luma_minus8 + 8), expected.at("bit_depth"));
    EXPECT_EQ(std::to_string(format.frame_rate.numerator) + "/" + std::to_string(format.frame_rate.denominator),
              expected.at("frame_rate"));
    EXPECT_EQ(format.progressive_sequence ? "progressive" : "interlaced", expected.at("scan"));
    EXPECT_EQ(std::to_string(parsed.decoded), expected.at("frames"));
    EXPECT_EQ(joined(parsed.displayOrder), expected.at("display_order"));
}

TEST(CuVidDriver, CreateDecoderWithoutAContextFailsWithNoDevice)
{
    LogCapture capture;
    auto info = zeroed<CUVIDDECODECREATEINFO>();
    info.CodecType = cudaVideoCodec_H264;
    info.ChromaFormat = cudaVideoChromaFormat_420;
    info.OutputFormat = cudaVideoSurfaceFormat_NV12;
    info.ulWidth = info.ulMaxWidth = info.ulTargetWidth = 176;
    info.ulHeight = info.ulMaxHeight = info.ulTargetHeight = 144;
    info.ulNumDecodeSurfaces = 8;
    info.ulNumOutputSurfaces = 1;
    void* decoder = nullptr;

    const auto created = CuVid::instance().createDecoder(&decoder, &info);

    if (!loads(created, capture)) {
        return;
    }
    const auto* value = valueOf<cuda_error_domain>(created);
    ASSERT_NE(value, nullptr) << domainOf(created) << ": " << messageOf(created);
    EXPECT_EQ(static_cast<int>(value->status), cudaNoDevice);
    EXPECT_TRUE(startsWith(text(value->origin), "(src/cuvid:")) << text(value->origin);
    EXPECT_EQ(decoder, nullptr);
    EXPECT_EQ(creationRecords(capture).size(), 1u);
}

// Each call with a null object reaches the library, which refuses it with CUDA_ERROR_INVALID_HANDLE.
TEST(CuVidDriver, CallsOnNullObjectsFailWithInvalidHandle)
{
    LogCapture capture;
    CuVid& cuvid = CuVid::instance();
    auto picture = zeroed<CUVIDPICPARAMS>();
    auto processing = zeroed<CUVIDPROCPARAMS>();
    auto packet = zeroed<CUVIDSOURCEDATAPACKET>();
    unsigned long long frame = 0;
    unsigned int pitch = 0;
    const std::vector<std::pair<const char*, tav::nvidia::Result>> calls = [&] {
        std::vector<std::pair<const char*, tav::nvidia::Result>> made;
        made.emplace_back("destroyDecoder", cuvid.destroyDecoder(nullptr));
        made.emplace_back("decodePicture", cuvid.decodePicture(nullptr, &picture));
        made.emplace_back("mapVideoFrame", cuvid.mapVideoFrame(nullptr, 0, &frame, &pitch, &processing));
        made.emplace_back("unmapVideoFrame", cuvid.unmapVideoFrame(nullptr, 0));
        made.emplace_back("parseVideoData", cuvid.parseVideoData(nullptr, &packet));
        made.emplace_back("destroyVideoParser", cuvid.destroyVideoParser(nullptr));
        made.emplace_back("ctxLockDestroy", cuvid.ctxLockDestroy(nullptr));
        return made;
    }();
    for (const auto& [name, result] : calls) {
        SCOPED_TRACE(name);
        if (!loads(result, capture)) {
            continue;
        }
        const auto* value = valueOf<cuda_error_domain>(result);
        ASSERT_NE(value, nullptr) << name << ": " << domainOf(result) << ": " << messageOf(result);
        EXPECT_EQ(static_cast<int>(value->status), cudaInvalidHandle) << name << ": " << messageOf(result);
    }
}

}  // namespace
}  // namespace tav::test::driver
