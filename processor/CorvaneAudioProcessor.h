#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "limiter/LookaheadLimiter.h"

#include <array>
#include <atomic>

// Placeholder: passes four channels through until the real processor lands.
class CorvaneAudioProcessor : public juce::AudioProcessor
{
public:
    struct TarnwickLookAndFeel;

    CorvaneAudioProcessor();
    ~CorvaneAudioProcessor() override;

    const juce::String getName() const override { return "Orvalis"; }
    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    using AudioProcessor::processBlock;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}

    juce::SharedResourcePointer<TarnwickLookAndFeel> sharedLookAndFeel;
    std::array<std::atomic<float>, 8> meterLevels {};
    std::unique_ptr<LookaheadLimiter> limiter;
};
