#include "processor/CorvaneAudioProcessor.h"

#include "editor/CorvaneAudioProcessorEditor.h"
#include "lookandfeel/TarnwickLookAndFeel.h"
#include "processor/BlockOps.h"
#include "processor/StateTextCheck.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>

namespace
{
// The limiter starts its settle phase on a look-ahead change only while its release is shorter.
constexpr float settleReleaseLimitMs = LookaheadLimiter::settleReleaseLimitMs;
constexpr std::uint32_t stateMagic = 0x21324356;

// The host's normalised value as a double in default stream notation (6 significant digits).
juce::String formatNormalised (float value)
{
    std::ostringstream stream;
    stream.imbue (std::locale::classic());
    stream << static_cast<double> (value);
    return stream.str();
}

// Leading blanks, an optional sign, then decimal digits up to the first other character; 0 when
// there are none. Saturates instead of overflowing.
int parseDecimalInt (const juce::String& text)
{
    auto s = text.getCharPointer().findEndOfWhitespace();
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;

    long long magnitude = 0;
    for (auto c = *s; c >= '0' && c <= '9'; c = *++s)
        magnitude = std::min (magnitude * 10 + (c - '0'), 1LL << 32);

    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int> (std::clamp (value,
                                         static_cast<long long> (std::numeric_limits<int>::min()),
                                         static_cast<long long> (std::numeric_limits<int>::max())));
}

// Release, ceiling and input gain are meaningful only for values 0..1: a negative release would
// give the limiter a release coefficient above 1 and a huge input gain overflows to infinity.
// Values are stored and saved as the host gave them; only their effect is limited.
float usableRange (float value) noexcept
{
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

// A damaged block whose text JUCE's XML reader cannot read safely is ignored like any other block
// that is not well-formed (see StateTextCheck). Blocks JUCE would not read at all pass.
bool holdsReadableText (const void* data, int sizeInBytes)
{
    if (sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != stateMagic)
        return true;
    const auto length =
        static_cast<int> (juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4)));
    if (length <= 0)
        return true;
    return StateTextCheck::isReadable (static_cast<const char*> (data) + 8,
                                       std::min (sizeInBytes - 8, length));
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

std::uint32_t bitsOf (float value) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, sizeof bits);
    return bits;
}

// Equal-gain crossfade between the limited and the bypassed sample. The bypassed input is the
// host's own and may not be finite; inside the fade it counts as silence, as the limiter counts it.
float crossfade (float limited, float bypassedInput, float bypassedShare) noexcept
{
    const float input = std::isfinite (bypassedInput) ? bypassedInput : 0.0f;
    return bypassedShare * input + (1.0f - bypassedShare) * limited;
}

float floatFrom (std::uint32_t bits) noexcept
{
    float value;
    std::memcpy (&value, &bits, sizeof value);
    return value;
}
} // namespace

CorvaneAudioProcessor::CorvaneAudioProcessor() :
    AudioProcessor (BusesProperties()
                        .withInput ("Input", juce::AudioChannelSet::discreteChannels (4), true)
                        .withOutput ("Output", juce::AudioChannelSet::discreteChannels (4), true))
{
    // sharedLookAndFeel has been acquired by now: the members before it hold no resources.
    numInputMeters = 4;
    numProcessedChannels = 4;
    inputGainTarget.store (1.0f, std::memory_order_relaxed);
    inputGainCurrent = 1.0f;
    for (auto& level : meterLevels)
        level.store (0.0f, std::memory_order_relaxed);
    uiRefreshNeeded.store (true, std::memory_order_relaxed);

    limiter = std::make_unique<LookaheadLimiter> (maxLookaheadMs, 0.0f);
    bypassScratch.reset (new float[static_cast<size_t> (4 * maxBlockSamples)]());
    bypassFadeSamples = std::max (
        1,
        static_cast<int> (static_cast<float> (limiter->getSampleRate()) * bypassFadeMs / 1000.0f));
    limiter->setNumChannels();
    requestedReleaseMs.store (limiter->getReleaseMs(), std::memory_order_relaxed);
    requestedCeiling.store (limiter->getCeiling(), std::memory_order_relaxed);

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    setParameter (paramInputGain, 0.0f);
    setParameter (paramAttackTime, 0.025f);
    setParameter (paramReleaseTime, 0.02f);
    setParameter (paramMaxPeakLevel, 0.5f);
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
           && layouts.getMainInputChannels() == 4 && layouts.getMainOutputChannels() == 4;
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
    switch (index)
    {
        case paramAttackTime:
            return "Attack Time";
        case paramReleaseTime:
            return "Release Time";
        case paramMaxPeakLevel:
            return "Max Peak Level";
        case paramInputGain:
            return "Input Gain";
        default:
            return {};
    }
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
    return formatNormalised (
        paramValues[static_cast<size_t> (index)].load (std::memory_order_relaxed));
}

