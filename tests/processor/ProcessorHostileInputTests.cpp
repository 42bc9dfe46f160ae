// What a host, a project or an input may throw at the processor: NaN and infinite samples, and
// parameter values that are not finite or lie outside 0..1.

#include "ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

using namespace hostCalls;

namespace
{
constexpr int attack = CorvaneAudioProcessor::paramAttackTime;
constexpr int release = CorvaneAudioProcessor::paramReleaseTime;
constexpr int ceiling = CorvaneAudioProcessor::paramMaxPeakLevel;
constexpr int gain = CorvaneAudioProcessor::paramInputGain;

constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();
constexpr float highestMeter = 1.00001f; // +10 dBFS on the meter scale

// Every output sample finite and within the ceiling, every meter finite and on its scale.
::testing::AssertionResult soundBlock (const CorvaneAudioProcessor& p,
                                       const juce::AudioBuffer<float>& buffer,
                                       float ceilingLinear)
{
    for (int ch = 0; ch < 4; ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float y = buffer.getSample (ch, i);
            if (! std::isfinite (y) || std::abs (y) > ceilingLinear)
                return ::testing::AssertionFailure()
                       << "output " << y << " on channel " << ch << " at " << i;
        }
    for (int slot = 0; slot < CorvaneAudioProcessor::numMeters; ++slot)
    {
        const float level = p.meterLevels[static_cast<size_t> (slot)].load();
        if (! std::isfinite (level) || level < 0.0f || level > highestMeter)
            return ::testing::AssertionFailure() << "meter " << slot << " reads " << level;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult sameMeters (const CorvaneAudioProcessor& a,
                                       const CorvaneAudioProcessor& b)
{
    for (int slot = 0; slot < CorvaneAudioProcessor::numMeters; ++slot)
    {
        const float x = a.meterLevels[static_cast<size_t> (slot)].load();
        const float y = b.meterLevels[static_cast<size_t> (slot)].load();
        if (std::memcmp (&x, &y, sizeof x) != 0)
            return ::testing::AssertionFailure() << "meter " << slot << ": " << x << " vs " << y;
    }
    return ::testing::AssertionSuccess();
}

std::string describe (float value)
{
    if (std::isnan (value))
        return "NaN";
    if (std::isinf (value))
        return value > 0 ? "+inf" : "-inf";
    return juce::String (value).toStdString();
}

std::string burstName (const ::testing::TestParamInfo<std::tuple<int, float>>& info)
{
    const float v = std::get<1> (info.param);
    return "Channel" + std::to_string (std::get<0> (info.param))
           + (std::isnan (v) ? "NaN"
              : v > 0        ? "PlusInf"
                             : "MinusInf");
}

std::string parameterValueName (const ::testing::TestParamInfo<std::tuple<int, float>>& info)
{
    const char* const parameterNames[] = { "Attack", "Release", "Ceiling", "Gain" };
    auto v = describe (std::get<1> (info.param));
    for (auto& c : v)
        if (! std::isalnum (static_cast<unsigned char> (c)))
            c = c == '-' ? 'm' : c == '+' ? 'p' : '_';
    return parameterNames[std::get<0> (info.param)] + std::string ("_") + v;
}
} // namespace

//==============================================================================
// A burst of NaN or infinity on one channel is limited and metered exactly as silence would be:
// a twin processor given zeros in its place produces the same bits and the same meters, before,
// during and after the burst, and loud audio after it is limited to the ceiling again.
class NonFiniteBurst : public ::testing::TestWithParam<std::tuple<int, float>> // channel, value
{
};

TEST_P (NonFiniteBurst, IsMeteredAndLimitedAsSilence)
{
    const auto [channel, value] = GetParam();
    auto p = createProcessor();
    auto twin = createProcessor();
    setParameter (*p, attack, 0.1f); // 4 ms: the burst is longer than the look-ahead
    setParameter (*twin, attack, 0.1f);
    p->prepareToPlay (48000.0, 256);
    twin->prepareToPlay (48000.0, 256);

    juce::AudioBuffer<float> buffer (4, 256), twinBuffer (4, 256);
    bool reduced = false;
    for (int block = 0; block < 40; ++block)
    {
        fillNoise (buffer, static_cast<std::uint32_t> (block), 4.0f); // peaks near +12 dBFS
        // Blocks 3-5: a 600-sample burst, part of it in the window while the limiter works hard.
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const int n = block * 256 + i;
            if (n >= 3 * 256 + 100 && n < 3 * 256 + 700)
                buffer.setSample (channel, i, n % 3 == 0 ? 0.5f : value);
        }
        twinBuffer.makeCopyOf (buffer);
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (twinBuffer.getSample (channel, i)))
                twinBuffer.setSample (channel, i, 0.0f);

        process (*p, buffer);
        process (*twin, twinBuffer);
        ASSERT_TRUE (identical (buffer, twinBuffer)) << "block " << block;
        ASSERT_TRUE (sameMeters (*p, *twin)) << "block " << block;
        ASSERT_TRUE (soundBlock (*p, buffer, 1.0f)) << "block " << block;
        if (block > 6)
            reduced = reduced || p->limiter->getGainReductionDb() > 6.0f;
    }
    EXPECT_TRUE (reduced); // after the burst the limiter is at work on the loud noise again
    EXPECT_GT (p->meterLevels[static_cast<size_t> (channel)].load(), 0.75001f); // above 0 dBFS
}

