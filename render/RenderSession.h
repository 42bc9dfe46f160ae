#pragma once

#include "render/ChannelPeakMeter.h"
#include "render/FrameSource.h"
#include "render/ProgrammeLoudness.h"
#include "render/RenderModel.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

/**
    Streams a source of 1 to 64 channels through an audio processor into a writer, block by block, so
    memory use does not grow with the length of the input. The source decides the length: the
    render ends where its frames end.

    The processor must have its parameters set. prepare() prepares it (with a settled start it
    then primes it and prepares it again, which clears the limiter); run() processes
    consecutive blocks. Aligned
    (the default), the input is followed by as many frames of silence as the reported latency and
    the first latency frames of output are dropped, so output frame n belongs to input frame n.
    Raw, the output is written as it comes. Either way the output has the input's length.
*/
class RenderSession
{
public:
    struct Settings
    {
        int blockSize = 512;
        bool raw = false;
        bool settledStart = false;  // run primingFrames of silence first (see below)
        float inputGain = 1.0f;     // linear; for measuring the gain reduction
        bool countClipping = false; // count output samples beyond full scale
        int plotColumns = 1000;
        // The loudness the source's layout calls for (ChannelLayout): of W after loudnessGain
        // (1 for ambiX, sqrt 2 for FuMa's W), or of the channels the mask names.
        bool measureInputLoudness = false, measureOutputLoudness = false;
        float loudnessGain = 1.0f;
        std::uint32_t channelMask = 0;
        // Linear gain on the input before the processor (after the input is measured); the
        // renderer's own attenuation for --target-loudness. inputGain includes it.
        float preGain = 1.0f;
        // Off: only the output's loudness is measured (a trial render for --target-loudness).
        bool measureLevels = true;
    };

    enum class Result
    {
        finished,
        readFailed,
        writeFailed,
        interrupted
    };

    /** writer may be null: nothing is written (a trial render). */
    RenderSession (juce::AudioProcessor& processor,
                   FrameSource& source,
                   juce::AudioFormatWriter* writer,
                   const Settings& settings);

    /** Prepares the processor; returns the latency it reports. */
    int prepare();

    /**
        Renders everything; shouldStop is polled once per block, progress gets the input frames
        read so far and the source's expected total.
    */
    Result run (const std::function<bool()>& shouldStop,
                const std::function<void (juce::int64, juce::int64)>& progress);

    const RenderStats& getStats() const { return stats; }

    /**
        Frames of silence run through the processor before the input for a settled start, so that the render starts
        settled: the input gain at its setting rather than gliding up from 0 dB, and the release
        at its setting rather than the slower settling release that follows a look-ahead change
        (about 57600 samples, as that is timed at the limiter's initial 192 kHz).
    */
    static constexpr int primingFrames = 8 * 8192;

private:
    int readBlock (int numFrames);
    void measureInput (juce::int64 position, int numFrames, int real);
    void measureOutput (juce::int64 position, int first, int numFrames);
    void closeGainWindow();
    void finish();

    juce::AudioProcessor& processor;
    FrameSource& source;
    juce::AudioFormatWriter* writer;
    Settings settings;
    double sampleRate;

    int numChannels;
    std::vector<std::vector<float>> channelData;
    std::vector<float*> channelPointers;
    std::vector<const float*> writtenPointers;
    int bufferChannels;
    std::vector<float*> processorChannels;
    juce::MidiBuffer midi;

    // The gained input's frame magnitudes, kept until the output frame that belongs to them.
    std::vector<float> gainedInputMagnitude;
    std::vector<float> magnitudes; // of the block's frames, the largest of their channels

    ChannelPeakMeter inputMeter, outputMeter;
    std::unique_ptr<ProgrammeLoudness> inputLoudness, outputLoudness;
    juce::int64 gainWindowFrames = 1;
    juce::int64 gainWindowStart = 0;
    float gainWindowInputPeak = 0.0f, gainWindowOutputPeak = 0.0f;

    RenderStats stats;
};
