#include "Artwork.h"

#include <cmath>

// The two knob film strips: 127 frames of 70 x 70 stacked top to bottom, the sweep running about
// 270 degrees clockwise from the lower left (frame 0) to the lower right (frame 126). Lighting is
// fixed from above; only the parts that turn with the knob move from frame to frame.
//
// The larger versions hold the same frames side by side, left to right: a PNG compresses each row
// with what came shortly before it, so with the frames side by side the unchanging parts of a
// frame's row follow the same row of the frame before, and the file is about a tenth of the size
// of the frames stacked (at 1x a whole frame is short enough for that either way).
namespace artwork
{
namespace
{
    constexpr float centre = 35.0f;
    constexpr float startAngle = -0.75f * juce::MathConstants<float>::pi;
    constexpr float endAngle = 0.75f * juce::MathConstants<float>::pi;

    const juce::Colour cyan (56, 214, 240);
    const juce::Colour markerYellow (255, 206, 58);

    float frameAngle (int frame)
    {
        return startAngle + (endAngle - startAngle) * static_cast<float> (frame) / 126.0f;
    }

    juce::Point<float> polar (float radius, float angle)
    {
        return { centre + radius * std::sin (angle), centre - radius * std::cos (angle) };
    }

    juce::Path radialLine (float r0, float r1, float angle)
    {
        juce::Path p;
        p.startNewSubPath (polar (r0, angle));
        p.lineTo (polar (r1, angle));
        return p;
    }

    juce::Path arc (float radius, float from, float to)
    {
        juce::Path p;
        p.addCentredArc (centre, centre, radius, radius, 0.0f, from, to, true);
        return p;
    }

    juce::Path circle (float radius)
    {
        juce::Path p;
        p.addEllipse (centre - radius, centre - radius, 2.0f * radius, 2.0f * radius);
        return p;
    }

    /** A stroke with a soft coloured halo, built from wider faint strokes under a sharp one. */
    void strokeGlowing (juce::Graphics& g,
                        const juce::Path& p,
                        juce::Colour colour,
                        float width,
                        juce::PathStrokeType::EndCapStyle caps,
                        float glow)
    {
        for (int i = 4; i >= 1; --i)
        {
            g.setColour (colour.withAlpha (glow * 0.09f));
            g.strokePath (p,
                          juce::PathStrokeType (width + 1.1f * static_cast<float> (i),
                                                juce::PathStrokeType::curved,
                                                caps));
        }
        g.setColour (colour);
        g.strokePath (p, juce::PathStrokeType (width, juce::PathStrokeType::curved, caps));
    }

    Picture emptyStrip()
    {
        return drawingDensity() == 1 ? Picture (knobFrameSize, knobFrameSize * numKnobFrames, true)
                                     : Picture (knobFrameSize * numKnobFrames, knobFrameSize, true);
    }

    void stackFrame (Picture& strip, const Picture& frame, int index)
    {
        const bool sideBySide = strip.width > strip.height;
        const int left = sideBySide ? index * frame.storedWidth() : 0;
        const int top = sideBySide ? 0 : index * frame.storedHeight();
        for (int y = 0; y < frame.storedHeight(); ++y)
            for (int x = 0; x < frame.storedWidth(); ++x)
                strip.setStoredPixel (left + x, top + y, frame.getStoredPixel (x, y));
    }

    //==============================================================================
    // Attack and release: a dark knob with a concentric-grooved face inside a cyan value arc.
    // Only the inner 60 x 60 square of each frame is shown (scaled to 48 pixels), so every
    // mark stays within 30 pixels of the centre horizontally and vertically.
    constexpr float awArcRadius = 24.6f;
    constexpr float awArcWidth = 2.8f;
    constexpr float awBodyRadius = 19.2f;
    constexpr float awFaceRadius = 17.0f;

