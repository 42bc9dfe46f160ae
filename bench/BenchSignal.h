#pragma once

// The benchmarks' signal and timing loop: 30 s at 48 kHz of four-channel noise bursts reaching
// +12 dBFS (or the same scaled to peak at -1 dBFS), handed over in blocks of 512; or the same
// kind of signal for any channel count.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace benchSignal
{
constexpr int kChannels = 4;
constexpr int kBlockSize = 512;
constexpr int kSeconds = 30;

using Signal = std::vector<std::vector<float>>;

// Noise bursts of 20 to 400 ms: loud ones peaking between 0 and +12 dBFS, quiet passages between
// -40 and -10 dBFS. Channels mix a common and an individual source, as a sound field's channels
// correlate. With quiet = true the whole signal is scaled to peak at -1 dBFS.
inline Signal makeSignal (int frames, bool quiet, int numChannels = kChannels)
{
    std::mt19937 rng (20261209u);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::uniform_real_distribution<float> loudDb (0.0f, 12.0f), softDb (-40.0f, -10.0f);
    std::uniform_int_distribution<int> lengthMs (20, 400);

    Signal s (static_cast<size_t> (numChannels));
    for (auto& ch : s)
        ch.resize (static_cast<size_t> (frames));

    bool loud = true;
    for (int i = 0; i < frames;)
    {
        const int end = std::min (frames, i + lengthMs (rng) * 48);
        const float level = std::pow (10.0f, (loud ? loudDb (rng) : softDb (rng)) / 20.0f);
        for (; i < end; ++i)
        {
            const float common = unit (rng);
            for (auto& ch : s)
                ch[static_cast<size_t> (i)] = level * (0.6f * common + 0.4f * unit (rng));
        }
        loud = ! loud;
    }

    float peak = 0.0f;
    for (auto& ch : s)
        for (float x : ch)
            peak = std::max (peak, std::abs (x));
    const float target = quiet ? std::pow (10.0f, -1.0f / 20.0f) : std::pow (10.0f, 12.0f / 20.0f);
    for (auto& ch : s)
        for (float& x : ch)
            x *= target / peak;
    return s;
}

inline const Signal& signalFor (bool quiet)
{
    static const Signal loud = makeSignal (48000 * kSeconds, false);
    static const Signal soft = makeSignal (48000 * kSeconds, true);
    return quiet ? soft : loud;
}

/** Noise bursts as makeSignal's, with the same bursts (lengths and levels) for every channel
    count: the benchmarks that compare channel counts use frames of it for every count (the last
    one made is kept). */
inline const Signal& signalFor (int numChannels, int frames)
{
    static Signal kept;
    static int keptChannels = 0, keptFrames = 0;
    if (keptChannels == numChannels && keptFrames == frames)
        return kept;

    std::mt19937 bursts (20261209u), common (1u);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::uniform_real_distribution<float> loudDb (0.0f, 12.0f), softDb (-40.0f, -10.0f);
    std::uniform_int_distribution<int> lengthMs (20, 400);
    std::vector<float> level (static_cast<size_t> (frames)), shared (level.size());
    bool loud = true;
    for (int i = 0; i < frames;)
    {
        const int end = std::min (frames, i + lengthMs (bursts) * 48);
        const float l = std::pow (10.0f, (loud ? loudDb (bursts) : softDb (bursts)) / 20.0f);
        for (; i < end; ++i)
        {
            level[static_cast<size_t> (i)] = l;
            shared[static_cast<size_t> (i)] = unit (common);
        }
        loud = ! loud;
    }
    kept.assign (static_cast<size_t> (numChannels), std::vector<float> (level.size()));
    for (size_t ch = 0; ch < kept.size(); ++ch)
    {
        std::mt19937 own (100u + static_cast<unsigned> (ch));
        for (size_t i = 0; i < level.size(); ++i)
            kept[ch][i] = 4.0f * level[i] * (0.6f * shared[i] + 0.4f * unit (own));
    }
    keptChannels = numChannels;
    keptFrames = frames;
    return kept;
}

/** Times processBlock (channel pointers, frames) over the signal, in blocks of kBlockSize;
    ns_per_frame is per frame of all channels. */
template <typename ProcessBlock>
inline void
runOverSignal (benchmark::State& state, const Signal& source, ProcessBlock&& processBlock)
{
    Signal work = source;
    const int frames = static_cast<int> (source[0].size());
    std::vector<float*> pointers (source.size());

    for (auto _ : state)
    {
        state.PauseTiming();
        for (size_t ch = 0; ch < source.size(); ++ch)
            std::copy (source[ch].begin(), source[ch].end(), work[ch].begin());
        state.ResumeTiming();

        for (int start = 0; start < frames; start += kBlockSize)
        {
            for (size_t ch = 0; ch < source.size(); ++ch)
                pointers[ch] = work[ch].data() + start;
            processBlock (pointers.data(), std::min (kBlockSize, frames - start));
        }
        benchmark::DoNotOptimize (work[0].data());
        benchmark::ClobberMemory();
    }

    state.SetItemsProcessed (state.iterations() * frames);
    state.counters["ns_per_frame"] = benchmark::Counter (
        static_cast<double> (frames) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

/** The same over the 30 s four-channel signal. */
template <typename ProcessBlock>
inline void runOverSignal (benchmark::State& state, bool quiet, ProcessBlock&& processBlock)
{
    runOverSignal (state, signalFor (quiet), processBlock);
}
} // namespace benchSignal
