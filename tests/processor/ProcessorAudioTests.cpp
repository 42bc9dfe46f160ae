// Latency, block processing, meters, bypass, and parameter changes reaching the limiter.

#include "ProcessorTestSupport.h"
#include "tests/common/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

using namespace hostCalls;

namespace
{
constexpr int attack = CorvaneAudioProcessor::paramAttackTime;
constexpr int release = CorvaneAudioProcessor::paramReleaseTime;
constexpr int ceiling = CorvaneAudioProcessor::paramMaxPeakLevel;
constexpr int gain = CorvaneAudioProcessor::paramInputGain;

float meter (const CorvaneAudioProcessor& p, int slot)
{
    return p.meterLevels[static_cast<size_t> (slot)].load();
}

std::vector<float> meters (const CorvaneAudioProcessor& p)
{
    std::vector<float> values;
    for (int slot = 0; slot < CorvaneAudioProcessor::numMeters; ++slot)
        values.push_back (meter (p, slot));
    return values;
}

void fillSquare (juce::AudioBuffer<float>& buffer, int channel, float amplitude)
{
    for (int i = 0; i < buffer.getNumSamples(); ++i)
        buffer.setSample (channel, i, i % 2 == 0 ? amplitude : -amplitude);
}
} // namespace

//==============================================================================
class ProcessorLatency
    : public ::testing::TestWithParam<std::tuple<double, float, int>> // rate, attack, latency
{
};

TEST_P (ProcessorLatency, ReportedLatencyIsTheMeasuredDelay)
{
    const auto [rate, attackValue, expectedLatency] = GetParam();
    auto p = createProcessor();
    setParameter (*p, attack, attackValue);
    p->prepareToPlay (rate, 4096);
    EXPECT_EQ (p->getLatencySamples(), expectedLatency);

    juce::AudioBuffer<float> buffer (4, 8192);
    buffer.clear();
    buffer.setSample (1, 0, 0.5f);
    process (*p, buffer);
    int firstNonZero = -1;
    for (int i = 0; i < buffer.getNumSamples() && firstNonZero < 0; ++i)
        if (buffer.getSample (1, i) != 0.0f)
            firstNonZero = i;
    EXPECT_EQ (firstNonZero, expectedLatency);
    EXPECT_EQ (buffer.getSample (1, expectedLatency), 0.5f);
}

// 1 ms is 44.1 samples at 44.1 kHz; 40 ms at 96 kHz; no look-ahead at all with Attack Time 0.
INSTANTIATE_TEST_SUITE_P (Rates,
                          ProcessorLatency,
                          ::testing::Values (std::make_tuple (48000.0, 0.025f, 48),
                                             std::make_tuple (44100.0, 0.025f, 44),
                                             std::make_tuple (96000.0, 1.0f, 3840),
                                             std::make_tuple (192000.0, 1.0f, 7680),
                                             std::make_tuple (48000.0, 0.0f, 0)));

TEST (ProcessorLatencyChanges, LatencyFollowsOnlyPrepareToPlay)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 256);
    juce::AudioBuffer<float> buffer (4, 256);
    fillNoise (buffer, 1, 0.5f);
    process (*p, buffer);

    setParameter (*p, attack, 0.5f);
    process (*p, buffer);
    EXPECT_EQ (p->getLatencySamples(), 48);

    p->prepareToPlay (48000.0, 256);
    EXPECT_EQ (p->getLatencySamples(), 960);

    // A rate the limiter refuses keeps the previous rate's settings and latency.
    p->prepareToPlay (384000.0, 256);
    EXPECT_EQ (p->getLatencySamples(), 960);
    EXPECT_EQ (p->limiter->getLookaheadSamples(), 960);
}

