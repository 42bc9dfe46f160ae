#include "processor/CorvaneAudioProcessor.h"

#include "editor/CorvaneAudioProcessorEditor.h"
#include "lookandfeel/TarnwickLookAndFeel.h"
#include "processor/BlockOps.h"
#include "processor/SettingsCodec.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
// Release, ceiling and input gain are meaningful only for values 0..1: a negative release would
// give the limiter a release coefficient above 1 and a huge input gain overflows to infinity.
// Values are stored and saved as the host gave them; only their effect is limited.
float usableRange (float value) noexcept
{
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

int truncateRate (double sampleRate) noexcept
{
    // NaN and anything beyond the int range become a rate the limiter refuses.
    if (! (sampleRate < 2147483648.0))
        return std::numeric_limits<int>::max();
    if (! (sampleRate > -2147483649.0))
        return std::numeric_limits<int>::min();
    return static_cast<int> (sampleRate);
}
} // namespace

CorvaneAudioProcessor::CorvaneAudioProcessor() :
    CorvaneAudioProcessor (product::orvalis, juce::AudioChannelSet::discreteChannels (4))
{
}

CorvaneAudioProcessor::CorvaneAudioProcessor (const product::Product& p,
                                              const juce::AudioChannelSet& buses) :
    AudioProcessor (
        BusesProperties().withInput ("Input", buses, true).withOutput ("Output", buses, true)),
    productInfo (p),
    bypass (maxBlockSamples, p.maxChannels())
{
    // sharedLookAndFeel has been acquired by now: the members before it hold no resources.
    jassert (productInfo.supportsChannels (buses.size()));
    numProcessedChannels = productInfo.supportsChannels (buses.size()) ? buses.size() : 4;
    layoutChannels.store (numProcessedChannels, std::memory_order_relaxed);
    inputGainTarget.store (1.0f, std::memory_order_relaxed);
    inputGainCurrent = 1.0f;
    for (auto& level : meterLevels)
        level.store (0.0f, std::memory_order_relaxed);
    uiRefreshNeeded.store (true, std::memory_order_relaxed);

    limiter = std::make_unique<LookaheadLimiter> (maxLookaheadMs, 0.0f, productInfo.maxChannels());
    bypass.prepare (limiter->getSampleRate());
    limiter->setNumChannels (numProcessedChannels);
    bypass.setNumChannels (numProcessedChannels);
    handover.startFrom (*limiter);

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (const auto index : parameters::stateOrder)
        setParameter (index, parameters::knob (index).defaultNormalised);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    applyRequestedSettings();

    idxInputConfig.store (0, std::memory_order_relaxed);
}

CorvaneAudioProcessor::~CorvaneAudioProcessor()
{
    // The limiter goes first; the shared look-and-feel is released after it, as the last member.
    limiter.reset();
}

bool CorvaneAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    return layouts.inputBuses.size() == 1 && layouts.outputBuses.size() == 1
           && layouts.getMainInputChannels() == layouts.getMainOutputChannels()
           && productInfo.supportsChannels (layouts.getMainInputChannels());
}

void CorvaneAudioProcessor::numChannelsChanged()
{
    // JUCE calls this once a layout the processor accepted is in place; the limiter takes it over
    // at the next prepareToPlay.
    const int channels = getMainBusNumInputChannels();
    if (channels == getMainBusNumOutputChannels() && productInfo.supportsChannels (channels)
        && layoutChannels.exchange (channels, std::memory_order_relaxed) != channels)
        uiRefreshNeeded.store (true, std::memory_order_release);
}

void CorvaneAudioProcessor::applyLayoutChannels() noexcept
{
    const int channels = layoutChannels.load (std::memory_order_relaxed);
    if (channels == numProcessedChannels
        || limiter->setNumChannels (channels) != LookaheadLimiter::kOk)
        return;
    numProcessedChannels = channels;
    bypass.setNumChannels (channels);
    for (auto& level : meterLevels)
        level.store (0.0f, std::memory_order_relaxed);
}

//==============================================================================
const juce::String CorvaneAudioProcessor::getInputChannelName (int channelIndex) const
{
    return juce::String (channelIndex + 1);
}

const juce::String CorvaneAudioProcessor::getOutputChannelName (int channelIndex) const
{
    return juce::String (channelIndex + 1);
}

const juce::String CorvaneAudioProcessor::getParameterName (int index)
{
    const auto* knob = parameters::knobAt (index);
    return knob != nullptr ? juce::String (knob->name) : juce::String();
}

