// Encodes a generated moving test pattern to an H.264 elementary stream.
//   encode_pattern OUTPUT.h264 [FRAMES]
#include "check.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/nvenc>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::NvEnc;

constexpr uint32_t width = 320;
constexpr uint32_t height = 240;

template <class T>
T zeroed()
{
    T value;
    std::memset(&value, 0, sizeof(value));
    return value;
}

// NV12: a luma ramp that moves with the frame, and neutral chroma.
void fillPattern(uint8_t* data, uint32_t pitch, uint32_t frame)
{
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            data[y * pitch + x] = static_cast<uint8_t>(x + y + 4 * frame);
        }
    }
    std::memset(data + height * pitch, 128, pitch * height / 2);
}

// Copies whatever the encoder has finished into the output file.
bool drain(NvEnc& nvenc, void* encoder, void* bitstream, std::ofstream& out)
{
    auto lock = zeroed<NV_ENC_LOCK_BITSTREAM>();
    lock.outputBitstream = bitstream;
    if (!succeeded(nvenc.lockBitstream(encoder, &lock), "lockBitstream")) {
        return false;
    }
    out.write(static_cast<const char*>(lock.bitstreamBufferPtr), lock.bitstreamSizeInBytes);
    return succeeded(nvenc.unlockBitstream(encoder, bitstream), "unlockBitstream");
}

bool encode(NvEnc& nvenc, void* encoder, uint32_t frames, std::ofstream& out)
{
    auto presetConfig = zeroed<NV_ENC_PRESET_CONFIG>();
    if (!succeeded(nvenc.getEncodePresetConfig(encoder, NV_ENC_CODEC_H264_GUID, NV_ENC_PRESET_P4_GUID, &presetConfig),
                   "getEncodePresetConfig")) {
        return false;
    }
    auto init = zeroed<NV_ENC_INITIALIZE_PARAMS>();
    init.encodeGUID = NV_ENC_CODEC_H264_GUID;
    init.presetGUID = NV_ENC_PRESET_P4_GUID;
    init.encodeWidth = init.darWidth = init.maxEncodeWidth = width;
    init.encodeHeight = init.darHeight = init.maxEncodeHeight = height;
    init.frameRateNum = 30;
    init.frameRateDen = 1;
    init.enablePTD = 1;
    init.encodeConfig = &presetConfig.presetCfg;
    if (!succeeded(nvenc.initializeEncoder(encoder, &init), "initializeEncoder")) {
        return false;
    }

    auto input = zeroed<NV_ENC_CREATE_INPUT_BUFFER>();
    input.width = width;
    input.height = height;
    input.bufferFmt = NV_ENC_BUFFER_FORMAT_NV12;
    if (!succeeded(nvenc.createInputBuffer(encoder, &input), "createInputBuffer")) {
        return false;
    }
    auto bitstream = zeroed<NV_ENC_CREATE_BITSTREAM_BUFFER>();
    bool ok = succeeded(nvenc.createBitstreamBuffer(encoder, &bitstream), "createBitstreamBuffer");

    for (uint32_t frame = 0; ok && frame < frames; ++frame) {
        auto lock = zeroed<NV_ENC_LOCK_INPUT_BUFFER>();
        lock.inputBuffer = input.inputBuffer;
        ok = succeeded(nvenc.lockInputBuffer(encoder, &lock), "lockInputBuffer");
        if (!ok) {
            break;
        }
        fillPattern(static_cast<uint8_t*>(lock.bufferDataPtr), lock.pitch, frame);
        ok = succeeded(nvenc.unlockInputBuffer(encoder, input.inputBuffer), "unlockInputBuffer");

        auto picture = zeroed<NV_ENC_PIC_PARAMS>();
        picture.inputWidth = width;
        picture.inputHeight = height;
        picture.inputPitch = lock.pitch;
        picture.inputBuffer = input.inputBuffer;
        picture.outputBitstream = bitstream.bitstreamBuffer;
        picture.bufferFmt = NV_ENC_BUFFER_FORMAT_NV12;
        picture.pictureStruct = NV_ENC_PIC_STRUCT_FRAME;
        picture.inputTimeStamp = frame;
        ok = ok && succeeded(nvenc.encodePicture(encoder, &picture), "encodePicture") &&
             drain(nvenc, encoder, bitstream.bitstreamBuffer, out);
    }
    if (ok) {
        // End of stream: the encoder flushes; "needs more input" counts as success here.
        auto end = zeroed<NV_ENC_PIC_PARAMS>();
        end.encodePicFlags = NV_ENC_PIC_FLAG_EOS;
        ok = succeeded(nvenc.encodePicture(encoder, &end), "encodePicture (end of stream)");
    }
    if (bitstream.bitstreamBuffer != nullptr) {
        succeeded(nvenc.destroyBitstreamBuffer(encoder, bitstream.bitstreamBuffer), "destroyBitstreamBuffer");
    }
    succeeded(nvenc.destroyInputBuffer(encoder, input.inputBuffer), "destroyInputBuffer");
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.h264 [FRAMES]\n", argv[0]);
        return 2;
    }
    const uint32_t frames = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 30;
    Cuda& cuda = Cuda::instance();
    NvEnc& nvenc = NvEnc::instance();

    CUdevice device = 0;
    CUcontext context = nullptr;
    if (!succeeded(cuda.deviceGet(&device, 0), "deviceGet") ||
        !succeeded(cuda.ctxCreate(&context, 0, device), "ctxCreate")) {
        return 1;
    }
    auto session = zeroed<NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS>();
    session.deviceType = NV_ENC_DEVICE_TYPE_CUDA;
    session.device = context;
    void* encoder = nullptr;
    bool ok = succeeded(nvenc.openEncodeSessionEx(&session, &encoder), "openEncodeSessionEx");
    if (ok) {
        std::ofstream out(argv[1], std::ios::binary);
        ok = encode(nvenc, encoder, frames, out);
        succeeded(nvenc.destroyEncoder(encoder), "destroyEncoder");
        if (ok) {
            std::printf("encoded %u frames to %s\n", frames, argv[1]);
        }
    }
    succeeded(cuda.ctxDestroy(context), "ctxDestroy");
    return ok ? 0 : 1;
}