//==============================================================================
TEST (ProcessorMeters, LevelsRiseAtOnceAndFallByTenPercentPerBlock)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 480);

    juce::AudioBuffer<float> buffer (4, 480);
    fillSquare (buffer, 0, 1.0f);          // 0 dBFS
    fillSquare (buffer, 1, 0.01f);         // -40 dBFS: below the scale's -30 dBFS floor
    fillSquare (buffer, 2, 3.1622776e-5f); // -90 dBFS: under -80 dBFS reads 0
    fillSquare (buffer, 3, 0.31622777f);   // -10 dBFS
    process (*p, buffer);

    // Inputs in slots 0-3; the same levels come out of the limiter (ceiling 0 dBFS) in slots 4-7.
    const float expected[] = { 0.75001f, 0.00001f, 0.0f, 0.50001f };
    for (int ch = 0; ch < 4; ++ch)
    {
        EXPECT_NEAR (meter (*p, ch), expected[ch], 1.0e-6f) << ch;
        EXPECT_NEAR (meter (*p, ch + 4), expected[ch], 1.0e-6f) << ch;
    }
    EXPECT_EQ (meter (*p, 0), 0.75001f);
    EXPECT_EQ (meter (*p, 1), 0.00001f);
    EXPECT_EQ (meter (*p, 2), 0.0f);

    // Blocks at -90 dBFS read 0: each meter falls to 0.9, 0.81, 0.729 of its value.
    const float falls[] = { 0.675009f, 0.6075081f, 0.54675729f };
    for (float fallen : falls)
    {
        for (int ch = 0; ch < 4; ++ch)
            fillSquare (buffer, ch, 3.1622776e-5f);
        process (*p, buffer);
        EXPECT_NEAR (meter (*p, 0), fallen, 1.0e-6f);
        EXPECT_NEAR (meter (*p, 3), fallen / 0.75001f * 0.50001f, 1.0e-6f);
    }
    EXPECT_EQ (meter (*p, 2), 0.0f);
}

//==============================================================================
TEST (ProcessorInputGain, GlidesTowardANewGainWithoutAStep)
{
    auto p = createProcessor();
    setParameter (*p, ceiling, 1.0f); // +10 dB: nothing here reaches the ceiling
    p->prepareToPlay (48000.0, 100);

    std::vector<float> out;
    const auto run = [&] (int numSamples)
    {
        juce::AudioBuffer<float> buffer (4, numSamples);
        for (int ch = 0; ch < 4; ++ch)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), 0.5f, numSamples);
        process (*p, buffer);
        for (int i = 0; i < numSamples; ++i)
        {
            for (int ch = 1; ch < 4; ++ch)
                ASSERT_EQ (buffer.getSample (ch, i), buffer.getSample (0, i));
            out.push_back (buffer.getSample (0, i));
        }
    };

    run (1024);
    setParameter (*p, gain, 0.1f); // +6 dB: a factor 10^0.3 = 1.9952623
    for (int block = 0; block < 80; ++block)
        run (100);

    // Input sample 1024 + k - 1 carries the k-th glided gain and leaves the 48-sample delay 48 later.
    const auto applied = [&out] (int k)
    { return out[static_cast<size_t> (1024 + 48 + k - 1)] / 0.5f; };
    EXPECT_EQ (applied (0), 1.0f);
    EXPECT_NEAR (applied (1), 1.0049763f, 1.0e-6f);    // 0.5 % of the way from 1 to 1.9952623
    EXPECT_NEAR (applied (1000), 1.9886399f, 2.0e-6f); // 1.9952623 - 0.9952623 * 0.995^1000

    // Every step is 0.995 times the one before, also across block boundaries: no step anywhere.
    for (int k = 2; k < 2000; ++k)
    {
        const float before = applied (k) - applied (k - 1);
        const float after = applied (k + 1) - applied (k);
        ASSERT_GT (before, 0.0f) << k;
        ASSERT_LE (before, 0.0049764f) << k;
        ASSERT_NEAR (after, 0.995f * before, 5.0e-7f) << k;
    }

    // In single precision the glide comes to rest about 1.2e-5 below the target, where 0.5 % of
    // the remaining distance no longer changes the stored gain, and stays there.
    const float last = out.back();
    EXPECT_NEAR (last, 0.99763116f, 1.0e-5f);
    for (size_t i = out.size() - 1000; i < out.size(); ++i)
        ASSERT_EQ (out[i], last) << i;

    // Bit for bit the stated glide, sample after sample, also once it has come to rest.
    float expected = 1.0f;
    const double target = static_cast<double> (std::pow (10.0f, 6.0f * 0.05f));
    for (int k = 1; k < 8000 - 48; ++k)
    {
        expected = static_cast<float> (0.005 * target + 0.995 * static_cast<double> (expected));
        ASSERT_EQ (applied (k), expected) << k;
    }
}

//==============================================================================
class ProcessorLongBlocks : public ::testing::TestWithParam<std::tuple<int, bool>> // length, glide
{
};

