#include "h264_decoding.h"

#include "driver.h"

#include <tav/nvidia/cuvid>

#include <ffnvcodec/dynlink_cuviddec.h>
#include <ffnvcodec/dynlink_nvcuvid.h>

#include <string>

namespace tav::test::gpu {

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;

// The state the parser's callbacks share. The first failure stops the parser and is reported.
struct Decoding {
    CUvideoctxlock lock = nullptr;
    CUvideodecoder decoder = nullptr;
    DecodedStream* decoded = nullptr;
    std::string failure;

    // Keeps the first failure; true when the outcome succeeded.
    template <class Outcome>
    bool check(const Outcome& outcome, const char* step)
    {
        if (!outcome.has_error()) {
            return true;
        }
        if (failure.empty()) {
            failure = std::string(step) + ": " + messageOf(outcome);
        }
        return false;
    }
};

// The parser's callbacks return 0 to stop it; the sequence callback returns the number of decode surfaces.
int CUDAAPI onSequence(void* user, CUVIDEOFORMAT* format)
{
    auto& decoding = *static_cast<Decoding*>(user);
    if (decoding.decoder != nullptr) {
        decoding.failure = "the stream changed its format";
        return 0;
    }
    const unsigned width = static_cast<unsigned>(format->display_area.right - format->display_area.left);
    const unsigned height = static_cast<unsigned>(format->display_area.bottom - format->display_area.top);
    auto info = zeroed<CUVIDDECODECREATEINFO>();
    info.CodecType = format->codec;
    info.ChromaFormat = format->chroma_format;
    info.OutputFormat = cudaVideoSurfaceFormat_NV12;
    info.bitDepthMinus8 = format->bit_depth_luma_minus8;
    info.DeinterlaceMode = cudaVideoDeinterlaceMode_Weave;
    info.ulWidth = info.ulMaxWidth = format->coded_width;
    info.ulHeight = info.ulMaxHeight = format->coded_height;
    // The decoder crops to the visible area, so that the output surface holds exactly the displayed picture.
    info.display_area.left = static_cast<short>(format->display_area.left);
    info.display_area.top = static_cast<short>(format->display_area.top);
    info.display_area.right = static_cast<short>(format->display_area.right);
    info.display_area.bottom = static_cast<short>(format->display_area.bottom);
    info.ulTargetWidth = width;
    info.ulTargetHeight = height;
    info.ulNumDecodeSurfaces = format->min_num_decode_surfaces + 4;
    info.ulNumOutputSurfaces = 2;
    info.ulCreationFlags = cudaVideoCreate_PreferCUVID;
    info.vidLock = decoding.lock;
    if (!decoding.check(CuVid::instance().createDecoder(&decoding.decoder, &info), "createDecoder")) {
        return 0;
    }
    decoding.decoded->width = width;
    decoding.decoded->height = height;
    return static_cast<int>(info.ulNumDecodeSurfaces);
}

int CUDAAPI onDecode(void* user, CUVIDPICPARAMS* picture)
{
    auto& decoding = *static_cast<Decoding*>(user);
    return decoding.check(CuVid::instance().decodePicture(decoding.decoder, picture), "decodePicture") ? 1 : 0;
}

int CUDAAPI onDisplay(void* user, CUVIDPARSERDISPINFO* display)
{
    auto& decoding = *static_cast<Decoding*>(user);
    DecodedStream& decoded = *decoding.decoded;
    auto processing = zeroed<CUVIDPROCPARAMS>();
    processing.progressive_frame = display->progressive_frame;
    processing.top_field_first = display->top_field_first;
    processing.unpaired_field = display->repeat_first_field < 0;
    unsigned long long frame = 0;
    unsigned int pitch = 0;
    if (!decoding.check(
            CuVid::instance().mapVideoFrame(decoding.decoder, display->picture_index, &frame, &pitch, &processing),
            "mapVideoFrame")) {
        return 0;
    }
    std::vector<uint8_t> luma(static_cast<std::size_t>(decoded.width) * decoded.height);
    auto copy = zeroed<CUDA_MEMCPY2D>();
    copy.srcMemoryType = CU_MEMORYTYPE_DEVICE;
    copy.srcDevice = frame;
    copy.srcPitch = pitch;
    copy.dstMemoryType = CU_MEMORYTYPE_HOST;
    copy.dstHost = luma.data();
    copy.dstPitch = decoded.width;
    copy.WidthInBytes = decoded.width;
    copy.Height = decoded.height;
    const bool copied = decoding.check(Cuda::instance().memcpy2D(&copy), "memcpy2D of the luma plane");
    const bool unmapped =
        decoding.check(CuVid::instance().unmapVideoFrame(decoding.decoder, frame), "unmapVideoFrame");
    if (!copied || !unmapped) {
        return 0;
    }
    decoded.lumaPlanes.push_back(std::move(luma));
    return 1;
}

void parse(const std::vector<uint8_t>& stream, Decoding& decoding)
{
    CuVid& cuvid = CuVid::instance();
    auto parameters = zeroed<CUVIDPARSERPARAMS>();
    parameters.CodecType = cudaVideoCodec_H264;
    parameters.ulMaxNumDecodeSurfaces = 1;
    parameters.ulMaxDisplayDelay = 4;
    parameters.pUserData = &decoding;
    parameters.pfnSequenceCallback = onSequence;
    parameters.pfnDecodePicture = onDecode;
    parameters.pfnDisplayPicture = onDisplay;
    CUvideoparser parser = nullptr;
    if (!decoding.check(cuvid.createVideoParser(&parser, &parameters), "createVideoParser")) {
        return;
    }
    // One packet with the whole stream; the end-of-stream flag makes the parser flush every frame it holds.
    auto packet = zeroed<CUVIDSOURCEDATAPACKET>();
    packet.payload = stream.data();
    packet.payload_size = static_cast<unsigned long>(stream.size());
    packet.flags = CUVID_PKT_ENDOFSTREAM;
    decoding.check(cuvid.parseVideoData(parser, &packet), "parseVideoData");
    decoding.check(cuvid.destroyVideoParser(parser), "destroyVideoParser");
}

}  // namespace

::testing::AssertionResult decodeH264(const std::vector<uint8_t>& stream, CUcontext context, DecodedStream& decoded)
{
    CuVid& cuvid = CuVid::instance();
    Decoding decoding;
    decoding.decoded = &decoded;
    if (decoding.check(cuvid.ctxLockCreate(&decoding.lock, context), "ctxLockCreate")) {
        parse(stream, decoding);
        if (decoding.decoder != nullptr) {
            decoding.check(cuvid.destroyDecoder(decoding.decoder), "destroyDecoder");
        }
        decoding.check(cuvid.ctxLockDestroy(decoding.lock), "ctxLockDestroy");
    }
    if (!decoding.failure.empty()) {
        return ::testing::AssertionFailure() << decoding.failure;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tav::test::gpu
