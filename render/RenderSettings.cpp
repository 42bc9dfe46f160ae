#include "render/RenderSettings.h"

#include "processor/CorvaneAudioProcessor.h"
#include "processor/SettingsCodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace
{
constexpr int attackIndex = CorvaneAudioProcessor::paramAttackTime;
constexpr int releaseIndex = CorvaneAudioProcessor::paramReleaseTime;
constexpr int ceilingIndex = CorvaneAudioProcessor::paramMaxPeakLevel;
constexpr int gainIndex = CorvaneAudioProcessor::paramInputGain;

// The plug-in's index-based parameter calls; JUCE 7 marks them deprecated.
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
void setKnobs (juce::AudioProcessor& processor, const RenderOptions& options, bool keepUnset)
{
    // A double quotient passed as float, as the plug-in's window converts its knobs.
    const auto set = [&] (int index,
                          const std::optional<double>& value,
                          double fallback,
                          double offset,
                          double span)
    {
        if (value.has_value() || ! keepUnset)
            processor.setParameter (
                index, static_cast<float> ((value.value_or (fallback) + offset) / span));
    };
    set (gainIndex, options.gainDb, 0.0, 0.0, 60.0);
    set (attackIndex, options.attackMs, 1.0, 0.0, 40.0);
    set (releaseIndex, options.releaseMs, 20.0, 0.0, 1000.0);
    set (ceilingIndex, options.ceilingDb, 0.0, 10.0, 20.0);
}

std::array<float, 4> readNormalised (juce::AudioProcessor& processor)
{
    return { processor.getParameter (0),
             processor.getParameter (1),
             processor.getParameter (2),
             processor.getParameter (3) };
}
JUCE_END_IGNORE_WARNINGS_GCC_LIKE

float clampedToRange (float normalised)
{
    return std::clamp (normalised, 0.0f, 1.0f);
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
        // The text itself in the state block's layout (magic, length, text, zero byte), not the
        // parsed document written out again: JUCE 7.0.5's single-line writer (copyXmlToBinary)
        // crashes on an element that follows text and has elements inside (found by fuzzing).
        const auto* utf8 = document->text.toRawUTF8();
        const auto length = static_cast<juce::uint32> (std::strlen (utf8));
        juce::MemoryBlock state;
        {
            juce::MemoryOutputStream out (state, false);
            out.writeInt (0x21324356);
            out.writeInt (static_cast<int> (length));
            out.write (utf8, length);
            out.writeByte (0);
        }
        processor.setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    }
    setKnobs (processor, options, restored);
    auto* corvane = dynamic_cast<CorvaneAudioProcessor*> (&processor);
    if (corvane != nullptr && options.truePeak.has_value())
        corvane->setTruePeakMode (*options.truePeak);

    const auto normalised = readNormalised (processor);
    const char* const names[] = { "Attack Time", "Release Time", "Max Peak Level", "Input Gain" };
    for (size_t i = 0; i < normalised.size(); ++i)
        if (! (normalised[i] >= 0.0f && normalised[i] <= 1.0f))
            warnings.add (juce::String (names[i]) + " is " + juce::String (normalised[i])
                          + (i == attackIndex && normalised[i] > 1.0f
                                 ? ", above 1; the processor keeps its previous look-ahead"
                                 : ", outside 0..1; the processor applies the nearest end"));

    // The plug-in's own mappings, in single precision, on the values it applies.
    KnobSettings knobs;
    knobs.gainDb = 60.0f * clampedToRange (normalised[gainIndex]);
    knobs.attackMs = 40.0f * clampedToRange (normalised[attackIndex]);
    knobs.releaseMs = 1000.0f * clampedToRange (normalised[releaseIndex]);
    knobs.ceilingDb = 20.0f * clampedToRange (normalised[ceilingIndex]) - 10.0f;
    knobs.truePeak = corvane != nullptr && corvane->isTruePeakMode();
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
    return fallback;
}
