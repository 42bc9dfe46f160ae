// The engine at channel counts other than four: one law for every count, with the detector's peak
// taken over all channels; refused counts; and the vector paths of every processor and the plain
// loop agreeing bit for bit.
#include "limiter/LookaheadLimiter.h"

#include "tests/common/AllocationCounter.h"
#include "tests/limiter/LimiterTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace
{
using Signal = std::vector<std::vector<float>>;

std::unique_ptr<LookaheadLimiter>
makeLimiter (int numChannels, int rate, float lookaheadMs, float ceiling, bool truePeak)
{
    auto limiter = std::make_unique<LookaheadLimiter> (40.0f, ceiling, std::max (numChannels, 4));
    EXPECT_EQ (limiter->setNumChannels (numChannels), LookaheadLimiter::kOk);
    EXPECT_EQ (limiter->setTruePeak (truePeak), LookaheadLimiter::kOk);
    limiter->setLookaheadMs (lookaheadMs);
    limiter->setReleaseMs (20.0f);
    limiter->setCeiling (ceiling);
    EXPECT_EQ (limiter->setSampleRate (rate), LookaheadLimiter::kOk);
    return limiter;
}

// Noise bursts up to loudPeak over a quiet bed, different on every channel. Fixed seed.
Signal bursts (int numChannels, size_t length, unsigned seed, float loudPeak = 4.0f)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::uniform_int_distribution<int> burstLength (20, 2000);
    Signal s (static_cast<size_t> (numChannels), std::vector<float> (length, 0.0f));
    bool loud = false;
    for (size_t i = 0; i < length;)
    {
        const size_t end = std::min (length, i + static_cast<size_t> (burstLength (rng)));
        for (; i < end; ++i)
            for (auto& ch : s)
                ch[i] = (loud ? loudPeak : 0.3f) * unit (rng);
        loud = ! loud;
    }
    return s;
}

std::vector<float*> pointersAt (Signal& s, size_t start)
{
    std::vector<float*> p;
    for (auto& ch : s)
        p.push_back (ch.data() + start);
    return p;
}

bool bitIdentical (const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp (a.data(), b.data(), a.size() * sizeof (float)) == 0;
}

using Process = std::function<void (LookaheadLimiter&, float* const*, int)>;
const Process vectorLoop = [] (LookaheadLimiter& l, float* const* c, int n) { l.process (c, n); };
const Process plainLoop = [] (LookaheadLimiter& l, float* const* c, int n)
{ LookaheadLimiterTestAccess::processEachChannel (l, c, n); };
} // namespace

// A limiter of any count whose channels repeat the four of a signal limits each of them exactly as
// the four-channel limiter limits that signal; with fewer than four, as the four-channel limiter
// with the others silent. In both peak modes, across a look-ahead change, in blocks of 1 to 4096.
TEST (ChannelCounts, EveryCountLimitsAsFourChannelsWithTheSameContent)
{
    const Signal source = bursts (4, 30000, 61u);
    const std::vector<int> blockSizes { 1, 37, 512, 100, 4096, 64 };
    for (const bool truePeak : { false, true })
        for (const int numChannels : { 1, 3, 5, 16, 64 })
        {
            auto reference = makeLimiter (4, 48000, 1.0f, 1.0f, truePeak);
            auto limiter = makeLimiter (numChannels, 48000, 1.0f, 1.0f, truePeak);
            Signal four = source, many (static_cast<size_t> (numChannels));
            for (size_t ch = 0; ch < 4; ++ch)
                if (static_cast<int> (ch) >= numChannels)
                    std::fill (four[ch].begin(), four[ch].end(), 0.0f);
            for (size_t ch = 0; ch < many.size(); ++ch)
                many[ch] = four[ch % 4];

            size_t next = 0;
            for (size_t start = 0; start < source[0].size(); ++next)
            {
                if (next == 20)
                    for (auto* l : { reference.get(), limiter.get() })
                        l->setLookaheadMs (3.0f);
                const int n = static_cast<int> (std::min<size_t> (
                    blockSizes[next % blockSizes.size()], source[0].size() - start));
                reference->process (pointersAt (four, start).data(), n);
                limiter->process (pointersAt (many, start).data(), n);
                ASSERT_EQ (limiter->getGainReadout(), reference->getGainReadout()) << start;
                for (int ch = 0; ch < numChannels; ++ch)
                    ASSERT_EQ (limiter->getOutputTruePeak (ch),
                               reference->getOutputTruePeak (ch % 4))
                        << start;
                start += static_cast<size_t> (n);
            }
            for (size_t ch = 0; ch < many.size(); ++ch)
                ASSERT_TRUE (bitIdentical (many[ch], four[ch % 4]))
                    << numChannels << " channels, channel " << ch
                    << (truePeak ? ", true peak" : "");
        }
}

