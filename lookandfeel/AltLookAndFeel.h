#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The plug-in's house style: black combo boxes with white text, white gradient text buttons, the
    attack/release knob drawn from its film strip, fixed slider layouts and Roboto Regular for every
    default-font text.

    Holds no pictures: each paint fetches them from the image cache, which decodes each embedded
    picture once, in the density that suits the display (WindowPictures).
*/
class AltLookAndFeel : public juce::LookAndFeel_V3
{
public:
    AltLookAndFeel();

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font&) override;

    void drawButtonBackground (juce::Graphics&,
                               juce::Button&,
                               const juce::Colour& backgroundColour,
                               bool isMouseOverButton,
                               bool isButtonDown) override;
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;

    void drawComboBox (juce::Graphics&,
                       int width,
                       int height,
                       bool isButtonDown,
                       int buttonX,
                       int buttonY,
                       int buttonW,
                       int buttonH,
                       juce::ComboBox&) override;
    juce::Font getComboBoxFont (juce::ComboBox&) override;

    /** The base's drawing, from the version of the picture that suits the display (WindowPictures). */
    void drawImageButton (juce::Graphics&,
                          juce::Image*,
                          int imageX,
                          int imageY,
                          int imageW,
                          int imageH,
                          const juce::Colour& overlayColour,
                          float imageOpacity,
                          juce::ImageButton&) override;

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
    static void
    drawButtonShape (juce::Graphics&, const juce::Path& outline, juce::Colour base, float h);
};