float CorvaneAudioProcessor::getParameterDefaultValue (int index)
{
    switch (index)
    {
        case paramAttackTime:
            return 0.025f;
        case paramReleaseTime:
            return 0.02f;
        case paramMaxPeakLevel:
            return 0.5f;
        default:
            return 0.0f;
    }
}

void CorvaneAudioProcessor::setParameter (int index, float value)
{
    // NaN or infinity is no position of a knob: such a value changes nothing at all, so it can
    // neither be saved with the project nor reach a mapping.
    if (index < 0 || index >= numParameters || ! std::isfinite (value))
        return;

    paramValues[static_cast<size_t> (index)].store (value, std::memory_order_relaxed);

    switch (index)
    {
        case paramAttackTime:
            // Above 1 the look-ahead is refused and stays; below 0 there is no look-ahead.
            requestLookaheadMs (0.0f + 40.0f * std::max (value, 0.0f));
            break;
        case paramReleaseTime:
            requestedReleaseMs.store (0.0f + 1000.0f * usableRange (value),
                                      std::memory_order_relaxed);
            break;
        case paramMaxPeakLevel:
            requestedCeiling.store (
                juce::Decibels::decibelsToGain (-10.0f + 20.0f * usableRange (value)),
                std::memory_order_relaxed);
            break;
        default:
            inputGainTarget.store (
                juce::Decibels::decibelsToGain (0.0f + 60.0f * usableRange (value)),
                std::memory_order_relaxed);
            break;
    }

    uiRefreshNeeded.store (true, std::memory_order_relaxed);
}

void CorvaneAudioProcessor::requestLookaheadMs (float ms) noexcept
{
    // The limiter refuses such a look-ahead and keeps everything as it is.
    if (ms > maxLookaheadMs)
        return;

    // Decided now, from the release in force at this moment, as the limiter would decide it.
    const bool settle = requestedReleaseMs.load (std::memory_order_relaxed) < settleReleaseLimitMs;

    auto expected = requestedLookahead.load (std::memory_order_relaxed);
    for (;;)
    {
        const bool settleEarlier =
            (expected & lookaheadPendingBit) != 0 && (expected & lookaheadSettleBit) != 0;
        const auto desired = std::uint64_t { bitsOf (ms) } | lookaheadPendingBit
                             | (settle || settleEarlier ? lookaheadSettleBit : 0);
        // Release: the audio thread that takes this word also sees the release stored before it.
        if (requestedLookahead.compare_exchange_weak (
                expected, desired, std::memory_order_release, std::memory_order_relaxed))
            break;
    }
}

