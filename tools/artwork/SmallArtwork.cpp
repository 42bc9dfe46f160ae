#include "Artwork.h"

#include "editor/HoaMeterLayout.h"

#include <cmath>

// The small pictures: the meters' lit pictures, the max-peak band and handle, the gear and the
// channel-order captions. The meters and the band have exactly specified colours, so they are
// written pixel by pixel; the rest is drawn.
namespace artwork
{
namespace
{
    juce::Colour lerp (juce::Colour a, juce::Colour b, float t)
    {
        auto channel = [t] (juce::uint8 x, juce::uint8 y)
        {
            return static_cast<juce::uint8> (juce::roundToInt (
                static_cast<float> (x) + (static_cast<float> (y) - static_cast<float> (x)) * t));
        };
        return juce::Colour (channel (a.getRed(), b.getRed()),
                             channel (a.getGreen(), b.getGreen()),
                             channel (a.getBlue(), b.getBlue()));
    }

    Picture paintCaption (const Fonts& fonts, const juce::StringArray& letters)
    {
        // Each letter is centred between the input meters (caption offset 2) and the output
        // meters (offset 1), at 19 to 20 pixel pitch; capitals 7 pixels tall on a whole-pixel
        // baseline, with a faint shadow one row below.
        constexpr float centres[] = { 6.5f, 25.5f, 45.5f, 64.5f };
        const auto font = fontWithCapHeight (fonts.medium, 7.0f);

        Canvas c (69, 9);
        auto& g = c.graphics();
        for (int i = 0; i < 4; ++i)
        {
            auto letter = placeText (textPath (font, letters[i]),
                                     centres[i],
                                     8.0f,
                                     juce::Justification::horizontallyCentred);
            // Whole-pixel left edges keep the strokes as sharp as the letter allows.
            const float left = letter.getBounds().getX();
            letter.applyTransform (
                juce::AffineTransform::translation (std::round (left) - left, 0.0f));
            g.setColour (juce::Colours::black.withAlpha (0.55f));
            g.fillPath (letter, juce::AffineTransform::translation (0.0f, 1.0f));
            g.setColour (juce::Colours::white);
            g.fillPath (letter);
        }
        return c.reduce();
    }
} // namespace

Picture paintMaxPeakBand (const Fonts&)
{
    Picture p (27, 250, true);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.setPixel (x,
                        y,
                        x % 2 == 0
                            ? juce::Colour (62, 104, 194).withAlpha (static_cast<juce::uint8> (168))
                            : juce::Colours::transparentBlack);
    return p;
}

namespace
{
    Picture inputMeterOfWidth (int width)
    {
        Picture p (width, 143, false);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
            {
                const bool edgeX = x == 0 || x == p.width - 1;
                const bool edgeY = y == 0 || y == p.height - 1;
                p.setPixel (x,
                            y,
                            edgeX && edgeY   ? juce::Colour (84, 194, 73)
                            : edgeX || edgeY ? juce::Colour (70, 209, 55)
                                             : juce::Colour (59, 240, 40));
            }
        return p;
    }

