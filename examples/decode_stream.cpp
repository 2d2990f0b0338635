// Decodes an H.264 elementary stream and reports the number of frames and a checksum of their luma planes.
//   decode_stream INPUT.h264
#include "check.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>

// The decoder's types: the binding's header only names them.
#include <ffnvcodec/dynlink_cuviddec.h>
#include <ffnvcodec/dynlink_nvcuvid.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;

struct Decoding {
    CUvideoctxlock lock = nullptr;
    CUvideodecoder decoder = nullptr;
    unsigned width = 0;
    unsigned height = 0;
    unsigned frames = 0;
    uint64_t checksum = 0;
    bool failed = false;
};

// Parser callbacks: returning 0 stops the parser.
int CUDAAPI onSequence(void* user, CUVIDEOFORMAT* format)
{
    auto& decoding = *static_cast<Decoding*>(user);
    if (decoding.decoder != nullptr) {
        return 1;
    }
    CUVIDDECODECREATEINFO info;
    std::memset(&info, 0, sizeof(info));
    info.CodecType = format->codec;
    info.ChromaFormat = format->chroma_format;
    info.OutputFormat = cudaVideoSurfaceFormat_NV12;
    info.DeinterlaceMode = cudaVideoDeinterlaceMode_Weave;
    info.ulWidth = info.ulMaxWidth = info.ulTargetWidth = format->coded_width;
    info.ulHeight = info.ulMaxHeight = info.ulTargetHeight = format->coded_height;
    info.ulNumDecodeSurfaces = format->min_num_decode_surfaces + 4;
    info.ulNumOutputSurfaces = 2;
    info.ulCreationFlags = cudaVideoCreate_PreferCUVID;
    info.vidLock = decoding.lock;
    decoding.width = format->display_area.right - format->display_area.left;
    decoding.height = format->display_area.bottom - format->display_area.top;
    decoding.failed = !succeeded(CuVid::instance().createDecoder(&decoding.decoder, &info), "createDecoder");
    return decoding.failed ? 0 : static_cast<int>(info.ulNumDecodeSurfaces);
}

int CUDAAPI onDecode(void* user, CUVIDPICPARAMS* picture)
{
    auto& decoding = *static_cast<Decoding*>(user);
    decoding.failed = !succeeded(CuVid::instance().decodePicture(decoding.decoder, picture), "decodePicture");
    return decoding.failed ? 0 : 1;
}

int CUDAAPI onDisplay(void* user, CUVIDPARSERDISPINFO* display)
{
    auto& decoding = *static_cast<Decoding*>(user);
    CUVIDPROCPARAMS processing;
    std::memset(&processing, 0, sizeof(processing));
    processing.progressive_frame = display->progressive_frame;
    processing.top_field_first = display->top_field_first;
    unsigned long long frame = 0;
    unsigned int pitch = 0;
    if (!succeeded(CuVid::instance().mapVideoFrame(decoding.decoder, display->picture_index, &frame, &pitch,
                                                   &processing),
                   "mapVideoFrame")) {
        decoding.failed = true;
        return 0;
    }
    std::vector<uint8_t> luma(static_cast<std::size_t>(pitch) * decoding.height);
    const bool copied = succeeded(Cuda::instance().memcpyDtoH(luma.data(), frame, luma.size()), "memcpyDtoH");
    succeeded(CuVid::instance().unmapVideoFrame(decoding.decoder, frame), "unmapVideoFrame");
    if (!copied) {
        decoding.failed = true;
        return 0;
    }
    for (unsigned y = 0; y < decoding.height; ++y) {
        for (unsigned x = 0; x < decoding.width; ++x) {
            decoding.checksum = decoding.checksum * 31 + luma[static_cast<std::size_t>(y) * pitch + x];
        }
    }
    ++decoding.frames;
    return 1;
}

bool decode(const std::vector<uint8_t>& stream, CUcontext context, Decoding& decoding)
{
    CuVid& cuvid = CuVid::instance();
    if (!succeeded(cuvid.ctxLockCreate(&decoding.lock, context), "ctxLockCreate")) {
        return false;
    }
    CUVIDPARSERPARAMS parameters;
    std::memset(&parameters, 0, sizeof(parameters));
    parameters.CodecType = cudaVideoCodec_H264;
    parameters.ulMaxNumDecodeSurfaces = 1;
    parameters.ulMaxDisplayDelay = 0;
    parameters.pUserData = &decoding;
    parameters.pfnSequenceCallback = onSequence;
    parameters.pfnDecodePicture = onDecode;
    parameters.pfnDisplayPicture = onDisplay;
    CUvideoparser parser = nullptr;
    bool ok = succeeded(cuvid.createVideoParser(&parser, &parameters), "createVideoParser");
    if (ok) {
        CUVIDSOURCEDATAPACKET packet;
        std::memset(&packet, 0, sizeof(packet));
        packet.payload = stream.data();
        packet.payload_size = static_cast<unsigned long>(stream.size());
        packet.flags = CUVID_PKT_ENDOFSTREAM;
        ok = succeeded(cuvid.parseVideoData(parser, &packet), "parseVideoData") && !decoding.failed;
        succeeded(cuvid.destroyVideoParser(parser), "destroyVideoParser");
    }
    if (decoding.decoder != nullptr) {
        succeeded(cuvid.destroyDecoder(decoding.decoder), "destroyDecoder");
    }
    succeeded(cuvid.ctxLockDestroy(decoding.lock), "ctxLockDestroy");
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s INPUT.h264\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Cuda& cuda = Cuda::instance();
    CUdevice device = 0;
    CUcontext context = nullptr;
    if (!succeeded(CuVid::instance().loadLib(), "loading the decoder") ||
        !succeeded(cuda.deviceGet(&device, 0), "deviceGet") ||
        !succeeded(cuda.ctxCreate(&context, 0, device), "ctxCreate")) {
        return 1;
    }
    Decoding decoding;
    const bool ok = decode(stream, context, decoding);
    succeeded(cuda.ctxDestroy(context), "ctxDestroy");
    if (ok) {
        std::printf("frames: %u\nluma checksum: %016llx\n", decoding.frames,
                    static_cast<unsigned long long>(decoding.checksum));
    }
    return ok ? 0 : 1;
}
