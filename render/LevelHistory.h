#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/**
    Levels over time at a coarse resolution, for the plot. When the input runs longer than
    expected, neighbouring columns merge, so there are never more than twice the columns asked for.
*/
struct LevelHistory
{
    juce::int64 framesPerColumn = 1;
    std::vector<float> inputPeak;       // linear, the input as read
    std::vector<float> outputPeak;      // linear, the output at the input's time
    std::vector<float> gainReductionDb; // largest reduction within the column

    /** The column for a frame, made and merged as needed. */
    size_t columnFor (juce::int64 frame, int maxColumns);
};
