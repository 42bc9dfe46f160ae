// Cost of LookaheadLimiter::process per four-channel frame, beside a floor: a plain four-channel
// delay of the same length with a gain multiply and a clamp.
//
//   build/bench/orvalis_bench_limiter --benchmark_counters_tabular=true
//
// Arguments: rate, look-ahead in ms, signal (0 = bursts up to +12 dBFS, 1 = never above -1 dBFS),
// for BM_LimiterProcess also the mode (0 = sample peak, 1 = true peak, 2 = true peak with the
// output true peaks not measured, as while no window shows the meters). BM_LimiterChannels runs
// the engine at 1, 4, 16 and 64 channels (48 kHz, 1 ms, 0.5 s of the same bursts for every count,
// which at 64 channels is 6 MB) in either mode; its ns_per_frame is per frame of all channels,
// ns_per_sample per channel.
#include "BenchSignal.h"
#include "limiter/LookaheadLimiter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace
{
using namespace benchSignal;

void BM_LimiterProcess (benchmark::State& state)
{
    const int rate = static_cast<int> (state.range (0));
    const float lookaheadMs = static_cast<float> (state.range (1));
    const bool quiet = state.range (2) != 0;
    // 0 sample peak, 1 true peak, 2 true peak without the output true peaks measured
    const bool truePeak = state.range (3) != 0;
    const bool readouts = state.range (3) != 2;

    LookaheadLimiter limiter (40.0f, 1.0f);
    limiter.setNumChannels();
    limiter.setTruePeak (truePeak);
    limiter.setOutputTruePeaksMeasured (readouts);
    limiter.setLookaheadMs (lookaheadMs);
    limiter.setReleaseMs (20.0f);
    limiter.setCeiling (1.0f);
    limiter.setSampleRate (rate);
    state.SetLabel ("N=" + std::to_string (limiter.getLookaheadSamples())
                    + (quiet ? " quiet" : " bursts") + (truePeak ? " true peak" : " sample peak")
                    + (truePeak && ! readouts ? " unmetered" : ""));

    runOverSignal (
        state, quiet, [&] (float* const* channels, int n) { limiter.process (channels, n); });
}

void BM_LimiterChannels (benchmark::State& state)
{
    const int numChannels = static_cast<int> (state.range (0));
    const bool truePeak = state.range (1) != 0;

    LookaheadLimiter limiter (40.0f, 1.0f, numChannels);
    limiter.setNumChannels (numChannels);
    limiter.setTruePeak (truePeak);
    limiter.setLookaheadMs (1.0f);
    limiter.setReleaseMs (20.0f);
    limiter.setCeiling (1.0f);
    limiter.setSampleRate (48000);
    state.SetLabel (std::to_string (numChannels) + " ch"
                    + (truePeak ? " true peak" : " sample peak"));

    const Signal& signal = signalFor (numChannels, 24000);
    runOverSignal (
        state, signal, [&] (float* const* channels, int n) { limiter.process (channels, n); });
    const double frames = static_cast<double> (signal[0].size());
    state.counters["ns_per_sample"] = benchmark::Counter (
        frames * numChannels * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The least work any look-ahead limiter does: delay N, multiply by a gain, clamp. Scalar, one
// frame of all channels at a time, as a per-sample linked limiter runs.
class FloorDelay
{
public:
    explicit FloorDelay (int delay) : length (delay + 1)
    {
        for (auto& line : lines)
            line.assign (static_cast<size_t> (length), 0.0f);
    }

    void process (float* const* channels, int numSamples, float gain, float ceiling)
    {
        for (int i = 0; i < numSamples; ++i)
        {
            if (++writePos >= length)
                writePos = 0;
            int readPos = writePos + 1;
            if (readPos >= length)
                readPos = 0;
            for (size_t ch = 0; ch < kChannels; ++ch)
            {
                lines[ch][static_cast<size_t> (writePos)] = channels[ch][i];
                const float y = lines[ch][static_cast<size_t> (readPos)] * gain;
                channels[ch][i] = std::clamp (y, -ceiling, ceiling);
            }
        }
    }

private:
    int length;
    int writePos = 0;
    std::array<std::vector<float>, kChannels> lines;
};

void BM_FloorDelay (benchmark::State& state)
{
    const int rate = static_cast<int> (state.range (0));
    const int delay = rate * static_cast<int> (state.range (1)) / 1000;
    FloorDelay floor (delay);
    state.SetLabel ("N=" + std::to_string (delay));
    runOverSignal (state,
                   false,
                   [&] (float* const* channels, int n)
                   { floor.process (channels, n, 0.5f, 1.0f); });
}
} // namespace

BENCHMARK (BM_LimiterProcess)
    ->ArgsProduct ({ { 48000 }, { 1, 40 }, { 0, 1 }, { 0, 1, 2 } })
    ->ArgsProduct ({ { 192000 }, { 40 }, { 0, 1 }, { 0, 1, 2 } })
    ->Unit (benchmark::kMillisecond);

BENCHMARK (BM_LimiterChannels)
    ->ArgsProduct ({ { 1, 4, 16, 64 }, { 0, 1 } })
    ->Unit (benchmark::kMillisecond);

BENCHMARK (BM_FloorDelay)
    ->Args ({ 48000, 1 })
    ->Args ({ 48000, 40 })
    ->Args ({ 192000, 40 })
    ->Unit (benchmark::kMillisecond);

BENCHMARK_MAIN();
