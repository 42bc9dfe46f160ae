// The cost of orvalis-render's whole job on one core, beside its parts: a one-minute 48 kHz
// four-channel 32-bit float WAV read, limited, metered (input and output true peaks, the loudness
// of W) and written, in-process, as one worker of a batch renders one file.
//
//   build/bench/orvalis_bench_render --benchmark_counters_tabular=true
//
// Times are CPU time of the benchmark's thread; x_real_time is seconds of audio per CPU second.
// Argument 0 picks the signal: 0 the demo scene (four percussive sources, peaks to +9 dBFS),
// 1 noise bursts alternating between 0..+12 dBFS and -40..-10 dBFS (dense: the worst case for
// the true-peak meters, which skip stretches that cannot raise a peak). BM_ProcessorAlone's
// argument 1 is the peak mode: 0 sample peak, 1 true peak. BM_WholeJobChannels renders 10 s of
// the bursts at 4, 16 and 64 channels, BM_ProcessorChannels Orvalis HOA's processor alone on them.
#include "BenchSignal.h"
#include "processor/CorvaneAudioProcessor.h"
#include "render/DemoSceneReader.h"
#include "render/FloatWavWriter.h"
#include "render/InputFile.h"
#include "render/LoudnessMeter.h"
#include "render/RenderJob.h"
#include "render/TruePeakMeter.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <map>
#include <random>
#include <vector>

namespace
{
constexpr double rate = 48000.0;
constexpr int seconds = 60;
constexpr int frames = seconds * 48000;
constexpr int blockSize = 512;

using Signal = std::array<std::vector<float>, 4>;

Signal makeSignal (int kind)
{
    Signal s;
    for (auto& ch : s)
        ch.resize (static_cast<size_t> (frames));
    if (kind == 0)
    {
        float frame[4];
        for (int i = 0; i < frames; ++i)
        {
            DemoSceneReader::renderFrame (i, frame);
            for (size_t ch = 0; ch < 4; ++ch)
                s[ch][static_cast<size_t> (i)] = frame[ch];
        }
        return s;
    }
    // The engine benchmarks' noise bursts, reaching +12 dBFS.
    const auto bursts = benchSignal::makeSignal (frames, false);
    for (size_t ch = 0; ch < 4; ++ch)
        s[ch] = bursts[ch];
    return s;
}

struct Files
{
    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("orvalis-bench-render-" + juce::Uuid().toDashedString());
    std::array<Signal, 2> signals;
    std::array<juce::File, 2> inputs;

    Files()
    {
        folder.createDirectory();
        for (int kind = 0; kind < 2; ++kind)
        {
            signals[static_cast<size_t> (kind)] = makeSignal (kind);
            inputs[static_cast<size_t> (kind)] =
                folder.getChildFile ("in" + juce::String (kind) + ".wav");
            auto stream =
                std::make_unique<juce::FileOutputStream> (inputs[static_cast<size_t> (kind)]);
            std::unique_ptr<juce::AudioFormatWriter> writer (
                juce::WavAudioFormat().createWriterFor (stream.release(),
                                                        rate,
                                                        juce::AudioChannelSet::discreteChannels (4),
                                                        32,
                                                        {},
                                                        0));
            const auto& s = signals[static_cast<size_t> (kind)];
            const float* pointers[] = { s[0].data(), s[1].data(), s[2].data(), s[3].data() };
            writer->writeFromFloatArrays (pointers, 4, frames);
        }
    }
    ~Files() { folder.deleteRecursively(); }
};

Files& files()
{
    static Files f;
    return f;
}

void setAudioRate (benchmark::State& state)
{
    state.counters["x_real_time"] =
        benchmark::Counter (seconds, benchmark::Counter::kIsIterationInvariantRate);
}

/** Renders input to a new output file once per iteration, as a batch does for each file. */
void renderEachIteration (benchmark::State& state,
                          const RenderContext& context,
                          const juce::File& input)
{
    const auto output = files().folder.getChildFile ("out.wav");
    for (auto _ : state)
    {
        FileResult result;
        result.inputName = "in.wav";
        result.outputName = "out.wav";
        RenderJob job (context, result, [] (const juce::String&) {});
        job.openInput (input);
        job.render (
            output,
            RenderOptions::Format::wav32,
            {},
            [] { return false; },
            [] (juce::int64, juce::int64) {});
        if (result.status != FileStatus::done)
            state.SkipWithError ("the render failed");
        state.PauseTiming();
        output.deleteFile(); // as in a batch: every output is a new file
        state.ResumeTiming();
    }
}

void BM_WholeJob (benchmark::State& state)
{
    const auto kind = static_cast<size_t> (state.range (0));
    RenderContext context;
    context.options.blockSize = blockSize;
    renderEachIteration (state, context, files().inputs[kind]);
    setAudioRate (state);
}

/** A 10 s file of N channels (the noise bursts, every channel its own), written once per count. */
juce::File wideInput (int numChannels)
{
    static std::map<int, juce::File> made;
    auto& file = made[numChannels];
    if (file == juce::File())
    {
        constexpr int wideFrames = 10 * 48000;
        const auto bursts = benchSignal::makeSignal (wideFrames, false, numChannels);
        std::vector<const float*> pointers;
        for (const auto& channel : bursts)
            pointers.push_back (channel.data());
        file = files().folder.getChildFile ("wide" + juce::String (numChannels) + ".wav");
        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (
            new juce::FileOutputStream (file),
            rate,
            juce::AudioChannelSet::discreteChannels (numChannels),
            32,
            {},
            0));
        writer->writeFromFloatArrays (pointers.data(), numChannels, wideFrames);
    }
    return file;
}