void CorvaneAudioProcessor::applyRequestedSettings() noexcept
{
    const auto lookahead = requestedLookahead.exchange (0, std::memory_order_acquire);
    const float releaseMs = requestedReleaseMs.load (std::memory_order_relaxed);

    if ((lookahead & lookaheadPendingBit) != 0)
    {
        // setLookaheadMs starts the settle phase from the release it finds, so give it one on the
        // side the host's release was on when the change was made; the real release follows.
        limiter->setReleaseMs ((lookahead & lookaheadSettleBit) != 0 ? 0.0f : settleReleaseLimitMs);
        limiter->setLookaheadMs (floatFrom (static_cast<std::uint32_t> (lookahead)));
        limiter->setReleaseMs (releaseMs);
    }
    else if (bitsOf (limiter->getReleaseMs()) != bitsOf (releaseMs))
    {
        limiter->setReleaseMs (releaseMs);
    }

    limiter->setCeiling (requestedCeiling.load (std::memory_order_relaxed));

    // After the release is in force: like a look-ahead change, the switch starts the limiter's
    // settle phase when the release is short.
    const bool truePeak = truePeakRequested.load (std::memory_order_relaxed);
    if (truePeak != limiter->isTruePeak())
        limiter->setTruePeak (truePeak);
}

void CorvaneAudioProcessor::setTruePeakMode (bool on)
{
    if (truePeakRequested.exchange (on, std::memory_order_relaxed) == on)
        return;
    uiRefreshNeeded.store (true, std::memory_order_release);
    reportLatency();
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
            // Without a look-ahead the limiter has no delay line and limits sample peaks.
            const int latency = truePeakRequested.load (std::memory_order_relaxed) && lookahead >= 1
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
    // An accepted rate resets the limiter; the bypass's delay line starts from silence with it.
    if (limiter->setSampleRate (truncateRate (sampleRate)) == LookaheadLimiter::kOk)
        inputHistory.clear();

    preparedLookaheadSamples.store (limiter->getLookaheadSamples(), std::memory_order_relaxed);
    reportLatency();

    const int rate = limiter->getSampleRate();
    bypassFadeSamples =
        std::max (1, static_cast<int> (static_cast<float> (rate) * bypassFadeMs / 1000.0f));
    bypassStateKnown = false;
    resumeHoldSamples = 0;
    limiterMissedAudio = false;
}

void CorvaneAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    float* const* channels = buffer.getArrayOfWritePointers();

    // Only a host that ignores the four-channel layout gets here; give it silence, not unlimited audio.
    if (buffer.getNumChannels() < numProcessedChannels)
    {
        applyRequestedSettings();
        buffer.clear();
        return;
    }

    numInputMeters = std::min (numInputMeters, getTotalNumInputChannels());
    const int latency = latencyInForce.load (std::memory_order_relaxed);
    // Enough input is kept for the latency the other peak mode would report, should it change.
    const int recorded = latency + LookaheadLimiter::truePeakDelaySamples;

    if (! bypassStateKnown)
    {
        bypassStateKnown = true;
        bypassFadePos = 0;
    }
    else if (limiterMissedAudio)
    {
        // Coming out of bypass: the limiter resumes where it stopped, but its delay line holds
        // audio from before the bypass for as long as its delay.
        resumeHoldSamples = static_cast<int> (std::ceil (limiter->getSmoothedDelay()));
        limiterMissedAudio = false;
    }

    const int total = buffer.getNumSamples();
    for (int offset = 0; offset < total; offset += maxBlockSamples)
    {
        const int n = std::min (total - offset, maxBlockSamples);
        float* piece[4];
        for (int ch = 0; ch < 4; ++ch)
            piece[ch] = channels[ch] + offset;

        if (bypassFadePos == 0)
        {
            inputHistory.record (piece, n, recorded);
            applyRequestedSettings();
            processPiece (piece, n, true);
            continue;
        }

        float* delayed[4];
        for (int ch = 0; ch < 4; ++ch)
            delayed[ch] = bypassScratch.get() + ch * maxBlockSamples;
        inputHistory.delay (piece, delayed, n, latency);
        applyRequestedSettings();
        processPiece (piece, n, true);

        const float fadeLength = static_cast<float> (bypassFadeSamples);
        for (int i = 0; i < n && bypassFadePos > 0; ++i)
        {
            if (resumeHoldSamples > 0)
            {
                --resumeHoldSamples;
                for (int ch = 0; ch < 4; ++ch)
                    piece[ch][i] = delayed[ch][i];
                continue;
            }
            const float bypassed = static_cast<float> (--bypassFadePos) / fadeLength;
            for (int ch = 0; ch < 4; ++ch)
                piece[ch][i] = crossfade (piece[ch][i], delayed[ch][i], bypassed);
        }
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
        if (! bypassStateKnown)
        {
            bypassStateKnown = true;
            bypassFadePos = bypassFadeSamples;
        }
        resumeHoldSamples = 0;

        for (int offset = 0; offset < total; offset += maxBlockSamples)
        {
            float* piece[4];
            for (int ch = 0; ch < 4; ++ch)
                piece[ch] = channels[ch] + offset;
            bypassPiece (piece, std::min (total - offset, maxBlockSamples));
        }
    }

    clearExtraOutputs (buffer, total);
}

