#include "Artwork.h"

#include "processor/Parameters.h"

#include <cmath>

// A contact sheet of the pictures in a folder: the window composed as the plug-in draws it (with
// the same source and destination rectangles), the window with both panels open, chosen knob
// frames at twice their size and the small pictures at four times.
namespace artwork
{
namespace
{
    // The film-strip frame a knob of the window shows for a value: the gain knob rounds its
    // share of the sweep down, the others up (lookandfeel/).
    int knobFrame (parameters::Index index, double value)
    {
        const auto& knob = parameters::knob (index);
        const double share =
            std::pow ((value - knob.minimum) / (knob.maximum - knob.minimum), knob.skew);
        const float sweep = static_cast<float> (share) * 126.0f;
        return static_cast<int> (index == parameters::inputGain ? std::floor (sweep)
                                                                : std::ceil (sweep));
    }

    juce::Image load (const juce::File& folder, const char* name)
    {
        return juce::ImageFileFormat::loadFrom (folder.getChildFile (name));
    }

    void drawText (juce::Graphics& g,
                   const juce::Font& font,
                   const juce::String& text,
                   juce::Rectangle<int> area,
                   juce::Colour colour,
                   juce::Justification j = juce::Justification::centred)
    {
        g.setColour (colour);
        g.setFont (font);
        g.drawText (text, area, j, false);
    }

    void drawValueBox (juce::Graphics& g,
                       const juce::Font& font,
                       juce::Rectangle<int> box,
                       const juce::String& text,
                       juce::Colour background,
                       juce::Colour textColour)
    {
        g.setColour (background);
        g.fillRect (box);
        drawText (g, font, text, box, textColour);
    }

