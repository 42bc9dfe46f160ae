#include "Artwork.h"

#include "editor/HoaMeterLayout.h"

#include <cmath>

// The window's background and the welcome card. Every coordinate here is a window (or card)
// pixel; the controls, meters and captions that the window lays over the background sit on the
// places printed for them.
namespace artwork
{
namespace
{
    constexpr int width = 435;
    constexpr int height = 373;
    constexpr int titleHeight = 28;
    constexpr int meterTop = 76;
    constexpr int meterHeight = 162;
    constexpr int inputMeterX[] = { 50, 69, 89, 108 };
    constexpr int outputMeterX[] = { 218, 237, 257, 276 };
    constexpr int meterWidth = 10;
    const juce::Rectangle<float> grColumn (155.0f, 30.0f, 27.0f, 250.0f);
    const juce::Rectangle<float> sidePanel (344.0f, 55.0f, 89.0f, 195.0f);
    constexpr float faderCentreX = 388.5f;
    constexpr float bottomTop = 280.0f;
    const juce::Point<float> discCentre (0.0f, 373.0f);
    constexpr float discRadius = 98.0f;
    const juce::Point<float> gainKnob (45.0f, 333.0f);
    const juce::Point<float> attackKnob (177.0f, 334.0f);
    const juce::Point<float> releaseKnob (336.0f, 334.0f);

    const juce::Colour captionGrey (0xffc6c9ce);
    const juce::Colour scaleGrey (0xff8e9297);
    const juce::String minus (juce::CharPointer_UTF8 ("\xe2\x88\x92"));

    juce::String dbText (int db)
    {
        return db < 0 ? minus + juce::String (-db) : juce::String (db);
    }

    void fillText (juce::Graphics& g,
                   const juce::Path& text,
                   juce::Colour colour,
                   float shadowAlpha = 0.6f)
    {
        g.setColour (juce::Colours::black.withAlpha (shadowAlpha));
        g.fillPath (text, juce::AffineTransform::translation (0.0f, 1.0f));
        g.setColour (colour);
        g.fillPath (text);
    }

    /** Text pressed into a light metal surface: dark letters with a light lower edge. */
    void engraveText (juce::Graphics& g, const juce::Path& text, juce::Colour colour)
    {
        g.setColour (juce::Colours::white.withAlpha (0.55f));
        g.fillPath (text, juce::AffineTransform::translation (0.0f, 0.8f));
        g.setColour (colour);
        g.fillPath (text);
    }

    /** A recess: dark fill, shadow along the top inner edge, light along the bottom edge. */
    void drawWell (Canvas& c, juce::Rectangle<float> r, float corner, juce::Colour fill)
    {
        auto& g = c.graphics();
        g.setColour (juce::Colours::white.withAlpha (0.09f));
        g.fillRoundedRectangle (r.expanded (1.0f).translated (0.0f, 0.6f), corner + 1.0f);
        g.setColour (juce::Colours::black.withAlpha (0.55f));
        g.fillRoundedRectangle (r.expanded (1.0f), corner + 1.0f);
        g.setColour (fill);
        g.fillRoundedRectangle (r, corner);
        g.setGradientFill (juce::ColourGradient (juce::Colours::black.withAlpha (0.55f),
                                                 0.0f,
                                                 r.getY(),
                                                 juce::Colours::black.withAlpha (0.0f),
                                                 0.0f,
                                                 r.getY() + 4.0f,
                                                 false));
        g.fillRoundedRectangle (r, corner);
    }

    void paintBody (Canvas& c)
    {
        // Charcoal with a fine horizontal grain, slightly lighter at the top, darker at the corners.
        c.shade (
            [] (float x, float y, juce::Colour)
            {
                float level = 0.168f - 0.03f * (y / static_cast<float> (height));
                level += 0.010f * valueNoise (x / 40.0f, y * 1.3f, 31);
                level += 0.006f
                         * hashNoise (static_cast<int> (x * 2.0f), static_cast<int> (y * 2.0f), 32);
                const float vx = (x - 0.5f * width) / (0.5f * width);
                const float vy = (y - 0.5f * height) / (0.5f * height);
                level *= 1.0f - 0.16f * (vx * vx * vy * vy);
                return juce::Colour::fromFloatRGBA (
                    level, level * 1.01f + 0.002f, level * 1.04f + 0.006f, 1.0f);
            });
    }

