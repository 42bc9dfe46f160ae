#include "limiter/LookaheadLimiter.h"

#include "tests/common/AllocationCounter.h"
#include "tests/limiter/LimiterTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <tuple>
#include <vector>

namespace
{
constexpr int kChannels = 4;

using Channels = std::array<std::vector<float>, kChannels>;

std::unique_ptr<LookaheadLimiter>
makeLimiter (int rate, float lookaheadMs, float releaseMs, float ceiling)
{
    // The owner's calling order: channels, look-ahead, release, ceiling, then the rate.
    auto limiter = std::make_unique<LookaheadLimiter> (40.0f, ceiling);
    EXPECT_EQ (limiter->setNumChannels(), 0);
    EXPECT_EQ (limiter->setLookaheadMs (lookaheadMs), 0);
    limiter->setReleaseMs (releaseMs);
    limiter->setCeiling (ceiling);
    EXPECT_EQ (limiter->setSampleRate (rate), 0);
    return limiter;
}

Channels silence (size_t length)
{
    Channels c;
    for (auto& ch : c)
        ch.assign (length, 0.0f);
    return c;
}

// Loud noise bursts over a quiet bed, different on every channel. Fixed seed.
Channels bursts (size_t length, unsigned seed, float loudPeak = 4.0f)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::uniform_int_distribution<int> burstLength (20, 2000);
    Channels c = silence (length);
    size_t i = 0;
    bool loud = false;
    while (i < length)
    {
        const size_t end = std::min (length, i + static_cast<size_t> (burstLength (rng)));
        const float level = loud ? loudPeak : 0.3f;
        for (; i < end; ++i)
            for (auto& ch : c)
                ch[i] = level * unit (rng);
        loud = ! loud;
    }
    return c;
}

// Runs the whole signal through the limiter in blocks of the given sizes (cycled).
void run (LookaheadLimiter& limiter, Channels& c, const std::vector<int>& blockSizes)
{
    const int length = static_cast<int> (c[0].size());
    size_t next = 0;
    for (int start = 0; start < length;)
    {
        const int n = std::min (blockSizes[next++ % blockSizes.size()], length - start);
        float* pointers[kChannels];
        for (int ch = 0; ch < kChannels; ++ch)
            pointers[ch] = c[static_cast<size_t> (ch)].data() + start;
        EXPECT_EQ (limiter.process (pointers, n), 0);
        start += n;
    }
}

void run (LookaheadLimiter& limiter, Channels& c, int blockSize = 512)
{
    run (limiter, c, std::vector<int> { blockSize });
}

bool bitIdentical (const Channels& a, const Channels& b)
{
    for (size_t ch = 0; ch < kChannels; ++ch)
        if (a[ch].size() != b[ch].size()
            || std::memcmp (a[ch].data(), b[ch].data(), a[ch].size() * sizeof (float)) != 0)
            return false;
    return true;
}

