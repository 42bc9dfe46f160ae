// The LV2 window writes its knobs to the plug-in's control ports as floats in ms and dB; the
// plug-in turns a port value back into the processor's normalised value. For every position a
// knob can take, that must be the very value the window itself gave the processor, or a knob
// turned in the LV2 window would set the processor twice, with two different values.

#include "editor/CorvaneAudioProcessorEditor.h"
#include "plugin/lv2/Lv2Ports.h"
#include "processor/CorvaneAudioProcessor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

TEST (Lv2KnobPorts, EveryKnobStepComesBackAsTheNormalisedValueTheWindowSent)
{
    CorvaneAudioProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
    const char* names[] = { "sliderAttack", "sliderRelease", "sliderThreshold", "sliderGain" };

    for (size_t k = 0; k < lv2Ports::knobs.size(); ++k)
    {
        const auto& knob = lv2Ports::knobs[k];
        juce::Slider* slider = nullptr;
        for (auto* child : editor->getChildren())
            if (child->getName() == names[k])
                slider = dynamic_cast<juce::Slider*> (child);
        ASSERT_NE (slider, nullptr) << names[k];

        int steps = 0, mismatches = 0;
        for (double raw = knob.minimum; raw <= knob.maximum + knob.step / 2;
             raw += knob.step, ++steps)
        {
            // The slider snaps the value itself; its listener, the window, sets the processor.
            slider->setValue (raw, juce::sendNotificationSync);
            JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
            const float sent = processor.getParameter (knob.index);
            JUCE_END_IGNORE_WARNINGS_GCC_LIKE
            const float back =
                lv2Ports::toNormalised (knob, static_cast<float> (slider->getValue()));
            if (std::memcmp (&sent, &back, sizeof sent) != 0 && ++mismatches <= 3)
                ADD_FAILURE() << knob.name << " at " << slider->getValue() << ": the window sent "
                              << sent << ", the port gives back " << back;
        }
        EXPECT_EQ (mismatches, 0) << knob.name << ", of " << steps << " steps";
    }
}
