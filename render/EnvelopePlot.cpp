#include "render/EnvelopePlot.h"

#include <algorithm>
#include <cmath>

namespace
{
const juce::Colour background (0xff16181d);
const juce::Colour panel (0xff20232a);
const juce::Colour grid (0xff3a3f4a);
const juce::Colour text (0xffd8dbe2);
const juce::Colour inputColour (0xff5b7fa6);
const juce::Colour outputColour (0xfff0a040);
const juce::Colour ceilingColour (0xffe04848);
const juce::Colour reductionColour (0xffd05050);

float toDb (float linear)
{
    return linear > 0.0f ? 20.0f * std::log10 (linear) : -1000.0f;
}

double niceStep (double range, int wantedTicks)
{
    const double raw = range / std::max (1, wantedTicks);
    const double magnitude = std::pow (10.0, std::floor (std::log10 (raw)));
    for (double m : { 1.0, 2.0, 5.0, 10.0 })
        if (raw <= m * magnitude)
            return m * magnitude;
    return 10.0 * magnitude;
}

juce::String timeLabel (double seconds, double step)
{
    if (seconds >= 60.0)
    {
        const int minutes = static_cast<int> (seconds / 60.0);
        const double rest = seconds - minutes * 60.0;
        return juce::String (minutes) + ":" + (rest < 10.0 ? "0" : "")
               + juce::String (rest, step < 1.0 ? 1 : 0);
    }
    return juce::String (seconds, step < 1.0 ? (step < 0.1 ? 2 : 1) : 0) + " s";
}

struct Panel
{
    juce::Rectangle<float> area;
    float top, bottom; // values at the top and bottom edges

    float yFor (float value) const
    {
        const float clamped = std::clamp (value, std::min (top, bottom), std::max (top, bottom));
        return area.getY() + (top - clamped) / (top - bottom) * area.getHeight();
    }
};

void drawTimeAxis (juce::Graphics& g, juce::Rectangle<float> area, double seconds)
{
    if (seconds <= 0.0)
        return;
    const double step = niceStep (seconds, 10);
    g.setFont (13.0f);
    for (double t = 0.0; t <= seconds + 1e-9; t += step)
    {
        const float x = area.getX() + static_cast<float> (t / seconds) * area.getWidth();
        g.setColour (grid);
        g.drawVerticalLine (juce::roundToInt (x), area.getY(), area.getBottom());
        g.setColour (text);
        g.drawText (timeLabel (t, step),
                    juce::Rectangle<float> (x - 40.0f, area.getBottom() + 4.0f, 80.0f, 16.0f),
                    juce::Justification::centred);
    }
}

void drawValueGrid (juce::Graphics& g, const Panel& p, float step, const juce::String& unit)
{
    g.setFont (13.0f);
    const float low = std::min (p.top, p.bottom), high = std::max (p.top, p.bottom);
    for (float v = std::ceil (low / step) * step; v <= high + 1e-3f; v += step)
    {
        const float y = p.yFor (v);
        g.setColour (grid);
        g.drawHorizontalLine (juce::roundToInt (y), p.area.getX(), p.area.getRight());
        g.setColour (text);
        const auto label =
            (v > 0.0f && unit == "dBFS" ? "+" : "") + juce::String (juce::roundToInt (v));
        g.drawText (label,
                    juce::Rectangle<float> (p.area.getX() - 58.0f, y - 8.0f, 52.0f, 16.0f),
                    juce::Justification::centredRight);
    }
}
} // namespace

