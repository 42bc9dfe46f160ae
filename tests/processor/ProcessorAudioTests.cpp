// Latency, block processing, meters, bypass, and parameter changes reaching the limiter.

#include "tests/common/AllocationCounter.h"
#include "ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
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
}

//==============================================================================
TEST (ProcessorBlocks, SamplesFrom8192OnPassUntouched)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 10000);

    juce::AudioBuffer<float> input (4, 10000);
    fillNoise (input, 7, 0.5f);
    input.setSample (0, 9000, 4.0f); // beyond the bound: neither limited nor metered
    juce::AudioBuffer<float> buffer;
    buffer.makeCopyOf (input);
    process (*p, buffer);

    for (int ch = 0; ch < 4; ++ch)
    {
        for (int i = 0; i < 48; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), 0.0f);
        for (int i = 48; i < 8192; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), input.getSample (ch, i - 48)) << ch << ' ' << i;
        for (int i = 8192; i < 10000; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), input.getSample (ch, i)) << ch << ' ' << i;
    }
    EXPECT_LT (meter (*p, 0), 0.61f); // about -6 dBFS, not the +12 dBFS sample at 9000

    // The limiter saw 8192 samples, so the next block continues with input sample 8144.
    juce::AudioBuffer<float> next (4, 100);
    next.clear();
    process (*p, next);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ (next.getSample (ch, 0), input.getSample (ch, 8144));
}

TEST (ProcessorBlocks, BypassPassesFourChannelsUndelayedAndFreezesTheMeters)
{
    auto p = createProcessor();
    auto twin = createProcessor();
    p->prepareToPlay (48000.0, 512);
    twin->prepareToPlay (48000.0, 512);

    juce::AudioBuffer<float> buffer (4, 512), twinBuffer (4, 512);
    fillNoise (buffer, 3, 2.0f);
    twinBuffer.makeCopyOf (buffer);
    process (*p, buffer);
    process (*twin, twinBuffer);
    const auto metersBefore = meters (*p);
    const float reductionBefore = p->limiter->getGainReductionDb();
    ASSERT_GT (reductionBefore, 0.0f);

    juce::AudioBuffer<float> bypassed (4, 512);
    fillNoise (bypassed, 4, 3.0f);
    juce::AudioBuffer<float> original;
    original.makeCopyOf (bypassed);
    processBypassed (*p, bypassed);
    EXPECT_TRUE (identical (bypassed, original));
    EXPECT_EQ (meters (*p), metersBefore);
    EXPECT_EQ (p->limiter->getGainReductionDb(), reductionBefore);

    // The limiter resumes where it was, as if the bypassed block had never happened.
    fillNoise (buffer, 5, 2.0f);
    twinBuffer.makeCopyOf (buffer);
    process (*p, buffer);
    process (*twin, twinBuffer);
    EXPECT_TRUE (identical (buffer, twinBuffer));
    EXPECT_EQ (meters (*p), meters (*twin));
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
    {
        for (int i = 0; i < 8192; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), 0.0f) << ch << ' ' << i;
        for (int i = 8192; i < 10000; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), original.getSample (ch, i)) << ch << ' ' << i;
    }
    EXPECT_EQ (buffer.getSample (0, 48), original.getSample (0, 0));

    // Bypass clears them over the whole block and leaves the four channels alone.
    fillNoise (buffer, 10, 0.5f);
    original.makeCopyOf (buffer);
    processBypassed (p, buffer);
    for (int ch = 0; ch < 6; ++ch)
        for (int i = 0; i < 10000; ++i)
            ASSERT_EQ (buffer.getSample (ch, i), ch < 4 ? original.getSample (ch, i) : 0.0f)
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
                fillNoise (buffer, seed++, 2.0f);
                processBypassed (*p, buffer);
                break;
            case Step::blocks:
                for (int b = 0; b < (step.index * 500 + blockSize - 1) / blockSize; ++b)
                {
                    fillNoise (buffer, seed++, 2.0f);
                    expected.makeCopyOf (buffer);
                    process (*p, buffer);
                    reference.process (expected);
                    ASSERT_TRUE (identical (buffer, expected)) << "step " << s << " block " << b;
                }
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
