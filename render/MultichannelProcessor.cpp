#include "render/MultichannelProcessor.h"

#include "processor/BlockOps.h"
#include "processor/SettingsCodec.h"

#include <algorithm>
#include <cmath>
#include <limits>

// Every step below is the plug-in processor's (processor/CorvaneAudioProcessor.cpp) for its
// processed blocks, in the same order and precision: the tests hold the two to the same bits.

namespace
{
float usableRange (float value) noexcept
{
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

int truncateRate (double sampleRate) noexcept
{
    if (! (sampleRate < 2147483648.0))
        return std::numeric_limits<int>::max();
    if (! (sampleRate > -2147483649.0))
        return std::numeric_limits<int>::min();
    return static_cast<int> (sampleRate);
}
} // namespace

MultichannelProcessor::MultichannelProcessor (int channels) :
    AudioProcessor (
        BusesProperties()
            .withInput ("Input", juce::AudioChannelSet::discreteChannels (channels), true)
            .withOutput ("Output", juce::AudioChannelSet::discreteChannels (channels), true)),
    numChannels (channels)
{
    limiter = std::make_unique<LookaheadLimiter> (parameters::maxLookaheadMs, 0.0f, channels);
    limiter->setNumChannels (channels);
    limiter->setOutputTruePeaksMeasured (false); // nothing here reads them
    handover.startFrom (*limiter);
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (const auto index : parameters::stateOrder)
        setParameter (index, parameters::knob (index).defaultNormalised);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    handover.applyTo (*limiter);
}

float MultichannelProcessor::getParameter (int index)
{
    return index >= 0 && index < parameters::numKnobs ? paramValues[static_cast<size_t> (index)]
                                                      : 0.0f;
}

void MultichannelProcessor::setParameter (int index, float value)
{
    if (index < 0 || index >= parameters::numKnobs || ! std::isfinite (value))
        return;
    paramValues[static_cast<size_t> (index)] = value;
    const auto& knob = parameters::knobs[static_cast<size_t> (index)];
    switch (knob.index)
    {
        case parameters::attackTime:
            handover.requestLookaheadMs (knob.toUnit (std::max (value, 0.0f)),
                                         parameters::maxLookaheadMs);
            break;
        case parameters::releaseTime:
            handover.requestReleaseMs (knob.toUnit (usableRange (value)));
            break;
        case parameters::maxPeakLevel:
            handover.requestCeiling (
                juce::Decibels::decibelsToGain (knob.toUnit (usableRange (value))));
            break;
        case parameters::inputGain:
            inputGainTarget = juce::Decibels::decibelsToGain (knob.toUnit (usableRange (value)));
            break;
    }
}

void MultichannelProcessor::setTruePeakMode (bool on)
{
    if (handover.requestTruePeak (on))
        reportLatency();
}

void MultichannelProcessor::reportLatency()
{
    if (preparedLookaheadSamples < 0)
        return;
    setLatencySamples (handover.isTruePeakRequested() && preparedLookaheadSamples >= 1
                           ? preparedLookaheadSamples + LookaheadLimiter::truePeakDelaySamples
                           : preparedLookaheadSamples);
}

void MultichannelProcessor::prepareToPlay (double sampleRate, int)
{
    handover.applyTo (*limiter);
    limiter->setSampleRate (truncateRate (sampleRate));
    preparedLookaheadSamples = limiter->getLookaheadSamples();
    reportLatency();
}

void MultichannelProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
    if (buffer.getNumChannels() < numChannels)
    {
        handover.applyTo (*limiter);
        buffer.clear();
        return;
    }
    float* const* channels = buffer.getArrayOfWritePointers();
    std::array<float*, LookaheadLimiter::largestChannelCount> piece {};
    const int total = buffer.getNumSamples();
    for (int offset = 0; offset < total; offset += maxBlockSamples)
    {
        const int n = std::min (total - offset, maxBlockSamples);
        for (int ch = 0; ch < numChannels; ++ch)
            piece[static_cast<size_t> (ch)] = channels[ch] + offset;
        handover.applyTo (*limiter);
        applyInputGain (piece.data(), n);
        limiter->process (piece.data(), n);
    }
}

void MultichannelProcessor::applyInputGain (float* const* channels, int numSamples) noexcept
{
    const float target = inputGainTarget;
    const auto glide = [target] (float current) noexcept
    {
        return static_cast<float> (0.005 * static_cast<double> (target)
                                   + 0.995 * static_cast<double> (current));
    };
    if (std::abs (inputGainCurrent - target) > 0.000001
        && glide (inputGainCurrent) != inputGainCurrent)
    {
        int i = 0;
        for (; i < numSamples; ++i)
        {
            const float next = glide (inputGainCurrent);
            if (next == inputGainCurrent)
                break;
            inputGainCurrent = next;
            for (int ch = 0; ch < numChannels; ++ch)
                channels[ch][i] *= inputGainCurrent;
        }
        for (int ch = 0; ch < numChannels; ++ch)
        {
            for (int j = i; j < numSamples; ++j)
                channels[ch][j] *= inputGainCurrent;
            blockOps::silenceNonFiniteAndMeasure (channels[ch], numSamples);
        }
    }
    else
    {
        if (std::abs (inputGainCurrent - target) <= 0.000001)
            inputGainCurrent = target;
        for (int ch = 0; ch < numChannels; ++ch)
            blockOps::multiplySilenceNonFiniteAndMeasure (
                channels[ch], inputGainCurrent, numSamples);
    }
}

void MultichannelProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    SettingsCodec::Settings settings;
    settings.normalised = paramValues;
    settings.inputConfig = inputConfig;
    settings.truePeak = handover.isTruePeakRequested();
    destData = SettingsCodec::encode (settings);
}

void MultichannelProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto xml = SettingsCodec::unwrap (data, sizeInBytes);
    if (xml == nullptr)
        return;
    struct Restore : SettingsCodec::Receiver
    {
        explicit Restore (MultichannelProcessor& p) : processor (p) {}
        void knob (parameters::Index index, float normalised) override
        {
            JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
            processor.setParameter (index, normalised);
            JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        }
        void inputConfig (int value) override { processor.inputConfig = value; }
        MultichannelProcessor& processor;
    } restore (*this);
    SettingsCodec::read (*xml, restore);
    setTruePeakMode (SettingsCodec::selectsTruePeak (*xml));
}