    void paintTitleStrip (Canvas& c,
                          const Fonts& fonts,
                          const juce::String& productName,
                          const juce::String& subtitleText)
    {
        auto& g = c.graphics();
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff151618),
                                                 0.0f,
                                                 0.0f,
                                                 juce::Colour (0xff0b0c0d),
                                                 0.0f,
                                                 static_cast<float> (titleHeight),
                                                 false));
        g.fillRect (0.0f, 0.0f, static_cast<float> (width), static_cast<float> (titleHeight));
        g.setColour (juce::Colour (0xff050506));
        g.fillRect (
            0.0f, static_cast<float> (titleHeight) - 1.0f, static_cast<float> (width), 1.0f);
        g.setColour (juce::Colour (0xff3b3e43));
        g.fillRect (0.0f, static_cast<float> (titleHeight), static_cast<float> (width), 1.0f);
        g.setGradientFill (juce::ColourGradient (juce::Colours::black.withAlpha (0.35f),
                                                 0.0f,
                                                 titleHeight + 1.0f,
                                                 juce::Colours::transparentBlack,
                                                 0.0f,
                                                 titleHeight + 6.0f,
                                                 false));
        g.fillRect (0.0f, titleHeight + 1.0f, static_cast<float> (width), 5.0f);

        const auto maker =
            placeText (textPath (fontWithCapHeight (fonts.bold, 9.0f), "TARNWICK", 1.7f),
                       13.0f,
                       19.0f,
                       juce::Justification::left);
        fillText (g, maker, juce::Colour (0xffdcdde0), 0.8f);
        const float ruleX = std::round (maker.getBounds().getRight() + 9.0f);
        g.setColour (juce::Colour (0xff5d6066));
        g.fillRect (ruleX, 8.0f, 1.0f, 13.0f);
        const auto product =
            placeText (textPath (fontWithCapHeight (fonts.light, 9.0f), productName, 2.4f),
                       ruleX + 9.0f,
                       19.0f,
                       juce::Justification::left);
        fillText (g, product, juce::Colour (0xffb4b8be), 0.8f);

        const auto subtitle =
            placeText (textPath (fontWithCapHeight (fonts.medium, 5.5f), subtitleText, 1.3f),
                       395.0f,
                       17.0f,
                       juce::Justification::right);
        fillText (g, subtitle, juce::Colour (0xff80848a), 0.8f);
    }

    /** A tray of meter tracks (trackWidth wide at xs) with its caption and scale; labels, when
        given, are printed under the tracks one each, set as the window's channel captions but in
        the scale's grey (the window draws a lit track's label over it in white). */
    void paintMeterGroup (Canvas& c,
                          const Fonts& fonts,
                          const std::vector<int>& xs,
                          int trackWidth,
                          const juce::String& caption,
                          bool scaleOnLeft,
                          const juce::StringArray& labels = {})
    {
        auto& g = c.graphics();
        const float w = static_cast<float> (trackWidth);
        const float left = static_cast<float> (xs.front());
        const float right = static_cast<float> (xs.back() + trackWidth);
        const float centreX = 0.5f * (left + right);

        fillText (g,
                  placeText (textPath (fontWithCapHeight (fonts.medium, 7.0f), caption, 2.2f),
                             centreX,
                             66.0f,
                             juce::Justification::horizontallyCentred),
                  captionGrey);

        // A shallow tray holding the four tracks.
        drawWell (c,
                  { left - 4.0f, meterTop - 4.0f, right - left + 8.0f, meterHeight + 8.0f },
                  3.0f,
                  juce::Colour (0xff1b1c1f));

        const auto labelFont = fontWithCapHeight (fonts.regular, 6.0f);
        for (int i = 0; i <= 8; ++i)
        {
            const float y = static_cast<float> (meterTop + 20 * i);
            const bool major = i % 2 == 0;
            if (major)
            {
                g.setColour (juce::Colours::white.withAlpha (0.06f));
                g.fillRect (left - 3.0f, y, right - left + 6.0f, 1.0f);
            }
            const float tickLength = major ? 4.0f : 2.0f;
            g.setColour (major ? scaleGrey : scaleGrey.withAlpha (0.6f));
            g.fillRect (scaleOnLeft ? left - 5.0f - tickLength : right + 5.0f, y, tickLength, 1.0f);
            // Output labels start beyond x 301, where the ceiling line ends.
            if (major)
            {
                const auto label = placeText (textPath (labelFont, dbText (10 - 5 * i), 0.3f),
                                              scaleOnLeft ? left - 11.0f : right + 17.0f,
                                              y + 3.5f,
                                              scaleOnLeft ? juce::Justification::right
                                                          : juce::Justification::left);
                fillText (g, label, scaleGrey);
            }
        }

        for (int x : xs)
        {
            const juce::Rectangle<float> track (static_cast<float> (x),
                                                static_cast<float> (meterTop),
                                                w,
                                                static_cast<float> (meterHeight));
            g.setColour (juce::Colours::black.withAlpha (0.7f));
            g.fillRect (track.expanded (1.0f));
            g.setGradientFill (juce::ColourGradient (juce::Colour (0xff0c0d0e),
                                                     track.getX(),
                                                     0.0f,
                                                     juce::Colour (0xff111214),
                                                     track.getRight(),
                                                     0.0f,
                                                     false));
            g.fillRect (track);
            g.setColour (juce::Colours::white.withAlpha (0.07f));
            g.fillRect (track.getX() - 1.0f, track.getBottom() + 1.0f, w + 2.0f, 1.0f);
            for (int i = 1; i < 8; ++i)
            {
                g.setColour (juce::Colours::white.withAlpha (i % 2 == 0 ? 0.05f : 0.025f));
                g.fillRect (track.getX(), track.getY() + 20.0f * static_cast<float> (i), w, 1.0f);
            }
        }

        for (int i = 0; i < labels.size() && i < static_cast<int> (xs.size()); ++i)
        {
            const auto label =
                hoaMeterLabel (fonts,
                               labels[i],
                               static_cast<float> (xs[static_cast<size_t> (i)]) + 0.5f * w,
                               meterTop + meterHeight + 18.0f);
            g.setColour (juce::Colours::black.withAlpha (0.55f));
            g.fillPath (label, juce::AffineTransform::translation (0.0f, 1.0f));
            g.setColour (scaleGrey);
            g.fillPath (label);
        }
    }

    void paintGainReductionColumn (Canvas& c, const Fonts& fonts)
    {
        auto& g = c.graphics();
        drawWell (c, grColumn, 2.0f, juce::Colour (0xff0d0e10));

        // The scale lies on the column's left, clear of the ceiling line over the output meters.
        const auto labelFont = fontWithCapHeight (fonts.regular, 6.0f);
        const float tickX = grColumn.getX() - 7.0f;
        for (int i = 1; i <= 3; ++i)
        {
            const float y = grColumn.getY() + 80.0f * static_cast<float> (i);
            g.setColour (juce::Colours::white.withAlpha (0.07f));
            g.fillRect (grColumn.getX(), y, grColumn.getWidth(), 1.0f);
            g.setColour (scaleGrey);
            g.fillRect (tickX, y, 4.0f, 1.0f);
            fillText (g,
                      placeText (textPath (labelFont, dbText (-10 * i), 0.3f),
                                 tickX - 2.0f,
                                 y + 3.5f,
                                 juce::Justification::right),
                      scaleGrey);
            g.setColour (scaleGrey.withAlpha (0.6f));
            g.fillRect (tickX + 2.0f, y - 40.0f, 2.0f, 1.0f);
        }
        fillText (g,
                  placeText (textPath (fontWithCapHeight (fonts.medium, 6.0f), "GR", 1.2f),
                             tickX + 4.0f,
                             grColumn.getY() + 9.0f,
                             juce::Justification::right),
                  captionGrey.withAlpha (0.8f));
    }

    void paintSidePanel (Canvas& c, const Fonts& fonts)
    {
        auto& g = c.graphics();
        juce::Path plate;
        plate.addRoundedRectangle (sidePanel, 5.0f);
        drawShadow (c, plate, juce::Colours::black.withAlpha (0.8f), 2.2f, { 0.0f, 2.0f });

        // Brushed aluminium plate with a bevelled edge.
        Canvas metal (c.getWidth(), c.getHeight(), c.getScale());
        metal.graphics().setColour (juce::Colours::white);
        metal.graphics().fillPath (plate);
        metal.shade (
            [] (float x, float y, juce::Colour current)
            {
                if (current.getAlpha() == 0)
                    return current;
                const float t = (y - sidePanel.getY()) / sidePanel.getHeight();
                float level = 0.70f - 0.10f * t;
                level += 0.025f * valueNoise (x / 25.0f, y * 2.5f, 41);
                level += 0.012f
                         * hashNoise (static_cast<int> (x * 3.0f), static_cast<int> (y * 4.0f), 42);
                return juce::Colour::fromFloatRGBA (
                    level, level + 0.008f, level + 0.02f, current.getFloatAlpha());
            });
        c.drawCanvas (metal);
        g.setColour (juce::Colours::white.withAlpha (0.55f));
        g.strokePath (
            plate, juce::PathStrokeType (1.0f), juce::AffineTransform::translation (0.0f, 0.5f));
        g.setColour (juce::Colours::black.withAlpha (0.45f));
        g.drawRoundedRectangle (sidePanel.reduced (0.25f), 5.0f, 0.5f);

        // Four screws.
        for (auto p : { juce::Point<float> (351.5f, 62.0f),
                        juce::Point<float> (425.5f, 62.0f),
                        juce::Point<float> (351.5f, 243.0f),
                        juce::Point<float> (425.5f, 243.0f) })
        {
            g.setColour (juce::Colours::white.withAlpha (0.6f));
            g.fillEllipse (p.x - 2.4f, p.y - 2.1f, 4.8f, 4.8f);
            g.setGradientFill (juce::ColourGradient (juce::Colour (0xff55585e),
                                                     p.x,
                                                     p.y - 2.4f,
                                                     juce::Colour (0xffc9ccd1),
                                                     p.x,
                                                     p.y + 2.4f,
                                                     false));
            g.fillEllipse (p.x - 2.4f, p.y - 2.4f, 4.8f, 4.8f);
            g.setColour (juce::Colour (0xff3a3c40));
            g.drawLine (p.x - 1.6f, p.y + 1.0f, p.x + 1.6f, p.y - 1.0f, 0.8f);
        }

        // The fader slot: handle centres run from y 77.5 (+10 dB) to y 158.5 (-10 dB).
        const juce::Rectangle<float> slot (faderCentreX - 2.5f, 73.0f, 5.0f, 90.0f);
        g.setColour (juce::Colours::white.withAlpha (0.6f));
        g.fillRoundedRectangle (slot.translated (0.0f, 0.8f), 2.5f);
        g.setColour (juce::Colour (0xff141517));
        g.fillRoundedRectangle (slot, 2.5f);
        g.setGradientFill (juce::ColourGradient (juce::Colours::black,
                                                 slot.getX(),
                                                 0.0f,
                                                 juce::Colour (0xff2c2e32),
                                                 slot.getRight(),
                                                 0.0f,
                                                 false));
        g.fillRoundedRectangle (slot.reduced (1.0f), 1.5f);

        const auto labelFont = fontWithCapHeight (fonts.medium, 5.5f);
        const juce::Colour ink (0xff44474c);
        for (int i = 0; i <= 4; ++i)
        {
            const float y = std::floor (77.5f + 20.25f * static_cast<float> (i));
            const bool major = i % 2 == 0;
            g.setColour (ink.withAlpha (major ? 0.9f : 0.6f));
            g.fillRect (major ? 365.0f : 367.0f, y, major ? 7.0f : 5.0f, 1.0f);
            g.fillRect (405.0f, y, major ? 7.0f : 5.0f, 1.0f);
            if (major)
            {
                const int db = 10 - 5 * i;
                engraveText (
                    g,
                    placeText (
                        textPath (labelFont, db > 0 ? "+" + juce::String (db) : dbText (db), 0.3f),
                        362.0f,
                        y + 3.0f,
                        juce::Justification::right),
                    ink);
            }
        }

        const auto captionFont = fontWithCapHeight (fonts.bold, 5.5f);
        engraveText (g,
                     placeText (textPath (captionFont, "MAX PEAK", 1.4f),
                                faderCentreX,
                                177.0f,
                                juce::Justification::horizontallyCentred),
                     ink);
        engraveText (g,
                     placeText (textPath (captionFont, "OUTPUT", 1.4f),
                                faderCentreX,
                                186.0f,
                                juce::Justification::horizontallyCentred),
                     ink);

        // A shallow inset for the value readout.
        const juce::Rectangle<float> readout (368.0f, 193.0f, 41.0f, 15.0f);
        g.setColour (juce::Colours::white.withAlpha (0.5f));
        g.fillRoundedRectangle (readout.translated (0.0f, 0.8f), 2.5f);
        g.setColour (juce::Colour (0xffa3a7ad));
        g.fillRoundedRectangle (readout, 2.5f);
        g.setGradientFill (juce::ColourGradient (juce::Colours::black.withAlpha (0.25f),
                                                 0.0f,
                                                 readout.getY(),
                                                 juce::Colours::transparentBlack,
                                                 0.0f,
                                                 readout.getY() + 3.0f,
                                                 false));
        g.fillRoundedRectangle (readout, 2.5f);

        // The maker's monogram.
        const juce::Point<float> m (faderCentreX, 228.0f);
        g.setColour (juce::Colours::white.withAlpha (0.55f));
        g.drawEllipse (m.x - 9.0f, m.y - 9.0f + 0.8f, 18.0f, 18.0f, 1.1f);
        g.setColour (ink);
        g.drawEllipse (m.x - 9.0f, m.y - 9.0f, 18.0f, 18.0f, 1.1f);
        engraveText (g,
                     placeText (textPath (fontWithCapHeight (fonts.bold, 9.0f), "T"),
                                m.x,
                                m.y + 4.5f,
                                juce::Justification::horizontallyCentred),
                     ink);
    }

    void paintBottomStrip (Canvas& c, const Fonts& fonts)
    {
        auto& g = c.graphics();
        // A perforated grille: a dark base with a staggered grid of small holes.
        Canvas grille (c.getWidth(), c.getHeight(), c.getScale());
        grille.graphics().setColour (juce::Colours::white);
        grille.graphics().fillRect (
            0.0f, bottomTop, static_cast<float> (width), height - bottomTop);
        grille.shade (
            [] (float x, float y, juce::Colour current)
            {
                if (current.getAlpha() == 0)
                    return current;
                const float row = std::floor ((y - bottomTop) / 3.0f);
                const float offset = std::fmod (row, 2.0f) * 1.5f;
                const float cx = std::floor ((x - offset) / 3.0f) * 3.0f + offset + 1.5f;
                const float cy = bottomTop + row * 3.0f + 1.5f;
                const float d = std::hypot (x - cx, y - cy);
                float level = 0.118f - 0.02f * ((y - bottomTop) / (height - bottomTop));
                level += 0.006f * valueNoise (x / 30.0f, y / 6.0f, 51);
                if (d < 0.75f)
                    level *= 0.35f;
                else if (d < 1.15f && y > cy)
                    level *= 1.35f;
                return juce::Colour::fromFloatRGBA (
                    level, level * 1.01f, level * 1.05f + 0.004f, 1.0f);
            });
        c.drawCanvas (grille);
        g.setColour (juce::Colour (0xff08090a));
        g.fillRect (0.0f, bottomTop - 1.0f, static_cast<float> (width), 1.0f);
        g.setColour (juce::Colour (0xff474a50));
        g.fillRect (0.0f, bottomTop, static_cast<float> (width), 1.0f);
        g.setGradientFill (juce::ColourGradient (juce::Colours::black.withAlpha (0.4f),
                                                 0.0f,
                                                 bottomTop + 1.0f,
                                                 juce::Colours::transparentBlack,
                                                 0.0f,
                                                 bottomTop + 7.0f,
                                                 false));
        g.fillRect (0.0f, bottomTop + 1.0f, static_cast<float> (width), 6.0f);

        // Seats for the two small knobs.
        for (auto k : { attackKnob, releaseKnob })
        {
            g.setGradientFill (juce::ColourGradient (juce::Colours::black.withAlpha (0.55f),
                                                     k.x,
                                                     k.y,
                                                     juce::Colours::transparentBlack,
                                                     k.x + 27.0f,
                                                     k.y,
                                                     true));
            g.fillEllipse (k.x - 27.0f, k.y - 27.0f, 54.0f, 54.0f);
        }

        const auto captionFont = fontWithCapHeight (fonts.regular, 7.0f);
        fillText (g,
                  placeText (textPath (captionFont, "Input gain", 0.5f),
                             84.0f,
                             301.0f,
                             juce::Justification::left),
                  captionGrey);
        fillText (g,
                  placeText (textPath (captionFont, "Look ahead", 0.5f),
                             210.0f,
                             311.0f,
                             juce::Justification::left),
                  captionGrey);
        fillText (
            g,
            placeText (
                textPath (captionFont, "Release", 0.5f), 369.0f, 311.0f, juce::Justification::left),
            captionGrey);
    }

    void paintGoldDisc (Canvas& c)
    {
        auto& g = c.graphics();
        juce::Path disc;
        disc.addEllipse (discCentre.x - discRadius,
                         discCentre.y - discRadius,
                         2.0f * discRadius,
                         2.0f * discRadius);
        drawShadow (c, disc, juce::Colours::black.withAlpha (0.9f), 2.5f, { 1.0f, 1.0f });

        Canvas gold (c.getWidth(), c.getHeight(), c.getScale());
        gold.graphics().setColour (juce::Colours::white);
        gold.graphics().fillPath (disc);
        gold.shade (
            [] (float x, float y, juce::Colour current)
            {
                if (current.getAlpha() == 0)
                    return current;
                const float dx = x - discCentre.x;
                const float dy = y - discCentre.y;
                const float r = std::sqrt (dx * dx + dy * dy);
                const float psi = std::atan2 (dx, -dy);
                // Circular brushing around the corner, highlights from the upper left.
                float level = 0.50f + 0.30f * std::cos (2.0f * (psi - 0.55f))
                              + 0.07f * std::cos (6.0f * psi + 0.4f);
                level += 0.07f * hashNoise (static_cast<int> (r * 6.0f), 0, 61);
                level +=
                    0.03f
                    * hashNoise (static_cast<int> (r * 13.0f), static_cast<int> (psi * 40.0f), 62);
                // Bevelled edge lit from the upper left, and an engraved ring inside it.
                const float edge = discRadius - r;
                if (edge < 1.2f)
                    level = 0.95f + 0.2f * std::cos (psi - 0.2f);
                else if (edge < 3.5f)
                    level -= 0.18f;
                else if (std::abs (edge - 8.0f) < 0.6f)
                    level -= 0.22f;
                else if (std::abs (edge - 9.0f) < 0.4f)
                    level += 0.15f;
                // The seat of the gain knob.
                const float kd = std::hypot (x - gainKnob.x, y - gainKnob.y);
                if (kd < 31.5f)
                    level = 0.18f + 0.10f * ((y - gainKnob.y) / 31.5f)
                            + 0.02f * hashNoise (static_cast<int> (kd * 8.0f), 3, 63);
                else if (kd < 33.0f)
                    level = 0.92f;
                level = juce::jlimit (0.0f, 1.2f, level);
                const juce::Colour dark (0xff3e2a0b), mid (0xffb3832c), light (0xfffbe7b0);
                const auto colour = level < 0.6f ? mix (dark, mid, level / 0.6f)
                                                 : mix (mid, light, (level - 0.6f) / 0.5f);
                return colour.withAlpha (current.getAlpha());
            });
        c.drawCanvas (gold);
        g.setGradientFill (juce::ColourGradient (juce::Colours::black.withAlpha (0.65f),
                                                 gainKnob.x,
                                                 gainKnob.y - 31.5f,
                                                 juce::Colours::transparentBlack,
                                                 gainKnob.x,
                                                 gainKnob.y - 22.0f,
                                                 false));
        g.fillEllipse (gainKnob.x - 31.5f, gainKnob.y - 31.5f, 63.0f, 63.0f);
    }
} // namespace