// Worked by hand as for four channels: 4.0 on one channel leaves at the ceiling N = 48 samples
// later, and the bed of 0.5 on the 63 others is scaled by the same gain, 1 / 4, at that instant.
TEST (ChannelCounts, OneLoudChannelAmongSixtyFourLowersThemAllAndNothingAllocates)
{
    auto limiter = makeLimiter (64, 48000, 1.0f, 1.0f, false);
    Signal s (64, std::vector<float> (1000, 0.5f));
    s[37].assign (1000, 0.0f);
    s[37][200] = 4.0f;
    std::vector<std::vector<float*>> blocks;
    for (size_t start = 0; start < 1000; start += 100)
        blocks.push_back (pointersAt (s, start));
    {
        ScopedAllocationCount allocations;
        for (const auto& block : blocks)
            limiter->process (block.data(), 100);
        limiter->setNumChannels (64);
        limiter->setTruePeak (true);
        EXPECT_EQ (allocations.count(), 0u);
    }
    EXPECT_NEAR (s[37][248], 1.0f, 1e-6f);
    for (size_t ch = 0; ch < 64; ++ch)
        if (ch != 37)
            EXPECT_NEAR (s[ch][248], 0.125f, 1e-6f) << ch;
}

TEST (ChannelCounts, RefusedCountsChangeNothing)
{
    auto a = makeLimiter (16, 48000, 2.0f, 1.0f, true);
    auto b = makeLimiter (16, 48000, 2.0f, 1.0f, true);
    Signal x = bursts (16, 5000, 62u), y = x;
    a->process (pointersAt (x, 0).data(), 5000);
    b->process (pointersAt (y, 0).data(), 5000);
    for (const int refused : { 0, -1, 17, 64, 65 })
        EXPECT_EQ (a->setNumChannels (refused), LookaheadLimiter::kRefused) << refused;
    EXPECT_EQ (a->getNumChannels(), 16);
    EXPECT_EQ (a->getOutputTruePeak (16), 0.0f);
    EXPECT_EQ (a->getOutputTruePeak (-1), 0.0f);
    EXPECT_GT (a->getOutputTruePeak (15), 0.0f);
    Signal x2 = bursts (16, 7000, 63u), y2 = x2;
    a->process (pointersAt (x2, 0).data(), 7000);
    b->process (pointersAt (y2, 0).data(), 7000);
    for (size_t ch = 0; ch < 16; ++ch)
        EXPECT_TRUE (bitIdentical (x2[ch], y2[ch])) << ch;

    // Too few allocated for the four the default asks for; counts outside 1 to 64 allocate nothing.
    LookaheadLimiter two (40.0f, 1.0f, 2);
    EXPECT_EQ (two.setNumChannels(), LookaheadLimiter::kRefused);
    EXPECT_EQ (two.setNumChannels (2), LookaheadLimiter::kOk);
    for (const int count : { 0, 65 })
    {
        LookaheadLimiter none (40.0f, 1.0f, count);
        EXPECT_FALSE (none.isAllocated()) << count;
        EXPECT_EQ (none.setNumChannels (1), LookaheadLimiter::kRefused);
    }
}