INSTANTIATE_TEST_SUITE_P (EveryChannel,
                          NonFiniteBurst,
                          ::testing::Combine (::testing::Values (0, 1, 2, 3),
                                              ::testing::Values (notANumber, infinity, -infinity)),
                          burstName);

TEST (NonFiniteAudio, InputThatOverflowsUnderTheGainCountsAsSilence)
{
    auto p = createProcessor();
    auto twin = createProcessor();
    for (auto* q : { p.get(), twin.get() })
    {
        setParameter (*q, gain, 1.0f); // +60 dB: 1e36 becomes infinity
        q->prepareToPlay (48000.0, 512);
    }

    juce::AudioBuffer<float> buffer (4, 512), twinBuffer (4, 512);
    for (int block = 0; block < 12; ++block)
    {
        fillNoise (buffer, static_cast<std::uint32_t> (block), 0.0005f); // -6 dBFS after the gain
        twinBuffer.makeCopyOf (buffer);
        if (block >= 2 && block < 5)
            for (int i = 50; i < 450; i += 2)
            {
                buffer.setSample (
                    block % 4, i, i % 4 == 0 ? 1.0e36f : -std::numeric_limits<float>::max());
                twinBuffer.setSample (block % 4, i, 0.0f);
            }
        process (*p, buffer);
        process (*twin, twinBuffer);
        ASSERT_TRUE (identical (buffer, twinBuffer)) << "block " << block;
        ASSERT_TRUE (sameMeters (*p, *twin)) << "block " << block;
        ASSERT_TRUE (soundBlock (*p, buffer, 1.0f)) << "block " << block;
    }
}

//==============================================================================
// A value that is not finite changes nothing: not the stored value, not the saved document, not
// the audio, and the window is not asked to refresh. A finite value outside 0..1 is stored and
// saved as given, but acts as the nearest end of the range (an Attack Time above 1 is refused
// by the limiter and keeps the look-ahead).
class HostileParameterValue : public ::testing::TestWithParam<std::tuple<int, float>>
{
};

TEST_P (HostileParameterValue, IsIgnoredOrActsAsTheNearestEndOfTheRange)
{
    const auto [index, value] = GetParam();
    auto p = createProcessor();
    auto twin = createProcessor();
    // Away from the defaults, so that a value acting as 0 or 1 shows in the audio.
    for (auto* q : { p.get(), twin.get() })
    {
        setParameter (*q, attack, 0.05f);
        setParameter (*q, release, 0.1f);
        setParameter (*q, ceiling, 0.4f);
        setParameter (*q, gain, 0.05f);
        q->prepareToPlay (48000.0, 256);
    }
    const auto before = saveState (*p);
    p->uiRefreshNeeded = false;

    setParameter (*p, index, value);

    if (std::isfinite (value))
    {
        EXPECT_EQ (getParameter (*p, index), value);
        EXPECT_EQ (getParameterText (*p, index), juce::String (value == -1.0f ? "-1" : "1.5"));
        EXPECT_TRUE (p->uiRefreshNeeded.load());
        const bool refused = index == attack && value > 1.0f;
        if (! refused)
            setParameter (*twin, index, value < 0.0f ? 0.0f : 1.0f);
    }
    else
    {
        EXPECT_EQ (getParameter (*p, index), getParameter (*twin, index));
        EXPECT_EQ (saveState (*p), before);
        EXPECT_FALSE (p->uiRefreshNeeded.load());
    }

    juce::AudioBuffer<float> buffer (4, 256), twinBuffer (4, 256);
    for (int block = 0; block < 30; ++block)
    {
        fillNoise (buffer, static_cast<std::uint32_t> (block), block % 3 == 0 ? 4.0f : 0.05f);
        twinBuffer.makeCopyOf (buffer);
        process (*p, buffer);
        process (*twin, twinBuffer);
        ASSERT_TRUE (identical (buffer, twinBuffer)) << "block " << block;
        ASSERT_TRUE (soundBlock (*p, buffer, 3.1622777f)) << "block " << block;
    }
    EXPECT_EQ (p->limiter->getCeiling(), twin->limiter->getCeiling());
    EXPECT_EQ (p->limiter->getReleaseMs(), twin->limiter->getReleaseMs());
    EXPECT_EQ (p->limiter->getLookaheadMs(), twin->limiter->getLookaheadMs());

    // The same value reaching the processor through a saved document.
    const char* const tags[] = { "Attack", "Release", "Threshold", "Gain" };
    const auto text = std::isnan (value)   ? juce::String ("nan")
                      : std::isinf (value) ? juce::String (value > 0 ? "inf" : "-inf")
                                           : juce::String (value);
    auto restored = createProcessor();
    loadState (*restored, before);
    const auto expected = saveState (*restored);
    loadState (*restored,
               makeStateBlock (juce::String ("<Root><") + tags[index] + ">" + text + "</"
                               + tags[index] + "></Root>"));
    if (std::isfinite (value))
        EXPECT_EQ (getParameter (*restored, index), value);
    else
        EXPECT_EQ (saveState (*restored), expected) << text;
}

