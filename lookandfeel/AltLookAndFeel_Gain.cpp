#include "lookandfeel/AltLookAndFeel_Gain.h"

#include "OrvalisResources.h"
#include "lookandfeel/WindowPictures.h"

void AltLookAndFeel_Gain::drawRotarySlider (juce::Graphics& g,
                                            int,
                                            int,
                                            int width,
                                            int,
                                            float sliderPosProportional,
                                            float,
                                            float,
                                            juce::Slider&)
{
    // Rounding down keeps the last frame, the full sweep, for exactly +60 dB.
    const int frame = static_cast<int> (std::floor (sliderPosProportional * 126.0f));

    const auto strip = windowPictures::load (OrvalisResources::bouton_G_70x70_png,
                                             OrvalisResources::bouton_G_70x70_pngSize);
    windowPictures::draw (g, strip, 0, 0, width, 70, 0, frame * 70, 70, 70);
}

juce::Slider::SliderLayout AltLookAndFeel_Gain::getSliderLayout (juce::Slider&)
{
    juce::Slider::SliderLayout layout;
    layout.sliderBounds = { 0, 0, 70, 70 };
    layout.textBoxBounds = { 73, 7, 41, 15 };
    return layout;
}
