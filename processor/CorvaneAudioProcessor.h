#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "limiter/LookaheadLimiter.h"
#include "processor/Parameters.h"
#include "processor/Product.h"
#include "processor/SettingsCodec.h"
#include "processor/SettingsHandover.h"
#include "processor/TimeKeepingBypass.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

/**
    The plug-in's audio processor: four host parameters, one program, the saved settings document
    and the audio path (input-gain glide, the meters, the look-ahead limiter).

    One class serves every product (processor/Product.h). Orvalis takes four channels in and out
    and meters each channel; Orvalis HOA takes a full ambisonic signal of order 1 to 7 (4 to 64
    channels, as many in as out), limits every channel with the one common gain and meters each
    order (the largest peak of its channels); the renderer's multichannel product takes any count
    of 1 to 64 and meters as Orvalis HOA. The channel count follows the buses the host chose:
    a layout change is taken over at the next prepareToPlay, never while processBlock runs; until
    then the channels counted before are processed and any others cleared.

    Hosts may call setParameter, getStateInformation and setStateInformation from any thread while
    processBlock runs. Those calls only store atomics; the limiter itself is changed only at the
    start of processBlock and in prepareToPlay (which hosts never run alongside processBlock), in an
    order that gives exactly the limiter that applying every change at once would have given.

    Parameter values are stored and saved as given, but used clamped to 0..1 (an Attack Time above
    1 is refused and keeps the look-ahead). NaN and infinity, from a host or a settings document,
    change nothing: not stored, not applied, and uiRefreshNeeded is not raised for them. NaN and
    infinite input samples are metered and limited as silence.

    Blocks of any length are processed whole, in pieces of at most maxBlockSamples frames, each
    piece exactly as if the host had handed it over as a block of its own. Bypass keeps time: the
    channels come out delayed by the reported latency and otherwise as they came, and a switch
    into or out of bypass crossfades over bypassFadeMs. The limiter runs through the fade into
    bypass, then rests with the input gain and the meters; when bypass ends it resumes from that
    state, and the output stays with the bypassed signal until the limiter's delay line holds
    current audio again, then fades over.

    True-peak limiting is a setting, not a host parameter: setTruePeakMode, called by the options
    panel or by setStateInformation (never on the audio thread), switches the limiter's detector
    at the start of the next block and reports the new latency (the look-ahead as of the last
    prepareToPlay, plus the detector's delay) to the host at once; the wrappers pass it on from the
    message thread. The saved document holds <TruePeak>1</TruePeak> after the other elements only
    while the mode is on, and a restored document without it selects sample peaks. In true-peak
    mode the output meters show the true peaks the limiter measured.
*/
class CorvaneAudioProcessor : public juce::AudioProcessor
{
public:
    /** The process-wide default look-and-feel, shared by every processor of the module. */
    struct TarnwickLookAndFeel;

    enum ParameterIndex
    {
        paramAttackTime = parameters::attackTime,
        paramReleaseTime = parameters::releaseTime,
        paramMaxPeakLevel = parameters::maxPeakLevel,
        paramInputGain = parameters::inputGain,
        numParameters = parameters::numKnobs
    };

    /** The meterLevels slots: inputs from slot 0, outputs from the product's maxMeterGroups. */
    static constexpr int numMeters = 2 * product::maxMetersPerSide;
    static constexpr int maxBlockSamples = 8192;
    static constexpr float maxLookaheadMs = parameters::maxLookaheadMs;
    static constexpr float bypassFadeMs = TimeKeepingBypass::fadeMs;

    /** Orvalis: four discrete channels in and out. */
    CorvaneAudioProcessor();
    /** A product's processor with buses of this layout (one the product supports). */
    CorvaneAudioProcessor (const product::Product& product, const juce::AudioChannelSet& buses);
    ~CorvaneAudioProcessor() override;

    const juce::String getName() const override { return productInfo.name; }
    const product::Product& getProduct() const noexcept { return productInfo; }

    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override {}
    using AudioProcessor::processBlock;
    using AudioProcessor::processBlockBypassed;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    void processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;

