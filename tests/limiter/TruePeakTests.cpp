// The limiter's true-peak mode: its interpolator, the delay, the guarantee on signals whose peaks
// lie between the samples (measured by the 32x reference of tests/common), mode switches and
// real-time safety.
#include "limiter/LookaheadLimiter.h"
#include "limiter/TruePeakInterpolator.h"
#include "tests/common/AllocationCounter.h"
#include "tests/common/ReferenceTruePeak.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace
{
constexpr int kChannels = 4;
constexpr double pi = 3.141592653589793;
using Channels = std::array<std::vector<float>, kChannels>;

std::unique_ptr<LookaheadLimiter>
makeTruePeakLimiter (int rate, float lookaheadMs, float releaseMs, float ceiling, bool on = true)
{
    auto limiter = std::make_unique<LookaheadLimiter> (40.0f, ceiling);
    limiter->setNumChannels();
    limiter->setLookaheadMs (lookaheadMs);
    limiter->setReleaseMs (releaseMs);
    limiter->setCeiling (ceiling);
    EXPECT_EQ (limiter->setTruePeak (on), LookaheadLimiter::kOk);
    // Without a look-ahead the rate is taken, and the result says the look-ahead is none.
    EXPECT_EQ (limiter->setSampleRate (rate),
               lookaheadMs > 0.0f ? LookaheadLimiter::kOk : LookaheadLimiter::kRefused);
    return limiter;
}

// Processes c in blocks of blockSize, followed by enough silence for all of it to come out.
void run (LookaheadLimiter& limiter, Channels& c, int blockSize = 512)
{
    for (auto& ch : c)
        ch.resize (ch.size() + static_cast<size_t> (limiter.getLatencySamples()), 0.0f);
    for (size_t start = 0; start < c[0].size(); start += static_cast<size_t> (blockSize))
    {
        float* p[kChannels];
        for (int ch = 0; ch < kChannels; ++ch)
            p[ch] = c[static_cast<size_t> (ch)].data() + start;
        limiter.process (p, static_cast<int> (std::min<size_t> (blockSize, c[0].size() - start)));
    }
}

double worstTruePeakDb (const Channels& c)
{
    const float* p[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };
    const auto peaks = referenceTruePeak::measure (p, c[0].size());
    return 20.0 * std::log10 (*std::max_element (peaks.begin(), peaks.end()));
}

Channels tone (int rate, double hz, double amplitude, double seconds)
{
    Channels c;
    const auto frames = static_cast<size_t> (rate * seconds);
    for (size_t ch = 0; ch < kChannels; ++ch)
    {
        c[ch].resize (frames);
        for (size_t i = 0; i < frames; ++i)
            c[ch][i] = static_cast<float> (
                amplitude * std::sin (2.0 * pi * hz * static_cast<double> (i) / rate + 0.4 * ch));
    }
    return c;
}

// Everything the guarantee is measured on here, each one far over the ceiling between samples.
Channels hardCase (int which, int rate)
{
    const size_t frames = static_cast<size_t> (rate * 0.25);
    Channels c;
    for (auto& ch : c)
        ch.assign (frames, 0.0f);
    std::mt19937 rng (9u);
    std::uniform_int_distribution<int> gap (1, 300);
    switch (which)
    {
        case 0: // 19 kHz, sustained
            return tone (rate, 19000.0, 2.0, 0.25);
        case 1: // +a +a -a -a at fs/4: the samples at 0.707 of the true peak
            for (size_t ch = 0; ch < kChannels; ++ch)
                for (size_t i = 0; i < frames; ++i)
                    c[ch][i] = static_cast<float> (
                        2.0 * std::sin (pi / 2.0 * static_cast<double> (i) + pi / 4.0 + ch));
            return c;
        default: // single samples of +-2 at irregular spacing
            for (size_t i = 100; i < frames; i += static_cast<size_t> (gap (rng)))
                c[i % kChannels][i] = i % 3 == 0 ? -2.0f : 2.0f;
            return c;
    }
}
} // namespace

