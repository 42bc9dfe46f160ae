#pragma once

#include "limiter/LookaheadLimiter.h"
#include "processor/Parameters.h"
#include "processor/SettingsHandover.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <memory>

/**
    The plug-in's audio path for a file of 1 to 64 channels, as the renderer drives it: the four
    knobs as host parameters (the same mappings, refusals and settings document), the input-gain
    glide and the look-ahead limiter with one gain for every channel, in pieces of at most
    maxBlockSamples frames. For four channels its output is the plug-in processor's, bit for
    bit; it has no window, meters or bypass, which a render does not use.
*/
class MultichannelProcessor : public juce::AudioProcessor
{
public:
    static constexpr int maxBlockSamples = 8192;

    /** numChannels from 1 to LookaheadLimiter::largestChannelCount. */
    explicit MultichannelProcessor (int numChannels);

    const juce::String getName() const override { return "Orvalis"; }
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override {}
    using AudioProcessor::processBlock;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    int getNumParameters() override { return parameters::numKnobs; }
    float getParameter (int index) override;
    void setParameter (int index, float value) override;
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** Selects true-peak (true) or sample-peak limiting from the next block on. */
    void setTruePeakMode (bool on);
    bool isTruePeakMode() const noexcept { return handover.isTruePeakRequested(); }

    std::unique_ptr<LookaheadLimiter> limiter;

private:
    void reportLatency();
    void applyInputGain (float* const* channels, int numSamples) noexcept;

    int numChannels;
    SettingsHandover handover;
    std::array<float, parameters::numKnobs> paramValues {};
    float inputGainTarget = 1.0f, inputGainCurrent = 1.0f;
    int inputConfig = 0;
    int preparedLookaheadSamples = -1;
};