TEST_P (ProcessorLongBlocks, EqualTheSameAudioHandedOverInPiecesOf8192)
{
    const auto [length, glide] = GetParam();
    auto whole = createProcessor();
    auto pieces = createProcessor();
    for (auto* p : { whole.get(), pieces.get() })
    {
        p->prepareToPlay (48000.0, length);
        if (glide)
            setParameter (*p, gain, 0.2f); // +12 dB, gliding up over the first block
    }

    juce::AudioBuffer<float> input (4, length);
    fillNoise (input, 21, 4.0f); // up to +12 dBFS
    juce::AudioBuffer<float> buffer;
    buffer.makeCopyOf (input);
    process (*whole, buffer);

    juce::AudioBuffer<float> expected;
    expected.makeCopyOf (input);
    for (int offset = 0; offset < length; offset += 8192)
    {
        const int n = std::min (8192, length - offset);
        juce::AudioBuffer<float> piece (expected.getArrayOfWritePointers(), 4, offset, n);
        process (*pieces, piece);
    }
    EXPECT_TRUE (identical (buffer, expected));
    EXPECT_EQ (meters (*whole), meters (*pieces));
    EXPECT_LE (buffer.getMagnitude (0, length), 1.0f);
}

INSTANTIATE_TEST_SUITE_P (Lengths,
                          ProcessorLongBlocks,
                          ::testing::Combine (::testing::Values (8193, 10000, 16384, 65536),
                                              ::testing::Bool()));

TEST (ProcessorLongBlocks, EveryFrameIsDelayedAndLimited)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 10000);

    juce::AudioBuffer<float> input (4, 10000);
    fillNoise (input, 7, 0.5f);
    input.setSample (0, 9000, 4.0f); // beyond the first 8192: limited and metered all the same
    juce::AudioBuffer<float> buffer;
    buffer.makeCopyOf (input);
    process (*p, buffer);

    for (int ch = 0; ch < 4; ++ch)
        for (int i = 48; i < 8900; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), input.getSample (ch, i - 48)) << ch << ' ' << i;
    EXPECT_NEAR (buffer.getSample (0, 9048), 1.0f, 1.0e-3f);
    EXPECT_GT (meter (*p, 0), 0.9f); // +12 dBFS reads near the top of the scale
}

//==============================================================================
class ProcessorBypass : public ::testing::TestWithParam<std::tuple<double, float>> // rate, attack
{
};

TEST_P (ProcessorBypass, DelaysTheInputByTheLatencyAndFreezesTheMeters)
{
    const auto [rate, attackValue] = GetParam();
    auto p = createProcessor();
    setParameter (*p, attack, attackValue);
    setParameter (*p, gain, 0.1f);
    p->prepareToPlay (rate, 512);
    const int latency = p->getLatencySamples();

    // Meters and the gain reduction from one limited block, then bypass from then on.
    juce::AudioBuffer<float> buffer (4, 512);
    fillNoise (buffer, 3, 2.0f);
    process (*p, buffer);
    const auto metersBefore = meters (*p);

    juce::AudioBuffer<float> input (4, 20000);
    fillNoise (input, 4, 3.0f);
    input.setSample (2, 12000, std::numeric_limits<float>::quiet_NaN());
    juce::AudioBuffer<float> bypassed;
    bypassed.makeCopyOf (input);
    for (int offset = 0; offset < 20000; offset += 5000)
    {
        juce::AudioBuffer<float> block (bypassed.getArrayOfWritePointers(), 4, offset, 5000);
        processBypassed (*p, block);
    }

    // After the fade, exactly the input of the latency before, NaN and all.
    const float reduction = p->limiter->getGainReductionDb();
    for (int ch = 0; ch < 4; ++ch)
        for (int i = p->getBypassFadeSamples() + latency; i < 20000; ++i)
        {
            const float in = input.getSample (ch, i - latency), out = bypassed.getSample (ch, i);
            ASSERT_TRUE (std::memcmp (&in, &out, sizeof in) == 0) << ch << ' ' << i;
        }
    EXPECT_EQ (meters (*p), metersBefore);

    bypassed.makeCopyOf (input);
    processBypassed (*p, bypassed);
    EXPECT_EQ (p->limiter->getGainReductionDb(), reduction); // the limiter rests
}

INSTANTIATE_TEST_SUITE_P (Lookaheads,
                          ProcessorBypass,
                          ::testing::Values (std::make_tuple (48000.0, 0.0f),
                                             std::make_tuple (48000.0, 0.025f),
                                             std::make_tuple (48000.0, 1.0f),
                                             std::make_tuple (192000.0, 1.0f)));