TEST (TruePeakInterpolator, ReadsTonesBetweenTheSamplesAndNeverBelowTheSample)
{
    // Up to 20 kHz at 44.1 kHz (0.907 of the Nyquist frequency), at phases that put the peak
    // anywhere between two samples: the largest peak found over a sustained tone is within
    // 0.16 dB under its amplitude and over it by no more than the renderer's 4x meter reads
    // (0.13 dB), and every frame's peak is at least the magnitude of the sample it is centred on
    // (delaySamples earlier).
    for (const double hz : { 997.0, 11025.0, 15000.0, 19000.0, 20000.0 })
        for (const double phase : { 0.0, 0.3, 0.5, 0.77 })
        {
            TruePeakInterpolator interpolator;
            const int frames = 8192;
            constexpr int chunk = TruePeakInterpolator::maxFramesPerCall;
            std::vector<std::vector<float>> x (kChannels, std::vector<float> (frames));
            for (int ch = 0; ch < kChannels; ++ch)
                for (int i = 0; i < frames; ++i)
                    x[static_cast<size_t> (ch)][static_cast<size_t> (i)] = static_cast<float> (
                        (0.25 + 0.25 * ch) * std::cos (2.0 * pi * hz * (i + phase) / 44100.0));
            std::vector<std::vector<float>> peaks (kChannels, std::vector<float> (frames));
            std::vector<float> chunkPeaks (kChannels * chunk);
            for (int i = 0; i < frames; i += chunk)
            {
                const float* in[kChannels];
                for (int ch = 0; ch < kChannels; ++ch)
                    in[ch] = x[static_cast<size_t> (ch)].data() + i;
                interpolator.process (in, kChannels, chunk, chunkPeaks.data());
                for (int ch = 0; ch < kChannels; ++ch)
                    std::copy_n (chunkPeaks.data() + ch * chunk,
                                 chunk,
                                 peaks[static_cast<size_t> (ch)].data() + i);
            }

            for (int ch = 0; ch < kChannels; ++ch)
            {
                const auto& in = x[static_cast<size_t> (ch)];
                const auto& out = peaks[static_cast<size_t> (ch)];
                float largest = 0.0f;
                for (int i = 100; i < frames; ++i)
                {
                    const auto at = static_cast<size_t> (i);
                    const auto centre =
                        static_cast<size_t> (i - TruePeakInterpolator::delaySamples);
                    ASSERT_GE (out[at], std::abs (in[centre])) << hz << " Hz, frame " << i;
                    largest = std::max (largest, out[at]);
                }
                const double errorDb = 20.0 * std::log10 (largest / (0.25 + 0.25 * ch));
                EXPECT_GT (errorDb, -0.16) << hz << " Hz, phase " << phase;
                EXPECT_LT (errorDb, 0.13) << hz << " Hz, phase " << phase;
            }
        }
}

TEST (TruePeakMode, QuietAudioPassesDelayedByTheLookaheadPlusTheDetectorBitForBit)
{
    for (const auto& [rate, ms, expected] : { std::make_tuple (48000, 1.0f, 187),
                                              std::make_tuple (192000, 40.0f, 7819),
                                              std::make_tuple (44100, 0.5f, 161),
                                              std::make_tuple (96000, 0.0f, 139) })
    {
        auto limiter = makeTruePeakLimiter (rate, ms, 20.0f, 1.0f);
        ASSERT_EQ (limiter->getLatencySamples(), expected);
        ASSERT_EQ (limiter->getLookaheadSamples(), expected - 139);

        Channels input;
        std::mt19937 rng (3u);
        std::uniform_real_distribution<float> unit (-0.3f, 0.3f);
        for (auto& ch : input)
        {
            ch.resize (20000);
            for (auto& v : ch)
                v = unit (rng);
        }
        Channels output = input;
        run (*limiter, output, 333);
        for (size_t ch = 0; ch < kChannels; ++ch)
            for (size_t i = 0; i < output[ch].size(); ++i)
            {
                const float expectedSample = i < static_cast<size_t> (expected)
                                                 ? 0.0f
                                                 : input[ch][i - static_cast<size_t> (expected)];
                ASSERT_EQ (output[ch][i], expectedSample) << rate << " Hz, frame " << i;
            }
        EXPECT_EQ (limiter->getGain(), 1.0f);
    }
}