float CorvaneAudioProcessor::getParameter (int index)
{
    if (index < 0 || index >= numParameters)
        return 0.0f;
    return paramValues[static_cast<size_t> (index)].load (std::memory_order_relaxed);
}

const juce::String CorvaneAudioProcessor::getParameterText (int index)
{
    if (index < 0 || index >= numParameters)
        return {};
    return SettingsCodec::formatNormalised (
        paramValues[static_cast<size_t> (index)].load (std::memory_order_relaxed));
}

float CorvaneAudioProcessor::getParameterDefaultValue (int index)
{
    const auto* knob = parameters::knobAt (index);
    return knob != nullptr ? knob->defaultNormalised : 0.0f;
}

void CorvaneAudioProcessor::setParameter (int index, float value)
{
    // NaN or infinity is no position of a knob: such a value changes nothing at all, so it can
    // neither be saved with the project nor reach a mapping.
    if (index < 0 || index >= numParameters || ! std::isfinite (value))
        return;

    paramValues[static_cast<size_t> (index)].store (value, std::memory_order_relaxed);

    const auto& knob = parameters::knobs[static_cast<size_t> (index)];
    switch (knob.index)
    {
        case parameters::attackTime:
            // Above 1 the look-ahead is refused and stays; below 0 there is no look-ahead.
            handover.requestLookaheadMs (knob.toUnit (std::max (value, 0.0f)), maxLookaheadMs);
            break;
        case parameters::releaseTime:
            handover.requestReleaseMs (knob.toUnit (usableRange (value)));
            break;
        case parameters::maxPeakLevel:
            handover.requestCeiling (
                juce::Decibels::decibelsToGain (knob.toUnit (usableRange (value))));
            break;
        case parameters::inputGain:
            inputGainTarget.store (
                juce::Decibels::decibelsToGain (knob.toUnit (usableRange (value))),
                std::memory_order_relaxed);
            break;
    }

    uiRefreshNeeded.store (true, std::memory_order_relaxed);
}

void CorvaneAudioProcessor::setTruePeakMode (bool on)
{
    if (! handover.requestTruePeak (on))
        return;
    uiRefreshNeeded.store (true, std::memory_order_release);
    reportLatency();
}

void CorvaneAudioProcessor::setWindowSize (int percent)
{
    if (! SettingsCodec::isWindowSize (percent) || windowSizePercent.exchange (percent) == percent)
        return;
    uiRefreshNeeded.store (true, std::memory_order_release);
    updateHostDisplay (ChangeDetails().withNonParameterStateChanged (true));
}

void CorvaneAudioProcessor::reportLatency()
{
    // Count this caller's input (stored before the call), then report unless another thread is
    // reporting now: that one sees the count move and reports once more, so JUCE's latency (a
    // plain int, and its listeners) is never set by two threads at once, and the last report
    // always follows the last input.
    latencyInputs.fetch_add (1);
    if (latencyReporting.exchange (true))
        return;
    for (;;)
    {
        const auto inputs = latencyInputs.load();
        const int lookahead = preparedLookaheadSamples.load (std::memory_order_relaxed);
        if (lookahead >= 0) // before the first prepareToPlay there is nothing to report
        {
            // True-peak mode delays by the detector also without a look-ahead.
            const int latency = handover.isTruePeakRequested()
                                    ? lookahead + LookaheadLimiter::truePeakDelaySamples
                                    : lookahead;
            latencyInForce.store (latency, std::memory_order_relaxed);
            setLatencySamples (latency);
        }
        latencyReporting.store (false);
        if (latencyInputs.load() == inputs || latencyReporting.exchange (true))
            return;
    }
}

//==============================================================================
void CorvaneAudioProcessor::prepareToPlay (double sampleRate, int)
{
    applyRequestedSettings();
    applyLayoutChannels();
    // An accepted rate resets the limiter; the bypass's delay line starts from silence with it.
    if (limiter->setSampleRate (truncateRate (sampleRate)) == LookaheadLimiter::kOk)
        bypass.clearHistory();

    preparedLookaheadSamples.store (limiter->getLookaheadSamples(), std::memory_order_relaxed);
    reportLatency();

    bypass.prepare (limiter->getSampleRate());
}

void CorvaneAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    float* const* channels = buffer.getArrayOfWritePointers();

    // Only a host that ignores the layout gets here; give it silence, not unlimited audio.
    if (buffer.getNumChannels() < numProcessedChannels)
    {
        applyRequestedSettings();
        buffer.clear();
        return;
    }

    const int latency = latencyInForce.load (std::memory_order_relaxed);
    // Enough input is kept for the latency the other peak mode would report, should it change.
    const int recorded = latency + LookaheadLimiter::truePeakDelaySamples;
    static_assert (7680 + 2 * LookaheadLimiter::truePeakDelaySamples <= InputHistory::capacity,
                   "the bypass's history holds the longest latency with the other mode's");
    const auto limit = [this] (float* const* piece, int n, bool meter)
    { processPiece (piece, n, meter); };

    bypass.beginProcessedBlock (limiter->getSmoothedDelay());
    const int total = buffer.getNumSamples();
    for (int offset = 0; offset < total; offset += maxBlockSamples)
    {
        float* piece[product::maxChannels];
        for (int ch = 0; ch < numProcessedChannels; ++ch)
            piece[ch] = channels[ch] + offset;
        bypass.processedPiece (
            piece, std::min (total - offset, maxBlockSamples), latency, recorded, limit);
    }

    clearExtraOutputs (buffer, total);
}

void CorvaneAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer,
                                                  juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    float* const* channels = buffer.getArrayOfWritePointers();
    const int total = buffer.getNumSamples();

    if (buffer.getNumChannels() >= numProcessedChannels)
    {
        const auto limit = [this] (float* const* piece, int n, bool meter)
        { processPiece (piece, n, meter); };

        bypass.beginBypassedBlock();
        for (int offset = 0; offset < total; offset += maxBlockSamples)
        {
            float* piece[product::maxChannels];
            for (int ch = 0; ch < numProcessedChannels; ++ch)
                piece[ch] = channels[ch] + offset;
            bypass.bypassedPiece (piece,
                                  std::min (total - offset, maxBlockSamples),
                                  latencyInForce.load (std::memory_order_relaxed),
                                  limit);
        }
    }

    clearExtraOutputs (buffer, total);
}

void CorvaneAudioProcessor::processPiece (float* const* channels,
                                          int numSamples,
                                          bool updateMeters) noexcept
{
    applyRequestedSettings();
    // Orvalis HOA and the multichannel product measure their meters only while a window shows
    // them: at 64 channels the two passes over the block they take cost as much as a quarter of
    // the limiter's work. So does Orvalis in true-peak mode, whose output meters need the limiter
    // to measure true peaks exactly, which takes much longer than limiting where the signal is
    // quiet.
    const bool metering = updateMeters
                          && ((! productInfo.metersOnlyWhenViewed && ! limiter->isTruePeak())
                              || meterViewers.load (std::memory_order_relaxed) > 0);
    limiter->setOutputTruePeaksMeasured (metering);
    float peaks[product::maxChannels] = {};
    applyInputGain (channels, numSamples, metering ? peaks : nullptr);

    // A NaN or infinite sample from the host, or an input times the gain that overflows, would show
    // on the input meter as a +10 dBFS peak (infinity) or hide the block's real peak (NaN compares
    // false in a peak scan). Such samples are metered and limited as silence, as the limiter treats
    // them; finite samples are left exactly as they are.
    if (metering)
        meterPeaks (false, peaks);

    limiter->process (channels, numSamples);

    if (metering)
    {
        const bool truePeaks = limiter->measuresTruePeaks();
        for (int ch = 0; ch < numProcessedChannels; ++ch)
            peaks[ch] = truePeaks ? limiter->getOutputTruePeak (ch)
                                  : blockOps::peakMagnitude (channels[ch], numSamples);
        meterPeaks (true, peaks);
    }
}