TEST (ProcessorBypass, StartingInBypassNeedsNoFade)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 256);
    juce::AudioBuffer<float> input (4, 256), buffer;
    fillNoise (input, 5, 3.0f);
    buffer.makeCopyOf (input);
    processBypassed (*p, buffer);
    for (int ch = 0; ch < 4; ++ch)
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), i < 48 ? 0.0f : input.getSample (ch, i - 48));
}

TEST (ProcessorBypass, SwitchingCrossfadesAndTheLimiterResumesWhereItRested)
{
    // A 500 Hz sine at +6 dBFS through +6 dB of gain: bypassed, it is 12 dB above the limited one.
    auto p = createProcessor();
    auto twin = createProcessor();
    for (auto* q : { p.get(), twin.get() })
    {
        setParameter (*q, gain, 0.1f);
        q->prepareToPlay (48000.0, 48);
    }
    const int fade = p->getBypassFadeSamples();
    ASSERT_EQ (fade, 240);

    const auto sine = [] (juce::AudioBuffer<float>& b, int start)
    {
        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < b.getNumSamples(); ++i)
                b.setSample (ch,
                             i,
                             (ch + 1) * 0.5f
                                 * std::sin (2.0f * juce::MathConstants<float>::pi * 500.0f
                                             * static_cast<float> (start + i) / 48000.0f));
    };

    // 0-4799 limited, 4800-14399 bypassed, then limited again; the twin never bypasses, but its
    // limiter skips what p's limiter did not see.
    std::vector<float> out;
    juce::AudioBuffer<float> block (4, 48), twinBlock (4, 48);
    for (int start = 0; start < 24000; start += 48)
    {
        sine (block, start);
        twinBlock.makeCopyOf (block);
        const bool bypassing = start >= 4800 && start < 14400;
        if (bypassing)
            processBypassed (*p, block);
        else
            process (*p, block);

        if (! bypassing || start < 4800 + fade)
            process (*twin, twinBlock);
        // After the resume, the limiter's own output again once delay and fade have passed.
        if (start >= 14400 + 48 + fade)
        {
            ASSERT_TRUE (identical (block, twinBlock)) << start;
        }
        for (int i = 0; i < 48; ++i)
            out.push_back (block.getSample (3, i));
    }

    // No step at either switch larger than the largest step of the signal itself (2 x pi x 500 /
    // 48000 x 2 at +12 dB bypassed), nor any sample beyond the bypassed input's peak.
    const float ownStep = 2.0f * juce::MathConstants<float>::pi * 500.0f / 48000.0f * 2.0f * 2.0f;
    for (size_t i = 4700; i < 16000; ++i)
        ASSERT_LE (std::abs (out[i] - out[i - 1]), ownStep * 1.01f) << i;

    // Between the fades, and while the limiter's delay line refills, the input 48 samples late.
    juce::AudioBuffer<float> input (4, 24000);
    sine (input, 0);
    for (size_t i = 4800 + static_cast<size_t> (fade); i < 14400 + 48; ++i)
        ASSERT_EQ (out[i], input.getSample (3, static_cast<int> (i) - 48)) << i;
}

TEST (ProcessorBlocks, MidiPassesAndTooFewChannelsGiveSilence)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 64);

    juce::AudioBuffer<float> buffer (4, 64);
    fillNoise (buffer, 2, 0.5f);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, 0.5f), 3);
    p->processBlock (buffer, midi);
    ASSERT_EQ (midi.getNumEvents(), 1);
    EXPECT_EQ ((*midi.begin()).samplePosition, 3);
    EXPECT_TRUE ((*midi.begin()).getMessage().isNoteOn());

    // Only a host ignoring the four-channel layout would do this: no crash, no unlimited audio.
    juce::AudioBuffer<float> stereo (2, 64);
    fillNoise (stereo, 3, 4.0f);
    process (*p, stereo);
    EXPECT_EQ (stereo.getMagnitude (0, 64), 0.0f);
}

namespace
{
// A host layout with two outputs more than the plug-in offers, to see the extra ones cleared.
struct SixOutputProcessor : public CorvaneAudioProcessor
{
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override
    {
        return layouts.getMainInputChannels() == 4 && layouts.getMainOutputChannels() == 6;
    }
};
} // namespace

