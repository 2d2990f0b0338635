#include "operation_table.h"

#include <algorithm>
#include <iterator>

namespace tav::test::nvenc {

using List = NV_ENCODE_API_FUNCTION_LIST;

#define TAV_ENTRY(entry) offsetof(List, entry)
#define TAV_WORD(Struct, field, value) VersionWord{offsetof(Struct, field), value}

const std::vector<Operation>& operations()
{
    static const std::vector<Operation> table{
        {"getEncodeGUIDCount", TAV_ENTRY(nvEncGetEncodeGUIDCount), {}, 54,
         [](Probe& p) { return p.run(&NvEnc::getEncodeGUIDCount, p.encoder, &p.count); }},
        {"getEncodeGUIDs", TAV_ENTRY(nvEncGetEncodeGUIDs), {}, 63,
         [](Probe& p) { return p.run(&NvEnc::getEncodeGUIDs, p.encoder, p.guids, 3, &p.count); }},
        {"getEncodeProfileGUIDCount", TAV_ENTRY(nvEncGetEncodeProfileGUIDCount), {}, 72,
         [](Probe& p) { return p.run(&NvEnc::getEncodeProfileGUIDCount, p.encoder, p.codec, &p.count); }},
        {"getEncodeProfileGUIDs", TAV_ENTRY(nvEncGetEncodeProfileGUIDs), {}, 81,
         [](Probe& p) { return p.run(&NvEnc::getEncodeProfileGUIDs, p.encoder, p.codec, p.guids, 2, &p.count); }},
        {"getInputFormatCount", TAV_ENTRY(nvEncGetInputFormatCount), {}, 90,
         [](Probe& p) { return p.run(&NvEnc::getInputFormatCount, p.encoder, p.codec, &p.count); }},
        {"getInputFormats", TAV_ENTRY(nvEncGetInputFormats), {}, 99,
         [](Probe& p) { return p.run(&NvEnc::getInputFormats, p.encoder, p.codec, p.formats, 3, &p.count); }},
        {"getEncodeCAPS", TAV_ENTRY(nvEncGetEncodeCaps), {TAV_WORD(NV_ENC_CAPS_PARAM, version, 0x71010008)}, 109,
         [](Probe& p) {
             return p.run(&NvEnc::getEncodeCAPS, p.encoder, p.codec, p.structure<NV_ENC_CAPS_PARAM>(), &p.value);
         }},
        {"getEncodePresetCount", TAV_ENTRY(nvEncGetEncodePresetCount), {}, 118,
         [](Probe& p) { return p.run(&NvEnc::getEncodePresetCount, p.encoder, p.codec, &p.count); }},
        {"getEncodePresetGUIDs", TAV_ENTRY(nvEncGetEncodePresetGUIDs), {}, 127,
         [](Probe& p) { return p.run(&NvEnc::getEncodePresetGUIDs, p.encoder, p.codec, p.guids, 1, &p.count); }},
        {"getEncodePresetConfig", TAV_ENTRY(nvEncGetEncodePresetConfig),
         {TAV_WORD(NV_ENC_PRESET_CONFIG, version, 0xf1040008),
          TAV_WORD(NV_ENC_PRESET_CONFIG, presetCfg.version, 0xf1070008)},
         138,
         [](Probe& p) {
             return p.run(&NvEnc::getEncodePresetConfig, p.encoder, p.codec, p.preset,
                          p.structure<NV_ENC_PRESET_CONFIG>());
         }},
        {"initializeEncoder", TAV_ENTRY(nvEncInitializeEncoder),
         {TAV_WORD(NV_ENC_INITIALIZE_PARAMS, version, 0xf1050008)}, 148,
         [](Probe& p) { return p.run(&NvEnc::initializeEncoder, p.encoder, p.structure<NV_ENC_INITIALIZE_PARAMS>()); }},
        {"createInputBuffer", TAV_ENTRY(nvEncCreateInputBuffer),
         {TAV_WORD(NV_ENC_CREATE_INPUT_BUFFER, version, 0x71010008)}, 158,
         [](Probe& p) {
             return p.run(&NvEnc::createInputBuffer, p.encoder, p.structure<NV_ENC_CREATE_INPUT_BUFFER>());
         }},
        {"destroyInputBuffer", TAV_ENTRY(nvEncDestroyInputBuffer), {}, 167,
         [](Probe& p) { return p.run(&NvEnc::destroyInputBuffer, p.encoder, p.handle); }},
        {"createBitstreamBuffer", TAV_ENTRY(nvEncCreateBitstreamBuffer),
         {TAV_WORD(NV_ENC_CREATE_BITSTREAM_BUFFER, version, 0x71010008)}, 177,
         [](Probe& p) {
             return p.run(&NvEnc::createBitstreamBuffer, p.encoder, p.structure<NV_ENC_CREATE_BITSTREAM_BUFFER>());
         }},
        {"destroyBitstreamBuffer", TAV_ENTRY(nvEncDestroyBitstreamBuffer), {}, 186,
         [](Probe& p) { return p.run(&NvEnc::destroyBitstreamBuffer, p.encoder, p.handle); }},
        {"encodePicture", TAV_ENTRY(nvEncEncodePicture), {TAV_WORD(NV_ENC_PIC_PARAMS, version, 0xf1040008)}, 200,
         [](Probe& p) { return p.run(&NvEnc::encodePicture, p.encoder, p.structure<NV_ENC_PIC_PARAMS>()); }},
        {"lockBitstream", TAV_ENTRY(nvEncLockBitstream), {TAV_WORD(NV_ENC_LOCK_BITSTREAM, version, 0x71010008)}, 213,
         [](Probe& p) { return p.run(&NvEnc::lockBitstream, p.encoder, p.structure<NV_ENC_LOCK_BITSTREAM>()); }},
        {"unlockBitstream", TAV_ENTRY(nvEncUnlockBitstream), {}, 222,
         [](Probe& p) { return p.run(&NvEnc::unlockBitstream, p.encoder, p.handle); }},
        {"lockInputBuffer", TAV_ENTRY(nvEncLockInputBuffer),
         {TAV_WORD(NV_ENC_LOCK_INPUT_BUFFER, version, 0x71010008)}, 232,
         [](Probe& p) { return p.run(&NvEnc::lockInputBuffer, p.encoder, p.structure<NV_ENC_LOCK_INPUT_BUFFER>()); }},
        {"unlockInputBuffer", TAV_ENTRY(nvEncUnlockInputBuffer), {}, 241,
         [](Probe& p) { return p.run(&NvEnc::unlockInputBuffer, p.encoder, p.handle); }},
        {"getEncodeStats", TAV_ENTRY(nvEncGetEncodeStats), {TAV_WORD(NV_ENC_STAT, version, 0x71010008)}, 251,
         [](Probe& p) { return p.run(&NvEnc::getEncodeStats, p.encoder, p.structure<NV_ENC_STAT>()); }},
        {"getSequenceParams", TAV_ENTRY(nvEncGetSequenceParams),
         {TAV_WORD(NV_ENC_SEQUENCE_PARAM_PAYLOAD, version, 0x71010008)}, 261,
         [](Probe& p) {
             return p.run(&NvEnc::getSequenceParams, p.encoder, p.structure<NV_ENC_SEQUENCE_PARAM_PAYLOAD>());
         }},
        {"registerAsyncEvent", TAV_ENTRY(nvEncRegisterAsyncEvent), {TAV_WORD(NV_ENC_EVENT_PARAMS, version, 0x71010008)},
         271, [](Probe& p) { return p.run(&NvEnc::registerAsyncEvent, p.encoder, p.structure<NV_ENC_EVENT_PARAMS>()); }},
        {"unregisterAsyncEvent", TAV_ENTRY(nvEncUnregisterAsyncEvent),
         {TAV_WORD(NV_ENC_EVENT_PARAMS, version, 0x71010008)}, 281,
         [](Probe& p) { return p.run(&NvEnc::unregisterAsyncEvent, p.encoder, p.structure<NV_ENC_EVENT_PARAMS>()); }},
        {"mapInputResource", TAV_ENTRY(nvEncMapInputResource),
         {TAV_WORD(NV_ENC_MAP_INPUT_RESOURCE, version, 0x71040008)}, 291,
         [](Probe& p) {
             return p.run(&NvEnc::mapInputResource, p.encoder, p.structure<NV_ENC_MAP_INPUT_RESOURCE>());
         }},
        {"unmapInputResource", TAV_ENTRY(nvEncUnmapInputResource), {}, 300,
         [](Probe& p) { return p.run(&NvEnc::unmapInputResource, p.encoder, p.handle); }},
        {"destroyEncoder", TAV_ENTRY(nvEncDestroyEncoder), {}, 309,
         [](Probe& p) { return p.run(&NvEnc::destroyEncoder, p.encoder); }},
        {"invalidateRefFrames", TAV_ENTRY(nvEncInvalidateRefFrames), {}, 318,
         [](Probe& p) { return p.run(&NvEnc::invalidateRefFrames, p.encoder, 0x8000000000000123ul); }},
        {"openEncodeSessionEx", TAV_ENTRY(nvEncOpenEncodeSessionEx),
         {TAV_WORD(NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS, version, 0x71010008),
          TAV_WORD(NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS, apiVersion, 0x01000008)},
         329,
         [](Probe& p) {
             return p.run(&NvEnc::openEncodeSessionEx, p.structure<NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS>(), &p.session);
         }},
        {"registerResource", TAV_ENTRY(nvEncRegisterResource),
         {TAV_WORD(NV_ENC_REGISTER_RESOURCE, version, 0x71030008)}, 339,
         [](Probe& p) { return p.run(&NvEnc::registerResource, p.encoder, p.structure<NV_ENC_REGISTER_RESOURCE>()); }},
        {"unregisterResource", TAV_ENTRY(nvEncUnregisterResource), {}, 348,
         [](Probe& p) { return p.run(&NvEnc::unregisterResource, p.encoder, p.handle); }},
        {"reconfigureEncoder", TAV_ENTRY(nvEncReconfigureEncoder),
         {TAV_WORD(NV_ENC_RECONFIGURE_PARAMS, version, 0xf1010008)}, 358,
         [](Probe& p) {
             return p.run(&NvEnc::reconfigureEncoder, p.encoder, p.structure<NV_ENC_RECONFIGURE_PARAMS>());
         }},
        {"createMVBuffer", TAV_ENTRY(nvEncCreateMVBuffer), {TAV_WORD(NV_ENC_CREATE_MV_BUFFER, version, 0x71010008)},
         368, [](Probe& p) { return p.run(&NvEnc::createMVBuffer, p.encoder, p.structure<NV_ENC_CREATE_MV_BUFFER>()); }},
        {"destroyMVBuffer", TAV_ENTRY(nvEncDestroyMVBuffer), {}, 377,
         [](Probe& p) { return p.run(&NvEnc::destroyMVBuffer, p.encoder, p.handle); }},
        {"runMotionEstimationOnly", TAV_ENTRY(nvEncRunMotionEstimationOnly),
         {TAV_WORD(NV_ENC_MEONLY_PARAMS, version, 0x71030008)}, 387,
         [](Probe& p) {
             return p.run(&NvEnc::runMotionEstimationOnly, p.encoder, p.structure<NV_ENC_MEONLY_PARAMS>());
         }},
    };
    return table;
}

std::vector<std::uint32_t> valuesOf(const std::vector<VersionWord>& words)
{
    std::vector<std::uint32_t> values;
    std::transform(words.begin(), words.end(), std::back_inserter(values),
                   [](const VersionWord& word) { return word.value; });
    return values;
}

}  // namespace tav::test::nvenc
