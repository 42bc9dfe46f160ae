// The renderer's 4x true-peak meter against a brute-force polyphase interpolation in double
// precision, on signals whose level changes a lot, so that the stretches the meter skips (where
// no interpolated value could raise a peak) are put to the test, and in random block lengths.
#include "render/TruePeakMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace
{
using Channels = std::vector<std::vector<float>>;

struct Peaks
{
    std::vector<double> sample, truePeak;
};

/** Every phase at every frame, the signal padded with the meter's history of zeros and its tail. */
Peaks bruteForce (const Channels& x)
{
    constexpr int before = 5, taps = TruePeakMeter::tapsPerPhase;
    Peaks peaks { std::vector<double> (4, 0.0), std::vector<double> (4, 0.0) };
    const int frames = static_cast<int> (x[0].size());
    for (size_t ch = 0; ch < 4; ++ch)
        for (int n = -(taps - before); n < frames + taps; ++n)
        {
            if (n >= 0 && n < frames)
                peaks.sample[ch] =
                    std::max (peaks.sample[ch], std::abs (double (x[ch][size_t (n)])));
            for (int p = 0; p < TruePeakMeter::numPhases; ++p)
            {
                double y = 0.0;
                for (int k = 0; k < taps; ++k)
                {
                    const int at = n + k - before;
                    if (at >= 0 && at < frames)
                        y += double (TruePeakMeter::getPhase (p)[size_t (k)]) * x[ch][size_t (at)];
                }
                peaks.truePeak[ch] = std::max (peaks.truePeak[ch], std::abs (y));
            }
        }
    return peaks;
}

/** Bursts of noise and tones from -60 to +12 dBFS, each channel its own, from a fixed seed. */
Channels varyingSignal (unsigned seed, int frames)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f), levelDb (-60.0f, 12.0f);
    std::uniform_int_distribution<int> burst (1, 3000);
    Channels x (4, std::vector<float> (size_t (frames)));
    for (auto& channel : x)
        for (int n = 0; n < frames;)
        {
            const int end = std::min (frames, n + burst (random));
            const float level = std::pow (10.0f, levelDb (random) / 20.0f);
            const float frequency = std::abs (unit (random)) * 0.5f;
            for (; n < end; ++n)
                channel[size_t (n)] =
                    level
                    * (random() % 2 == 0 ? unit (random) : std::sin (6.2831853f * frequency * n));
        }
    return x;
}
} // namespace

TEST (TruePeakMeter, MatchesBruteForceInEveryBlockLength)
{
    for (unsigned seed : { 1u, 2u, 3u })
    {
        SCOPED_TRACE ("seed " + std::to_string (seed));
        const auto x = varyingSignal (seed, 40001);
        const auto expected = bruteForce (x);
        std::mt19937 random (seed);
        std::uniform_int_distribution<int> length (1, 700);
        TruePeakMeter meter (700);
        for (int n = 0; n < int (x[0].size());)
        {
            const int count = std::min (length (random), int (x[0].size()) - n);
            const float* pointers[] = {
                x[0].data() + n, x[1].data() + n, x[2].data() + n, x[3].data() + n
            };
            meter.process (pointers, count);
            n += count;
        }
        meter.finish();
        for (int ch = 0; ch < 4; ++ch)
        {
            EXPECT_EQ (meter.getSamplePeak (ch), float (expected.sample[size_t (ch)])) << ch;
            EXPECT_NEAR (meter.getTruePeak (ch),
                         expected.truePeak[size_t (ch)],
                         2.0e-6 * expected.truePeak[size_t (ch)])
                << ch;
        }
    }
}