void CorvaneAudioProcessor::bypassPiece (float* const* piece, int n) noexcept
{
    const int latency = latencyInForce.load (std::memory_order_relaxed);
    bypassFadePos = std::min (bypassFadePos, bypassFadeSamples);

    if (bypassFadePos == bypassFadeSamples)
    {
        // Fully bypassed: the limiter, the input gain and the meters rest.
        inputHistory.delay (piece, piece, n, latency);
        limiterMissedAudio = true;
        return;
    }

    // Fading into bypass: the limiter runs for the length of the fade.
    float* delayed[4];
    for (int ch = 0; ch < 4; ++ch)
        delayed[ch] = bypassScratch.get() + ch * maxBlockSamples;
    inputHistory.delay (piece, delayed, n, latency);

    const int fading = std::min (n, bypassFadeSamples - bypassFadePos);
    applyRequestedSettings();
    processPiece (piece, fading, false);

    const float fadeLength = static_cast<float> (bypassFadeSamples);
    for (int i = 0; i < fading; ++i)
    {
        const float bypassed = static_cast<float> (++bypassFadePos) / fadeLength;
        for (int ch = 0; ch < 4; ++ch)
            piece[ch][i] = crossfade (piece[ch][i], delayed[ch][i], bypassed);
    }
    for (int ch = 0; ch < 4; ++ch)
        std::copy (delayed[ch] + fading, delayed[ch] + n, piece[ch] + fading);

    if (fading < n)
        limiterMissedAudio = true;
}

void CorvaneAudioProcessor::processPiece (float* const* channels,
                                          int numSamples,
                                          bool updateMeters) noexcept
{
    float peaks[4] = {};
    applyInputGain (channels, numSamples, peaks);

    // A NaN or infinite sample from the host, or an input times the gain that overflows, would show
    // on the input meter as a +10 dBFS peak (infinity) or hide the block's real peak (NaN compares
    // false in a peak scan). Such samples are metered and limited as silence, as the limiter treats
    // them; finite samples are left exactly as they are.
    if (updateMeters)
        for (int slot = 0; slot < numInputMeters; ++slot)
            updateMeter (slot, peaks[slot]);

    limiter->process (channels, numSamples);

    if (updateMeters)
    {
        const bool truePeaks = limiter->measuresTruePeaks();
        for (int slot = numInputMeters; slot < numMeters; ++slot)
        {
            const int channel = slot - numInputMeters;
            updateMeter (slot,
                         truePeaks ? limiter->getOutputTruePeak (channel)
                                   : blockOps::peakMagnitude (channels[channel], numSamples));
        }
    }
}

