#pragma once

#include "lookandfeel/AltLookAndFeel.h"

/**
    The max-peak control drawn as a vertical fader: a striped band from the top of the track down
    to a glossy handle. Rotary and linear sliders look the same.
*/
class AltLookAndFeel_MaxPeak : public AltLookAndFeel
{
public:
    void drawLinearSlider (juce::Graphics&,
                           int x,
                           int y,
                           int width,
                           int height,
                           float sliderPos,
                           float minSliderPos,
                           float maxSliderPos,
                           juce::Slider::SliderStyle,
                           juce::Slider&) override;
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

private:
    static void drawFader (juce::Graphics&, int width, int handleY);
};
