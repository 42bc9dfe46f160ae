#include "lookandfeel/AltLookAndFeel.h"

#include "OrvalisResources.h"
#include "lookandfeel/WindowPictures.h"

AltLookAndFeel::AltLookAndFeel()
{
    const auto lightCyan = juce::Colour (0xf65ec5da).withAlpha (0.75f);

    setColour (juce::ComboBox::backgroundColourId, juce::Colour (0xff000000));
    setColour (juce::ComboBox::buttonColourId, juce::Colour (0xff000000));
    setColour (juce::ComboBox::outlineColourId, juce::Colour (0xfff5f5f5));
    setColour (juce::ComboBox::arrowColourId, juce::Colour (0xffffffff));
    setColour (juce::ComboBox::textColourId, juce::Colour (0xffffffff));
    setColour (juce::PopupMenu::highlightedBackgroundColourId, lightCyan);
    setColour (juce::TextEditor::focusedOutlineColourId, lightCyan);
    setColour (juce::TextButton::buttonColourId, juce::Colour (0xffffffff));
    setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xffffffff));
    setColour (juce::TextButton::textColourOnId, juce::Colour (0xffffffff));
    setColour (juce::TextButton::textColourOffId, juce::Colour (0xffffffff));
}

juce::Typeface::Ptr AltLookAndFeel::getTypefaceForFont (const juce::Font& font)
{
    // Bold and italic requests get the regular face too: it is the only one embedded.
    if (font.getTypefaceName() == juce::Font::getDefaultSansSerifFontName())
        return juce::Typeface::createSystemTypefaceFor (
            OrvalisResources::RobotoRegular_ttf,
            static_cast<size_t> (OrvalisResources::RobotoRegular_ttfSize));

    return juce::LookAndFeel::getTypefaceForFont (font);
}

void AltLookAndFeel::drawButtonBackground (juce::Graphics& g,
                                           juce::Button& button,
                                           const juce::Colour& backgroundColour,
                                           bool isMouseOverButton,
                                           bool isButtonDown)
{
    const float alphaFactor = button.isEnabled() ? 0.9f : 0.5f;
    const float saturationFactor = button.hasKeyboardFocus (true) ? 1.3f : 0.9f;

    auto base = backgroundColour.withMultipliedSaturation (saturationFactor)
                    .withMultipliedAlpha (alphaFactor);

    if (isButtonDown)
        base = base.contrasting (0.2f);
    else if (isMouseOverButton)
        base = base.contrasting (0.1f);

    const float w = static_cast<float> (button.getWidth()) - 1.0f;
    const float h = static_cast<float> (button.getHeight()) - 1.0f;

    if (w > 0.0f && h > 0.0f)
    {
        const bool left = button.isConnectedOnLeft();
        const bool right = button.isConnectedOnRight();
        const bool top = button.isConnectedOnTop();
        const bool bottom = button.isConnectedOnBottom();

        juce::Path outline;
        outline.addRoundedRectangle (0.5f,
                                     0.5f,
                                     w,
                                     h,
                                     4.0f,
                                     4.0f,
                                     ! (left || top),
                                     ! (right || top),
                                     ! (left || bottom),
                                     ! (right || bottom));
        drawButtonShape (g, outline, base, h);
    }

    if (button.getToggleState())
    {
        g.setColour (juce::Colours::red.withAlpha (0.9f));
        g.drawRect (0, 0, button.getWidth(), button.getHeight(), 1);
    }
}

void AltLookAndFeel::drawButtonShape (juce::Graphics& g,
                                      const juce::Path& outline,
                                      juce::Colour base,
                                      float h)
{
    const float brightness = base.getBrightness();
    const float alpha = base.getFloatAlpha();

    g.setGradientFill (juce::ColourGradient (
        base.brighter (0.2f), 0.0f, 0.0f, base.darker (0.25f), 0.0f, h, false));
    g.fillPath (outline);

    g.setColour (juce::Colours::white.withAlpha (0.4f * alpha * brightness * brightness));
    g.strokePath (outline,
                  juce::PathStrokeType (1.0f),
                  juce::AffineTransform::translation (0.0f, 1.0f).scaled (1.0f, (h - 1.6f) / h));

    g.setColour (juce::Colour (0xffffffff));
    g.strokePath (outline, juce::PathStrokeType (1.0f));
}

juce::Font AltLookAndFeel::getTextButtonFont (juce::TextButton&, int)
{
    return juce::Font (14.0f);
}

void AltLookAndFeel::drawComboBox (juce::Graphics& g,
                                   int width,
                                   int height,
                                   bool,
                                   int buttonX,
                                   int buttonY,
                                   int buttonW,
                                   int buttonH,
                                   juce::ComboBox& box)
{
    g.fillAll (box.findColour (juce::ComboBox::backgroundColourId));

    g.setColour (box.findColour (juce::ComboBox::outlineColourId));
    g.drawRect (0, 0, width, height, 1);

    const float bx = static_cast<float> (buttonX);
    const float by = static_cast<float> (buttonY);
    const float bw = static_cast<float> (buttonW);
    const float bh = static_cast<float> (buttonH);

    juce::Path arrows;
    arrows.addTriangle (bx + bw * 0.5f,
                        by + bh * 0.25f,
                        bx + bw * 0.7f,
                        by + bh * 0.45f,
                        bx + bw * 0.3f,
                        by + bh * 0.45f);
    arrows.addTriangle (bx + bw * 0.5f,
                        by + bh * 0.75f,
                        bx + bw * 0.7f,
                        by + bh * 0.55f,
                        bx + bw * 0.3f,
                        by + bh * 0.55f);

    g.setColour (box.findColour (juce::ComboBox::arrowColourId).withMultipliedAlpha (0.7f));
    g.fillPath (arrows);
}

juce::Font AltLookAndFeel::getComboBoxFont (juce::ComboBox&)
{
    return juce::Font (14.0f);
}

void AltLookAndFeel::drawImageButton (juce::Graphics& g,
                                      juce::Image* image,
                                      int imageX,
                                      int imageY,
                                      int imageW,
                                      int imageH,
                                      const juce::Colour& overlayColour,
                                      float imageOpacity,
                                      juce::ImageButton& button)
{
    // The base fits the whole image into the button's area, so a larger version lands on the same
    // pixels as the picture itself.
    auto version = windowPictures::versionFor (*image, windowPictures::scaleOf (g));
    LookAndFeel_V3::drawImageButton (
        g, &version.image, imageX, imageY, imageW, imageH, overlayColour, imageOpacity, button);
}

void AltLookAndFeel::drawRotarySlider (
    juce::Graphics& g, int, int, int, int, float sliderPosProportional, float, float, juce::Slider&)
{
    // Rounding up shows frame 0 only at exactly zero, so any attack above 0 ms looks switched on.
    const int frame = static_cast<int> (std::ceil (sliderPosProportional * 126.0f));

    const auto strip = windowPictures::load (OrvalisResources::bouton_AW_70x70_png,
                                             OrvalisResources::bouton_AW_70x70_pngSize);
    windowPictures::draw (g, strip, 0, 0, 48, 48, 5, frame * 70 + 5, 60, 60);
}

juce::Slider::SliderLayout AltLookAndFeel::getSliderLayout (juce::Slider&)
{
    juce::Slider::SliderLayout layout;
    layout.sliderBounds = { 0, 0, 48, 48 };
    layout.textBoxBounds = { 56, 6, 55, 15 };
    return layout;
}
