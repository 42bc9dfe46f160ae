#include "render/RenderSettings.h"

#include "processor/CorvaneAudioProcessor.h"
#include "processor/SettingsCodec.h"
#include "render/MultichannelProcessor.h"

#include <algorithm>
#include <array>

namespace
{
using parameters::knob;

// The plug-in's index-based parameter calls; JUCE 7 marks them deprecated.
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
void setKnobs (juce::AudioProcessor& processor, const RenderOptions& options, bool keepUnset)
{
    // In the document's order, as the renderer has always set them; each value as the plug-in's
    // window converts its knob (a double quotient passed as float).
    for (const auto index : parameters::stateOrder)
    {
        const auto& value = options.knobValues[static_cast<size_t> (index)];
        if (value.has_value() || ! keepUnset)
            processor.setParameter (
                index, knob (index).toNormalised (value.value_or (knob (index).defaultValue)));
    }
}

std::array<float, parameters::numKnobs> readNormalised (juce::AudioProcessor& processor)
{
    std::array<float, parameters::numKnobs> normalised {};
    for (const auto& k : parameters::knobs)
        normalised[static_cast<size_t> (k.index)] = processor.getParameter (k.index);
    return normalised;
}
JUCE_END_IGNORE_WARNINGS_GCC_LIKE

/** A knob's value in its unit as the processor applies a normalised value: the nearest end of the
    range for a value outside it. */
float appliedValue (parameters::Index index,
                    const std::array<float, parameters::numKnobs>& normalised)
{
    return knob (index).toUnit (std::clamp (normalised[static_cast<size_t> (index)], 0.0f, 1.0f));
}
} // namespace

KnobSettings applySettings (juce::AudioProcessor& processor,
                            const RenderOptions& options,
                            const SettingsDocument* document,
                            juce::StringArray& warnings)
{
    const bool restored = document != nullptr && document->xml != nullptr;
    if (restored)
    {
        // The text itself in the state block's layout, not the parsed document written out
        // again: JUCE 7.0.5's single-line writer (copyXmlToBinary) crashes on an element that
        // follows text and has elements inside (found by fuzzing).
        const auto state = SettingsCodec::wrap (document->text);
        processor.setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    }
    setKnobs (processor, options, restored);
    auto* corvane = dynamic_cast<CorvaneAudioProcessor*> (&processor);
    auto* multichannel = dynamic_cast<MultichannelProcessor*> (&processor);
    if (options.truePeak.has_value())
    {
        if (corvane != nullptr)
            corvane->setTruePeakMode (*options.truePeak);
        if (multichannel != nullptr)
            multichannel->setTruePeakMode (*options.truePeak);
    }

    const auto normalised = readNormalised (processor);
    for (const auto& k : parameters::knobs)
    {
        const float value = normalised[static_cast<size_t> (k.index)];
        if (! (value >= 0.0f && value <= 1.0f))
            warnings.add (juce::String (k.name) + " is " + juce::String (value)
                          + (k.index == parameters::attackTime && value > 1.0f
                                 ? ", above 1; the processor keeps its previous look-ahead"
                                 : ", outside 0..1; the processor applies the nearest end"));
    }

    // The plug-in's own mappings, in single precision, on the values it applies.
    KnobSettings knobs;
    knobs.gainDb = appliedValue (parameters::inputGain, normalised);
    knobs.attackMs = appliedValue (parameters::attackTime, normalised);
    knobs.releaseMs = appliedValue (parameters::releaseTime, normalised);
    knobs.ceilingDb = appliedValue (parameters::maxPeakLevel, normalised);
    knobs.truePeak = (corvane != nullptr && corvane->isTruePeakMode())
                     || (multichannel != nullptr && multichannel->isTruePeakMode());
    return knobs;
}

juce::String modeName (bool truePeak)
{
    return truePeak ? "true-peak" : "sample-peak";
}

bool selectsTruePeak (const RenderOptions& options, const SettingsDocument& document)
{
    if (options.truePeak.has_value())
        return *options.truePeak;
    return document.xml != nullptr && SettingsCodec::selectsTruePeak (*document.xml);
}

float lookaheadMsInForce (juce::AudioProcessor& processor, float fallback)
{
    if (auto* corvane = dynamic_cast<CorvaneAudioProcessor*> (&processor))
        if (corvane->limiter != nullptr)
            return corvane->limiter->getLookaheadMs();
    if (auto* multichannel = dynamic_cast<MultichannelProcessor*> (&processor))
        return multichannel->limiter->getLookaheadMs();
    return fallback;
}