void CorvaneAudioProcessor::applyInputGain (float* const* channels,
                                            int numSamples,
                                            float* peaks) noexcept
{
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
            peaks[ch] = blockOps::silenceNonFiniteAndMeasure (channels[ch], numSamples);
        }
    }
    else
    {
        if (std::abs (inputGainCurrent - target) <= 0.000001)
            inputGainCurrent = target;
        for (int ch = 0; ch < numProcessedChannels; ++ch)
            peaks[ch] = blockOps::multiplySilenceNonFiniteAndMeasure (
                channels[ch], inputGainCurrent, numSamples);
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
    const auto value = [this] (int index)
    {
        return formatNormalised (
            paramValues[static_cast<size_t> (index)].load (std::memory_order_relaxed));
    };

    juce::XmlElement root ("Root");
    root.createNewChildElement ("Gain")->addTextElement (value (paramInputGain));
    root.createNewChildElement ("Attack")->addTextElement (value (paramAttackTime));
    root.createNewChildElement ("Release")->addTextElement (value (paramReleaseTime));
    root.createNewChildElement ("Threshold")->addTextElement (value (paramMaxPeakLevel));
    root.createNewChildElement ("idxInputConfig")
        ->addTextElement (juce::String (idxInputConfig.load (std::memory_order_relaxed)));
    // Only while it is on, so that documents saved with sample peaks stay as they always were.
    if (truePeakRequested.load (std::memory_order_relaxed))
        root.createNewChildElement ("TruePeak")->addTextElement ("1");

    // The layout of copyXmlToBinary (magic, length, text, zero byte), but without the XML
    // declaration that JUCE 7 puts in front: the saved text is the bare document.
    {
        juce::MemoryOutputStream out (destData, false);
        out.writeInt (static_cast<int> (stateMagic));
        out.writeInt (0);
        root.writeTo (out, juce::XmlElement::TextFormat().singleLine().withoutHeader());
        out.writeByte (0);
    }
    const auto length =
        juce::ByteOrder::swapIfBigEndian (static_cast<juce::uint32> (destData.getSize() - 9));
    destData.copyFrom (&length, 4, sizeof length);
}

void CorvaneAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || ! holdsReadableText (data, sizeInBytes))
        return;

    const auto xml = getXmlFromBinary (data, sizeInBytes);
    if (xml == nullptr)
        return;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (const auto* child : xml->getChildIterator())
    {
        const auto& tag = child->getTagName();
        const auto number = [child]
        { return static_cast<float> (child->getAllSubText().getDoubleValue()); };

        if (tag.equalsIgnoreCase ("Gain"))
            setParameter (paramInputGain, number());
        else if (tag.equalsIgnoreCase ("Attack"))
            setParameter (paramAttackTime, number());
        else if (tag.equalsIgnoreCase ("Release"))
            setParameter (paramReleaseTime, number());
        else if (tag.equalsIgnoreCase ("Threshold"))
            setParameter (paramMaxPeakLevel, number());
        else if (tag.equalsIgnoreCase ("idxInputConfig"))
        {
            idxInputConfig.store (parseDecimalInt (child->getAllSubText()),
                                  std::memory_order_relaxed);
            uiRefreshNeeded.store (true, std::memory_order_relaxed);
        }
    }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    setTruePeakMode (documentSelectsTruePeak (*xml));

    uiRefreshNeeded.store (true, std::memory_order_relaxed);
}

bool CorvaneAudioProcessor::documentSelectsTruePeak (const juce::XmlElement& root)
{
    // The element is saved only while true peaks are on: a document without it means sample
    // peaks. Like the other elements, a later one wins over an earlier one.
    bool truePeak = false;
    for (const auto* child : root.getChildIterator())
        if (child->getTagName().equalsIgnoreCase ("TruePeak"))
            truePeak = parseDecimalInt (child->getAllSubText()) != 0;
    return truePeak;
}

juce::AudioProcessorEditor* CorvaneAudioProcessor::createEditor()
{
    return new CorvaneAudioProcessorEditor (*this);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new CorvaneAudioProcessor();
}
