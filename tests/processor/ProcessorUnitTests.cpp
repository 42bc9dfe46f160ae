// The processor's own units on their own: the settings document's codec, the hand-over of
// settings to the audio thread and the time-keeping bypass.

#include "processor/SettingsCodec.h"
#include "processor/SettingsHandover.h"
#include "processor/TimeKeepingBypass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace
{
//==============================================================================
struct Recorder : SettingsCodec::Receiver
{
    void knob (parameters::Index index, float normalised) override
    {
        events.add (juce::String (static_cast<int> (index)) + "=" + juce::String (normalised));
    }
    void inputConfig (int value) override { events.add ("config=" + juce::String (value)); }
    juce::StringArray events;
};
} // namespace

TEST (SettingsCodec, WritesTheDocumentAndReadsItBackInDocumentOrder)
{
    SettingsCodec::Settings settings;
    settings.normalised = { 0.025f, 0.5f, 0.75f, 0.125f };
    settings.inputConfig = 1;
    EXPECT_EQ (SettingsCodec::toText (settings),
               "<Root><Gain>0.125</Gain><Attack>0.025</Attack><Release>0.5</Release>"
               "<Threshold>0.75</Threshold><idxInputConfig>1</idxInputConfig></Root>");
    settings.truePeak = true;
    const auto block = SettingsCodec::encode (settings);
    const auto xml = SettingsCodec::unwrap (block.getData(), static_cast<int> (block.getSize()));
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (SettingsCodec::selectsTruePeak (*xml));

    // Any case, any order, repeats in turn, other elements skipped; the last TruePeak decides.
    const auto other = juce::parseXML ("<r><RELEASE>0.5</RELEASE><x>9</x><gain>1e9</gain>"
                                       "<IdxInputConfig> -3z</IdxInputConfig><truepeak>1</truepeak>"
                                       "<Gain>nan</Gain><TruePeak>0</TruePeak></r>");
    ASSERT_NE (other, nullptr);
    Recorder recorder;
    SettingsCodec::read (*other, recorder);
    EXPECT_EQ (recorder.events.joinIntoString (" "), "1=0.5 3=1e+09 config=-3 3=nan");
    EXPECT_FALSE (SettingsCodec::selectsTruePeak (*other));
    EXPECT_TRUE (SettingsCodec::holdsAnySetting (*other));
    EXPECT_FALSE (SettingsCodec::holdsAnySetting (*juce::parseXML ("<Root><Other/></Root>")));

    // Text the XML reader cannot read safely is no document (a UTF-8 sequence cut by the end).
    const auto cut = SettingsCodec::wrap (juce::String ("<Root><Gain>0.5</Gain>") + "\xc3");
    EXPECT_EQ (SettingsCodec::unwrap (cut.getData(), static_cast<int> (cut.getSize())), nullptr);
}

//==============================================================================
TEST (SettingsHandover, ALookaheadChangeSettlesByTheReleaseInForceWhenItWasMade)
{
    // Twin limiters: one gets every change at once, the other through the hand-over, where the
    // release is long again by the time the audio thread takes the look-ahead over.
    LookaheadLimiter direct (40.0f, 1.0f), handed (40.0f, 1.0f);
    for (auto* limiter : { &direct, &handed })
    {
        limiter->setNumChannels();
        limiter->setSampleRate (48000);
    }
    SettingsHandover handover;
    handover.startFrom (handed);

    direct.setReleaseMs (10.0f);
    direct.setLookaheadMs (5.0f);
    direct.setReleaseMs (500.0f);
    handover.requestReleaseMs (10.0f);
    handover.requestLookaheadMs (5.0f, 40.0f);
    handover.requestReleaseMs (500.0f);
    handover.requestLookaheadMs (41.0f, 40.0f); // refused, as the limiter refuses it
    handover.applyTo (handed);

    EXPECT_EQ (handed.getLookaheadMs(), direct.getLookaheadMs());
    EXPECT_EQ (handed.getReleaseMs(), direct.getReleaseMs());
    EXPECT_GT (direct.getSettleWeight(), 0.0f);
    EXPECT_EQ (handed.getSettleWeight(), direct.getSettleWeight());
    EXPECT_EQ (handed.getSettleCoeff(), direct.getSettleCoeff());

    EXPECT_TRUE (handover.requestTruePeak (true));
    EXPECT_FALSE (handover.requestTruePeak (true));
    handover.applyTo (handed);
    EXPECT_TRUE (handed.isTruePeak());
}