    void paintDarkKnobBody (Canvas& c)
    {
        auto& g = c.graphics();
        drawShadow (c,
                    circle (awBodyRadius + 0.3f),
                    juce::Colours::black.withAlpha (0.85f),
                    1.6f,
                    { 0.0f, 1.6f });

        // Bevelled rim, lit from above.
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff75797f),
                                                 centre,
                                                 centre - awBodyRadius,
                                                 juce::Colour (0xff121315),
                                                 centre,
                                                 centre + awBodyRadius,
                                                 false));
        g.fillPath (circle (awBodyRadius));
        g.setGradientFill (juce::ColourGradient (juce::Colour (0xff16171a),
                                                 centre,
                                                 centre - awFaceRadius,
                                                 juce::Colour (0xff3a3d42),
                                                 centre,
                                                 centre + awFaceRadius,
                                                 false));
        g.fillPath (circle (awFaceRadius + 0.7f));

        // Face: a dark satin top with fine concentric grooves and a soft sheen at the upper left.
        Canvas face (c.getWidth(), c.getHeight(), c.getScale());
        face.graphics().setColour (juce::Colours::white);
        face.graphics().fillPath (circle (awFaceRadius));
        face.shade (
            [] (float x, float y, juce::Colour current)
            {
                if (current.getAlpha() == 0)
                    return current;
                const float dx = x - centre;
                const float dy = y - centre;
                const float r = std::sqrt (dx * dx + dy * dy);
                const float phi = std::atan2 (dx, -dy);
                float level = 0.165f - 0.05f * (dy / awFaceRadius);
                level += 0.018f * hashNoise (static_cast<int> (r * 9.0f), 0, 11);
                level +=
                    0.010f
                    * hashNoise (static_cast<int> (x * 16.0f), static_cast<int> (y * 16.0f), 12);
                level += 0.035f * std::pow (std::max (0.0f, std::cos (2.0f * (phi + 0.6f))), 6.0f);
                const float sheen =
                    std::exp (-((dx + 6.0f) * (dx + 6.0f) + (dy + 7.0f) * (dy + 7.0f)) / 60.0f);
                level += 0.09f * sheen;
                const auto v = static_cast<juce::uint8> (
                    juce::jlimit (0, 255, juce::roundToInt (level * 255.0f)));
                return juce::Colour (
                    v, v, static_cast<juce::uint8> (juce::jmin (255, v + 4)), current.getAlpha());
            });
        c.drawCanvas (face);

        // A shallow dish in the middle: dark upper edge, lit lower edge.
        g.setColour (juce::Colours::black.withAlpha (0.35f));
        g.strokePath (arc (9.2f, -2.2f, 2.2f), juce::PathStrokeType (0.9f));
        g.setColour (juce::Colours::white.withAlpha (0.10f));
        g.strokePath (arc (9.2f, 2.2f, 4.08f), juce::PathStrokeType (0.9f));

        // Crisp outer edge highlight along the top of the rim.
        g.setColour (juce::Colours::white.withAlpha (0.35f));
        g.strokePath (arc (awBodyRadius - 0.4f, -1.2f, 1.2f), juce::PathStrokeType (0.7f));
    }

    Picture paintAttackFrame (int frame, Canvas& body)
    {
        Canvas c (knobFrameSize, knobFrameSize);
        auto& g = c.graphics();
        const float value = frameAngle (frame);
        const float tickStep = (endAngle - startAngle) / 10.0f;

        // The unlit scale ahead of the arc: a thin white track with tick marks outside it.
        if (value < endAngle)
        {
            g.setColour (juce::Colours::white.withAlpha (0.55f));
            g.strokePath (arc (awArcRadius, value, endAngle), juce::PathStrokeType (1.0f));
        }
        for (int i = 0; i <= 10; ++i)
        {
            const float a = startAngle + tickStep * static_cast<float> (i);
            const bool major = i % 5 == 0;
            const bool lit = a <= value + 1.0e-4f && frame > 0;
            g.setColour (lit ? cyan.withAlpha (0.95f)
                             : juce::Colours::white.withAlpha (major ? 0.85f : 0.6f));
            g.strokePath (radialLine (awArcRadius + 2.3f, awArcRadius + (major ? 5.2f : 4.3f), a),
                          juce::PathStrokeType (major ? 1.3f : 1.0f));
        }

        if (frame > 0)
            strokeGlowing (g,
                           arc (awArcRadius, startAngle, value),
                           cyan,
                           awArcWidth,
                           juce::PathStrokeType::butt,
                           1.0f);
        else
        {
            const auto p = polar (awArcRadius, startAngle);
            g.setColour (markerYellow.withAlpha (0.25f));
            g.fillEllipse (p.x - 3.4f, p.y - 3.4f, 6.8f, 6.8f);
            g.setColour (markerYellow);
            g.fillEllipse (p.x - 2.1f, p.y - 2.1f, 4.2f, 4.2f);
        }

        c.drawCanvas (body);

        // Grip ridges on the rim turn with the knob; the light stays where it is.
        for (int i = 0; i < 40; ++i)
        {
            const float a =
                value + juce::MathConstants<float>::twoPi * static_cast<float> (i) / 40.0f;
            const float lit = 0.5f + 0.5f * std::cos (a);
            g.setColour (juce::Colours::black.withAlpha (0.45f));
            g.strokePath (radialLine (awFaceRadius + 0.9f, awBodyRadius - 0.2f, a),
                          juce::PathStrokeType (0.55f));
            g.setColour (juce::Colours::white.withAlpha (0.05f + 0.16f * lit));
            g.strokePath (radialLine (awFaceRadius + 0.9f, awBodyRadius - 0.2f, a + 0.045f),
                          juce::PathStrokeType (0.45f));
        }

        // Pointer: a short cyan bar from the dish to the edge of the face, with a dark groove.
        const auto pointer = radialLine (6.0f, awFaceRadius - 1.8f, value);
        g.setColour (juce::Colours::black.withAlpha (0.6f));
        g.strokePath (pointer,
                      juce::PathStrokeType (
                          3.6f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        strokeGlowing (g, pointer, cyan, 2.2f, juce::PathStrokeType::rounded, 0.8f);
        g.setColour (juce::Colours::white.withAlpha (0.45f));
        g.strokePath (pointer,
                      juce::PathStrokeType (
                          0.6f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));

        return c.reduce();
    }

    //==============================================================================
    // Input gain: a brushed silver knob with a fine-toothed dark rim, drawn unscaled.
    constexpr float gRimOuter = 28.6f;
    constexpr float gRimInner = 27.2f;
    constexpr float gFaceRadius = 24.8f;
    constexpr int gNumTeeth = 72;

    void paintSilverFace (Canvas& c)
    {
        c.graphics().setColour (juce::Colours::white);
        c.graphics().fillPath (circle (gFaceRadius));
        c.shade (
            [] (float x, float y, juce::Colour current)
            {
                if (current.getAlpha() == 0)
                    return current;
                const float dx = x - centre;
                const float dy = y - centre;
                const float r = std::sqrt (dx * dx + dy * dy);
                const float phi = std::atan2 (dx, -dy);
                // Anisotropic highlights of circular brushing under a light from the upper left.
                float level = 0.66f + 0.15f * std::cos (2.0f * (phi + 0.45f))
                              + 0.05f * std::cos (4.0f * phi + 0.9f);
                level -= 0.06f * (dy / gFaceRadius);
                level += 0.045f * hashNoise (static_cast<int> (r * 14.0f), 0, 21);
                level +=
                    0.02f
                    * hashNoise (static_cast<int> (r * 30.0f), static_cast<int> (phi * 3.0f), 22);
                // Bevel: a dark ring at the edge and a lit step just inside it at the top.
                const float edge = gFaceRadius - r;
                if (edge < 1.3f)
                    level -= 0.22f * (1.3f - edge) / 1.3f;
                else if (edge < 2.6f)
                    level += 0.08f * (-dy / gFaceRadius);
                // A small concave centre cap lit from below.
                if (r < 6.5f)
                    level = 0.60f + 0.14f * (dy / 6.5f)
                            + 0.03f * hashNoise (static_cast<int> (r * 20.0f), 1, 23)
                            + (r > 5.7f ? -0.12f : 0.0f);
                const float blue = juce::jlimit (0.0f, 1.0f, level * 1.03f + 0.015f);
                return juce::Colour::fromFloatRGBA (level, level + 0.005f, blue, 1.0f)
                    .withAlpha (current.getAlpha());
            });
    }

    void paintToothedRim (Canvas& c, float rotation)
    {
        const float lightAngle = -0.5f;
        c.shade (
            [rotation, lightAngle] (float x, float y, juce::Colour current)
            {
                const float dx = x - centre;
                const float dy = y - centre;
                const float r = std::sqrt (dx * dx + dy * dy);
                if (r > gRimOuter + 0.1f || r < gFaceRadius - 0.5f)
                    return current;
                const float phi = std::atan2 (dx, -dy);
                float phase = (phi - rotation) * static_cast<float> (gNumTeeth)
                              / juce::MathConstants<float>::twoPi;
                phase -= std::floor (phase);
                // Trapezoid teeth: flat tops, sloped flanks.
                const float tri = 1.0f - std::abs (2.0f * phase - 1.0f);
                const float profile = juce::jlimit (0.0f, 1.0f, (tri - 0.25f) * 2.2f);
                const float edgeRadius = gRimInner + (gRimOuter - gRimInner) * profile;
                if (r > edgeRadius)
                    return current;
                const float facing = std::cos (phi - lightAngle);
                const float flank = (phase < 0.5f ? 1.0f : -1.0f)
                                    * (profile < 1.0f && profile > 0.0f ? 1.0f : 0.0f);
                float level = 0.13f + 0.09f * facing + 0.05f * flank * std::sin (phi - lightAngle);
                if (r > edgeRadius - 0.35f)
                    level += 0.06f * std::max (0.0f, facing);
                const auto v = static_cast<juce::uint8> (
                    juce::jlimit (0, 255, juce::roundToInt (level * 255.0f)));
                return juce::Colour (v,
                                     v,
                                     static_cast<juce::uint8> (juce::jmin (255, v + 3)),
                                     static_cast<juce::uint8> (255));
            });
    }

    Picture paintGainFrame (int frame, Canvas& shadow, Canvas& face)
    {
        Canvas c (knobFrameSize, knobFrameSize);
        auto& g = c.graphics();
        const float value = frameAngle (frame);

        c.drawCanvas (shadow);

        // Range marks at both ends of the sweep and, in the middle frame, the centre marker.
        g.setColour (juce::Colours::white.withAlpha (0.9f));
        for (float a : { startAngle, endAngle })
            g.strokePath (radialLine (gRimOuter + 1.6f, gRimOuter + 4.6f, a),
                          juce::PathStrokeType (
                              1.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        if (frame == 63)
        {
            juce::Path marker;
            marker.addTriangle (
                centre, centre - gRimOuter - 1.4f, centre - 2.3f, 1.6f, centre + 2.3f, 1.6f);
            g.setColour (markerYellow);
            g.fillPath (marker);
        }

        paintToothedRim (c, value);
        c.drawCanvas (face);

        // Pointer: cyan with a dark outline so that it reads on the bright metal.
        const auto pointer = radialLine (8.0f, gFaceRadius - 2.2f, value);
        g.setColour (juce::Colour (0xcc06262e));
        g.strokePath (pointer,
                      juce::PathStrokeType (
                          4.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        g.setColour (cyan);
        g.strokePath (pointer,
                      juce::PathStrokeType (
                          2.4f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        g.setColour (juce::Colours::white.withAlpha (0.5f));
        g.strokePath (radialLine (9.0f, gFaceRadius - 3.2f, value), juce::PathStrokeType (0.6f));

        return c.reduce();
    }
} // namespace

Picture paintAttackReleaseKnobStrip (const Fonts&)
{
    Canvas body (knobFrameSize, knobFrameSize);
    paintDarkKnobBody (body);

    auto strip = emptyStrip();
    for (int k = 0; k < numKnobFrames; ++k)
        stackFrame (strip, paintAttackFrame (k, body), k);
    return strip;
}

Picture paintGainKnobStrip (const Fonts&)
{
    Canvas shadow (knobFrameSize, knobFrameSize);
    drawShadow (
        shadow, circle (gRimOuter), juce::Colours::black.withAlpha (0.8f), 1.8f, { 0.0f, 2.0f });
    Canvas face (knobFrameSize, knobFrameSize);
    paintSilverFace (face);

    auto strip = emptyStrip();
    for (int k = 0; k < numKnobFrames; ++k)
        stackFrame (strip, paintGainFrame (k, shadow, face), k);
    return strip;
}
} // namespace artwork
