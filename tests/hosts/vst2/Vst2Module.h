// What every raw VST 2.4 host here needs: loading a module the way a DAW does (dlopen on Linux,
// LoadLibrary on Windows), the wire values the fst headers leave unnamed, and the SDK's speaker
// arrangement. Shared by the VST 2.4 host tests and the Windows comparison host (tests/windows).
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <pluginterfaces/vst2.x/aeffectx.h>

#include <cstdint>
#include <cstdio>
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
inline PluginMain loadPluginMain (const char* path)
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

/** Delivers the window messages queued for this thread, as a Windows host's GUI thread does;
    JUCE's asynchronous updates (such as telling the host that the delay changed) travel that way.
    Nothing to do elsewhere. */
inline void dispatchHostMessages()
{
#ifdef _WIN32
    MSG message;
    while (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage (&message);
        DispatchMessageW (&message);
    }
#endif
}

// The SDK's speaker arrangement with room for eight speakers (fst declares a flexible array).
struct SpeakerArrangement
{
    int type = 0;
    int numChannels = 0;
    VstSpeakerProperties speakers[8] {};
};

inline SpeakerArrangement makeArrangement (int type, std::vector<int> speakerTypes)
{
    SpeakerArrangement arrangement;
    arrangement.type = type;
    arrangement.numChannels = (int) speakerTypes.size();
    for (size_t i = 0; i < speakerTypes.size(); ++i)
        arrangement.speakers[i].type = speakerTypes[i];
    return arrangement;
}
} // namespace orvalis::vst2