Picture paintBackground (const Fonts& fonts)
{
    const std::vector<int> inputs (std::begin (inputMeterX), std::end (inputMeterX));
    const std::vector<int> outputs (std::begin (outputMeterX), std::end (outputMeterX));
    Canvas c (width, height, 3);
    paintBody (c);
    paintTitleStrip (c, fonts, "ORVALIS", "AMBISONIC LOOK-AHEAD LIMITER");
    paintMeterGroup (c, fonts, inputs, meterWidth, "INPUT", true);
    paintMeterGroup (c, fonts, outputs, meterWidth, "OUTPUT", false);
    paintGainReductionColumn (c, fonts);
    paintSidePanel (c, fonts);
    paintBottomStrip (c, fonts);
    paintGoldDisc (c);
    return c.reduce (false);
}

Picture paintHoaBackground (const Fonts& fonts)
{
    // Eight narrow tracks a side, one per ambisonic order 0 to 7, numbered under the tracks; the
    // window lights as many as the signal has orders.
    std::vector<int> inputs, outputs;
    juce::StringArray orders;
    for (int order = 0; order < hoaMeters::numTracks; ++order)
    {
        inputs.push_back (hoaMeters::inputX (order));
        outputs.push_back (hoaMeters::outputX (order));
        orders.add (juce::String (order));
    }
    Canvas c (width, height, 3);
    paintBody (c);
    paintTitleStrip (c, fonts, "ORVALIS HOA", "HIGHER-ORDER AMBISONIC LIMITER");
    paintMeterGroup (c, fonts, inputs, hoaMeters::trackWidth, "INPUT", true, orders);
    paintMeterGroup (c, fonts, outputs, hoaMeters::trackWidth, "OUTPUT", false, orders);
    paintGainReductionColumn (c, fonts);
    paintSidePanel (c, fonts);
    paintBottomStrip (c, fonts);
    paintGoldDisc (c);
    return c.reduce (false);
}