// The whole job at 4, 16 and 64 channels (ambisonic orders 1, 3 and 7), on 10 s of noise bursts.
void BM_WholeJobChannels (benchmark::State& state)
{
    const auto input = wideInput (static_cast<int> (state.range (0)));
    RenderContext context;
    context.options.blockSize = blockSize;
    context.options.truePeak = state.range (1) != 0;
    renderEachIteration (state, context, input);
    state.SetLabel (std::to_string (state.range (0)) + " ch"
                    + (state.range (1) != 0 ? ", true peak" : ", sample peak"));
    state.counters["x_real_time"] =
        benchmark::Counter (10.0, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ProcessorAlone (benchmark::State& state)
{
    const auto& signal = files().signals[static_cast<size_t> (state.range (0))];
    std::array<std::vector<float>, 4> work;
    for (auto _ : state)
    {
        state.PauseTiming();
        std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
        if (auto* corvane = dynamic_cast<CorvaneAudioProcessor*> (processor.get()))
            corvane->setTruePeakMode (state.range (1) != 0);
        processor->setRateAndBufferSizeDetails (rate, blockSize);
        processor->prepareToPlay (rate, blockSize);
        for (size_t ch = 0; ch < 4; ++ch)
            work[ch] = signal[ch];
        juce::MidiBuffer midi;
        state.ResumeTiming();
        for (int i = 0; i < frames; i += blockSize)
        {
            float* pointers[] = {
                work[0].data() + i, work[1].data() + i, work[2].data() + i, work[3].data() + i
            };
            juce::AudioBuffer<float> buffer (pointers, 4, std::min (blockSize, frames - i));
            processor->processBlock (buffer, midi);
        }
        benchmark::DoNotOptimize (work[0].data());
    }
    setAudioRate (state);
}

/** Orvalis HOA's processor alone, as a host drives it without a window, at 4, 16 and 64 channels
    (orders 1, 3 and 7) on 10 s of noise bursts, every channel its own; argument 1 the peak mode. */
void BM_ProcessorChannels (benchmark::State& state)
{
    const int numChannels = static_cast<int> (state.range (0));
    constexpr int wideFrames = 10 * 48000;
    static std::map<int, benchSignal::Signal> signals;
    auto& signal = signals[numChannels];
    if (signal.empty())
        signal = benchSignal::makeSignal (wideFrames, false, numChannels);
    auto work = signal;
    std::vector<float*> pointers (static_cast<size_t> (numChannels));
    for (auto _ : state)
    {
        state.PauseTiming();
        CorvaneAudioProcessor processor (product::orvalisHoa,
                                         juce::AudioChannelSet::discreteChannels (numChannels));
        processor.setTruePeakMode (state.range (1) != 0);
        processor.setRateAndBufferSizeDetails (rate, blockSize);
        processor.prepareToPlay (rate, blockSize);
        work = signal;
        juce::MidiBuffer midi;
        state.ResumeTiming();
        for (int i = 0; i < wideFrames; i += blockSize)
        {
            for (size_t ch = 0; ch < pointers.size(); ++ch)
                pointers[ch] = work[ch].data() + i;
            juce::AudioBuffer<float> buffer (
                pointers.data(), numChannels, std::min (blockSize, wideFrames - i));
            processor.processBlock (buffer, midi);
        }
        benchmark::DoNotOptimize (work[0].data());
    }
    state.SetLabel (std::to_string (numChannels) + " ch"
                    + (state.range (1) != 0 ? ", true peak" : ", sample peak"));
    state.counters["x_real_time"] =
        benchmark::Counter (10.0, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadInput (benchmark::State& state)
{
    std::array<std::vector<float>, 4> block;
    for (auto& ch : block)
        ch.resize (blockSize);
    float* pointers[] = { block[0].data(), block[1].data(), block[2].data(), block[3].data() };
    for (auto _ : state)
    {
        auto input = InputFile::open (files().inputs[static_cast<size_t> (state.range (0))]);
        while (input.source->read (pointers, blockSize) == blockSize)
            benchmark::DoNotOptimize (block[0].data());
    }
    setAudioRate (state);
}

void BM_WriteOutput (benchmark::State& state)
{
    const auto& signal = files().signals[static_cast<size_t> (state.range (0))];
    const auto output = files().folder.getChildFile ("written.wav");
    for (auto _ : state)
    {
        {
            // As the job writes 32-bit float WAV.
            std::unique_ptr<juce::AudioFormatWriter> writer (
                new FloatWavWriter (new juce::FileOutputStream (output, 1 << 18), rate, 4));
            for (int i = 0; i < frames; i += blockSize)
            {
                const float* pointers[] = { signal[0].data() + i,
                                            signal[1].data() + i,
                                            signal[2].data() + i,
                                            signal[3].data() + i };
                writer->writeFromFloatArrays (pointers, 4, std::min (blockSize, frames - i));
            }
        }
        state.PauseTiming();
        output.deleteFile();
        state.ResumeTiming();
    }
    setAudioRate (state);
}

void BM_TruePeakMeter (benchmark::State& state)
{
    const auto& signal = files().signals[static_cast<size_t> (state.range (0))];
    for (auto _ : state)
    {
        TruePeakMeter meter (blockSize);
        for (int i = 0; i < frames; i += blockSize)
        {
            const float* pointers[] = { signal[0].data() + i,
                                        signal[1].data() + i,
                                        signal[2].data() + i,
                                        signal[3].data() + i };
            meter.process (pointers, std::min (blockSize, frames - i));
        }
        meter.finish();
        benchmark::DoNotOptimize (meter.getTruePeak (0));
    }
    setAudioRate (state);
}

void BM_LoudnessOfW (benchmark::State& state)
{
    const auto& signal = files().signals[static_cast<size_t> (state.range (0))];
    for (auto _ : state)
    {
        LoudnessMeter meter (rate, 1.0f, blockSize);
        for (int i = 0; i < frames; i += blockSize)
            meter.process (signal[0].data() + i, std::min (blockSize, frames - i));
        benchmark::DoNotOptimize (meter.getIntegratedLufs());
    }
    setAudioRate (state);
}
} // namespace

BENCHMARK (BM_WholeJob)->Arg (0)->Arg (1)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_WholeJobChannels)
    ->Args ({ 4, 0 })
    ->Args ({ 16, 0 })
    ->Args ({ 64, 0 })
    ->Args ({ 4, 1 })
    ->Args ({ 64, 1 })
    ->Unit (benchmark::kMillisecond);
BENCHMARK (BM_ProcessorAlone)->ArgsProduct ({ { 0, 1 }, { 0, 1 } })->Unit (benchmark::kMillisecond);
BENCHMARK (BM_ProcessorChannels)
    ->ArgsProduct ({ { 4, 16, 64 }, { 0, 1 } })
    ->Unit (benchmark::kMillisecond);
BENCHMARK (BM_ReadInput)->Arg (0)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_WriteOutput)->Arg (0)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_TruePeakMeter)->Arg (0)->Arg (1)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_LoudnessOfW)->Arg (0)->Unit (benchmark::kMillisecond);

int main (int argc, char** argv)
{
    benchmark::AddCustomContext (
        "load average", juce::File ("/proc/loadavg").loadFileAsString().trim().toStdString());
    // The processor's look-and-feel expects JUCE's GUI classes; nothing opens a window.
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
