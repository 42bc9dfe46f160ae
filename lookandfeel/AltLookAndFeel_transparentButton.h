#pragma once

#include "lookandfeel/AltLookAndFeel.h"

/** Text buttons without any background or toggle frame: invisible click areas and bare captions. */
class AltLookAndFeel_transparentButton : public AltLookAndFeel
{
public:
    void drawButtonBackground (juce::Graphics&,
                               juce::Button&,
                               const juce::Colour& backgroundColour,
                               bool isMouseOverButton,
                               bool isButtonDown) override;
};