TEST (ProcessorBlocks, OutputChannelsBeyondTheFourthAreCleared)
{
    SixOutputProcessor p;
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (juce::AudioChannelSet::discreteChannels (4));
    layout.outputBuses.add (juce::AudioChannelSet::discreteChannels (6));
    ASSERT_TRUE (p.setBusesLayout (layout));
    ASSERT_EQ (p.getTotalNumOutputChannels(), 6);
    p.prepareToPlay (48000.0, 10000);

    juce::AudioBuffer<float> buffer (6, 10000);
    fillNoise (buffer, 9, 0.5f);
    juce::AudioBuffer<float> original;
    original.makeCopyOf (buffer);
    process (p, buffer);
    for (int ch = 4; ch < 6; ++ch)
        for (int i = 0; i < 10000; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), 0.0f) << ch << ' ' << i;
    EXPECT_EQ (buffer.getSample (0, 48), original.getSample (0, 0));

    // Bypass clears them too, over the whole block; the four channels keep time.
    for (int round = 0; round < 2; ++round) // the second is past the fade
    {
        fillNoise (buffer, 10, 0.5f);
        original.makeCopyOf (buffer);
        processBypassed (p, buffer);
    }
    for (int ch = 0; ch < 6; ++ch)
        for (int i = 48; i < 10000; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), ch < 4 ? original.getSample (ch, i - 48) : 0.0f)
                << ch << ' ' << i;
}

//==============================================================================
namespace
{
// The limiter driven directly, every parameter change applied at the moment it is made.
struct ImmediateLimiter
{
    LookaheadLimiter limiter { 40.0f, 0.0f };

    ImmediateLimiter()
    {
        limiter.setNumChannels();
        set (attack, 0.025f);
        set (release, 0.02f);
        set (ceiling, 0.5f);
    }

    void set (int index, float v)
    {
        if (index == attack)
            limiter.setLookaheadMs (40.0f * v);
        else if (index == release)
            limiter.setReleaseMs (1000.0f * v);
        else if (index == ceiling)
            limiter.setCeiling (std::pow (10.0f, (20.0f * v - 10.0f) * 0.05f));
    }

    void process (juce::AudioBuffer<float>& buffer)
    {
        juce::ScopedNoDenormals noDenormals;
        limiter.process (buffer.getArrayOfWritePointers(), buffer.getNumSamples());
    }
};

struct Step
{
    enum Kind
    {
        set,
        prepare,
        blocks,
        bypass
    } kind;
    int index = 0;   // parameter, or length in units of 500 samples
    float value = 0; // value, or sample rate
};

void expectSameLimiter (const LookaheadLimiter& a, const LookaheadLimiter& b, size_t step)
{
    EXPECT_EQ (a.getLookaheadSamples(), b.getLookaheadSamples()) << step;
    EXPECT_EQ (a.getLookaheadMs(), b.getLookaheadMs()) << step;
    EXPECT_EQ (a.getReleaseMs(), b.getReleaseMs()) << step;
    EXPECT_EQ (a.getAttackCoeff(), b.getAttackCoeff()) << step;
    EXPECT_EQ (a.getReleaseCoeff(), b.getReleaseCoeff()) << step;
    EXPECT_EQ (a.getSettleWeight(), b.getSettleWeight()) << step;
    EXPECT_EQ (a.getSettleCoeff(), b.getSettleCoeff()) << step;
    EXPECT_EQ (a.getCeiling(), b.getCeiling()) << step;
    EXPECT_EQ (a.getGain(), b.getGain()) << step;
    EXPECT_EQ (a.getSmoothedDelay(), b.getSmoothedDelay()) << step;
    EXPECT_EQ (a.getSampleRate(), b.getSampleRate()) << step;
}
} // namespace

class ProcessorDeferredSettings : public ::testing::TestWithParam<int> // block size
{
};

