// Arbitrary bytes as the settings file given to orvalis-render with --settings: the file is
// either refused with a reason or applied, and then the knobs it leaves are within their
// ranges and the processor limits soundly.

#include "fuzz/FuzzChecks.h"
#include "processor/Parameters.h"
#include "render/RenderSettings.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

using namespace fuzzChecks;

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    // As File::loadFileAsString reads the file.
    juce::MemoryInputStream stream (data, size, false);
    const auto text = stream.readEntireStreamAsString();

    SettingsDocument document;
    juce::StringArray warnings;
    if (const auto problem = SettingsDocument::parse (text, document, warnings))
    {
        require (problem->isNotEmpty() && document.xml == nullptr,
                 "a refused document gives a reason and no element");
        return 0;
    }
    require (document.xml != nullptr, "an accepted document has an element");

    auto processor = createProcessor();
    const RenderOptions noKnobsGiven;
    auto knobs = applySettings (*processor, noKnobsGiven, &document, warnings);
    processor->prepareToPlay (48000.0, 512);
    knobs.attackMs = lookaheadMsInForce (*processor, knobs.attackMs);

    const auto withinRange = [] (parameters::Index index, float value, const char* what)
    {
        const auto& knob = parameters::knob (index);
        if (! (value >= knob.minimum && value <= knob.maximum))
        {
            const auto message = juce::String (what) + " is within " + knob.rangeText;
            require (false, message.toRawUTF8());
        }
    };
    withinRange (parameters::inputGain, knobs.gainDb, "the input gain");
    withinRange (parameters::attackTime, knobs.attackMs, "the attack");
    withinRange (parameters::releaseTime, knobs.releaseMs, "the release");
    withinRange (parameters::maxPeakLevel, knobs.ceilingDb, "the ceiling");
    require (std::isfinite (knobs.linearGain()) && knobs.linearGain() >= 1.0f,
             "the linear input gain is finite and at least 1");

    requireSoundAudio (*processor);
    return 0;
}
