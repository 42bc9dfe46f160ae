#include "tests/hosts/vst2/Vst2Module.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>

namespace orvalis::vst2
{
PluginMain loadPluginMain (const char* path)
{
#ifdef _WIN32
    HMODULE handle = LoadLibraryA (path);
    if (handle == nullptr)
    {
        std::fprintf (stderr, "cannot load %s (error %lu)\n", path, GetLastError());
        return nullptr;
    }
    return reinterpret_cast<PluginMain> (
        reinterpret_cast<void*> (GetProcAddress (handle, "VSTPluginMain")));
#else
    void* handle = dlopen (path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
    {
        std::fprintf (stderr, "cannot load %s: %s\n", path, dlerror());
        return nullptr;
    }
    return reinterpret_cast<PluginMain> (dlsym (handle, "VSTPluginMain"));
#endif
}

Instance::Instance (PluginMain main, audioMasterCallback host)
{
    if (main != nullptr)
        effect = main (host);
    if (effect != nullptr)
        dispatch (effOpen);
}

Instance::~Instance()
{
    if (effect != nullptr)
    {
        dispatch (effMainsChanged, 0, 0);
        dispatch (effClose);
    }
}

VstIntPtr Instance::dispatch (int opcode, int index, VstIntPtr value, void* ptr, float opt)
{
    return effect->dispatcher (effect, opcode, index, value, ptr, opt);
}

std::string Instance::text (int opcode, int index)
{
    std::array<char, 512> buffer {};
    dispatch (opcode, index, 0, buffer.data());
    return buffer.data();
}

void Instance::resume (double rate, int blockSize)
{
    dispatch (effMainsChanged, 0, 0);
    if (rate > 0.0)
        dispatch (effSetSampleRate, 0, 0, nullptr, (float) rate);
    dispatch (effSetBlockSize, 0, blockSize);
    dispatch (effMainsChanged, 0, 1);
}

std::vector<uint8_t> Instance::chunk (bool programOnly)
{
    void* data = nullptr;
    const auto size = dispatch (effGetChunk, programOnly ? 1 : 0, 0, &data);
    if (size <= 0 || data == nullptr)
        return {};
    const auto* bytes = static_cast<const uint8_t*> (data);
    return { bytes, bytes + size };
}

VstIntPtr Instance::setChunk (std::vector<uint8_t> bytes, bool programOnly)
{
    return dispatch (effSetChunk,
                     programOnly ? 1 : 0,
                     (VstIntPtr) bytes.size(),
                     bytes.empty() ? nullptr : bytes.data());
}

std::vector<std::vector<float>> Instance::process (const std::vector<std::vector<float>>& input,
                                                   int blockSize)
{
    const auto numChannels = input.size();
    const auto numFrames = (int) input[0].size();
    std::vector<std::vector<float>> output (numChannels, std::vector<float> ((size_t) numFrames));
    const auto numIns = std::max (numChannels, (size_t) std::max (0, effect->numInputs));
    const auto numOuts = std::max (numChannels, (size_t) std::max (0, effect->numOutputs));
    std::vector<std::vector<float>> inCopy (numIns, std::vector<float> ((size_t) blockSize));
    std::vector<std::vector<float>> spareOut (numOuts, std::vector<float> ((size_t) blockSize));
    std::vector<float*> in (numIns), out (numOuts);

    for (int start = 0; start < numFrames; start += blockSize)
    {
        const int n = std::min (blockSize, numFrames - start);
        for (size_t ch = 0; ch < numIns; ++ch)
        {
            if (ch < numChannels)
                std::copy_n (input[ch].begin() + start, n, inCopy[ch].begin());
            else
                std::fill_n (inCopy[ch].begin(), n, 0.0f);
            in[ch] = inCopy[ch].data();
        }
        for (size_t ch = 0; ch < numOuts; ++ch)
            out[ch] = ch < numChannels ? output[ch].data() + start : spareOut[ch].data();
        effect->processReplacing (effect, in.data(), out.data(), n);
    }
    return output;
}

SpeakerArrangement makeArrangement (int type, std::vector<int> speakerTypes)
{
    SpeakerArrangement arrangement;
    arrangement.type = type;
    arrangement.numChannels = (int) speakerTypes.size();
    for (size_t i = 0; i < speakerTypes.size(); ++i)
        arrangement.speakers[i].type = speakerTypes[i];
    return arrangement;
}

WideArrangement::WideArrangement (int numChannels)
{
    const size_t bytes = offsetof (SpeakerArrangement, speakers)
                         + (size_t) std::max (numChannels, 8) * sizeof (VstSpeakerProperties);
    storage.assign ((bytes + sizeof (uint64_t) - 1) / sizeof (uint64_t), 0);
    auto* header = reinterpret_cast<SpeakerArrangement*> (storage.data());
    header->type = speakerArrUserDefined;
    header->numChannels = numChannels;
}
} // namespace orvalis::vst2
