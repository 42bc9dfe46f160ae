// A minimal VST 2.4 host on the free fst headers: it loads the built Orvalis.so the way a DAW does
// (dlopen, VSTPluginMain, dispatcher opcodes on the wire) and checks what the module answers.
// The same tests run on Orvalis.dll under Wine (scripts/windows-test.sh).

#include "tests/hosts/vst2/Vst2Module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace orvalis::vst2;

// What the host callback has been asked, and how it answers the version query.
struct HostLog
{
    std::mutex lock;
    std::vector<int> opcodes;
    VstIntPtr versionAnswer = 2400;

    void record (int opcode)
    {
        std::lock_guard<std::mutex> guard (lock);
        opcodes.push_back (opcode);
    }

    void clear()
    {
        std::lock_guard<std::mutex> guard (lock);
        opcodes.clear();
    }

    bool waitFor (int opcode, std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;

        for (;;)
        {
            {
                std::lock_guard<std::mutex> guard (lock);
                if (std::find (opcodes.begin(), opcodes.end(), opcode) != opcodes.end())
                    return true;
            }
            if (std::chrono::steady_clock::now() > end)
                return false;
            dispatchHostMessages();
            std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }
    }
};

HostLog hostLog;

VstIntPtr hostCallback (AEffect*, int opcode, int, VstIntPtr, void*, float)
{
    hostLog.record (opcode);
    return opcode == audioMasterVersion ? hostLog.versionAnswer : 0;
}

// The built module, or another one (an installed copy) named in ORVALIS_VST2_MODULE.
const char* modulePath()
{
    const char* path = std::getenv ("ORVALIS_VST2_MODULE");
    return path != nullptr && *path != 0 ? path : ORVALIS_VST2_MODULE;
}

// The module stays loaded for the whole run, as hosts keep plug-in libraries whose threads
// may outlive an instance.
PluginMain loadModule()
{
    static PluginMain entry = []() -> PluginMain { return loadPluginMain (modulePath()); }();
    return entry;
}

// An instance of the module under test, calling this host back.
struct Plugin : Instance
{
    Plugin() : Instance (loadModule(), hostCallback) {}
};

std::vector<std::vector<float>> makeNoise (int numFrames, float peak, unsigned seed)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> dist (-peak, peak);
    std::vector<std::vector<float>> signal (4, std::vector<float> ((size_t) numFrames));
    for (auto& channel : signal)
        for (auto& sample : channel)
            sample = dist (random);
    return signal;
}

class RawVst2Host : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE (loadModule(), nullptr) << "cannot load " << modulePath() << " (reason above)";
        hostLog.versionAnswer = 2400;
        hostLog.clear();
    }
};
} // namespace

TEST_F (RawVst2Host, HostAnsweringNoVersionGetsNoEffect)
{
    hostLog.versionAnswer = 0;
    EXPECT_EQ (loadModule() (hostCallback), nullptr);
}

TEST_F (RawVst2Host, EffectDescribesOrvalis)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    const AEffect& fx = *plugin.effect;

    EXPECT_EQ (fx.magic, kEffectMagic);
    EXPECT_EQ (fx.uniqueID, fourCharCode ("TkOr"));
    EXPECT_EQ (fx.version, 100);
    EXPECT_EQ (fx.numInputs, 4);
    EXPECT_EQ (fx.numOutputs, 4);
    EXPECT_EQ (fx.numPrograms, 1);
    EXPECT_EQ (fx.numParams, 4);
    EXPECT_NE (fx.flags & effFlagsHasEditor, 0);
    EXPECT_NE (fx.flags & effFlagsCanReplacing, 0);
    EXPECT_NE (fx.flags & effFlagsProgramChunks, 0);
    EXPECT_EQ (fx.flags & effFlagsIsSynth, 0);
    EXPECT_EQ (fx.flags & effFlagsCanDoubleReplacing, 0);
    EXPECT_NE (fx.processReplacing, nullptr);

    EXPECT_EQ (plugin.text (effGetEffectName), "Orvalis");
    EXPECT_EQ (plugin.text (effGetProductString), "Orvalis");
    EXPECT_EQ (plugin.text (effGetVendorString), "Tarnwick");
    EXPECT_EQ (plugin.dispatch (effGetVendorVersion), 100);
    EXPECT_EQ (plugin.dispatch (effGetPlugCategory), kPlugCategSpacializer);
    EXPECT_EQ (plugin.dispatch (effGetPlugCategory), 5);
    EXPECT_EQ (plugin.dispatch (effGetVstVersion), 2400);

    plugin.resume (48000.0, 512);
    EXPECT_EQ (plugin.dispatch (effOpcodeGetTailSize), 0);

    EXPECT_EQ (plugin.dispatch (effGetProgram), 0);
    EXPECT_EQ (plugin.text (effGetProgramName), "Default");
}

