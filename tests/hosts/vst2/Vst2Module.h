// What every raw VST 2.4 host here needs: loading a module the way a DAW does (dlopen on Linux,
// LoadLibrary on Windows), an effect instance driven through its dispatcher, the wire values the
// fst headers leave unnamed, and the SDK's speaker arrangement. Shared by the VST 2.4 host tests
// and the Windows comparison host (tests/windows), as the static library orvalis_vst2_module.
#pragma once

#include "tests/hosts/HostMessages.h"

#include <pluginterfaces/vst2.x/aeffectx.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvalis::vst2
{
// Opcodes and speaker values that fst leaves unnamed; these are the numbers hosts send.
constexpr int hostOpcodeIOChanged = 13;
constexpr int effOpcodeSetBypass = 44;
constexpr int effOpcodeGetTailSize = 52;
constexpr int speakerArrStereo = 1;
constexpr int speakerArrQuad = 11; // L R Ls Rs
constexpr int speakerArr51 = 15;   // L R C Lfe Ls Rs
constexpr int speakerArrUserDefined = -2;

constexpr int32_t fourCharCode (const char (&c)[5])
{
    return (int32_t) (((uint32_t) (unsigned char) c[0] << 24)
                      | ((uint32_t) (unsigned char) c[1] << 16)
                      | ((uint32_t) (unsigned char) c[2] << 8) | (uint32_t) (unsigned char) c[3]);
}

using PluginMain = AEffect* (*) (audioMasterCallback);

/** Loads the module and returns its VSTPluginMain, or nullptr; the module stays loaded. */
PluginMain loadPluginMain (const char* path);

/** One effect from the module's main, opened at once and suspended and closed when the object
    goes; effect is nullptr when main is nullptr or gave no effect. */
class Instance
{
public:
    Instance (PluginMain main, audioMasterCallback host);
    ~Instance();

    Instance (const Instance&) = delete;
    Instance& operator= (const Instance&) = delete;

    VstIntPtr dispatch (
        int opcode, int index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);

    /** A text the dispatcher writes into a buffer of the host's (names, labels, displays). */
    std::string text (int opcode, int index = 0);

    /** Suspends, sets the rate (none when rate is 0 or less) and the block size, and resumes. */
    void resume (double rate, int blockSize);

    std::vector<uint8_t> chunk (bool programOnly = false);
    VstIntPtr setChunk (std::vector<uint8_t> bytes, bool programOnly = false);

    uint32_t flags() const { return (uint32_t) effect->flags; }

    /** The input's channels through processReplacing in blocks, with separate output buffers;
        the effect's other inputs, if it has more, get silence and its other outputs are dropped. */
    std::vector<std::vector<float>> process (const std::vector<std::vector<float>>& input,
                                             int blockSize);

    AEffect* effect = nullptr;
};

// The SDK's speaker arrangement with room for eight speakers (fst declares a flexible array).
struct SpeakerArrangement
{
    int type = 0;
    int numChannels = 0;
    VstSpeakerProperties speakers[8] {};
};

SpeakerArrangement makeArrangement (int type, std::vector<int> speakerTypes);

/** A user-defined arrangement of numChannels speakers of undefined type, laid out as the SDK's
    with a speaker array as long as the channel count (a host's request for more than eight). */
class WideArrangement
{
public:
    explicit WideArrangement (int numChannels);
    VstIntPtr value() { return (VstIntPtr) storage.data(); }
    void* pointer() { return storage.data(); }

private:
    std::vector<uint64_t> storage;
};
} // namespace orvalis::vst2
