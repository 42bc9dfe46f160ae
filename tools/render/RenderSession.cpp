#include "tools/render/RenderSession.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace
{
using Clock = std::chrono::steady_clock;

double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

// A window's input below this (-80 dBFS) says nothing about the gain.
constexpr float quietInput = 1.0e-4f;
constexpr double gainWindowSeconds = 0.01;
} // namespace

RenderSession::RenderSession (juce::AudioProcessor& p,
                              juce::AudioFormatReader& r,
                              juce::AudioFormatWriter& w,
                              const Settings& s) :
    processor (p),
    reader (r),
    writer (w),
    settings (s),
    sampleRate (r.sampleRate),
    inputMeter (s.blockSize),
    outputMeter (s.blockSize)
{
}

int RenderSession::prepare()
{
    const int blockSize = settings.blockSize;
    bufferChannels = std::max ({ numChannels,
                                 processor.getTotalNumInputChannels(),
                                 processor.getTotalNumOutputChannels() });
    channelData.assign (static_cast<size_t> (bufferChannels),
                        std::vector<float> (static_cast<size_t> (blockSize), 0.0f));
    processorChannels.clear();
    for (auto& channel : channelData)
        processorChannels.push_back (channel.data());
    for (int ch = 0; ch < numChannels; ++ch)
        channelPointers[static_cast<size_t> (ch)] = channelData[static_cast<size_t> (ch)].data();

    processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor.prepareToPlay (sampleRate, blockSize);

    // Start settled (see primingFrames), then prepare again, which clears the limiter. The same
    // number of frames for every block size keeps the sample-counted settling independent of it,
    // and whatever the block size, some block begins after the gain glide has come close enough
    // to snap to its target.
    for (int done = 0; settings.settledStart && done < primingFrames;)
    {
        const int numFrames = std::min (blockSize, primingFrames - done);
        for (auto& channel : channelData)
            std::fill (channel.begin(), channel.end(), 0.0f);
        juce::AudioBuffer<float> buffer (processorChannels.data(), bufferChannels, numFrames);
        processor.processBlock (buffer, midi);
        midi.clear();
        done += numFrames;
    }
    if (settings.settledStart)
        processor.prepareToPlay (sampleRate, blockSize);

    stats.latencySamples = std::max (0, processor.getLatencySamples());
    gainedInputMagnitude.assign (static_cast<size_t> (stats.latencySamples + blockSize + 1), 0.0f);
    return stats.latencySamples;
}

RenderSession::Result
RenderSession::run (const std::function<bool()>& shouldStop,
                    const std::function<void (juce::int64, juce::int64)>& progress)
{
    const auto start = Clock::now();
    const juce::int64 total = std::max<juce::int64> (0, reader.lengthInSamples);
    const int latency = stats.latencySamples;
    const juce::int64 framesToProcess = settings.raw ? total : total + latency;
    const juce::int64 firstWritten = settings.raw ? 0 : latency;

    stats.inputFrames = total;
    auto& history = stats.history;
    const int columns = std::max (1, settings.plotColumns);
    history.framesPerColumn = std::max<juce::int64> (1, (total + columns - 1) / columns);
    const auto numColumns =
        static_cast<size_t> ((total + history.framesPerColumn - 1) / history.framesPerColumn);
    history.inputPeak.assign (numColumns, 0.0f);
    history.outputPeak.assign (numColumns, 0.0f);
    history.gainReductionDb.assign (numColumns, 0.0f);
    gainWindowFrames = std::max<juce::int64> (1, juce::roundToInt (sampleRate * gainWindowSeconds));
    gainWindowStart = 0;

    for (juce::int64 position = 0; position < framesToProcess;)
    {
        if (shouldStop())
            return Result::interrupted;

        const int numFrames = static_cast<int> (
            std::min<juce::int64> (settings.blockSize, framesToProcess - position));
        if (! readBlock (position, numFrames))
            return Result::readFailed;
        measureInput (position, numFrames);

        const auto processStart = Clock::now();
        juce::AudioBuffer<float> buffer (processorChannels.data(), bufferChannels, numFrames);
        processor.processBlock (buffer, midi);
        stats.processorSeconds += secondsSince (processStart);
        midi.clear();

        const int first =
            static_cast<int> (std::clamp<juce::int64> (firstWritten - position, 0, numFrames));
        if (first < numFrames)
        {
            measureOutput (position, first, numFrames);
            std::array<const float*, numChannels> written {};
            for (int ch = 0; ch < numChannels; ++ch)
                written[static_cast<size_t> (ch)] =
                    channelPointers[static_cast<size_t> (ch)] + first;
            if (! writer.writeFromFloatArrays (written.data(), numChannels, numFrames - first))
                return Result::writeFailed;
            stats.outputFrames += numFrames - first;
        }

        position += numFrames;
        progress (position, framesToProcess);
    }

    finish();
    stats.wallSeconds = secondsSince (start);
    return Result::finished;
}

