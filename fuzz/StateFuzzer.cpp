// Arbitrary bytes as the processor's saved state, as a damaged or hostile project would hand
// them over: restoring them must leave a processor that limits soundly and saves a document
// that reads back to the same settings.

#include "fuzz/FuzzChecks.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace fuzzChecks;

namespace
{
juce::MemoryBlock save (juce::AudioProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

void load (juce::AudioProcessor& processor, const juce::MemoryBlock& block)
{
    processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
}

// Saved texts keep 6 significant digits, which read back to the same text for every float that
// is normal or zero; subnormal values may lose digits on their first trip.
bool roundTripsExactly (float value)
{
    const int kind = std::fpclassify (value);
    return kind == FP_NORMAL || kind == FP_ZERO;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t> (INT_MAX))
        return 0;

    auto processor = createProcessor();
    processor->prepareToPlay (48000.0, 512);
    processor->setStateInformation (data, static_cast<int> (size));
    requireSoundAudio (*processor);

    const auto saved = save (*processor);
    auto restored = createProcessor();
    load (*restored, saved);
    const auto resaved = save (*restored);
    auto again = createProcessor();
    load (*again, resaved);
    require (save (*again) == resaved, "a saved document reads back to the same document");

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (int index = 0; index < CorvaneAudioProcessor::numParameters; ++index)
    {
        const float value = processor->getParameter (index);
        require (std::isfinite (value), "stored parameter values are finite");
        // Compared as numbers: "-0" reads back as 0.
        const auto savedText = processor->getParameterText (index);
        const auto readBack = restored->getParameterText (index);
        if (roundTripsExactly (value)
            && std::strtod (savedText.toRawUTF8(), nullptr)
                   != std::strtod (readBack.toRawUTF8(), nullptr))
        {
            std::fprintf (stderr,
                          "parameter %d: %s saved, %s read back\n",
                          index,
                          savedText.toRawUTF8(),
                          readBack.toRawUTF8());
            require (false, "a saved value reads back to the same six digits");
        }
    }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    require (processor->idxInputConfig.load() == restored->idxInputConfig.load(),
             "the input configuration reads back");

    restored->prepareToPlay (44100.0, 512);
    requireSoundAudio (*restored);
    return 0;
}