TEST_P (ProcessorDeferredSettings, EqualApplyingEveryChangeAtOnce)
{
    const int blockSize = GetParam();
    auto p = createProcessor();
    ImmediateLimiter reference;
    expectSameLimiter (*p->limiter, reference.limiter, 0);

    // clang-format off
    const std::vector<Step> steps {
        { Step::blocks, 2 },                                       // before any prepareToPlay: 192 kHz
        { Step::prepare, 0, 48000 }, { Step::blocks, 2 },
        { Step::set, release, 0.02f }, { Step::set, attack, 0.5f }, { Step::blocks, 1 },      // settles
        { Step::set, release, 0.5f }, { Step::blocks, 60 },                                    // settle over
        { Step::set, attack, 0.25f }, { Step::set, release, 0.02f }, { Step::blocks, 1 },     // release was 500 ms: no settle
        { Step::set, release, 0.6f }, { Step::blocks, 60 },
        { Step::set, release, 0.01f }, { Step::set, attack, 0.1f },                           // settles ...
        { Step::set, release, 0.6f }, { Step::set, attack, 0.2f }, { Step::blocks, 1 },       // ... the later change does not undo it
        { Step::blocks, 60 },
        { Step::set, attack, 1.5f }, { Step::set, ceiling, 0.3f }, { Step::blocks, 2 },       // refused look-ahead
        { Step::set, attack, 0.4f }, { Step::bypass }, { Step::set, ceiling, 0.45f }, { Step::blocks, 2 },
        { Step::set, attack, 0.6f }, { Step::set, release, 0.03f }, { Step::prepare, 0, 44100 }, { Step::blocks, 3 },
        { Step::set, attack, 0.05f }, { Step::set, attack, 0.9f }, { Step::set, attack, 0.3f }, { Step::blocks, 4 },
        { Step::prepare, 0, 96000 }, { Step::set, release, 1.0f }, { Step::set, attack, 0.0f }, { Step::blocks, 3 },
        { Step::set, attack, 0.0f }, { Step::prepare, 0, 48000 }, { Step::blocks, 2 },         // no look-ahead at all
    };
    // clang-format on

    std::uint32_t seed = 100;
    bool resuming = false;
    juce::AudioBuffer<float> buffer (4, blockSize), expected (4, blockSize);
    for (size_t s = 0; s < steps.size(); ++s)
    {
        const auto& step = steps[s];
        switch (step.kind)
        {
            case Step::set:
                setParameter (*p, step.index, step.value);
                reference.set (step.index, step.value);
                break;
            case Step::prepare:
                p->prepareToPlay (step.value, blockSize);
                reference.limiter.setSampleRate (static_cast<int> (step.value));
                EXPECT_EQ (p->getLatencySamples(), reference.limiter.getLookaheadSamples()) << s;
                break;
            case Step::bypass:
            {
                // The limiter runs through the fade into bypass and rests after it; the output
                // after the bypass goes back to the limiter's over a fade of its own.
                fillNoise (buffer, seed++, 2.0f);
                expected.makeCopyOf (buffer);
                processBypassed (*p, buffer);
                juce::AudioBuffer<float> faded (expected.getArrayOfWritePointers(),
                                                4,
                                                0,
                                                std::min (blockSize, p->getBypassFadeSamples()));
                reference.process (faded);
                resuming = true;
                break;
            }
            case Step::blocks:
                for (int b = 0; b < (step.index * 500 + blockSize - 1) / blockSize; ++b)
                {
                    fillNoise (buffer, seed++, 2.0f);
                    expected.makeCopyOf (buffer);
                    process (*p, buffer);
                    reference.process (expected);
                    if (! resuming)
                    {
                        ASSERT_TRUE (identical (buffer, expected))
                            << "step " << s << " block " << b;
                    }
                }
                resuming = false;
                expectSameLimiter (*p->limiter, reference.limiter, s);
                break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P (BlockSizes, ProcessorDeferredSettings, ::testing::Values (64, 500));

//==============================================================================
TEST (ProcessorRealtime, ProcessBlockAllocatesNothing)
{
    {
        ScopedAllocationCount probe;
        ::operator delete (::operator new (16));
        ASSERT_EQ (probe.count(), 1u); // the counter sees this thread's allocations
    }

    auto p = createProcessor();
    p->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> buffer (4, 10000);
    const juce::MemoryBlock state = saveState (*p);

    std::size_t allocations = 0;
    for (int block = 0; block < 40; ++block)
    {
        fillNoise (buffer, static_cast<std::uint32_t> (block), 3.0f);
        // Changes made between blocks are taken over by the next block.
        setParameter (*p, block % 4, static_cast<float> (block % 7) / 7.0f);
        if (block % 10 == 0)
            loadState (*p, state);

        ScopedAllocationCount counter;
        process (*p, buffer);
        if (block % 5 == 0)
            processBypassed (*p, buffer);
        allocations += counter.count();
    }
    EXPECT_EQ (allocations, 0u);
}