TEST (TruePeakMode, TruePeaksBetweenSamplesStayAtTheCeilingWhereSamplePeaksDoNot)
{
    // By the 32x reference: at most 0.1 dB over the ceiling in true-peak mode; the same signals
    // limited by their samples go at least 1 dB over, so the cases do test the detector.
    const float ceilingDb = -1.0f;
    const float ceiling = std::pow (10.0f, ceilingDb / 20.0f);
    for (const int rate : { 44100, 96000 })
        for (int which = 0; which < 3; ++which)
            for (const auto& [ms, releaseMs] : { std::make_pair (0.5f, 0.0f),
                                                 std::make_pair (1.0f, 20.0f),
                                                 std::make_pair (40.0f, 1000.0f) })
            {
                Channels c = hardCase (which, rate);
                auto limiter = makeTruePeakLimiter (rate, ms, releaseMs, ceiling);
                run (*limiter, c, 480);
                EXPECT_LE (worstTruePeakDb (c), ceilingDb + 0.1)
                    << "case " << which << " at " << rate << " Hz, " << ms << " / " << releaseMs;
            }

    for (int which = 0; which < 2; ++which) // (the impulses' true peaks are near their samples)
    {
        Channels c = hardCase (which, 44100);
        auto samplePeaks = makeTruePeakLimiter (44100, 1.0f, 20.0f, ceiling, false);
        run (*samplePeaks, c);
        EXPECT_GT (worstTruePeakDb (c), ceilingDb + 0.5) << "case " << which;
    }
}

TEST (TruePeakMode, OutputTruePeakReadoutFollowsTheOutput)
{
    // A channel's readout after a block is the detector's view of that block's output: at least
    // its sample peak, and over the whole output within 0.25 dB of the reference's true peak
    // (the headroom takes 0.2 dB of it). The tone fades in and out, so that neither reading
    // sees an edge.
    auto limiter = makeTruePeakLimiter (48000, 2.0f, 50.0f, 0.8f);
    Channels c = tone (48000, 15000.0, 1.5, 0.5);
    for (auto& ch : c)
    {
        for (size_t i = 0; i < 2400; ++i)
        {
            const float fade = static_cast<float> (i) / 2400.0f;
            ch[i] *= fade;
            ch[ch.size() - 1 - i] *= fade;
        }
        ch.resize (ch.size() + 4800, 0.0f);
    }
    std::array<float, kChannels> largestReadout {};
    for (size_t start = 0; start < c[0].size(); start += 4800)
    {
        float* p[kChannels];
        for (size_t ch = 0; ch < kChannels; ++ch)
            p[ch] = c[ch].data() + start;
        limiter->process (p, 4800);
        for (int ch = 0; ch < kChannels; ++ch)
        {
            float samplePeak = 0.0f;
            for (int i = 0; i < 4800; ++i)
                samplePeak = std::max (samplePeak, std::abs (p[ch][i]));
            const float readout = limiter->getOutputTruePeak (ch);
            EXPECT_GE (readout, samplePeak) << start;
            largestReadout[static_cast<size_t> (ch)] =
                std::max (largestReadout[static_cast<size_t> (ch)], readout);
        }
    }
    const float* p[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };
    const auto reference = referenceTruePeak::measure (p, c[0].size());
    for (size_t ch = 0; ch < kChannels; ++ch)
        EXPECT_NEAR (20.0 * std::log10 (largestReadout[ch] / reference[ch]), 0.0, 0.25) << ch;
}

