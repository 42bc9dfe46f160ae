#include "render/RenderSession.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

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
// An output frame more than 0.001 dB below its gained input was limited. The processor's input
// gain can come to rest a few units in the last place short of its setting; that is not limiting.
constexpr float limitedRatio = 0.99988487f; // -0.001 dB

/** The largest of count values, in eight independent lanes (which the compiler vectorises). */
float largestOf (const float* __restrict values, int count)
{
    float lanes[8] = {};
    int i = 0;
    for (; i + 8 <= count; i += 8)
        for (int l = 0; l < 8; ++l)
            lanes[l] = lanes[l] > values[i + l] ? lanes[l] : values[i + l];
    for (; i < count; ++i)
        lanes[0] = lanes[0] > values[i] ? lanes[0] : values[i];
    for (int l = 1; l < 8; ++l)
        lanes[0] = lanes[0] > lanes[l] ? lanes[0] : lanes[l];
    return lanes[0];
}

/** How many of count output magnitudes are limited against their gained inputs. */
int countLimited (const float* __restrict output, const float* __restrict gained, int count)
{
    int lanes[8] = {};
    int i = 0;
    for (; i + 8 <= count; i += 8)
        for (int l = 0; l < 8; ++l)
            lanes[l] += output[i + l] < gained[i + l] * limitedRatio ? 1 : 0;
    for (; i < count; ++i)
        lanes[0] += output[i] < gained[i] * limitedRatio ? 1 : 0;
    return std::accumulate (lanes, lanes + 8, 0);
}

/** The largest magnitude of each frame from..to of the channels, into out (at the same places). */
void frameMagnitudes (
    const float* const* channels, int numChannels, int from, int to, float* __restrict out)
{
    const float* __restrict first = channels[0];
    for (int i = from; i < to; ++i)
        out[i] = std::abs (first[i]);
    for (int ch = 1; ch < numChannels; ++ch)
    {
        const float* __restrict samples = channels[ch];
        for (int i = from; i < to; ++i)
        {
            const float a = std::abs (samples[i]);
            out[i] = out[i] > a ? out[i] : a;
        }
    }
}
} // namespace

RenderSession::RenderSession (juce::AudioProcessor& p,
                              FrameSource& s,
                              juce::AudioFormatWriter* w,
                              const Settings& st) :
    processor (p),
    source (s),
    writer (w),
    settings (st),
    sampleRate (s.getSampleRate()),
    numChannels (s.getNumChannels()),
    channelPointers (static_cast<size_t> (numChannels)),
    writtenPointers (static_cast<size_t> (numChannels)),
    bufferChannels (numChannels),
    inputMeter (numChannels, st.blockSize),
    outputMeter (numChannels, st.blockSize)
{
    const ChannelLayout layout (numChannels, settings.channelMask);
    if (settings.measureInputLoudness)
        inputLoudness = ProgrammeLoudness::create (
            layout, sampleRate, settings.loudnessGain, settings.blockSize);
    if (settings.measureOutputLoudness)
        outputLoudness = ProgrammeLoudness::create (
            layout, sampleRate, settings.loudnessGain, settings.blockSize);
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
    magnitudes.assign (static_cast<size_t> (blockSize), 0.0f);
    return stats.latencySamples;
}

