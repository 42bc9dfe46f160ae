#include "lookandfeel/AltLookAndFeel_transparentButton.h"

void AltLookAndFeel_transparentButton::drawButtonBackground (
    juce::Graphics&, juce::Button&, const juce::Colour&, bool, bool)
{
}
