// Prints one checksum per scenario of the sample-peak engine's output, bit for bit (every output
// sample, the gain readout and the read delay after each block), so that two builds of the engine
// can be compared: scripts/compare-engine.sh builds this file against another revision's limiter/
// and against this tree's, and compares what they print.
//
// Only the engine's long-standing interface is used, so that any revision builds it. The
// scenarios: four rates, look-aheads 0.5 to 40 ms (192 kHz at 40 ms, the largest ring, included),
// releases 0 to 1000 ms, two ceilings; signals with signed zeros, idle stretches (silence, and
// audio below the ceiling), bursts far above it, a tone near the Nyquist frequency, non-finite
// samples; blocks of 1 to 8192 frames; look-ahead changes that make the delay glide, release and
// ceiling changes between blocks; both the vectorised and the plain per-channel loop. Built with
// ORVALIS_COMPARE_TRUE_PEAK, the same scenarios run in true-peak mode (its own loop only); with
// ORVALIS_COMPARE_READOUTS as well, the output true-peak readouts after each block are in the
// checksum too; with ORVALIS_COMPARE_UNMEASURED_READOUTS instead, the limiter is told not to
// measure them (the output must not change).
#include "limiter/LookaheadLimiter.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

struct LookaheadLimiterTestAccess
{
    // With a look-ahead under one sample (after a refused rate) process() runs its undelayed
    // path; the plain loop was never meant for that state.
    static void processEachChannel (LookaheadLimiter& l, float* const* c, int n)
    {
        if (l.getLookaheadSamples() >= 1)
            l.processEachChannel (c, n);
        else
            l.process (c, n);
    }
};

