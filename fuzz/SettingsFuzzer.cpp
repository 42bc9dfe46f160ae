// Arbitrary bytes as the settings file given to orvalis-render with --settings: the file is
// either refused with a reason or applied, and then the knobs it leaves are within their
// ranges and the processor limits soundly.

#include "fuzz/FuzzChecks.h"
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

    require (knobs.gainDb >= 0.0f && knobs.gainDb <= 60.0f, "the input gain is within 0..60 dB");
    require (knobs.attackMs >= 0.0f && knobs.attackMs <= 40.0f, "the attack is within 0..40 ms");
    require (knobs.releaseMs >= 0.0f && knobs.releaseMs <= 1000.0f,
             "the release is within 0..1000 ms");
    require (knobs.ceilingDb >= -10.0f && knobs.ceilingDb <= 10.0f,
             "the ceiling is within -10..+10 dB");
    require (std::isfinite (knobs.linearGain()) && knobs.linearGain() >= 1.0f,
             "the linear input gain is finite and at least 1");

    requireSoundAudio (*processor);
    return 0;
}