TEST_F (RawVst2Host, ParametersHaveTheirNamesAndDefaults)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    ASSERT_EQ (plugin.effect->numParams, 4);

    const char* names[] = { "Attack Time", "Release Time", "Max Peak Level", "Input Gain" };
    const float defaults[] = { 0.025f, 0.02f, 0.5f, 0.0f };

    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ (plugin.text (effGetParamName, i), names[i]) << "parameter " << i;
        EXPECT_EQ (plugin.effect->getParameter (plugin.effect, i), defaults[i])
            << "parameter " << i;
        EXPECT_EQ (plugin.dispatch (effCanBeAutomated, i), 1) << "parameter " << i;
    }
    EXPECT_EQ (plugin.text (effGetParamDisplay, 0), "0.025");
}

TEST_F (RawVst2Host, CanDoAnswers)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    auto canDo = [&plugin] (const char* what)
    { return plugin.dispatch (effCanDo, 0, 0, const_cast<char*> (what)); };

    for (auto* what : { "receiveVstEvents", "receiveVstMidiEvent", "receiveVstMidiEvents" })
        EXPECT_EQ (canDo (what), 1) << what;
    for (auto* what : { "sendVstEvents", "sendVstMidiEvent", "sendVstMidiEvents" })
        EXPECT_EQ (canDo (what), -1) << what;
    for (auto* what : { "receiveVstTimeInfo", "conformsToWindowRules", "bypass" })
        EXPECT_EQ (canDo (what), 1) << what;
    EXPECT_EQ (canDo ("openCloseAnyThread"), -1);
    for (auto* what : { "offline", "sendVstTimeInfo", "noRealTime", "midiProgramNames", "" })
        EXPECT_EQ (canDo (what), 0) << what;
}

TEST_F (RawVst2Host, OnlyFourInFourOutSpeakerArrangementsAreAccepted)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    auto request = [&plugin] (SpeakerArrangement in, SpeakerArrangement out)
    { return plugin.dispatch (effSetSpeakerArrangement, 0, (VstIntPtr) &in, &out); };

    const auto stereo = makeArrangement (kSpeakerArrStereo, { 1, 2 });
    const auto fivePointOne = makeArrangement (speakerArr51, { 1, 2, 3, 4, 5, 6 });
    const auto quad = makeArrangement (speakerArrQuad, { 1, 2, 5, 6 });
    const auto fourDiscrete = makeArrangement (speakerArrUserDefined, { 0, 0, 0, 0 });

    EXPECT_EQ (request (stereo, stereo), 0);
    EXPECT_EQ (request (fivePointOne, fivePointOne), 0);
    EXPECT_EQ (request (quad, stereo), 0);
    EXPECT_EQ (request (stereo, quad), 0);
    EXPECT_EQ (plugin.effect->numInputs, 4);
    EXPECT_EQ (plugin.effect->numOutputs, 4);

    EXPECT_EQ (request (quad, quad), 1);
    EXPECT_EQ (request (fourDiscrete, fourDiscrete), 1);
    EXPECT_EQ (plugin.effect->numInputs, 4);
    EXPECT_EQ (plugin.effect->numOutputs, 4);

    // After a refusal the plug-in still processes four channels.
    EXPECT_EQ (request (stereo, stereo), 0);
    plugin.resume (48000.0, 256);
    auto input = makeNoise (256, 0.5f, 7);
    auto output = plugin.process (input, 256);
    for (size_t ch = 0; ch < 4; ++ch)
        EXPECT_EQ (output[ch][48], input[ch][0]) << "channel " << ch;
}