INSTANTIATE_TEST_SUITE_P (
    EveryParameter,
    HostileParameterValue,
    ::testing::Combine (::testing::Values (attack, release, ceiling, gain),
                        ::testing::Values (-1.0f, 1.5f, notANumber, infinity, -infinity)),
    parameterValueName);

TEST (HostileParameterValues, DocumentWithTooLargeNumbersKeepsTheSettings)
{
    // 1e39 does not fit a float: it would become infinity, and so it is ignored like "inf".
    auto p = createProcessor();
    setParameter (*p, release, 0.3f);
    const auto before = saveState (*p);
    p->uiRefreshNeeded = false;
    loadState (*p,
               makeStateBlock ("<Root><Gain>1e39</Gain><Attack>-1e39</Attack>"
                               "<Release>INF</Release><Threshold>NaN</Threshold></Root>"));
    EXPECT_EQ (saveState (*p), before);
    EXPECT_TRUE (p->uiRefreshNeeded.load()); // a restore is still a restore
}

//==============================================================================
// A damaged state block whose text is not UTF-8 (a multi-byte sequence cut short, or a byte no
// sequence starts with), or that has a <?...?> instruction followed by text inside an element, is
// ignored like any other bad block. Before, the XML reader stepped over the cut sequence past the
// end of the text, and looped for ever after the instruction (both found by fuzzing).
TEST (HostileStateBlocks, TextTheXmlReaderCannotReadSafelyIsIgnored)
{
    const auto rawBlock = [] (const std::string& text)
    {
        juce::MemoryBlock block;
        juce::MemoryOutputStream out (block, false);
        out.writeInt (0x21324356);
        out.writeInt (static_cast<int> (text.size()));
        out.write (text.data(), text.size());
        out.writeByte (0);
        out.flush();
        return block;
    };

    auto p = createProcessor();
    setParameter (*p, gain, 0.2f);
    const auto before = saveState (*p);

    const std::string damaged[] = {
        "<Root><Gain>0.9</Gain></Root>\xf0",     // four-byte sequence cut by the end
        "<Root><Gain>0.9</Gain>\xe2\x82</Root>", // three-byte sequence cut short
        "<Root><Gain>0.\xff"
        "9</Gain></Root>",                                // no sequence starts with 0xff
        "<Root><Gain>0.9</Gain><Note>\x80</Note></Root>", // a continuation byte alone
        "<Root><Gain>0.9</Gain><?note?>text</Root>",      // made the reader loop for ever
        "<Root><Gain>0.9</Gain><Note>&#x4",               // reference cut by the end
        "<Root><?a?> <!-- b --> <?c?>\ntext<Gain>0.9</Gain></Root>",
    };
    for (const auto& text : damaged)
    {
        p->uiRefreshNeeded = false;
        loadState (*p, rawBlock (text));
        EXPECT_EQ (saveState (*p), before) << text;
        EXPECT_FALSE (p->uiRefreshNeeded.load()) << text;
    }

    // Instructions followed by markup, and well-formed UTF-8 beyond ASCII, are read as before.
    loadState (*p,
               rawBlock ("<?xml version=\"1.0\"?>\n<Root><?a?>\n<!-- b --><Gain>0.7</Gain>"
                         "<Note>&#x263A;&#X1F3A7;</Note></Root>"));
    EXPECT_EQ (getParameter (*p, gain), 0.7f);
    loadState (
        *p,
        rawBlock (
            "<Root><Note>Caf\xc3\xa9 \xe2\x99\xaa \xf0\x9f\x8e\xa7</Note><Gain>0.9</Gain></Root>"));
    EXPECT_EQ (getParameter (*p, gain), 0.9f);
}
