#include "plugin/lv2/Lv2Instance.h"

#include <lv2/atom/atom.h>

#include <algorithm>
#include <cstring>
#include <limits>

static_assert (lv2Ports::maxLatencySamples == 7680 + LookaheadLimiter::truePeakDelaySamples,
               "the latency port's range covers the true-peak mode's latency");

namespace
{
bool sameBits (float a, float b) noexcept
{
    return std::memcmp (&a, &b, sizeof a) == 0;
}

const void* featureData (const LV2_Feature* const* features, const char* uri) noexcept
{
    for (auto* f = features; f != nullptr && *f != nullptr; ++f)
        if (std::strcmp ((*f)->URI, uri) == 0)
            return (*f)->data;
    return nullptr;
}

} // namespace

Lv2Instance::Lv2Instance (const lv2Plugins::Plugin& p,
                          double rate,
                          const LV2_Feature* const* features) :
    plugin (p),
    ports (p.ports()),
    sampleRate (rate),
    inputs (ports.numChannels),
    outputs (ports.numChannels),
    pieceChannels (ports.numChannels),
    inPlace (ports.numChannels, false)
{
    Lv2MessageLoop::onMessageThread (
        [this]
        {
            juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_LV2);
            processor = std::make_unique<CorvaneAudioProcessor> (
                *plugin.product, juce::AudioChannelSet::discreteChannels (plugin.numChannels()));
            juce::AudioProcessor::setTypeOfNextNewPlugin (
                juce::AudioProcessor::wrapperType_Undefined);
        });
    processor->setRateAndBufferSizeDetails (sampleRate, maxPieceSamples);

    // The state property key and the one of the build on JUCE's LV2 wrapper, which saved the same
    // block as base64 text.
    const auto settingsUri = plugin.uri + ":settings";
    const auto legacyStateUri = plugin.uri + ":StateString";
    map = static_cast<const LV2_URID_Map*> (featureData (features, LV2_URID__map));
    if (map != nullptr)
    {
        settingsKey = map->map (map->handle, settingsUri.c_str());
        chunkType = map->map (map->handle, LV2_ATOM__Chunk);
        legacyStateKey = map->map (map->handle, legacyStateUri.c_str());
        stringType = map->map (map->handle, LV2_ATOM__String);
    }

    for (size_t k = 0; k < lastKnobValues.size(); ++k)
        lastKnobValues[k].store (static_cast<float> (lv2Ports::knobs[k].defaultValue),
                                 std::memory_order_relaxed);
    scratch.reset (new float[static_cast<size_t> (ports.numChannels) * maxPieceSamples]());
}

Lv2Instance::~Lv2Instance()
{
    Lv2MessageLoop::onMessageThread ([this] { processor.reset(); });
}

void Lv2Instance::connect (std::uint32_t port, void* data) noexcept
{
    if (port < ports.firstKnob())
        audioPortsChanged = audioPortsChanged || data != connectedAudio (port);
    if (port < ports.audioOut (0))
        inputs[port - ports.audioIn (0)] = static_cast<const float*> (data);
    else if (port < ports.firstKnob())
        outputs[port - ports.audioOut (0)] = static_cast<float*> (data);
    else if (port < ports.enabled())
        knobPorts[port - ports.firstKnob()] = static_cast<const float*> (data);
    else if (port == ports.enabled())
        enabledPort = static_cast<const float*> (data);
    else if (port == ports.latency())
        latencyPort = static_cast<float*> (data);
    else if (port == ports.gainReduction())
        gainReductionPort = static_cast<float*> (data);
}

const void* Lv2Instance::connectedAudio (std::uint32_t port) const noexcept
{
    return port < ports.audioOut (0)
               ? static_cast<const void*> (inputs[port - ports.audioIn (0)])
               : static_cast<const void*> (outputs[port - ports.audioOut (0)]);
}

void Lv2Instance::activate()
{
    processor->prepareToPlay (sampleRate, maxPieceSamples);
    firstRunAfterActivate = true;
    restoredSinceActivate = false;
}

float Lv2Instance::lastKnobPortValue (int knob) const noexcept
{
    return lastKnobValues[static_cast<size_t> (knob)].load (std::memory_order_relaxed);
}

bool Lv2Instance::applyKnobPorts() noexcept
{
    bool changed = false;
    for (size_t k = 0; k < knobPorts.size(); ++k)
    {
        if (knobPorts[k] == nullptr)
            continue;
        const float value = *knobPorts[k];
        if (! knobsFromPorts
            && sameBits (value, lastKnobValues[k].load (std::memory_order_relaxed)))
            continue;

        lastKnobValues[k].store (value, std::memory_order_relaxed);
        const auto& knob = lv2Ports::knobs[k];
        const float normalised = lv2Ports::toNormalised (knob, value);
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        // The window sets the processor itself before its port write comes back through the
        // host; setting an Attack Time again would clear the limiter's detector once more.
        if (sameBits (normalised, processor->getParameter (knob.index)))
            continue;
        processor->setParameter (knob.index, normalised);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        changed = true;
    }
    knobsFromPorts = false;
    return changed;
}