TEST_F (RawVst2Host, StateChunksTravelBetweenInstances)
{
    Plugin first;
    ASSERT_NE (first.effect, nullptr);
    const float values[] = { 0.25f, 0.125f, 0.75f, 0.5f };
    for (int i = 0; i < 4; ++i)
        first.effect->setParameter (first.effect, i, values[i]);

    for (bool programOnly : { false, true })
    {
        SCOPED_TRACE (programOnly ? "program chunk" : "bank chunk");
        const auto saved = first.chunk (programOnly);
        ASSERT_GT (saved.size(), 9u);
        const uint8_t magic[] = { 0x56, 0x43, 0x32, 0x21 };
        EXPECT_TRUE (std::equal (magic, magic + 4, saved.begin()));

        Plugin second;
        ASSERT_NE (second.effect, nullptr);
        second.setChunk (saved, programOnly);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ (second.effect->getParameter (second.effect, i), values[i])
                << "parameter " << i;
        EXPECT_EQ (second.chunk (programOnly), saved);
    }
}

TEST_F (RawVst2Host, EmptyOrMissingChunkIsIgnored)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    plugin.effect->setParameter (plugin.effect, 3, 0.5f);
    const auto before = plugin.chunk (false);
    ASSERT_FALSE (before.empty());

    std::vector<uint8_t> nothing;
    plugin.setChunk (nothing, false);
    plugin.setChunk (nothing, true);
    uint8_t byte = 0;
    plugin.dispatch (effSetChunk, 0, 0, &byte);
    plugin.dispatch (effSetChunk, 0, -5, &byte);
    plugin.dispatch (effSetChunk, 0, 64, nullptr);

    EXPECT_EQ (plugin.effect->getParameter (plugin.effect, 3), 0.5f);
    EXPECT_EQ (plugin.chunk (false), before);
}

TEST_F (RawVst2Host, InitialDelayFollowsTheRateGivenAtResume)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);

    // No effSetSampleRate at all: the plug-in prepares at 44100 Hz, 1 ms = 44 samples.
    hostLog.clear();
    plugin.resume (0.0, 512);
    EXPECT_EQ (plugin.effect->initialDelay, 44);
    EXPECT_TRUE (hostLog.waitFor (hostOpcodeIOChanged, std::chrono::seconds (5)))
        << "the host was not told that the delay changed";

    plugin.resume (48000.0, 512);
    EXPECT_EQ (plugin.effect->initialDelay, 48);

    plugin.effect->setParameter (plugin.effect, 0, 1.0f); // 40 ms look-ahead
    EXPECT_EQ (plugin.effect->initialDelay, 48)
        << "the delay changes only when the plug-in is resumed";
    plugin.resume (96000.0, 512);
    EXPECT_EQ (plugin.effect->initialDelay, 3840);
}

