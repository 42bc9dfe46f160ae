#pragma once

// The benchmarks' signal and timing loop: 30 s at 48 kHz of four-channel noise bursts reaching
// +12 dBFS (or the same scaled to peak at -1 dBFS), handed over in blocks of 512.
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

using Signal = std::array<std::vector<float>, kChannels>;

// Noise bursts of 20 to 400 ms: loud ones peaking between 0 and +12 dBFS, quiet passages between
// -40 and -10 dBFS. Channels mix a common and an individual source, as a sound field's channels
// correlate. With quiet = true the whole signal is scaled to peak at -1 dBFS.
inline Signal makeSignal (int frames, bool quiet)
{
    std::mt19937 rng (20261209u);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::uniform_real_distribution<float> loudDb (0.0f, 12.0f), softDb (-40.0f, -10.0f);
    std::uniform_int_distribution<int> lengthMs (20, 400);

    Signal s;
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

template <typename ProcessBlock>
inline void runOverSignal (benchmark::State& state, bool quiet, ProcessBlock&& processBlock)
{
    const Signal& source = signalFor (quiet);
    Signal work = source;
    const int frames = static_cast<int> (source[0].size());

    for (auto _ : state)
    {
        state.PauseTiming();
        for (size_t ch = 0; ch < kChannels; ++ch)
            std::copy (source[ch].begin(), source[ch].end(), work[ch].begin());
        state.ResumeTiming();

        for (int start = 0; start < frames; start += kBlockSize)
        {
            float* pointers[kChannels];
            for (size_t ch = 0; ch < kChannels; ++ch)
                pointers[ch] = work[ch].data() + start;
            processBlock (pointers, std::min (kBlockSize, frames - start));
        }
        benchmark::DoNotOptimize (work[0].data());
        benchmark::ClobberMemory();
    }

    state.SetItemsProcessed (state.iterations() * frames);
    state.counters["ns_per_frame"] = benchmark::Counter (
        static_cast<double> (frames) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
} // namespace benchSignal