//==============================================================================
namespace
{
// Four channels of a ramp, one block; channel 1 carries a NaN the bypass must pass as it came.
struct Block
{
    explicit Block (int n, float start) : data (4, std::vector<float> (static_cast<size_t> (n)))
    {
        for (int ch = 0; ch < 4; ++ch)
        {
            for (int i = 0; i < n; ++i)
                data[static_cast<size_t> (ch)][static_cast<size_t> (i)] =
                    start + static_cast<float> (i) + 1000.0f * static_cast<float> (ch);
            pointers[ch] = data[static_cast<size_t> (ch)].data();
        }
    }
    float at (int ch, int i) const
    {
        return data[static_cast<size_t> (ch)][static_cast<size_t> (i)];
    }
    std::vector<std::vector<float>> data;
    float* pointers[4] {};
};

// What the bypass's owner would do: here a gain of one half and no delay.
const auto halve = [] (float* const* piece, int n, bool)
{
    for (int ch = 0; ch < 4; ++ch)
        for (int i = 0; i < n; ++i)
            piece[ch][i] *= 0.5f;
};
} // namespace

TEST (TimeKeepingBypass, DelaysExactlyAndCrossfadesEachWayOverTheFade)
{
    constexpr int latency = 3, fade = 240, n = 600; // 5 ms at 48 kHz
    TimeKeepingBypass bypass (8192);
    bypass.prepare (48000);
    ASSERT_EQ (bypass.getFadeSamples(), fade);

    // Starting in bypass: the input delayed by the latency, bit for bit (NaN too), no fade.
    Block first (n, 0.0f);
    first.data[1][10] = std::numeric_limits<float>::quiet_NaN();
    bypass.beginBypassedBlock();
    bypass.bypassedPiece (first.pointers, n, latency, halve);
    for (int i = latency; i < n; ++i)
        for (int ch = 0; ch < 4; ++ch)
            if (ch == 1 && i == 10 + latency)
                EXPECT_TRUE (std::isnan (first.at (ch, i)));
            else
                ASSERT_EQ (first.at (ch, i), static_cast<float> (i - latency) + 1000.0f * ch) << i;

    // Out of bypass: the delayed input while the limiter's delay line holds old audio (here
    // 2.5 samples: three), then an equal-gain fade to the limited signal.
    Block second (n, static_cast<float> (n));
    bypass.beginProcessedBlock (2.5);
    bypass.processedPiece (second.pointers, n, latency, latency, halve);
    for (int i = 0; i < n; ++i)
    {
        const float in = static_cast<float> (n + i), delayed = in - latency;
        const int fadeStep = i - 3;
        const float share = fadeStep < 0 ? 1.0f
                                         : static_cast<float> (std::max (fade - 1 - fadeStep, 0))
                                               / static_cast<float> (fade);
        const float expected =
            fadeStep < 0 ? delayed : share * delayed + (1.0f - share) * (0.5f * in);
        ASSERT_EQ (second.at (0, i), expected) << i;
    }

    // Into bypass: the limiter runs for the fade only, then the output is the delayed input.
    Block third (n, 2.0f * n);
    int limited = 0;
    bypass.beginBypassedBlock();
    bypass.bypassedPiece (third.pointers,
                          n,
                          latency,
                          [&] (float* const* piece, int count, bool updateMeters)
                          {
                              EXPECT_FALSE (updateMeters);
                              limited += count;
                              halve (piece, count, updateMeters);
                          });
    EXPECT_EQ (limited, fade);
    for (int i = 0; i < n; ++i)
    {
        const float in = static_cast<float> (2 * n + i), delayed = in - latency;
        const float share = static_cast<float> (std::min (i + 1, fade)) / static_cast<float> (fade);
        ASSERT_EQ (third.at (0, i), share * delayed + (1.0f - share) * (0.5f * in)) << i;
    }
}