Picture paintWelcomeCard (const Fonts& fonts)
{
    const juce::Rectangle<int> card (15, 15, 190, 250);
    const juce::Rectangle<float> red (23.0f, 23.0f, 174.0f, 211.0f);

    Canvas c (220, 280);
    auto& g = c.graphics();

    // The drop shadow is laid out by distance from the card so that its strength next to the
    // card and its reach are exact; then the card is drawn on top.
    c.shade (
        [card] (float x, float y, juce::Colour)
        {
            const float dx = std::max ({ static_cast<float> (card.getX()) - x,
                                         0.0f,
                                         x - static_cast<float> (card.getRight()) });
            const float dy = std::max ({ static_cast<float> (card.getY()) + 1.0f - y,
                                         0.0f,
                                         y - static_cast<float> (card.getBottom()) - 1.0f });
            const float d = std::sqrt (dx * dx + dy * dy);
            const float t = juce::jlimit (0.0f, 1.0f, 1.0f - d / 12.0f);
            return juce::Colours::black.withAlpha (95.0f / 255.0f * t * t * (0.4f + 0.6f * t));
        });
    g.setColour (juce::Colours::white);
    g.fillRect (card);
    g.setColour (juce::Colour (223, 12, 59));
    g.fillRect (red);
    g.setColour (juce::Colour (0xfff7d9df));
    g.fillRect (54.0f, 107.0f, 112.0f, 2.0f);

    const float centreX = red.getCentreX();
    const auto subtitle = placeText (
        textPath (fontWithCapHeight (fonts.medium, 5.0f), "AMBISONIC PEAK LIMITER", 1.6f),
        centreX,
        124.0f,
        juce::Justification::horizontallyCentred);
    g.setColour (juce::Colours::white.withAlpha (0.85f));
    g.fillPath (subtitle);

    // The maker's mark: a row of bars like a sound wave, the name and a tagline.
    constexpr int numBars = 19;
    for (int i = 0; i < numBars; ++i)
    {
        const float u = static_cast<float> (i) / static_cast<float> (numBars - 1);
        const float envelope = std::sin (juce::MathConstants<float>::pi * u);
        const float wave = 0.55f + 0.45f * std::abs (std::sin (11.0f * u + 0.6f));
        const float h = std::round (3.0f + 17.0f * envelope * wave);
        const float x = centreX - 37.0f + 4.0f * static_cast<float> (i);
        g.setColour (juce::Colours::white);
        g.fillRect (x, 176.0f - std::round (h / 2.0f), 2.0f, h);
    }
    const auto name = placeText (textPath (fontWithCapHeight (fonts.bold, 8.0f), "TARNWICK", 2.6f),
                                 centreX,
                                 201.0f,
                                 juce::Justification::horizontallyCentred);
    g.setColour (juce::Colours::white);
    g.fillPath (name);
    const auto tagline = placeText (
        textPath (fontWithCapHeight (fonts.regular, 4.5f), "SOUND FOR EVERY DIRECTION", 1.2f),
        centreX,
        211.0f,
        juce::Justification::horizontallyCentred);
    g.setColour (juce::Colours::white.withAlpha (0.9f));
    g.fillPath (tagline);
    return c.reduce();
}
} // namespace artwork