void Lv2Instance::run (std::uint32_t numSamples) noexcept
{
    const bool changed = applyKnobPorts();
    if (firstRunAfterActivate && (changed || restoredSinceActivate))
        processor->prepareToPlay (sampleRate, maxPieceSamples);
    firstRunAfterActivate = false;
    restoredSinceActivate = false;

    // lv2:toggled: above zero is on.
    const bool enabled = enabledPort == nullptr || *enabledPort > 0.0f;

    // The processor works in place: in a channel's output buffer when the host gave it one of its
    // own, shared with no other output and no other channel's input, else in a scratch buffer
    // copied out afterwards (a host may connect the outputs it ignores to one buffer). The check
    // looks at every pair of channels, so it runs only after the host has connected an audio port
    // anew.
    if (audioPortsChanged)
    {
        for (size_t ch = 0; ch < outputs.size(); ++ch)
        {
            bool own = inputs[ch] != nullptr && outputs[ch] != nullptr;
            for (size_t other = 0; own && other < inputs.size(); ++other)
                own =
                    other == ch || (outputs[ch] != inputs[other] && outputs[ch] != outputs[other]);
            inPlace[ch] = own;
        }
        audioPortsChanged = false;
    }

    for (std::uint32_t offset = 0; offset < numSamples; offset += maxPieceSamples)
        processPiece (
            offset,
            static_cast<int> (std::min<std::uint32_t> (numSamples - offset, maxPieceSamples)),
            enabled);

    if (latencyPort != nullptr)
        *latencyPort = static_cast<float> (processor->getReportedLatency());
    if (gainReductionPort != nullptr)
        *gainReductionPort = enabled ? std::max (0.0f, processor->getGainReductionDb()) : 0.0f;
}

void Lv2Instance::processPiece (std::uint32_t offset, int numSamples, bool enabled) noexcept
{
    const int numChannels = static_cast<int> (ports.numChannels);
    float** channels = pieceChannels.data();
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const float* in = inputs[static_cast<size_t> (ch)];
        if (inPlace[static_cast<size_t> (ch)])
        {
            channels[ch] = outputs[static_cast<size_t> (ch)] + offset;
            if (channels[ch] != in + offset)
                std::copy_n (in + offset, numSamples, channels[ch]);
        }
        else
        {
            channels[ch] = scratch.get() + ch * maxPieceSamples;
            if (in != nullptr)
                std::copy_n (in + offset, numSamples, channels[ch]);
            else
                std::fill_n (channels[ch], numSamples, 0.0f);
        }
    }

    juce::AudioBuffer<float> buffer (channels, numChannels, numSamples);
    if (enabled)
        processor->processBlock (buffer, midi);
    else
        processor->processBlockBypassed (buffer, midi);

    for (int ch = 0; ch < numChannels; ++ch)
        if (auto* out = outputs[static_cast<size_t> (ch)];
            out != nullptr && ! inPlace[static_cast<size_t> (ch)])
            std::copy_n (channels[ch], numSamples, out + offset);
}

LV2_State_Status Lv2Instance::save (LV2_State_Store_Function store, LV2_State_Handle handle)
{
    if (map == nullptr)
        return LV2_STATE_ERR_NO_FEATURE;

    juce::MemoryBlock block;
    processor->getStateInformation (block);
    return store (handle,
                  settingsKey,
                  block.getData(),
                  block.getSize(),
                  chunkType,
                  LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status Lv2Instance::restore (LV2_State_Retrieve_Function retrieve,
                                       LV2_State_Handle handle)
{
    if (map == nullptr)
        return LV2_STATE_ERR_NO_FEATURE;

    size_t size = 0;
    std::uint32_t type = 0, flags = 0;
    const auto fits = [&size]
    { return size <= static_cast<size_t> (std::numeric_limits<int>::max()); };

    if (const void* data = retrieve (handle, settingsKey, &size, &type, &flags))
    {
        if (type != chunkType || ! fits())
            return LV2_STATE_ERR_BAD_TYPE;
        processor->setStateInformation (data, static_cast<int> (size));
        knobsFromPorts = restoredSinceActivate = true;
        return LV2_STATE_SUCCESS;
    }

    if (const void* data = retrieve (handle, legacyStateKey, &size, &type, &flags))
    {
        if (type != stringType || ! fits())
            return LV2_STATE_ERR_BAD_TYPE;
        juce::MemoryBlock block;
        block.fromBase64Encoding (
            juce::String::fromUTF8 (static_cast<const char*> (data), static_cast<int> (size)));
        processor->setStateInformation (block.getData(), static_cast<int> (block.getSize()));
        restoredSinceActivate = true;
        return LV2_STATE_SUCCESS;
    }

    // A preset of port values only: nothing here to restore.
    return LV2_STATE_SUCCESS;
}