namespace
{
constexpr int kChannels = 4;

struct Hash
{
    std::uint64_t value = 14695981039346656037ull;
    void add (const void* data, size_t size)
    {
        const auto* bytes = static_cast<const unsigned char*> (data);
        for (size_t i = 0; i < size; ++i)
            value = (value ^ bytes[i]) * 1099511628211ull;
    }
    void add (float f) { add (&f, sizeof f); }
};

std::uint32_t nextRandom (std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state;
}

// Sample i of channel ch of signal kind, at rate.
float sampleOf (int kind, int ch, long i, int rate, std::uint32_t& noise)
{
    const double t = static_cast<double> (i) / rate;
    const long period = rate / 5; // 200 ms sections
    const long section = i / period;
    switch (kind)
    {
        case 0: // signed zeros, with a burst now and then
            if (section % 3 == 1 && (i % period) < rate / 100)
                return static_cast<float> ((ch % 2 == 0 ? 3.0 : -2.5) * std::sin (6283.0 * t));
            return (i + ch) % 3 == 0 ? -0.0f : 0.0f;
        case 1: // idle stretches between loud bursts: silence, then audio below the ceiling
        {
            const long at = i % period;
            if (section % 2 == 0)
                return at < rate / 50
                           ? static_cast<float> (4.0 * std::sin (2.0 * 3.14159265 * 440.0 * t + ch))
                           : 0.0f;
            return static_cast<float> (0.3 * std::sin (2.0 * 3.14159265 * 97.0 * t + ch));
        }
        case 2: // noise bursts up to +12 dBFS
        {
            const float r = static_cast<float> (nextRandom (noise) >> 8) / 16777216.0f - 0.5f;
            const float level = section % 2 == 0 ? 8.0f : 0.5f;
            return r * level * (ch == 3 ? -1.0f : 1.0f);
        }
        case 3: // a tone near the Nyquist frequency, above the ceiling
            return static_cast<float> (1.7
                                       * std::sin (2.0 * 3.14159265 * 0.45 * rate * t + 0.3 * ch));
        default: // non-finite samples in a loud tone
        {
            if (i % 997 == 5)
                return ch == 0   ? std::numeric_limits<float>::quiet_NaN()
                       : ch == 1 ? std::numeric_limits<float>::infinity()
                                 : -std::numeric_limits<float>::infinity();
            return static_cast<float> (2.0 * std::sin (2.0 * 3.14159265 * 1000.0 * t + ch));
        }
    }
}

// One scenario: a fresh engine at rate, look-ahead, release and ceiling, fed seconds of signal
// kind in blocks cycling through blockSizes; with changes, the look-ahead, release and ceiling
// change at set blocks.
std::uint64_t run (int rate,
                   float lookaheadMs,
                   float releaseMs,
                   float ceiling,
                   int kind,
                   bool changes,
                   bool plainLoop)
{
    LookaheadLimiter limiter (40.0f, ceiling);
    limiter.setNumChannels();
    limiter.setLookaheadMs (lookaheadMs);
    limiter.setReleaseMs (releaseMs);
    limiter.setCeiling (ceiling);
    limiter.setSampleRate (rate);
#ifdef ORVALIS_COMPARE_TRUE_PEAK
    limiter.setTruePeak (true);
#endif
#ifdef ORVALIS_COMPARE_UNMEASURED_READOUTS
    limiter.setOutputTruePeaksMeasured (false);
#endif

    const long total = rate * 6 / 5; // 1.2 s
    const int blockSizes[] = { 512, 1, 17, 8192, 64, 4095 };
    std::vector<float> buffers (static_cast<size_t> (8192 * kChannels));
    std::uint32_t noise = 12345u + static_cast<std::uint32_t> (kind);
    Hash hash;
    long done = 0;
    for (int block = 0; done < total; ++block)
    {
        if (changes)
        {
            if (block == 7)
                limiter.setLookaheadMs (lookaheadMs > 20.0f ? 5.0f : 40.0f);
            if (block == 20)
                limiter.setReleaseMs (releaseMs + 35.0f);
            if (block == 30)
                limiter.setCeiling (ceiling * 0.7f);
            if (block == 40)
                limiter.setLookaheadMs (lookaheadMs);
        }
        const int n = static_cast<int> (std::min<long> (blockSizes[block % 6], total - done));
        float* channels[kChannels];
        for (int ch = 0; ch < kChannels; ++ch)
            channels[ch] = buffers.data() + ch * 8192;
        for (int i = 0; i < n; ++i)
            for (int ch = 0; ch < kChannels; ++ch)
                channels[ch][i] = sampleOf (kind, ch, done + i, rate, noise);

        if (plainLoop)
            LookaheadLimiterTestAccess::processEachChannel (limiter, channels, n);
        else
            limiter.process (channels, n);

        for (int ch = 0; ch < kChannels; ++ch)
            hash.add (channels[ch], static_cast<size_t> (n) * sizeof (float));
        hash.add (limiter.getGainReadout());
        hash.add (limiter.getSmoothedDelay());
#ifdef ORVALIS_COMPARE_READOUTS
        for (int ch = 0; ch < kChannels; ++ch)
            hash.add (limiter.getOutputTruePeak (ch));
#endif
        done += n;
    }
    return hash.value;
}
} // namespace

int main()
{
    int scenarios = 0;
    for (int rate : { 44100, 48000, 96000, 192000 })
        for (float lookaheadMs : { 0.0f, 0.5f, 1.0f, 5.0f, 40.0f })
            for (float releaseMs : { 0.0f, 20.0f, 1000.0f })
                for (float ceiling : { 1.0f, 0.5f })
                    for (int kind = 0; kind < 5; ++kind)
                        for (bool changes : { false, true })
                            for (bool plainLoop : { false, true })
                            {
                                // The plain loop only where it matters most, to keep the run short.
                                if (plainLoop && ! (rate == 192000 || kind == 0))
                                    continue;
#ifdef ORVALIS_COMPARE_TRUE_PEAK
                                if (plainLoop)
                                    continue;
#endif
                                std::printf ("%d %g %g %g %d %d %d %016llx\n",
                                             rate,
                                             static_cast<double> (lookaheadMs),
                                             static_cast<double> (releaseMs),
                                             static_cast<double> (ceiling),
                                             kind,
                                             changes ? 1 : 0,
                                             plainLoop ? 1 : 0,
                                             static_cast<unsigned long long> (run (rate,
                                                                                   lookaheadMs,
                                                                                   releaseMs,
                                                                                   ceiling,
                                                                                   kind,
                                                                                   changes,
                                                                                   plainLoop)));
                                ++scenarios;
                            }
    std::fprintf (stderr, "%d scenarios\n", scenarios);
    return 0;
}
