#include "lookandfeel/AltLookAndFeel_MaxPeak.h"

#include "OrvalisResources.h"
#include "lookandfeel/WindowPictures.h"

void AltLookAndFeel_MaxPeak::drawLinearSlider (juce::Graphics& g,
                                               int,
                                               int,
                                               int width,
                                               int,
                                               float sliderPos,
                                               float,
                                               float,
                                               juce::Slider::SliderStyle,
                                               juce::Slider&)
{
    drawFader (g, width, static_cast<int> (sliderPos));
}

void AltLookAndFeel_MaxPeak::drawRotarySlider (juce::Graphics& g,
                                               int,
                                               int,
                                               int width,
                                               int height,
                                               float sliderPosProportional,
                                               float,
                                               float,
                                               juce::Slider&)
{
    const int handleY =
        static_cast<int> ((1.0f - sliderPosProportional) * static_cast<float> (height));
    drawFader (g, width, handleY);
}

void AltLookAndFeel_MaxPeak::drawFader (juce::Graphics& g, int width, int handleY)
{
    // The band hangs from 6 pixels below the top down to the handle's middle row; at the top of
    // the range it has no height and draws nothing.
    const auto band = windowPictures::load (OrvalisResources::bandeBleue_png,
                                            OrvalisResources::bandeBleue_pngSize);
    windowPictures::draw (g, band, 8, 6, width, handleY, 0, 0, band.getWidth(), band.getHeight());

    const auto handle = windowPictures::load (OrvalisResources::Bouton_maxpeak_png,
                                              OrvalisResources::Bouton_maxpeak_pngSize);
    windowPictures::draw (g,
                          handle,
                          0,
                          handleY,
                          handle.getWidth(),
                          handle.getHeight(),
                          0,
                          0,
                          handle.getWidth(),
                          handle.getHeight());
}

juce::Slider::SliderLayout AltLookAndFeel_MaxPeak::getSliderLayout (juce::Slider&)
{
    juce::Slider::SliderLayout layout;
    layout.sliderBounds = { 10, 0, 27, 81 };
    layout.textBoxBounds = { 0, 122, 41, 15 };
    return layout;
}
