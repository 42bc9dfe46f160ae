// Orvalis HOA's VST 2.4 module in a raw host on the fst headers: its identity, the speaker
// arrangements it takes, and what it does with the channels a host leaves silent. The module
// announces 64 inputs and outputs; a host may ask for a full order of fewer channels
// (effSetSpeakerArrangement), taken over at the next resume.

#include "tests/hosts/HostSignals.h"
#include "tests/hosts/vst2/Vst2Module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
using namespace orvalis::vst2;

VstIntPtr hostCallback (AEffect*, int opcode, int, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

PluginMain loadModule()
{
    static PluginMain entry = loadPluginMain (ORVALIS_HOA_VST2_MODULE);
    return entry;
}

struct Plugin : Instance
{
    Plugin() : Instance (loadModule(), hostCallback) {}

    VstIntPtr requestChannels (int inputs, int outputs)
    {
        WideArrangement in (inputs), out (outputs);
        return dispatch (effSetSpeakerArrangement, 0, in.value(), out.pointer());
    }
};

/** The largest |output / delayed input| spread over the channels at each frame where the loud
    channel is loud: 0 when one gain lowers every channel. */
float gainSpread (const Signal& in, const Signal& out, size_t loud, int latency)
{
    float spread = 0.0f;
    for (size_t i = (size_t) latency; i < out[0].size(); ++i)
    {
        const float x = in[loud][i - (size_t) latency];
        if (std::abs (x) < 1.0f)
            continue;
        const float gain = out[loud][i] / x;
        for (size_t ch = 0; ch < in.size(); ++ch)
        {
            const float y = in[ch][i - (size_t) latency];
            if (std::abs (y) > 0.01f)
                spread = std::max (spread, std::abs (out[ch][i] / y - gain));
        }
    }
    return spread;
}
} // namespace

TEST (RawVst2Hoa, IdentityAndTheSpeakerArrangementsOfFullOrdersOneToSeven)
{
    ASSERT_NE (loadModule(), nullptr) << "cannot load " << ORVALIS_HOA_VST2_MODULE;
    Plugin plugin;
    ASSERT_NE (plugin.effect, nullptr);
    EXPECT_EQ (plugin.effect->uniqueID, fourCharCode ("TkOh"));
    EXPECT_NE (plugin.effect->uniqueID, fourCharCode ("TkOr"));
    EXPECT_EQ (plugin.text (effGetEffectName), "Orvalis HOA");
    EXPECT_EQ (plugin.text (effGetProductString), "Orvalis HOA");
    EXPECT_EQ (plugin.text (effGetVendorString), "Tarnwick");
    EXPECT_EQ (plugin.effect->numInputs, 64);
    EXPECT_EQ (plugin.effect->numOutputs, 64);
    EXPECT_EQ (plugin.effect->numParams, 4);
    EXPECT_EQ (plugin.effect->version, 100);

    for (int channels = 1; channels <= 65; ++channels)
    {
        const bool fullOrder = channels == 4 || channels == 9 || channels == 16 || channels == 25
                               || channels == 36 || channels == 49 || channels == 64;
        EXPECT_EQ (plugin.requestChannels (channels, channels), fullOrder ? 1 : 0) << channels;
    }
    EXPECT_EQ (plugin.requestChannels (16, 9), 0);
    EXPECT_EQ (plugin.requestChannels (64, 16), 0);
    const auto stereo = makeArrangement (speakerArrStereo, { 1, 2 });
    EXPECT_EQ (plugin.dispatch (effSetSpeakerArrangement, 0, (VstIntPtr) &stereo, (void*) &stereo),
               0);
    // The AEffect keeps announcing 64 of each, whatever was asked.
    EXPECT_EQ (plugin.effect->numInputs, 64);
    EXPECT_EQ (plugin.effect->numOutputs, 64);
}

TEST (RawVst2Hoa, ChannelsLeftSilentChangeNothingAndEveryChannelIsLimitedWithOneGain)
{
    ASSERT_NE (loadModule(), nullptr);
    const auto scene = makeScene (48000, 41, 16);

    // 64 channels announced, 16 of them carrying the scene, the rest silent.
    Plugin all;
    all.resume (48000.0, 512);
    const auto wide = all.process (scene, 512);

    // The same scene after the host asked for third order.
    Plugin third;
    ASSERT_EQ (third.requestChannels (16, 16), 1);
    third.resume (48000.0, 512);
    const auto narrow = third.process (scene, 512);

    EXPECT_TRUE (bitIdentical (wide, narrow));
    const int latency = third.effect->initialDelay;
    EXPECT_EQ (latency, 48);
    float peak = 0.0f;
    for (const auto& channel : narrow)
        for (float y : channel)
            peak = std::max (peak, std::abs (y));
    EXPECT_LE (peak, 1.0f);
    EXPECT_LT (gainSpread (scene, narrow, 15, latency), 1e-4f);

    // Seventh order: the loudest channel is the 64th.
    const auto big = makeScene (24000, 42, 64);
    Plugin seventh;
    seventh.resume (48000.0, 512);
    EXPECT_LT (gainSpread (big, seventh.process (big, 512), 63, latency), 1e-4f);
}