void CorvaneAudioProcessor::applyInputGain (float* const* channels,
                                            int numSamples,
                                            float* peaks) noexcept
{
    // peaks (per channel, after the gain) is null when nothing is metered.
    const float target = inputGainTarget.load (std::memory_order_relaxed);

    const auto glide = [target] (float current) noexcept
    {
        return static_cast<float> (0.005 * static_cast<double> (target)
                                   + 0.995 * static_cast<double> (current));
    };

    // A glide step that leaves the gain as it is leaves it so for good: in single precision the
    // glide comes to rest just short of its target, and from there the gain is a constant.
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
            for (int ch = 0; ch < numProcessedChannels; ++ch)
                channels[ch][i] *= inputGainCurrent;
        }
        for (int ch = 0; ch < numProcessedChannels; ++ch)
        {
            for (int j = i; j < numSamples; ++j)
                channels[ch][j] *= inputGainCurrent;
            if (peaks != nullptr)
                peaks[ch] = blockOps::silenceNonFiniteAndMeasure (channels[ch], numSamples);
        }
    }
    else
    {
        if (std::abs (inputGainCurrent - target) <= 0.000001)
            inputGainCurrent = target;
        // Without meters to feed, unity gain leaves the block to the limiter, which makes
        // non-finite samples silent itself.
        if (peaks == nullptr && inputGainCurrent == 1.0f)
            return;
        for (int ch = 0; ch < numProcessedChannels; ++ch)
        {
            const float peak = blockOps::multiplySilenceNonFiniteAndMeasure (
                channels[ch], inputGainCurrent, numSamples);
            if (peaks != nullptr)
                peaks[ch] = peak;
        }
    }
}

void CorvaneAudioProcessor::meterPeaks (bool output, const float* channelPeaks) noexcept
{
    const int groups = productInfo.meterGroups (numProcessedChannels);
    for (int group = 0; group < groups; ++group)
    {
        const int end =
            std::min (productInfo.firstChannelOfGroup (group + 1), numProcessedChannels);
        float peak = 0.0f;
        for (int ch = productInfo.firstChannelOfGroup (group); ch < end; ++ch)
            peak = std::max (peak, channelPeaks[ch]);
        updateMeter (meterSlot (output, group), peak);
    }
}

void CorvaneAudioProcessor::updateMeter (int slot, float peak) noexcept
{
    float level = 0.0f;
    if (peak > 0.0f)
    {
        const float db = 20.0f * std::log10 (peak);
        if (db > -80.0f)
        {
            // -30..+10 dBFS onto 0.00001..1.00001
            const float scaled = (juce::jlimit (-30.0f, 10.0f, db) - 10.0f) / 40.0f;
            level = static_cast<float> (static_cast<double> (scaled) + 1.0 + 0.00001);
        }
    }

    auto& meter = meterLevels[static_cast<size_t> (slot)];
    const float previous = meter.load (std::memory_order_relaxed);
    const float next = level > previous ? level
                                        : static_cast<float> (0.9 * static_cast<double> (previous)
                                                              + 0.1 * static_cast<double> (level));
    meter.store (next, std::memory_order_relaxed);
}

void CorvaneAudioProcessor::clearExtraOutputs (juce::AudioBuffer<float>& buffer,
                                               int numSamples) noexcept
{
    const int end = std::min (getTotalNumOutputChannels(), buffer.getNumChannels());
    for (int ch = numProcessedChannels; ch < end; ++ch)
        buffer.clear (ch, 0, numSamples);
}

//==============================================================================
void CorvaneAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    SettingsCodec::Settings settings;
    for (size_t i = 0; i < settings.normalised.size(); ++i)
        settings.normalised[i] = paramValues[i].load (std::memory_order_relaxed);
    settings.inputConfig = idxInputConfig.load (std::memory_order_relaxed);
    settings.truePeak = handover.isTruePeakRequested();
    settings.windowSizePercent = windowSizePercent.load (std::memory_order_relaxed);
    destData = SettingsCodec::encode (settings);
}

void CorvaneAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto xml = SettingsCodec::unwrap (data, sizeInBytes);
    if (xml == nullptr)
        return;

    // Element by element, as a host would set the parameters one after the other.
    struct Restore : SettingsCodec::Receiver
    {
        explicit Restore (CorvaneAudioProcessor& p) : processor (p) {}
        void knob (parameters::Index index, float normalised) override
        {
            JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
            processor.setParameter (index, normalised);
            JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        }
        void inputConfig (int value) override
        {
            processor.idxInputConfig.store (value, std::memory_order_relaxed);
            processor.uiRefreshNeeded.store (true, std::memory_order_relaxed);
        }
        CorvaneAudioProcessor& processor;
    } restore (*this);

    SettingsCodec::read (*xml, restore);
    setTruePeakMode (SettingsCodec::selectsTruePeak (*xml));
    // The host restores what it saved: no word back to it.
    windowSizePercent.store (SettingsCodec::windowSizeOf (*xml), std::memory_order_relaxed);

    uiRefreshNeeded.store (true, std::memory_order_relaxed);
}

juce::AudioProcessorEditor* CorvaneAudioProcessor::createEditor()
{
    return new CorvaneAudioProcessorEditor (*this);
}