bool RenderSession::readBlock (juce::int64 position, int numFrames)
{
    const juce::int64 total = stats.inputFrames;
    const int fromFile =
        static_cast<int> (std::clamp<juce::int64> (total - position, 0, numFrames));

    for (auto& channel : channelData)
        std::fill (channel.begin() + fromFile, channel.begin() + numFrames, 0.0f);

    if (fromFile > 0)
    {
        if (! reader.read (channelPointers.data(), numChannels, position, fromFile))
            return false;

        for (int ch = 0; ch < numChannels; ++ch)
        {
            float* const samples = channelPointers[static_cast<size_t> (ch)];
            for (int i = 0; i < fromFile; ++i)
                if (! std::isfinite (samples[i]))
                {
                    samples[i] = 0.0f;
                    ++stats.nonFiniteInputSamples;
                }
        }
    }
    return true;
}

void RenderSession::measureInput (juce::int64 position, int numFrames)
{
    const juce::int64 total = stats.inputFrames;
    const int real = static_cast<int> (std::clamp<juce::int64> (total - position, 0, numFrames));
    const auto ringSize = static_cast<juce::int64> (gainedInputMagnitude.size());
    auto& history = stats.history;

    for (int i = 0; i < numFrames; ++i)
    {
        float magnitude = 0.0f;
        for (int ch = 0; ch < numChannels; ++ch)
            magnitude =
                std::max (magnitude, std::abs (channelPointers[static_cast<size_t> (ch)][i]));
        // Scaling by a positive factor keeps the order, so this is the gained signal's magnitude.
        gainedInputMagnitude[static_cast<size_t> ((position + i) % ringSize)] =
            magnitude * settings.inputGain;
        if (i < real)
        {
            auto& column =
                history.inputPeak[static_cast<size_t> ((position + i) / history.framesPerColumn)];
            column = std::max (column, magnitude);
        }
    }

    if (real > 0)
        inputMeter.process (channelPointers.data(), real);
}

void RenderSession::measureOutput (juce::int64 position, int first, int numFrames)
{
    const int count = numFrames - first;
    std::array<const float*, numChannels> written {};
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const float* const samples = channelPointers[static_cast<size_t> (ch)] + first;
        written[static_cast<size_t> (ch)] = samples;
        if (settings.countClipping)
            for (int i = 0; i < count; ++i)
                if (std::abs (samples[i]) > 1.0f)
                    ++stats.clippedOutputSamples;
    }
    outputMeter.process (written.data(), count);

    const juce::int64 total = stats.inputFrames;
    const auto ringSize = static_cast<juce::int64> (gainedInputMagnitude.size());
    auto& history = stats.history;
    for (int i = first; i < numFrames; ++i)
    {
        const juce::int64 aligned = position + i - stats.latencySamples;
        if (aligned < 0 || aligned >= total)
            continue;

        float magnitude = 0.0f;
        for (int ch = 0; ch < numChannels; ++ch)
            magnitude =
                std::max (magnitude, std::abs (channelPointers[static_cast<size_t> (ch)][i]));

        auto& column = history.outputPeak[static_cast<size_t> (aligned / history.framesPerColumn)];
        column = std::max (column, magnitude);

        if (aligned >= gainWindowStart + gainWindowFrames)
        {
            closeGainWindow();
            gainWindowStart = aligned - aligned % gainWindowFrames;
        }
        gainWindowInputPeak = std::max (
            gainWindowInputPeak, gainedInputMagnitude[static_cast<size_t> (aligned % ringSize)]);
        gainWindowOutputPeak = std::max (gainWindowOutputPeak, magnitude);
    }
}

void RenderSession::closeGainWindow()
{
    if (gainWindowInputPeak > quietInput)
    {
        const float reductionDb = std::max (
            0.0f,
            20.0f * std::log10 (gainWindowInputPeak / std::max (gainWindowOutputPeak, 1.0e-9f)));
        if (reductionDb > stats.largestGainReductionDb)
        {
            stats.largestGainReductionDb = reductionDb;
            stats.largestGainReductionFrame = gainWindowStart;
        }
        auto& history = stats.history;
        if (! history.gainReductionDb.empty())
        {
            auto& column = history.gainReductionDb[static_cast<size_t> (gainWindowStart
                                                                        / history.framesPerColumn)];
            column = std::max (column, reductionDb);
        }
    }
    gainWindowInputPeak = 0.0f;
    gainWindowOutputPeak = 0.0f;
}

void RenderSession::finish()
{
    closeGainWindow();
    inputMeter.finish();
    outputMeter.finish();
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const auto c = static_cast<size_t> (ch);
        stats.inputPeak[c] = inputMeter.getSamplePeak (ch);
        stats.inputTruePeak[c] = inputMeter.getTruePeak (ch);
        stats.outputPeak[c] = outputMeter.getSamplePeak (ch);
        stats.outputTruePeak[c] = outputMeter.getTruePeak (ch);
    }
}