TEST_F (RawVst2Host, ProcessReplacingDelaysAndLimitsFourChannels)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    plugin.resume (48000.0, 480);
    ASSERT_EQ (plugin.effect->initialDelay, 48);

    // Below the ceiling every channel comes out unchanged, exactly initialDelay samples later.
    const int numFrames = 4800;
    auto quiet = makeNoise (numFrames, 0.9f, 11);
    auto delayed = plugin.process (quiet, 480);
    for (size_t ch = 0; ch < 4; ++ch)
    {
        for (int i = 0; i < 48; ++i)
            ASSERT_EQ (delayed[ch][(size_t) i], 0.0f) << "channel " << ch << " frame " << i;
        for (int i = 48; i < numFrames; ++i)
            ASSERT_EQ (delayed[ch][(size_t) i], quiet[ch][(size_t) (i - 48)])
                << "channel " << ch << " frame " << i;
    }

    // Peaks of +12 dBFS never leave above the 0 dB ceiling, in blocks of any size, the long
    // blocks of offline renders included.
    auto loud = makeNoise (70000, 4.0f, 12);
    for (int blockSize : { 480, 1, 37, 10000, 65536 })
    {
        auto limited = plugin.process (loud, blockSize);
        float peak = 0.0f;
        for (auto& channel : limited)
            for (float sample : channel)
                peak = std::max (peak, std::abs (sample));
        EXPECT_LE (peak, 1.0f) << "block size " << blockSize;
        EXPECT_GT (peak, 0.5f) << "block size " << blockSize;
    }
}

TEST_F (RawVst2Host, SoftBypassKeepsTheReportedDelay)
{
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    plugin.resume (48000.0, 256);
    ASSERT_EQ (plugin.effect->initialDelay, 48);

    EXPECT_EQ (plugin.dispatch (effOpcodeSetBypass, 0, 1), 1);
    auto input = makeNoise (1024, 3.0f, 13);
    auto output = plugin.process (input, 256);
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t i = 0; i < 1024; ++i)
            ASSERT_EQ (output[ch][i], i < 48 ? 0.0f : input[ch][i - 48]) << ch << ' ' << i;

    // Back on: limited to the 0 dB ceiling again once the 5 ms fade is through.
    EXPECT_EQ (plugin.dispatch (effOpcodeSetBypass, 0, 0), 1);
    output = plugin.process (input, 256);
    float peak = 0.0f;
    for (const auto& channel : output)
        for (size_t i = 512; i < channel.size(); ++i)
            peak = std::max (peak, std::abs (channel[i]));
    EXPECT_LE (peak, 1.0f);
    EXPECT_GT (peak, 0.5f);
}

// A Windows host's scale call ('PreS' 'AeCs', the scale in opt), before the window is made and
// while it is there: the window's size grows with it, and a saved Size multiplies it.
TEST_F (RawVst2Host, WindowSizeFollowsTheHostsScaleCallAndTheSavedSize)
{
    const auto windowSize = [] (Plugin& plugin)
    {
        ERect* rect = nullptr;
        plugin.dispatch (effEditGetRect, 0, 0, &rect);
        return rect == nullptr
                   ? std::make_pair (0, 0)
                   : std::make_pair (rect->right - rect->left, rect->bottom - rect->top);
    };
    const auto scale = [] (Plugin& plugin, float factor)
    {
        return plugin.dispatch (
            effVendorSpecific, fourCharCode ("PreS"), fourCharCode ("AeCs"), nullptr, factor);
    };

    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    EXPECT_EQ (scale (plugin, 2.0f), 1);
    EXPECT_EQ (windowSize (plugin), std::make_pair (870, 746));
    EXPECT_EQ (scale (plugin, 1.5f), 1);
    EXPECT_EQ (windowSize (plugin), std::make_pair (653, 560));

    const std::string document = "<Root><Size>200</Size></Root>";
    std::vector<uint8_t> chunk { 0x56, 0x43, 0x32, 0x21, (uint8_t) document.size(), 0, 0, 0 };
    chunk.insert (chunk.end(), document.begin(), document.end());
    chunk.push_back (0);
    Plugin sized;
    ASSERT_NE (sized.effect, nullptr);
    sized.setChunk (chunk);
    EXPECT_EQ (scale (sized, 1.5f), 1);
    EXPECT_EQ (windowSize (sized), std::make_pair (1305, 1119));
}