    void drawWindow (juce::Graphics& g, const juce::File& folder, const Fonts& fonts, bool panels)
    {
        const auto valueFont = juce::Font (fonts.regular).withHeight (14.0f);

        g.fillAll (juce::Colours::black);
        g.setColour (juce::Colours::black);
        g.drawImage (load (folder, "background.jpg"), 0, 0, 435, 373, 0, 0, 435, 373);
        const auto caption = load (folder, "captionAmbiX.png");
        g.drawImage (caption, 48, 248, 69, 9, 0, 0, caption.getWidth(), caption.getHeight());
        g.drawImage (caption, 217, 248, 69, 9, 0, 0, caption.getWidth(), caption.getHeight());

        // Meters as the window draws them, at sample levels.
        const auto green = load (folder, "vuMeterVerticalGreen.png");
        const auto redGreen = load (folder, "vuMeterVerticalRedGreen.png");
        const int xs[] = { 50, 69, 89, 108, 218, 237, 257, 276 };
        const float levels[] = { 0.82f, 0.74f, 0.55f, 0.61f, 0.76f, 0.71f, 0.52f, 0.58f };
        for (int i = 0; i < 8; ++i)
        {
            const auto& image = i < 4 ? green : redGreen;
            const float f = 1.0f - levels[i];
            const int y = static_cast<int> (162.0f * f);
            const int sy = static_cast<int> (static_cast<float> (image.getHeight()) * f);
            g.drawImage (
                image, xs[i], 76 + y, 10, 162 - y, 0, sy, image.getWidth(), image.getHeight() - sy);
        }
        const auto band = load (folder, "bandeBleue.png");
        const float grFraction = 7.5f / 31.0f;
        g.drawImage (band,
                     155,
                     30,
                     27,
                     static_cast<int> (250.0f * grFraction),
                     0,
                     0,
                     band.getWidth(),
                     static_cast<int> (static_cast<float> (band.getHeight()) * grFraction));
        g.setColour (juce::Colour (0x800b72f2));
        g.fillRect (202, 115, 99, 3);

        g.setOpacity (0.85f);
        g.drawImage (load (folder, "engrenage.png"), 407, 5, 18, 18, 0, 0, 22, 22);
        g.setOpacity (1.0f);

        // Knobs on their skewed scales: gain +12 dB, attack 1 ms, release 20 ms (frames 56, 18, 27).
        const auto gain = load (folder, "bouton_G_70x70.png");
        g.drawImage (
            gain, 10, 298, 70, 70, 0, knobFrame (parameters::inputGain, 12.0) * 70, 70, 70);
        const auto aw = load (folder, "bouton_AW_70x70.png");
        g.drawImage (
            aw, 153, 310, 48, 48, 5, knobFrame (parameters::attackTime, 1.0) * 70 + 5, 60, 60);
        g.drawImage (
            aw, 312, 310, 48, 48, 5, knobFrame (parameters::releaseTime, 20.0) * 70 + 5, 60, 60);
        drawValueBox (g,
                      valueFont,
                      { 83, 305, 41, 15 },
                      "12 dB",
                      juce::Colour (0x5092928d),
                      juce::Colour (0xffd7d7d7));
        drawValueBox (g,
                      valueFont,
                      { 209, 316, 55, 15 },
                      "1.0 ms",
                      juce::Colour (0x5092928d),
                      juce::Colour (0xffd7d7d7));
        drawValueBox (g,
                      valueFont,
                      { 368, 316, 55, 15 },
                      "20 ms",
                      juce::Colour (0x5092928d),
                      juce::Colour (0xffd7d7d7));

        // Max-peak fader at 0 dB: the slider sits at (367, 71), its track is 81 pixels high.
        const auto handle = load (folder, "Bouton_maxpeak.png");
        const int t = 40;
        g.drawImage (band, 367 + 8, 71 + 6, 27, t, 0, 0, band.getWidth(), band.getHeight());
        g.drawImage (handle,
                     367,
                     71 + t,
                     handle.getWidth(),
                     handle.getHeight(),
                     0,
                     0,
                     handle.getWidth(),
                     handle.getHeight());
        drawValueBox (g,
                      valueFont,
                      { 367, 193, 41, 15 },
                      "0 dB",
                      juce::Colour (0x0092928d),
                      juce::Colour (0xff6f6f6f));

        if (! panels)
            return;

        // Options panel.
        g.setColour (juce::Colour (0xd0000000));
        g.fillRect (332, 30, 103, 247);
        g.setColour (juce::Colour (0xffb9ac9a));
        g.fillRect (331, 30, 1, 246);
        drawText (g,
                  juce::Font (fonts.regular).withHeight (15.0f),
                  "I/O config",
                  { 343, 42, 80, 24 },
                  juce::Colour (0xfffcfcfc));
        g.setColour (juce::Colours::black);
        g.fillRect (345, 70, 78, 19);
        g.setColour (juce::Colour (0xfff5f5f5));
        g.drawRect (345, 70, 78, 19);
        drawText (g,
                  valueFont,
                  "ambiX",
                  { 350, 70, 50, 19 },
                  juce::Colours::white,
                  juce::Justification::centredLeft);
        drawText (g,
                  juce::Font (fonts.regular).withHeight (15.0f),
                  "Peak",
                  { 343, 100, 80, 24 },
                  juce::Colour (0xfffcfcfc));
        g.setColour (juce::Colours::black);
        g.fillRect (345, 128, 78, 19);
        g.setColour (juce::Colour (0xfff5f5f5));
        g.drawRect (345, 128, 78, 19);
        drawText (g,
                  valueFont,
                  "True peak",
                  { 350, 128, 60, 19 },
                  juce::Colours::white,
                  juce::Justification::centredLeft);
        const auto truePeak = load (folder, "captionTruePeak.png");
        g.drawImage (truePeak, 213, 262, 78, 9, 0, 0, truePeak.getWidth(), truePeak.getHeight());

        // Welcome panel.
        g.setColour (juce::Colours::black.withAlpha (0.8f));
        g.drawImage (load (folder, "welcomeCard.png"), 99, 30, 220, 280, 0, 0, 220, 280);
        drawText (g,
                  juce::Font (fonts.regular).withHeight (18.0f),
                  "Orvalis v1.0",
                  { 121, 83, 175, 52 },
                  juce::Colour (0xfffcfcfc));
        drawText (g,
                  juce::Font (fonts.regular).withHeight (15.4f),
                  "tarnwick.example",
                  { 125, 268, 168, 22 },
                  juce::Colour (0xffe10035));
    }
} // namespace

juce::Image composePreview (const juce::File& folder, const Fonts& fonts)
{
    const int frames[] = { 0, 1, 32, 63, 94, 125, 126 };
    juce::Image sheet (juce::Image::RGB, 900, 373 + 20 + 2 * 150 + 20 + 200, true);
    juce::Graphics g (sheet);
    g.fillAll (juce::Colour (0xff3a3a3a));

    {
        juce::Graphics::ScopedSaveState s (g);
        g.reduceClipRegion (0, 0, 435, 373);
        drawWindow (g, folder, fonts, false);
    }
    {
        juce::Graphics::ScopedSaveState s (g);
        g.setOrigin (455, 0);
        g.reduceClipRegion (0, 0, 435, 373);
        drawWindow (g, folder, fonts, true);
    }

    g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);
    const auto aw = load (folder, "bouton_AW_70x70.png");
    const auto gain = load (folder, "bouton_G_70x70.png");
    for (int i = 0; i < 7; ++i)
    {
        const int x = 10 + 125 * i;
        g.setColour (juce::Colour (0xff1d1e20));
        g.fillRect (x, 393, 120, 120);
        g.fillRect (x, 543, 140, 140);
        g.drawImage (aw, x, 393, 120, 120, 5, frames[i] * 70 + 5, 60, 60);
        g.drawImage (gain, x - 10, 543, 140, 140, 0, frames[i] * 70, 70, 70);
        drawText (g,
                  juce::Font (fonts.regular).withHeight (12.0f),
                  "frame " + juce::String (frames[i]),
                  { x, 515, 120, 16 },
                  juce::Colours::white);
    }

    const int y = 703;
    g.drawImage (load (folder, "engrenage.png"), 10, y, 88, 88, 0, 0, 22, 22);
    g.drawImage (load (folder, "Bouton_maxpeak.png"), 110, y, 172, 52, 0, 0, 43, 13);
    g.drawImage (load (folder, "captionAmbiX.png"), 300, y, 276, 36, 0, 0, 69, 9);
    g.drawImage (load (folder, "captionFuMa.png"), 300, y + 46, 276, 36, 0, 0, 69, 9);
    g.drawImage (load (folder, "vuMeterVerticalGreen.png"), 600, y, 20, 143 * 1, 0, 0, 10, 143);
    g.drawImage (load (folder, "vuMeterVerticalRedGreen.png"), 630, y, 20, 163, 0, 0, 10, 163);
    g.drawImage (load (folder, "bandeBleue.png"), 660, y, 54, 180, 0, 0, 27, 90);
    g.drawImage (load (folder, "welcomeCard.png"), 730, y, 110, 140, 0, 0, 220, 280);
    return sheet;
}
} // namespace artwork