TEST (TruePeakMode, UnmeasuredReadoutsLeaveTheOutputAsItIs)
{
    // Noise passages far above the ceiling and far under it: with the readouts not measured the
    // output is the same bit for bit and each readout lies between the block's sample peak and
    // the measured one; measured again, they are the same once the delay has passed.
    auto measured = makeTruePeakLimiter (48000, 1.0f, 20.0f, 0.8f);
    auto unmeasured = makeTruePeakLimiter (48000, 1.0f, 20.0f, 0.8f);
    unmeasured->setOutputTruePeaksMeasured (false);
    std::mt19937 rng (7u);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::vector<float> a (kChannels * 512), b (a.size());
    for (int block = 0; block < 80; ++block)
    {
        if (block == 60)
            unmeasured->setOutputTruePeaksMeasured (true);
        const float level = block % 8 < 4 ? 2.0f : 0.05f;
        for (float& x : a)
            x = level * unit (rng);
        std::copy (a.begin(), a.end(), b.begin());
        float* pa[kChannels];
        float* pb[kChannels];
        for (int ch = 0; ch < kChannels; ++ch)
        {
            pa[ch] = a.data() + ch * 512;
            pb[ch] = b.data() + ch * 512;
        }
        measured->process (pa, 512);
        unmeasured->process (pb, 512);
        ASSERT_EQ (a, b) << block;
        for (int ch = 0; ch < kChannels; ++ch)
        {
            const float exact = measured->getOutputTruePeak (ch),
                        readout = unmeasured->getOutputTruePeak (ch);
            if (block >= 61)
                ASSERT_EQ (readout, exact) << block;
            ASSERT_LE (readout, exact) << block;
            ASSERT_GE (readout,
                       std::abs (*std::max_element (pb[ch],
                                                    pb[ch] + 512,
                                                    [] (float x, float y)
                                                    { return std::abs (x) < std::abs (y); })))
                << block;
        }
    }
}

TEST (TruePeakMode, SwitchingGlidesTheDelayAndOffAgainIsSamplePeakModeBitForBit)
{
    // Switched on at 192 kHz and 40 ms, the delay glides from 7680 to 7819 samples through
    // fractions: nothing of a DC step may come out before its time (the interpolation reads
    // the frame before the delayed one, never the newest frame).
    // (A release of 75 ms or more: no settle phase, which a switch starts like a look-ahead change.)
    auto limiter = makeTruePeakLimiter (192000, 40.0f, 100.0f, 1.0f, false);
    limiter->setTruePeak (true);
    Channels c;
    for (auto& ch : c)
        ch.assign (30000, 0.5f);
    float* p[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };
    limiter->process (p, 30000);
    for (size_t ch = 0; ch < kChannels; ++ch)
        for (size_t i = 0; i < 7600; ++i)
            ASSERT_EQ (c[ch][i], 0.0f) << i;
    EXPECT_GT (limiter->getSmoothedDelay(), 7690.0f);

    // Off again and prepared anew, the engine is sample-peak mode exactly.
    limiter->setTruePeak (false);
    limiter->setSampleRate (48000);
    auto fresh = makeTruePeakLimiter (48000, 40.0f, 100.0f, 1.0f, false);
    Channels a = hardCase (0, 48000), b = a;
    run (*limiter, a);
    run (*fresh, b);
    EXPECT_EQ (a, b);
}

TEST (TruePeakMode, NonFiniteInputIsLimitedAsSilenceAndNothingAllocates)
{
    auto limiter = makeTruePeakLimiter (48000, 1.0f, 20.0f, 1.0f);
    Channels c = tone (48000, 1000.0, 3.0, 0.2);
    for (size_t i = 0; i < c[0].size(); i += 101)
    {
        c[0][i] = std::numeric_limits<float>::quiet_NaN();
        c[1][i] = std::numeric_limits<float>::infinity();
        c[2][i] = -std::numeric_limits<float>::infinity();
    }
    float* p[kChannels] = { c[0].data(), c[1].data(), c[2].data(), c[3].data() };

    ScopedAllocationCount allocations;
    limiter->process (p, 4000);
    limiter->setTruePeak (false);
    limiter->process (p, 1000);
    limiter->setTruePeak (true);
    limiter->setSampleRate (96000);
    limiter->process (p, static_cast<int> (c[0].size()));
    EXPECT_EQ (allocations.count(), 0u);

    for (const auto& ch : c)
        for (float v : ch)
            ASSERT_TRUE (std::isfinite (v) && std::abs (v) <= 1.0f) << v;
}
