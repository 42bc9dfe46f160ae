#pragma once

#include "render/LevelHistory.h"

#include <juce_graphics/juce_graphics.h>

/** Draws the input and output peak envelopes and the gain reduction of a render into a picture. */
class EnvelopePlot
{
public:
    struct Labels
    {
        juce::String title;
        juce::String subtitle;
        double sampleRate = 48000.0;
        float ceilingDb = 0.0f;
    };

    static constexpr int width = 1200;
    static constexpr int height = 640;

    static juce::Image draw (const LevelHistory& history, const Labels& labels);

    /** Writes the picture as PNG; false when the file could not be written. */
    static bool writePng (const juce::Image& image, const juce::File& file);
};
