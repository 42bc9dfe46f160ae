#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The translucent blue bar that marks the max-peak level across the output meters. */
class BlueLine : public juce::Component
{
public:
    BlueLine();

    void paint (juce::Graphics&) override;
    void resized() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BlueLine)
};