// The widest vector path this processor runs, the baseline processor's and the plain loop, on
// blocks of 0 to 700 frames of noise, cancelling outputs, signed zeros and non-finite samples, with
// every setting changed between blocks (the delay glides through lengths from 1 to the whole ring).
// The last count is a wide bus whose channels from the ninth on are +0 for long stretches (long
// enough for their rings to hold nothing else), now and then woken by a block like the others.
TEST (ChannelCounts, VectorPathsAndThePlainLoopAgreeBitForBit)
{
    for (const bool truePeak : { false, true })
        for (const int count : { 1, 3, 4, 7, 64, -64 })
        {
            const bool mostlySilent = count < 0;
            const int numChannels = std::abs (count);
            std::mt19937 rng (4243u + static_cast<unsigned> (numChannels));
            std::uniform_int_distribution<int> blockOf (0, 700), actionOf (0, 7);
            std::uniform_real_distribution<float> unit (0.0f, 1.0f);
            std::vector<std::unique_ptr<LookaheadLimiter>> limiters;
            for (int path = 0; path < 3; ++path)
                limiters.push_back (makeLimiter (numChannels, 48000, 1.0f, 1.0f, truePeak));
            LookaheadLimiterTestAccess::useBaselineLanes (*limiters[1]);
            const std::vector<Process> paths { vectorLoop, vectorLoop, plainLoop };
            const int numPaths = truePeak ? 2 : 3; // the plain loop limits sample peaks only

            for (int round = 0; round < 120; ++round)
            {
                const int length = blockOf (rng);
                Signal s (static_cast<size_t> (numChannels),
                          std::vector<float> (static_cast<size_t> (std::max (length, 1))));
                const int kind = round % 4;
                for (size_t ch = 0; ch < s.size(); ++ch)
                    for (auto& v : s[ch])
                    {
                        if (mostlySilent && ch >= 8 && round % 30 != 29)
                        {
                            v = 0.0f;
                            continue;
                        }
                        const float x = (unit (rng) * 2.0f - 1.0f) * (kind == 0 ? 6.0f : 0.7f);
                        v = kind == 1   ? ((ch % 2 == 0) ? 0.3f : -0.3f)
                            : kind == 2 ? (unit (rng) < 0.5f ? -0.0f : 0.0f)
                            : kind == 3 && unit (rng) < 0.01f
                                ? (unit (rng) < 0.5f ? NAN : -INFINITY)
                                : x;
                    }
                std::vector<Signal> outputs (static_cast<size_t> (numPaths), s);
                for (int path = 0; path < numPaths; ++path)
                    paths[static_cast<size_t> (path)](
                        *limiters[static_cast<size_t> (path)],
                        pointersAt (outputs[static_cast<size_t> (path)], 0).data(),
                        length);
                for (int path = 1; path < numPaths; ++path)
                {
                    ASSERT_EQ (limiters[static_cast<size_t> (path)]->getGainReadout(),
                               limiters[0]->getGainReadout())
                        << numChannels << " channels, round " << round << ", path " << path;
                    for (size_t ch = 0; ch < s.size(); ++ch)
                        ASSERT_TRUE (
                            bitIdentical (outputs[static_cast<size_t> (path)][ch], outputs[0][ch]))
                            << numChannels << " channels, round " << round << ", path " << path
                            << (truePeak ? ", true peak" : "");
                }

                const int action = actionOf (rng);
                const float value = unit (rng);
                for (auto& l : limiters)
                {
                    if (action == 0)
                        l->setLookaheadMs (value < 0.3f ? 0.0f : value * 40.0f);
                    else if (action == 1)
                        l->setReleaseMs (value * 150.0f);
                    else if (action == 2)
                        l->setCeiling (0.3f + value * 2.0f);
                    else if (action == 3)
                        l->setSampleRate (round % 3 == 0 ? 192000 : 44100);
                }
            }
        }
}
