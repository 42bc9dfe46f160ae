// Cost of the plug-in's processBlock per four-channel frame (input gain, meters, limiter), beside
// the engine alone and a plain four-channel delay with gain and clamp, on the same signal.
//
//   build/bench/orvalis_bench_processor --benchmark_counters_tabular=true
//
// Arguments: rate, look-ahead in ms, input gain in dB, signal (0 = bursts up to +12 dBFS before
// the gain, 1 = never above -1 dBFS), bypassed (1) or not (0), peak mode (0 = sample, 1 = true).
#include "BenchSignal.h"
#include "processor/CorvaneAudioProcessor.h"

#include <juce_events/juce_events.h>

#include <benchmark/benchmark.h>

#include <memory>

namespace
{
using namespace benchSignal;

void BM_ProcessorBlock (benchmark::State& state)
{
    const double rate = static_cast<double> (state.range (0));
    const auto lookaheadMs = static_cast<float> (state.range (1));
    const auto gainDb = static_cast<float> (state.range (2));
    const bool quiet = state.range (3) != 0;
    const bool bypassed = state.range (4) != 0;
    const bool truePeak = state.range (5) != 0;

    CorvaneAudioProcessor processor;
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    processor.setParameter (parameters::attackTime,
                            parameters::knob (parameters::attackTime).toNormalised (lookaheadMs));
    processor.setParameter (parameters::inputGain,
                            parameters::knob (parameters::inputGain).toNormalised (gainDb));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    processor.setTruePeakMode (truePeak);
    processor.prepareToPlay (rate, 512);
    state.SetLabel ("N=" + std::to_string (processor.getLatencySamples()) + " +"
                    + std::to_string (static_cast<int> (gainDb)) + " dB"
                    + (quiet ? " quiet" : " bursts") + (bypassed ? " bypassed" : "")
                    + (truePeak ? " true peak" : ""));

    juce::MidiBuffer midi;
    runOverSignal (state,
                   quiet,
                   [&] (float* const* channels, int n)
                   {
                       juce::AudioBuffer<float> buffer (channels, 4, n);
                       if (bypassed)
                           processor.processBlockBypassed (buffer, midi);
                       else
                           processor.processBlock (buffer, midi);
                   });
}
} // namespace

BENCHMARK (BM_ProcessorBlock)
    ->Args ({ 48000, 1, 0, 0, 0, 0 })
    ->Args ({ 48000, 1, 0, 1, 0, 0 })
    ->Args ({ 48000, 1, 12, 0, 0, 0 })
    ->Args ({ 48000, 1, 12, 1, 0, 0 })
    ->Args ({ 48000, 40, 0, 0, 0, 0 })
    ->Args ({ 192000, 40, 0, 0, 0, 0 })
    ->Args ({ 48000, 1, 0, 0, 1, 0 })
    ->Args ({ 48000, 1, 0, 0, 0, 1 })
    ->Args ({ 48000, 1, 12, 0, 0, 1 })
    ->Args ({ 48000, 1, 0, 1, 0, 1 })
    ->Unit (benchmark::kMillisecond);

int main (int argc, char** argv)
{
    // The processors share a look-and-feel, which needs JUCE's desktop for as long as they live.
    juce::ScopedJuceInitialiser_GUI gui;
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