float peakOf (const Channels& c, size_t from = 0)
{
    float peak = 0.0f;
    for (auto& ch : c)
        for (size_t i = from; i < ch.size(); ++i)
            peak = std::max (peak, std::abs (ch[i]));
    return peak;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// The look-ahead in samples (the delay; the window holds N + 1 frames)

struct LookaheadCase
{
    int rate;
    float ms;
    int n;
};

class LimiterLookahead : public ::testing::TestWithParam<LookaheadCase>
{
};

TEST_P (LimiterLookahead, IsTheTruncatedProductOfRateAndTime)
{
    const auto c = GetParam();
    auto limiter = makeLimiter (c.rate, c.ms, 20.0f, 1.0f);
    EXPECT_EQ (limiter->getLookaheadSamples(), c.n);
}

// Worked by hand: N = trunc(rate * ms / 1000).
INSTANTIATE_TEST_SUITE_P (Golden,
                          LimiterLookahead,
                          ::testing::Values (LookaheadCase { 48000, 1.0f, 48 },
                                             LookaheadCase { 44100, 1.0f, 44 },
                                             LookaheadCase { 96000, 40.0f, 3840 },
                                             LookaheadCase { 48000, 40.0f, 1920 },
                                             LookaheadCase { 192000, 40.0f, 7680 },
                                             LookaheadCase { 22050, 0.5f, 11 }));

TEST (LimiterLookaheadBounds, ZeroOrNegativeLookaheadGivesOneSample)
{
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    for (float ms : { 0.0f, 0.01f, -5.0f })
    {
        EXPECT_EQ (limiter->setLookaheadMs (ms), 0);
        EXPECT_EQ (limiter->getLookaheadSamples(), 1) << ms;
    }
}

TEST (LimiterLookaheadBounds, EveryLookaheadUpToTheLargestIsAccepted)
{
    LookaheadLimiter limiter (40.0f, 1.0f);
    ASSERT_EQ (limiter.setNumChannels(), 0);
    // rate = 25 * N gives exactly N samples at 40 ms.
    for (int n = 1; n <= 7680; ++n)
    {
        ASSERT_EQ (limiter.setSampleRate (25 * n), 0);
        ASSERT_EQ (limiter.getLookaheadSamples(), n);
    }
}

// ---------------------------------------------------------------------------------------------
// Golden behaviour

TEST (LimiterGolden, SpikeLeavesAtTheCeilingAndScalesTheOtherChannelsAlike)
{
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    ASSERT_EQ (limiter->getLookaheadSamples(), 48);
    Channels c = silence (1000);
    c[0][200] = 0.5f;
    c[1][200] = 4.0f;
    run (*limiter, c, 64);

    EXPECT_NEAR (c[1][248], 1.0f, 1e-6f);
    EXPECT_NEAR (c[0][248], 0.125f, 1e-6f);
    for (size_t i = 0; i < c[0].size(); ++i)
        if (i != 248)
            EXPECT_EQ (c[1][i], 0.0f) << i;
}

TEST (LimiterGolden, GainFallsBeforeTheSpikeAndRecoversAfter)
{
    // A constant bed on channel 3 shows the gain at every sample.
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    Channels c = silence (4000);
    std::fill (c[3].begin(), c[3].end(), 0.5f);
    c[1][1000] = 4.0f;
    run (*limiter, c, 512);

    // Before the spike enters the window the bed passes untouched.
    for (size_t i = 48; i < 1000; ++i)
        ASSERT_EQ (c[3][i], 0.5f) << i;
    // It falls over the N + 1 samples before the spike leaves...
    EXPECT_LT (c[3][1000], 0.5f);
    for (size_t i = 1001; i <= 1048; ++i)
        EXPECT_LE (c[3][i], c[3][i - 1]) << i;
    EXPECT_NEAR (c[3][1048], 0.125f, 1e-6f);
    // ...and rises again afterwards (release), reaching 90 % of the way in about 20 ms.
    for (size_t i = 1049; i < 1100; ++i)
        EXPECT_GE (c[3][i], c[3][i - 1]) << i;
    const size_t tenth = 1048 + 960 + 1;
    EXPECT_NEAR (c[3][tenth], 0.5f - 0.1f * (0.5f - 0.125f), 0.01f);
}

TEST (LimiterGolden, LoudSineSettlesAtHalfGain)
{
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    Channels c = silence (48000);
    for (size_t i = 0; i < c[0].size(); ++i)
        c[0][i] = static_cast<float> (
            2.0 * std::sin (2.0 * M_PI * 1000.0 * static_cast<double> (i) / 48000.0));
    run (*limiter, c, 480);

    EXPECT_EQ (limiter->getGainReadout(), 0.5f);
    EXPECT_NEAR (limiter->getGainReductionDb(), 6.0206f, 0.001f);
    EXPECT_EQ (peakOf (c, 24000), 1.0f);
}

class LimiterPassThrough : public ::testing::TestWithParam<std::tuple<int, float>>
{
};

TEST_P (LimiterPassThrough, QuietInputIsDelayedByExactlyNAndOtherwiseUntouched)
{
    const auto [rate, ms] = GetParam();
    auto limiter = makeLimiter (rate, ms, 20.0f, 1.0f);
    const int n = limiter->getLookaheadSamples();
    const Channels in = bursts (20000, 5u, 0.99f);
    Channels out = in;
    run (*limiter, out, std::vector<int> { 1, 37, 512, 100 });

    EXPECT_EQ (limiter->getGain(), 1.0f);
    for (size_t ch = 0; ch < kChannels; ++ch)
    {
        for (int i = 0; i < n; ++i)
            ASSERT_EQ (out[ch][static_cast<size_t> (i)], 0.0f);
        for (size_t i = static_cast<size_t> (n); i < in[ch].size(); ++i)
            ASSERT_EQ (
                std::memcmp (&out[ch][i], &in[ch][i - static_cast<size_t> (n)], sizeof (float)), 0)
                << "channel " << ch << " sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P (RatesAndLookaheads,
                          LimiterPassThrough,
                          ::testing::Values (std::make_tuple (48000, 1.0f),
                                             std::make_tuple (44100, 1.0f),
                                             std::make_tuple (48000, 0.03f),
                                             std::make_tuple (96000, 12.5f),
                                             std::make_tuple (192000, 40.0f)));

// ---------------------------------------------------------------------------------------------
// Limiting under any input, rate and block size

class LimiterSweep : public ::testing::TestWithParam<std::tuple<int, int>>
{
};

TEST_P (LimiterSweep, OutputNeverExceedsCeilingAndGainIsLinked)
{
    const auto [rate, blockSize] = GetParam();
    for (float ceiling : { 1.0f, 0.316227766f, 3.16227766f })
    {
        auto limiter = makeLimiter (rate, 5.0f, 50.0f, ceiling);
        const int n = limiter->getLookaheadSamples();
        const Channels in = bursts (static_cast<size_t> (rate / 2), 11u, 8.0f);
        Channels out = in;
        run (*limiter, out, blockSize);

        EXPECT_LE (peakOf (out), ceiling);
        // One gain for all channels: away from the clamp, out / delayed in is equal on all four.
        for (size_t i = static_cast<size_t> (n); i < out[0].size(); i += 97)
        {
            const size_t j = i - static_cast<size_t> (n);
            float ratio = -1.0f;
            for (size_t ch = 0; ch < kChannels; ++ch)
            {
                if (std::abs (out[ch][i]) >= ceiling || std::abs (in[ch][j]) < 1e-3f)
                    continue;
                const float r = out[ch][i] / in[ch][j];
                if (ratio < 0.0f)
                    ratio = r;
                else
                    ASSERT_NEAR (r, ratio, 1e-5f * ratio) << "sample " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P (RatesAndBlocks,
                          LimiterSweep,
                          ::testing::Combine (::testing::Values (44100, 48000, 96000, 192000),
                                              ::testing::Values (1, 250, 512)));

TEST (LimiterBlocks, OneBlockSingleSamplesAndRandomSplitsAreBitIdentical)
{
    const Channels in = bursts (30000, 3u);
    Channels whole = in, single = in, split = in;

    auto a = makeLimiter (48000, 3.0f, 30.0f, 1.0f);
    auto b = makeLimiter (48000, 3.0f, 30.0f, 1.0f);
    auto c = makeLimiter (48000, 3.0f, 30.0f, 1.0f);
    run (*a, whole, 30000);
    run (*b, single, 1);
    run (*c, split, std::vector<int> { 7, 1, 300, 4096, 2, 513, 64 });

    EXPECT_TRUE (bitIdentical (whole, single));
    EXPECT_TRUE (bitIdentical (whole, split));
}

// ---------------------------------------------------------------------------------------------
// The gain readout

TEST (LimiterReadout, SilenceAndCancellingOutputsReadAsNoReduction)
{
    auto limiter = makeLimiter (48000, 1.0f, 500.0f, 1.0f);
    Channels loud = silence (480);
    std::fill (loud[0].begin(), loud[0].end(), 2.0f);
    run (*limiter, loud, 480);
    ASSERT_LT (limiter->getGainReadout(), 1.0f);

    // The delayed loud samples leave first; then a block of silent outputs.
    Channels tail = silence (48);
    run (*limiter, tail, 48);
    ASSERT_LT (limiter->getGainReadout(), 1.0f);
    Channels quiet = silence (64);
    run (*limiter, quiet, 64);
    EXPECT_LT (limiter->getGain(), 1.0f);
    EXPECT_EQ (limiter->getGainReadout(), 1.0f);
    EXPECT_EQ (limiter->getGainReductionDb(), 0.0f);

    // A block whose outputs cancel exactly.
    Channels cancelling = silence (256);
    for (size_t i = 0; i < 256; ++i)
    {
        cancelling[0][i] = 0.25f;
        cancelling[1][i] = -0.25f;
    }
    run (*limiter, cancelling, 256);
    EXPECT_LT (limiter->getGain(), 1.0f);
    EXPECT_EQ (limiter->getGainReadout(), 1.0f);
}

TEST (LimiterReadout, EmptyBlockReadsOneAndChangesNothingElse)
{
    auto a = makeLimiter (48000, 2.0f, 20.0f, 1.0f);
    auto b = makeLimiter (48000, 2.0f, 20.0f, 1.0f);
    Channels first = bursts (3000, 9u), firstTwin = first;
    run (*a, first);
    run (*b, firstTwin);
    ASSERT_LT (a->getGainReadout(), 1.0f);

    float* none[kChannels] = { nullptr, nullptr, nullptr, nullptr };
    EXPECT_EQ (a->process (none, 0), 0);
    EXPECT_EQ (a->process (none, -5), 0);
    EXPECT_EQ (a->getGainReadout(), 1.0f);

    Channels second = bursts (3000, 10u), secondTwin = second;
    run (*a, second);
    run (*b, secondTwin);
    EXPECT_TRUE (bitIdentical (second, secondTwin));
}

// ---------------------------------------------------------------------------------------------
// Refusals change nothing

TEST (LimiterRefusals, RefusedCallsLeaveTheLimiterAsATwinThatNeverGotThem)
{
    auto a = makeLimiter (48000, 10.0f, 20.0f, 1.0f);
    auto b = makeLimiter (48000, 10.0f, 20.0f, 1.0f);
    Channels x = bursts (5000, 21u), y = x;
    run (*a, x);
    run (*b, y);

    EXPECT_EQ (a->setLookaheadMs (40.001f), LookaheadLimiter::kRefused);
    EXPECT_EQ (a->setLookaheadMs (INFINITY), LookaheadLimiter::kRefused);
    EXPECT_EQ (a->setSampleRate (192001), LookaheadLimiter::kRefused);
    EXPECT_EQ (a->setSampleRate (INT_MAX), LookaheadLimiter::kRefused);
    EXPECT_EQ (a->getLookaheadSamples(), 480);
    EXPECT_EQ (a->getSampleRate(), 48000);

    Channels x2 = bursts (20000, 22u), y2 = x2;
    run (*a, x2);
    run (*b, y2);
    EXPECT_TRUE (bitIdentical (x2, y2));
}

TEST (LimiterRefusals, AcceptedLimitsAtTheEdges)
{
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    EXPECT_EQ (limiter->setLookaheadMs (40.0f), 0);
    EXPECT_EQ (limiter->setSampleRate (192000), 0);
    EXPECT_EQ (limiter->getLookaheadSamples(), 7680);

    // A true 7680-sample delay in rings of 7681.
    Channels c = silence (10000);
    c[2][100] = 0.5f;
    run (*limiter, c, 512);
    EXPECT_EQ (c[2][7780], 0.5f);
    EXPECT_EQ (peakOf (c), 0.5f);
}

TEST (LimiterRefusals, ARateGivingLessThanOneSampleLeavesAnUndelayedClampedLimiter)
{
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    limiter->setLookaheadMs (0.01f); // 0.48 samples at 48 kHz, raised to 1
    ASSERT_EQ (limiter->getLookaheadSamples(), 1);
    EXPECT_EQ (limiter->setSampleRate (44100), LookaheadLimiter::kRefused);
    EXPECT_EQ (limiter->getLookaheadSamples(), 0);
    EXPECT_EQ (limiter->getSampleRate(), 48000);

    Channels c = silence (2000);
    for (size_t i = 0; i < c[0].size(); ++i)
        c[0][i] = (i % 100 == 50) ? 3.0f : 0.25f;
    const Channels in = c;
    run (*limiter, c, 256);

    EXPECT_LE (peakOf (c), 1.0f);
    // No delay: quiet samples come out where they went in (scaled by a gain <= 1), the
    // first ones untouched.
    for (size_t i = 0; i < 50; ++i)
        EXPECT_EQ (c[0][i], in[0][i]) << i;
    EXPECT_EQ (c[0][50], 1.0f);
}

TEST (LimiterRefusals, FailedAllocationLeavesAnEmptyLimiterThatDoesNothing)
{
    std::optional<LookaheadLimiter> limiter;
    {
        ScopedAllocationFailure failure;
        limiter.emplace (40.0f, 1.0f);
    }
    EXPECT_FALSE (limiter->isAllocated());
    EXPECT_EQ (limiter->setNumChannels(), LookaheadLimiter::kRefused);
    EXPECT_EQ (limiter->setSampleRate (48000), LookaheadLimiter::kRefused);
    Channels c = silence (64);
    c[0][0] = 5.0f;
    float* pointers[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };
    EXPECT_EQ (limiter->process (pointers, 64), 0);
    EXPECT_EQ (limiter->reset(), 0);
}

// ---------------------------------------------------------------------------------------------
// The settle phase after a look-ahead change

TEST (LimiterSettle, StartsOnlyWhenTheReleaseIsUnder75ms)
{
    {
        // Before the owner sets a release time, a look-ahead change starts no settle phase.
        LookaheadLimiter fresh (40.0f, 1.0f);
        fresh.setNumChannels();
        fresh.setLookaheadMs (1.0f);
        EXPECT_EQ (fresh.getSettleWeight(), 0.0f);
    }
    for (float releaseMs : { 74.9f, 75.0f, 200.0f })
    {
        auto limiter = makeLimiter (48000, 1.0f, releaseMs, 1.0f);
        EXPECT_EQ (limiter->getSettleWeight(), 0.0f);
        limiter->setLookaheadMs (5.0f);
        EXPECT_EQ (limiter->getSettleWeight(), releaseMs < 75.0f ? 1.0f : 0.0f) << releaseMs;
    }
}

TEST (LimiterSettle, LastsAbout300msAtAnyRate)
{
    for (int rate : { 44100, 48000, 96000 })
    {
        auto limiter = makeLimiter (rate, 1.0f, 20.0f, 1.0f);
        limiter->setLookaheadMs (2.0f);
        // The weight falls by 0.1 every rate * 75 / 1000 + 1 samples and stops below 0.0001.
        const double tau = rate * 0.075 + 1.0;
        int samples = 0;
        Channels c = silence (1);
        float* pointers[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };
        while (limiter->getSettleWeight() > 0.0f && samples < rate)
        {
            limiter->process (pointers, 1);
            ++samples;
        }
        EXPECT_NEAR (samples, 4.0 * tau, 3.0) << rate;
    }
}

TEST (LimiterSettle, ReleasesUseTheSlowerSettleTimeWhileItLasts)
{
    auto recoveryAfterSpike = [] (bool changeLookahead)
    {
        auto limiter = makeLimiter (48000, 1.0f, 5.0f, 1.0f);
        if (changeLookahead)
            limiter->setLookaheadMs (1.0f);
        Channels c = silence (3000);
        std::fill (c[3].begin(), c[3].end(), 0.25f);
        c[0][100] = 4.0f;
        run (*limiter, c, 256);
        return c[3][148 + 960]; // 20 ms after the spike has left
    };
    const float normal = recoveryAfterSpike (false);
    const float settling = recoveryAfterSpike (true);
    EXPECT_NEAR (normal, 0.25f, 0.001f); // a 5 ms release has recovered
    EXPECT_LT (settling, 0.2f);          // the 75 ms settle release has not
}

// ---------------------------------------------------------------------------------------------
// Look-ahead changes on running audio

TEST (LimiterGlide, LookaheadChangeMovesTheDelayWithoutAJump)
{
    auto limiter = makeLimiter (48000, 1.0f, 100.0f, 1.0f);
    Channels c = silence (192000);
    for (size_t i = 0; i < c[0].size(); ++i)
        for (size_t ch = 0; ch < kChannels; ++ch)
            c[ch][i] = static_cast<float> (
                0.5
                * std::sin (2.0 * M_PI * 100.0 * static_cast<double> (i) / 48000.0
                            + static_cast<double> (ch)));
    Channels out = c;

    float* pointers[kChannels];
    auto processRange = [&] (size_t from, size_t to)
    {
        for (size_t start = from; start < to; start += 256)
        {
            for (size_t ch = 0; ch < kChannels; ++ch)
                pointers[ch] = out[ch].data() + start;
            limiter->process (pointers, static_cast<int> (std::min<size_t> (256, to - start)));
        }
    };
    processRange (0, 24064);
    ASSERT_EQ (limiter->setLookaheadMs (20.0f), 0);
    processRange (24064, 192000);

    // A 100 Hz sine of 0.5 moves at most 0.0066 per sample; the glide adds at most ~10 %.
    float largestStep = 0.0f;
    for (size_t ch = 0; ch < kChannels; ++ch)
        for (size_t i = 1000; i < out[ch].size(); ++i)
            largestStep = std::max (largestStep, std::abs (out[ch][i] - out[ch][i - 1]));
    EXPECT_LT (largestStep, 0.0075f);
    EXPECT_EQ (limiter->getLookaheadSamples(), 960);
    // Single precision lets the glide rest a fraction of a sample short of N.
    EXPECT_NEAR (limiter->getSmoothedDelay(), 960.0f, 0.35f);

    // Once settled, the new delay is in force.
    const size_t probe = 191000;
    EXPECT_NEAR (out[0][probe], c[0][probe - 960], 0.005f);
}

TEST (LimiterReset, SampleRateChangeClearsTheDelayAndTheGain)
{
    auto limiter = makeLimiter (48000, 1.0f, 1000.0f, 1.0f);
    Channels c = bursts (4800, 31u);
    run (*limiter, c);
    ASSERT_LT (limiter->getGain(), 1.0f);
    ASSERT_EQ (limiter->setSampleRate (48000), 0);
    EXPECT_EQ (limiter->getGain(), 1.0f);
    EXPECT_EQ (limiter->getSmoothedDelay(), 48.0f);
    Channels quiet = silence (100);
    run (*limiter, quiet);
    EXPECT_EQ (peakOf (quiet), 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Real-time safety

TEST (LimiterRealtime, ProcessAndEverySetterAllocateNothing)
{
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    Channels c = bursts (9000, 41u);
    float* pointers[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };

    ScopedAllocationCount allocations;
    limiter->process (pointers, 4096);
    limiter->setLookaheadMs (40.0f);
    limiter->setReleaseMs (300.0f);
    limiter->setCeiling (0.5f);
    limiter->setSampleRate (192000);
    limiter->setSampleRate (44100);
    limiter->setSampleRate (250000);
    limiter->setNumChannels();
    limiter->process (pointers, 4096);
    limiter->reset();
    limiter->process (pointers, 800);
    (void) limiter->getGainReductionDb();
    EXPECT_EQ (allocations.count(), 0u);
}

// ---------------------------------------------------------------------------------------------
// The vectorised loop against the plain one

TEST (LimiterPaths, VectorisedAndPlainLoopsAgreeBitForBit)
{
    std::mt19937 rng (424242u);
    auto fast = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    auto plain = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    std::uniform_int_distribution<int> blockOf (0, 700), actionOf (0, 9);
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);

    for (int round = 0; round < 400; ++round)
    {
        const int length = blockOf (rng);
        Channels c = silence (static_cast<size_t> (std::max (length, 1)));
        const int kind = round % 5;
        for (size_t i = 0; i < static_cast<size_t> (length); ++i)
            for (size_t ch = 0; ch < kChannels; ++ch)
            {
                const float x = (unit (rng) * 2.0f - 1.0f) * (kind == 0 ? 6.0f : 0.7f);
                if (kind == 1)
                    c[ch][i] = (ch % 2 == 0) ? 0.3f : -0.3f; // outputs that cancel
                else if (kind == 2)
                    c[ch][i] = unit (rng) < 0.5f ? -0.0f : 0.0f; // signed zeros
                else if (kind == 3 && unit (rng) < 0.01f)
                    c[ch][i] = unit (rng) < 0.5f ? NAN : -INFINITY;
                else
                    c[ch][i] = x;
            }
        Channels twin = c;
        float* a[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };
        float* b[kChannels] = { twin[0].data(), twin[1].data(), twin[2].data(), twin[3].data() };
        fast->process (a, length);
        LookaheadLimiterTestAccess::processEachChannel (*plain, b, length);
        ASSERT_TRUE (bitIdentical (c, twin)) << "round " << round;
        ASSERT_EQ (fast->getGainReadout(), plain->getGainReadout()) << "round " << round;

        // Change settings between blocks, the same on both.
        switch (actionOf (rng))
        {
            case 0:
            {
                const float ms = unit (rng) * 40.0f;
                fast->setLookaheadMs (ms);
                plain->setLookaheadMs (ms);
                break;
            }
            case 1:
            {
                const float ms = unit (rng) * 150.0f;
                fast->setReleaseMs (ms);
                plain->setReleaseMs (ms);
                break;
            }
            case 2:
            {
                const float linear = 0.3f + unit (rng) * 2.0f;
                fast->setCeiling (linear);
                plain->setCeiling (linear);
                break;
            }
            case 3:
            {
                const int rate = round % 3 == 0 ? 96000 : 44100;
                fast->setSampleRate (rate);
                plain->setSampleRate (rate);
                break;
            }
            default:
                break;
        }
    }
}

// Long stretches that never reach the ceiling (where the gain rests at exactly 1 and the delay
// does not glide), signed zeros, loud bursts between them and a look-ahead change, at look-aheads
// from one sample to the whole delay ring.
class LimiterIdlePaths : public ::testing::TestWithParam<std::tuple<int, float>> // rate, ms
{
};

TEST_P (LimiterIdlePaths, AgreeWithThePlainLoopBitForBit)
{
    const auto [rate, ms] = GetParam();
    auto fast = makeLimiter (rate, ms, 5.0f, 1.0f);
    auto plain = makeLimiter (rate, ms, 5.0f, 1.0f);
    const int n = fast->getLookaheadSamples();
    std::mt19937 rng (7u + static_cast<unsigned> (n));
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    std::uniform_int_distribution<int> blockOf (1, 700);

    Channels c = silence (static_cast<size_t> (40 * n + 20000));
    size_t i = 0;
    for (int segment = 0; i < c[0].size(); ++segment)
    {
        const size_t end = std::min (
            c[0].size(), i + static_cast<size_t> (unit (rng) * 3.0f * static_cast<float> (n)) + 50);
        const float level = segment % 3 == 1 ? 3.0f : (segment % 3 == 0 ? 0.9f : 0.0f);
        for (; i < end; ++i)
            for (auto& ch : c)
                ch[i] = unit (rng) < 0.3f ? (unit (rng) < 0.5f ? -0.0f : 0.0f)
                                          : level * (unit (rng) * 2.0f - 1.0f);
    }
    Channels twin = c;

    for (size_t start = 0; start < c[0].size();)
    {
        const int length = std::min (blockOf (rng), static_cast<int> (c[0].size() - start));
        float* a[kChannels] = {
            c[0].data() + start, c[1].data() + start, c[2].data() + start, c[3].data() + start
        };
        float* b[kChannels] = { twin[0].data() + start,
                                twin[1].data() + start,
                                twin[2].data() + start,
                                twin[3].data() + start };
        fast->process (a, length);
        LookaheadLimiterTestAccess::processEachChannel (*plain, b, length);
        ASSERT_EQ (fast->getGainReadout(), plain->getGainReadout()) << start;
        if (start < c[0].size() / 2 && start + static_cast<size_t> (length) >= c[0].size() / 2)
        {
            fast->setLookaheadMs (ms * 0.5f);
            plain->setLookaheadMs (ms * 0.5f);
        }
        if (unit (rng) < 0.05f) // ceilings below what the window already holds, and back
        {
            const float ceiling = fast->getCeiling() == 1.0f ? 0.8f : 1.0f;
            fast->setCeiling (ceiling);
            plain->setCeiling (ceiling);
        }
        start += static_cast<size_t> (length);
    }
    EXPECT_TRUE (bitIdentical (c, twin));
    EXPECT_EQ (fast->getGain(), plain->getGain());
}

INSTANTIATE_TEST_SUITE_P (Lookaheads,
                          LimiterIdlePaths,
                          ::testing::Values (std::make_tuple (48000, 0.03f),
                                             std::make_tuple (48000, 1.0f),
                                             std::make_tuple (44100, 40.0f),
                                             std::make_tuple (192000, 40.0f)));

// At the largest look-ahead the ring holds N + 1 frames, so the interpolation's zero-weighted
// older entry is the frame just written, and the sign of that zero reaches the output: -0 read
// beside a positive new frame leaves as +0 (worked out by hand from the interpolation formula).
TEST (LimiterGolden, LargestLookaheadReadsTheNewFrameAsTheOlderEntry)
{
    for (const bool plainLoop : { false, true })
    {
        auto limiter = makeLimiter (192000, 40.0f, 20.0f, 1.0f);
        ASSERT_EQ (limiter->getLookaheadSamples(), 7680);
        Channels c = silence (7780);
        for (auto& ch : c)
            for (size_t i = 0; i < ch.size(); ++i)
                ch[i] = i < 7680 ? -0.0f : 0.5f;
        float* p[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };
        if (plainLoop)
            LookaheadLimiterTestAccess::processEachChannel (*limiter, p, 7780);
        else
            limiter->process (p, 7780);
        for (auto& ch : c)
            for (size_t i = 7680; i < ch.size(); ++i)
                ASSERT_FALSE (std::signbit (ch[i])) << i << (plainLoop ? " plain" : " vectorised");
    }
}

// ---------------------------------------------------------------------------------------------
// Non-finite input

TEST (LimiterNonFinite, NanAndInfinityAreLimitedAsSilenceOnEveryChannel)
{
    for (size_t badChannel = 0; badChannel < kChannels; ++badChannel)
    {
        for (float bad : { NAN, INFINITY, -INFINITY })
        {
            auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
            auto twin = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
            Channels c = bursts (12000, 51u, 4.0f);
            Channels asSilence = c;
            for (size_t i = 3000; i < 3200; ++i)
            {
                c[badChannel][i] = bad;
                asSilence[badChannel][i] = 0.0f;
            }
            run (*limiter, c, 256);
            run (*twin, asSilence, 256);

            EXPECT_TRUE (bitIdentical (c, asSilence))
                << "channel " << badChannel << " value " << bad;
            for (auto& ch : c)
                for (float y : ch)
                    ASSERT_TRUE (std::isfinite (y));
            // The loud audio after the burst is limited to the ceiling again.
            EXPECT_LE (peakOf (c, 3300), 1.0f);
            EXPECT_GT (peakOf (c, 3300), 0.9f);
            EXPECT_TRUE (std::isfinite (limiter->getGainReductionDb()));
        }
    }
}

TEST (LimiterNonFinite, UndelayedStateTreatsThemAsSilenceToo)
{
    auto limiter = makeLimiter (48000, 1.0f, 20.0f, 1.0f);
    limiter->setLookaheadMs (0.01f);
    ASSERT_EQ (limiter->setSampleRate (44100), LookaheadLimiter::kRefused);
    Channels c = silence (64);
    c[0][3] = NAN;
    c[1][5] = INFINITY;
    c[2][7] = 0.5f;
    run (*limiter, c, 64);
    EXPECT_EQ (c[0][3], 0.0f);
    EXPECT_EQ (c[1][5], 0.0f);
    EXPECT_EQ (c[2][7], 0.5f);
}