    bool silenceInProducesSilenceOut() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    // The index-based parameter interface is what every format wrapper drives for this plug-in.
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    using AudioProcessor::getParameterName;
    using AudioProcessor::getParameterText;
    const juce::String getInputChannelName (int channelIndex) const override;
    const juce::String getOutputChannelName (int channelIndex) const override;
    bool isInputChannelStereoPair (int) const override { return true; }
    bool isOutputChannelStereoPair (int) const override { return true; }
    int getNumParameters() override { return numParameters; }
    const juce::String getParameterName (int index) override;
    float getParameter (int index) override;
    const juce::String getParameterText (int index) override;
    float getParameterDefaultValue (int index) override;
    void setParameter (int index, float value) override;
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** Selects true-peak (true) or sample-peak limiting; from any thread but the audio thread.
        The limiter switches at the start of the next block; the latency reported to the host
        changes at once (by the detector's delay, with a look-ahead of at least one sample). */
    void setTruePeakMode (bool on);
    /** The latency last reported to the host, for any thread (the audio thread included). */
    int getReportedLatency() const noexcept
    {
        return latencyInForce.load (std::memory_order_relaxed);
    }
    bool isTruePeakMode() const noexcept { return handover.isTruePeakRequested(); }

    /** The window's size in percent of 435 x 373, one of SettingsCodec::windowSizes: saved in the
        settings document, followed by the window at its next refresh. setWindowSize, for the
        options panel, ignores any other size and tells the host that the settings changed. */
    int getWindowSize() const noexcept
    {
        return windowSizePercent.load (std::memory_order_relaxed);
    }
    void setWindowSize (int percent);

    /** The length of the crossfade at a bypass switch, in samples at the current rate. */
    int getBypassFadeSamples() const noexcept { return bypass.getFadeSamples(); }

    /** The limiter's gain reduction after the last block in dB (0 when it did not limit), for the
        window's meter and the hosts' readouts; from any thread. */
    float getGainReductionDb() const noexcept { return limiter->getGainReductionDb(); }

    /** The channels of the buses the host chose (the ones processed from the next prepareToPlay
        on), and the meters per side they give; from any thread. */
    int getNumLayoutChannels() const noexcept
    {
        return layoutChannels.load (std::memory_order_relaxed);
    }
    int getNumMeterGroups() const noexcept
    {
        return productInfo.meterGroups (getNumLayoutChannels());
    }
    /** A window showing the meters opens (add) or closes (remove); message thread. Orvalis HOA,
        the multichannel product and Orvalis in true-peak mode measure their meters only while one
        is open (their levels rest meanwhile); Orvalis in sample-peak mode always. */
    void addMeterViewer() noexcept { meterViewers.fetch_add (1, std::memory_order_relaxed); }
    void removeMeterViewer() noexcept { meterViewers.fetch_sub (1, std::memory_order_relaxed); }

    /** The meterLevels slot of an input or output meter group. */
    int meterSlot (bool output, int group) const noexcept
    {
        return output ? productInfo.maxMeterGroups() + group : group;
    }

    // Read by the window's timer; written here (and idxInputConfig, uiRefreshNeeded by the window).
    std::atomic<int> idxInputConfig { 0 }; // 0 ambiX, 1 FuMa: captions only
    std::unique_ptr<LookaheadLimiter> limiter;

private:
    std::atomic<float> inputGainTarget { 1.0f };
    float inputGainCurrent = 1.0f; // audio thread only

public:
    std::array<std::atomic<float>, numMeters> meterLevels {}; // see meterSlot

private:
    const product::Product& productInfo;
    int numProcessedChannels = 4; // audio thread and prepareToPlay only
    std::atomic<int> layoutChannels { 4 };
    std::atomic<int> meterViewers { 0 };
    std::array<std::atomic<float>, numParameters> paramValues {};

public:
    std::atomic<bool> uiRefreshNeeded { true };
    juce::SharedResourcePointer<TarnwickLookAndFeel> sharedLookAndFeel;

protected:
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;
    void numChannelsChanged() override;

private:
    void applyRequestedSettings() noexcept { handover.applyTo (*limiter); }
    void applyLayoutChannels() noexcept;
    void processPiece (float* const* channels, int numSamples, bool updateMeters) noexcept;
    void applyInputGain (float* const* channels, int numSamples, float* peaks) noexcept;
    void meterPeaks (bool output, const float* channelPeaks) noexcept;
    void updateMeter (int slot, float peak) noexcept;
    void clearExtraOutputs (juce::AudioBuffer<float>& buffer, int numSamples) noexcept;
    void reportLatency();

    // The reported latency follows the look-ahead of the last prepareToPlay (-1 before the first)
    // and the mode; both writers store their input and call reportLatency, which counts it in
    // latencyInputs and lets one thread at a time (latencyReporting) report. latencyInForce is
    // the reported value for the audio thread (JUCE's own is a plain int).
    std::atomic<int> preparedLookaheadSamples { -1 };
    std::atomic<unsigned> latencyInputs { 0 };
    std::atomic<bool> latencyReporting { false };
    std::atomic<int> latencyInForce { 0 };

    std::atomic<int> windowSizePercent { SettingsCodec::windowSizes[0] };

    SettingsHandover handover; // settings waiting for the audio thread
    TimeKeepingBypass bypass;  // audio thread and prepareToPlay only

    static_assert (std::atomic<float>::is_always_lock_free);
    static_assert (std::atomic<int>::is_always_lock_free);
    static_assert (std::atomic<bool>::is_always_lock_free);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CorvaneAudioProcessor)
};