    Picture outputMeterOfWidth (int width)
    {
        const juce::Colour red (255, 1, 1), orange (253, 128, 50), yellow (252, 244, 95);
        const juce::Colour yellowGreen (251, 255, 99), green (59, 240, 40);

        Picture p (width, 163, false);
        for (int y = 0; y < p.height; ++y)
        {
            juce::Colour c = green;
            if (y <= 40)
                c = red;
            else if (y <= 42)
                c = lerp (red, orange, static_cast<float> (y - 40) / 2.0f);
            else if (y <= 50)
                c = lerp (orange, yellow, static_cast<float> (y - 42) / 8.0f);
            else if (y <= 125)
                c = lerp (yellowGreen, green, static_cast<float> (y - 51) / 74.0f);

            for (int x = 0; x < p.width; ++x)
                p.setPixel (x, y, c);
        }
        return p;
    }
} // namespace

Picture paintInputMeter (const Fonts&)
{
    return inputMeterOfWidth (10);
}

Picture paintOutputMeter (const Fonts&)
{
    return outputMeterOfWidth (10);
}

Picture paintNarrowInputMeter (const Fonts&)
{
    return inputMeterOfWidth (hoaMeters::trackWidth);
}

Picture paintNarrowOutputMeter (const Fonts&)
{
    return outputMeterOfWidth (hoaMeters::trackWidth);
}

Picture paintOrderCaptions (const Fonts& fonts)
{
    // One row per order, 1 to 7: "3RD ORDER · 16 CH", set like TRUE PEAK, in the captions' grey.
    constexpr int rows = hoaMeters::numTracks - 1;
    Canvas c (hoaMeters::captionWidth, hoaMeters::captionHeight * rows);
    auto& g = c.graphics();
    const auto font = fontWithCapHeight (fonts.medium, 5.5f);
    const char* suffixes[] = { "ST", "ND", "RD", "TH", "TH", "TH", "TH" };
    for (int row = 0; row < rows; ++row)
    {
        const int order = row + 1;
        const juce::String text = juce::String (order) + suffixes[row] + " ORDER "
                                  + juce::String (juce::CharPointer_UTF8 ("\xc2\xb7")) + " "
                                  + juce::String ((order + 1) * (order + 1)) + " CH";
        const auto line = placeText (textPath (font, text, 1.1f),
                                     0.5f * static_cast<float> (hoaMeters::captionWidth),
                                     static_cast<float> (hoaMeters::captionHeight * row + 7),
                                     juce::Justification::horizontallyCentred);
        g.setColour (juce::Colours::black.withAlpha (0.55f));
        g.fillPath (line, juce::AffineTransform::translation (0.0f, 1.0f));
        g.setColour (juce::Colour (0xffc6c9ce));
        g.fillPath (line);
    }
    return c.reduce();
}

Picture paintOrderDigits (const Fonts& fonts)
{
    // The order meters' numbers 0 to 7 in white, one per track pitch, each centred where its
    // track's centre falls when the picture's left edge lies on the first track's.
    Canvas c (hoaMeters::pitch * hoaMeters::numTracks, hoaMeters::captionHeight);
    auto& g = c.graphics();
    for (int order = 0; order < hoaMeters::numTracks; ++order)
    {
        const auto label = hoaMeterLabel (fonts,
                                          juce::String (order),
                                          static_cast<float> (hoaMeters::pitch * order)
                                              + 0.5f * hoaMeters::trackWidth,
                                          8.0f);
        g.setColour (juce::Colours::black.withAlpha (0.55f));
        g.fillPath (label, juce::AffineTransform::translation (0.0f, 1.0f));
        g.setColour (juce::Colours::white);
        g.fillPath (label);
    }
    return c.reduce();
}

Picture paintMaxPeakHandle (const Fonts&)
{
    // A 35 x 5 glossy bar with round ends, centred in a soft shadow that fills the picture.
    const juce::Rectangle<float> bar (4.0f, 4.0f, 35.0f, 5.0f);
    juce::Path shape;
    shape.addRoundedRectangle (bar, 2.0f);

    Canvas c (43, 13);
    auto& g = c.graphics();
    juce::Path shadowShape;
    shadowShape.addRoundedRectangle (bar.expanded (1.5f, 1.2f), 3.5f);
    drawShadow (c, shadowShape, juce::Colours::black.withAlpha (0.95f), 1.5f, { 0.0f, 0.6f });

    juce::ColourGradient body (juce::Colour (0xff9fd0ff),
                               0.0f,
                               bar.getY(),
                               juce::Colour (0xff0f3f8f),
                               0.0f,
                               bar.getBottom(),
                               false);
    body.addColour (0.45, juce::Colour (0xff3c8ef0));
    body.addColour (0.55, juce::Colour (0xff2369d0));
    g.setGradientFill (body);
    g.fillPath (shape);

    // Specular strip along the top and a faint rim light on the bottom edge.
    g.setGradientFill (juce::ColourGradient (juce::Colours::white.withAlpha (0.85f),
                                             0.0f,
                                             bar.getY(),
                                             juce::Colours::white.withAlpha (0.0f),
                                             0.0f,
                                             bar.getY() + 2.2f,
                                             false));
    juce::Path gloss;
    gloss.addRoundedRectangle (
        bar.getX() + 1.5f, bar.getY() + 0.3f, bar.getWidth() - 3.0f, 2.0f, 1.0f);
    g.fillPath (gloss);
    g.setColour (juce::Colour (0x6680c8ff));
    g.fillRect (bar.getX() + 2.5f, bar.getBottom() - 0.6f, bar.getWidth() - 5.0f, 0.6f);

    // A centre notch marks the handle's reading line.
    g.setColour (juce::Colours::white.withAlpha (0.55f));
    g.fillRect (21.0f, bar.getY() + 0.5f, 1.0f, 4.0f);
    return c.reduce();
}

Picture paintGear (const Fonts&)
{
    // A white cog with eight teeth and a round hole, lit from above, on transparent ground.
    const juce::Point<float> centre (11.0f, 11.0f);
    constexpr float tipRadius = 10.0f, rootRadius = 7.4f, holeRadius = 3.0f;

    juce::Path cog;
    for (int i = 0; i < 8; ++i)
    {
        const float a = juce::MathConstants<float>::twoPi * static_cast<float> (i) / 8.0f;
        const float half = juce::MathConstants<float>::twoPi / 16.0f;
        const float tipHalf = half * 0.42f, rootHalf = half * 0.62f;
        auto at = [&] (float r, float angle) {
            return juce::Point<float> (centre.x + r * std::sin (angle),
                                       centre.y - r * std::cos (angle));
        };
        if (i == 0)
            cog.startNewSubPath (at (rootRadius, a - rootHalf));
        else
            cog.lineTo (at (rootRadius, a - rootHalf));
        cog.lineTo (at (tipRadius, a - tipHalf));
        cog.lineTo (at (tipRadius, a + tipHalf));
        cog.lineTo (at (rootRadius, a + rootHalf));
        cog.addCentredArc (centre.x,
                           centre.y,
                           rootRadius,
                           rootRadius,
                           0.0f,
                           a + rootHalf,
                           a + 2.0f * half - rootHalf);
    }
    cog.closeSubPath();
    cog.addEllipse (
        centre.x - holeRadius, centre.y - holeRadius, 2.0f * holeRadius, 2.0f * holeRadius);
    cog.setUsingNonZeroWinding (false);

    Canvas c (22, 22);
    auto& g = c.graphics();
    drawShadow (c, cog, juce::Colours::black.withAlpha (0.5f), 0.5f, { 0.0f, 0.5f });
    g.setGradientFill (juce::ColourGradient (
        juce::Colours::white, 0.0f, 1.0f, juce::Colour (0xffd4d7dc), 0.0f, 21.0f, false));
    g.fillPath (cog);
    juce::Path ring;
    ring.addEllipse (centre.x - 5.0f, centre.y - 5.0f, 10.0f, 10.0f);
    g.setColour (juce::Colours::black.withAlpha (0.18f));
    g.strokePath (ring, juce::PathStrokeType (0.6f));
    return c.reduce();
}

Picture paintAmbiXCaption (const Fonts& fonts)
{
    return paintCaption (fonts, { "W", "Y", "Z", "X" });
}

Picture paintFuMaCaption (const Fonts& fonts)
{
    return paintCaption (fonts, { "W", "X", "Y", "Z" });
}

Picture paintTruePeakCaption (const Fonts& fonts)
{
    // Under the output meters' channel letters in true-peak mode: the meters and the ceiling are
    // then in dBTP. Set like the letters, smaller and in the ceiling line's blue.
    Canvas c (78, 9);
    auto& g = c.graphics();
    const auto text =
        placeText (textPath (fontWithCapHeight (fonts.medium, 5.5f), "TRUE PEAK", 1.4f),
                   39.0f,
                   7.0f,
                   juce::Justification::horizontallyCentred);
    g.setColour (juce::Colours::black.withAlpha (0.55f));
    g.fillPath (text, juce::AffineTransform::translation (0.0f, 1.0f));
    g.setColour (juce::Colour (0xff8fb3f0));
    g.fillPath (text);
    return c.reduce();
}
} // namespace artwork