RenderSession::Result
RenderSession::run (const std::function<bool()>& shouldStop,
                    const std::function<void (juce::int64, juce::int64)>& progress)
{
    const auto start = Clock::now();
    const juce::int64 expected = std::max<juce::int64> (0, source.getExpectedFrames());
    const int latency = stats.latencySamples;
    const juce::int64 firstWritten = settings.raw ? 0 : latency;

    auto& history = stats.history;
    const int columns = std::max (1, settings.plotColumns);
    history.framesPerColumn = std::max<juce::int64> (1, (expected + columns - 1) / columns);
    history.inputPeak.clear();
    history.outputPeak.clear();
    history.gainReductionDb.clear();
    gainWindowFrames = std::max<juce::int64> (1, juce::roundToInt (sampleRate * gainWindowSeconds));
    gainWindowStart = 0;

    // Aligned, the input is followed by latency frames of silence, in the same blocks as if they
    // had been part of the file.
    int silenceToAdd = settings.raw ? 0 : latency;
    bool inputEnded = false;
    for (juce::int64 position = 0;;)
    {
        if (shouldStop())
            return Result::interrupted;

        int real = 0;
        if (! inputEnded)
        {
            real = readBlock (settings.blockSize);
            if (real < 0)
                return Result::readFailed;
            inputEnded = real < settings.blockSize;
        }
        int numFrames = real;
        if (inputEnded)
        {
            const int silence = std::min (settings.blockSize - real, silenceToAdd);
            for (auto& channel : channelData)
                std::fill (channel.begin() + real, channel.begin() + real + silence, 0.0f);
            silenceToAdd -= silence;
            numFrames += silence;
        }
        if (numFrames == 0)
            break;

        if (settings.measureLevels)
            measureInput (position, numFrames, real);
        else if (inputLoudness != nullptr && real > 0)
            inputLoudness->process (channelPointers.data(), real);
        if (settings.preGain != 1.0f)
            for (auto* samples : channelPointers)
                for (int i = 0; i < real; ++i)
                    samples[i] *= settings.preGain;

        const auto processStart = Clock::now();
        juce::AudioBuffer<float> buffer (processorChannels.data(), bufferChannels, numFrames);
        processor.processBlock (buffer, midi);
        stats.processorSeconds += secondsSince (processStart);
        midi.clear();

        const int first =
            static_cast<int> (std::clamp<juce::int64> (firstWritten - position, 0, numFrames));
        if (first < numFrames)
        {
            auto& written = writtenPointers;
            for (int ch = 0; ch < numChannels; ++ch)
                written[static_cast<size_t> (ch)] =
                    channelPointers[static_cast<size_t> (ch)] + first;
            if (settings.measureLevels)
                measureOutput (position, first, numFrames);
            else if (outputLoudness != nullptr)
                outputLoudness->process (written.data(), numFrames - first);
            if (writer != nullptr
                && ! writer->writeFromFloatArrays (written.data(), numChannels, numFrames - first))
                return Result::writeFailed;
            stats.outputFrames += numFrames - first;
        }

        position += numFrames;
        progress (stats.inputFrames, std::max (expected, stats.inputFrames));
    }

    finish();
    stats.wallSeconds = secondsSince (start);
    return Result::finished;
}

int RenderSession::readBlock (int numFrames)
{
    const int got = source.read (channelPointers.data(), numFrames);
    if (got <= 0)
        return got;

    for (int ch = 0; ch < numChannels; ++ch)
    {
        float* const samples = channelPointers[static_cast<size_t> (ch)];
        // A NaN or infinity has every exponent bit set, and adding one to its exponent carries
        // into the sign bit: one pass without branches finds out whether there is anything to replace.
        std::uint32_t carry = 0;
        for (int i = 0; i < got; ++i)
        {
            std::uint32_t bits;
            std::memcpy (&bits, samples + i, sizeof (bits));
            carry |= (bits & 0x7f800000u) + 0x00800000u;
        }
        if ((carry & 0x80000000u) == 0)
            continue;
        for (int i = 0; i < got; ++i)
            if (! std::isfinite (samples[i]))
            {
                samples[i] = 0.0f;
                ++stats.nonFiniteInputSamples;
            }
    }
    stats.inputFrames += got;
    return got;
}

void RenderSession::measureInput (juce::int64 position, int numFrames, int real)
{
    frameMagnitudes (channelPointers.data(), numChannels, 0, numFrames, magnitudes.data());
    const auto ringSize = static_cast<juce::int64> (gainedInputMagnitude.size());
    auto ringPos = static_cast<size_t> (position % ringSize);
    auto& history = stats.history;
    const int columns = std::max (1, settings.plotColumns);

    for (int i = 0; i < numFrames;)
    {
        // Up to the end of the ring or the plot column, whichever comes first.
        const auto column = i < real ? history.columnFor (position + i, columns) : size_t { 0 };
        const juce::int64 columnEnd =
            i < real ? (static_cast<juce::int64> (column) + 1) * history.framesPerColumn - position
                     : numFrames;
        const int end = static_cast<int> (
            std::min<juce::int64> ({ static_cast<juce::int64> (numFrames),
                                     columnEnd,
                                     i + ringSize - static_cast<juce::int64> (ringPos) }));
        const int realEnd = std::min (end, std::max (real, i));
        // Scaling by a positive factor keeps the order, so this is the gained signal's magnitude.
        const float gain = settings.inputGain;
        const float* __restrict block = magnitudes.data();
        float* __restrict ring = gainedInputMagnitude.data() + ringPos;
        for (int j = i; j < end; ++j)
            ring[j - i] = block[j] * gain;
        ringPos += static_cast<size_t> (end - i);
        if (realEnd > i)
            history.inputPeak[column] =
                std::max (history.inputPeak[column], largestOf (block + i, realEnd - i));
        if (ringPos == static_cast<size_t> (ringSize))
            ringPos = 0;
        i = end;
    }

    if (real > 0)
    {
        inputMeter.process (channelPointers.data(), real);
        if (inputLoudness != nullptr)
            inputLoudness->process (channelPointers.data(), real);
    }
}

