#pragma once

#include "lookandfeel/AltLookAndFeel.h"

/** The input-gain knob: a 70-pixel frame of its own film strip, drawn unscaled. */
class AltLookAndFeel_Gain : public AltLookAndFeel
{
public:
    void drawRotarySlider (juce::Graphics&,
                           int x,
                           int y,
                           int width,
                           int height,
                           float sliderPosProportional,
                           float rotaryStartAngle,
                           float rotaryEndAngle,
                           juce::Slider&) override;
    juce::Slider::SliderLayout getSliderLayout (juce::Slider&) override;
};
