#include "fuzz/FuzzChecks.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
// Shuts JUCE's GUI classes down at exit, before JUCE's leak detector counts what is left.
struct JuceGuiShutdown
{
    ~JuceGuiShutdown() { juce::shutdownJuce_GUI(); }
};
} // namespace

// Once, before the first input: JUCE's GUI classes are initialised as a host initialises them,
// and one processor is run so that the desktop it creates exists before the object that shuts
// it down at exit (statics are destroyed in the reverse order of their construction, and JUCE's
// leak counters are statics made with the first object of each class).
extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    juce::initialiseJuce_GUI();
    {
        auto processor = fuzzChecks::createProcessor();
        processor->prepareToPlay (48000.0, 512);
        fuzzChecks::requireSoundAudio (*processor);
        juce::MemoryBlock state;
        processor->getStateInformation (state);
        processor->setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    }
    static JuceGuiShutdown shutdown;
    return 0;
}

namespace fuzzChecks
{
void require (bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf (stderr, "requirement failed: %s\n", what);
    std::abort();
}

std::unique_ptr<CorvaneAudioProcessor> createProcessor()
{
    std::unique_ptr<juce::AudioProcessor> created (createPluginFilter());
    auto* processor = dynamic_cast<CorvaneAudioProcessor*> (created.get());
    require (processor != nullptr, "createPluginFilter makes a CorvaneAudioProcessor");
    created.release();
    return std::unique_ptr<CorvaneAudioProcessor> (processor);
}

void requireSoundAudio (CorvaneAudioProcessor& processor)
{
    const auto& ceilingKnob = parameters::knob (parameters::maxPeakLevel);
    const float lowestCeiling = parameters::decibelsToGain (ceilingKnob.minimum);
    const float highestCeiling = parameters::decibelsToGain (ceilingKnob.maximum);
    constexpr float highestMeter = 1.00001f;

    juce::AudioBuffer<float> buffer (4, 512);
    juce::MidiBuffer midi;
    std::uint32_t state = 0x12345678u; // xorshift32: the same noise for every input
    for (int block = 0; block < 3; ++block)
    {
        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                buffer.setSample (ch, i, static_cast<float> (state) / 1073741824.0f - 2.0f);
            }

        processor.processBlock (buffer, midi);

        // The processor hands its settings to the limiter at the start of a block.
        const float ceiling = processor.limiter->getCeiling();
        require (ceiling >= lowestCeiling && ceiling <= highestCeiling,
                 "the ceiling lies within the Max Peak Level's range");
        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                const float y = buffer.getSample (ch, i);
                require (std::isfinite (y), "every output sample is finite");
                require (std::abs (y) <= ceiling, "every output sample is within the ceiling");
            }
        for (auto& meter : processor.meterLevels)
        {
            const float level = meter.load();
            require (std::isfinite (level) && level >= 0.0f && level <= highestMeter,
                     "every meter is finite and within 0..1.00001");
        }
    }
}
} // namespace fuzzChecks