void RenderSession::measureOutput (juce::int64 position, int first, int numFrames)
{
    const int count = numFrames - first;
    auto& written = writtenPointers;
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
    if (outputLoudness != nullptr)
        outputLoudness->process (written.data(), count);

    // Output frame i belongs to input frame position + i - latency; the flushed silence after the
    // input and, raw, the delayed start before it belong to none.
    const juce::int64 offset = position - stats.latencySamples;
    const int from = static_cast<int> (std::clamp<juce::int64> (-offset, first, numFrames));
    const int to =
        static_cast<int> (std::clamp<juce::int64> (stats.inputFrames - offset, from, numFrames));
    frameMagnitudes (channelPointers.data(), numChannels, from, to, magnitudes.data());
    const auto ringSize = static_cast<juce::int64> (gainedInputMagnitude.size());
    auto& history = stats.history;
    const int columns = std::max (1, settings.plotColumns);
    juce::int64 limited = 0;
    for (int i = from; i < to;)
    {
        const juce::int64 aligned = offset + i;
        if (aligned >= gainWindowStart + gainWindowFrames)
        {
            closeGainWindow();
            gainWindowStart = aligned - aligned % gainWindowFrames;
        }
        const auto column = history.columnFor (aligned, columns);
        auto ringPos = static_cast<size_t> (aligned % ringSize);
        const int end = static_cast<int> (std::min<juce::int64> (
            { static_cast<juce::int64> (to),
              i + gainWindowStart + gainWindowFrames - aligned,
              i + (static_cast<juce::int64> (column) + 1) * history.framesPerColumn - aligned,
              i + ringSize - static_cast<juce::int64> (ringPos) }));

        const float* output = magnitudes.data() + i;
        const float* gained = gainedInputMagnitude.data() + ringPos;
        limited += countLimited (output, gained, end - i);
        const float outPeak = largestOf (output, end - i), inPeak = largestOf (gained, end - i);
        history.outputPeak[column] = std::max (history.outputPeak[column], outPeak);
        gainWindowInputPeak = std::max (gainWindowInputPeak, inPeak);
        gainWindowOutputPeak = std::max (gainWindowOutputPeak, outPeak);
        i = end;
    }
    stats.limitedFrames += limited;
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
        const auto column = history.columnFor (gainWindowStart, std::max (1, settings.plotColumns));
        history.gainReductionDb[column] = std::max (history.gainReductionDb[column], reductionDb);
    }
    gainWindowInputPeak = 0.0f;
    gainWindowOutputPeak = 0.0f;
}

void RenderSession::finish()
{
    closeGainWindow();
    inputMeter.finish();
    outputMeter.finish();
    for (auto* levels :
         { &stats.inputPeak, &stats.inputTruePeak, &stats.outputPeak, &stats.outputTruePeak })
        levels->assign (static_cast<size_t> (numChannels), 0.0f);
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const auto c = static_cast<size_t> (ch);
        stats.inputPeak[c] = inputMeter.getSamplePeak (ch);
        stats.inputTruePeak[c] = inputMeter.getTruePeak (ch);
        stats.outputPeak[c] = outputMeter.getSamplePeak (ch);
        stats.outputTruePeak[c] = outputMeter.getTruePeak (ch);
    }
    if (inputLoudness != nullptr)
        stats.inputLoudness =
            Loudness { inputLoudness->getIntegratedLufs(), inputLoudness->getRangeLu() };
    if (outputLoudness != nullptr)
        stats.outputLoudness =
            Loudness { outputLoudness->getIntegratedLufs(), outputLoudness->getRangeLu() };
}