juce::Image EnvelopePlot::draw (const LevelHistory& history, const Labels& labels)
{
    juce::Image image (juce::Image::RGB, width, height, true);
    juce::Graphics g (image);
    g.fillAll (background);

    g.setColour (text);
    g.setFont (juce::Font (17.0f, juce::Font::bold));
    g.drawText (labels.title, 70, 8, width - 90, 22, juce::Justification::centredLeft);
    g.setFont (13.0f);
    g.drawText (labels.subtitle, 70, 30, width - 90, 18, juce::Justification::centredLeft);

    const auto numColumns = history.inputPeak.size();
    const double seconds = static_cast<double> (numColumns)
                           * static_cast<double> (history.framesPerColumn) / labels.sampleRate;

    float loudest = -1000.0f, deepest = 0.0f;
    for (size_t c = 0; c < numColumns; ++c)
    {
        loudest = std::max ({ loudest, toDb (history.inputPeak[c]), toDb (history.outputPeak[c]) });
        deepest = std::max (deepest, history.gainReductionDb[c]);
    }

    const Panel levels { { 70.0f, 60.0f, static_cast<float> (width - 90), 330.0f },
                         std::max (6.0f,
                                   std::ceil (std::max (loudest, labels.ceilingDb) / 6.0f) * 6.0f),
                         -48.0f };
    const Panel reduction { { 70.0f, 445.0f, static_cast<float> (width - 90), 160.0f },
                            0.0f,
                            -std::max (6.0f, std::ceil (deepest / 3.0f) * 3.0f) };

    for (const auto* p : { &levels, &reduction })
    {
        g.setColour (panel);
        g.fillRect (p->area);
    }
    drawValueGrid (g, levels, 6.0f, "dBFS");
    drawValueGrid (g, reduction, 3.0f, "dB");
    drawTimeAxis (g, levels.area, seconds);
    drawTimeAxis (g, reduction.area, seconds);

    const float columnWidth =
        levels.area.getWidth() / static_cast<float> (std::max<size_t> (1, numColumns));
    for (size_t c = 0; c < numColumns; ++c)
    {
        const float x = levels.area.getX() + static_cast<float> (c) * columnWidth;
        const float w = std::max (1.0f, columnWidth);
        const float base = levels.area.getBottom();

        const float inY = levels.yFor (toDb (history.inputPeak[c]));
        g.setColour (inputColour);
        g.fillRect (x, inY, w, base - inY);

        const float outY = levels.yFor (toDb (history.outputPeak[c]));
        g.setColour (outputColour.withAlpha (0.85f));
        g.fillRect (x, outY, w, base - outY);

        const float grY = reduction.yFor (-history.gainReductionDb[c]);
        g.setColour (reductionColour);
        g.fillRect (x, reduction.area.getY(), w, grY - reduction.area.getY());
    }

    const float ceilingY = levels.yFor (labels.ceilingDb);
    g.setColour (ceilingColour);
    const float dashes[] = { 8.0f, 5.0f };
    g.drawDashedLine (
        juce::Line<float> (levels.area.getX(), ceilingY, levels.area.getRight(), ceilingY),
        dashes,
        2,
        1.5f);

    g.setFont (13.0f);
    const auto legend = [&] (float x, juce::Colour colour, const juce::String& name)
    {
        g.setColour (colour);
        g.fillRect (x, 422.0f, 14.0f, 10.0f);
        g.setColour (text);
        g.drawText (name,
                    juce::Rectangle<float> (x + 20.0f, 418.0f, 200.0f, 18.0f),
                    juce::Justification::centredLeft);
    };
    legend (70.0f, inputColour, "input peak (dBFS)");
    legend (250.0f, outputColour, "output peak (dBFS)");
    legend (440.0f, ceilingColour, "ceiling " + juce::String (labels.ceilingDb, 1) + " dB");
    legend (620.0f, reductionColour, "gain reduction (dB)");

    return image;
}

bool EnvelopePlot::writePng (const juce::Image& image, const juce::File& file)
{
    juce::FileOutputStream stream (file);
    if (! stream.openedOk())
        return false;
    stream.setPosition (0);
    stream.truncate();
    juce::PNGImageFormat png;
    if (! png.writeImageToStream (image, stream))
        return false;
    stream.flush();
    return stream.getStatus().wasOk();
}
