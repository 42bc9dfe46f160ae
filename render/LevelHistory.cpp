#include "render/LevelHistory.h"

#include <algorithm>

size_t LevelHistory::columnFor (juce::int64 frame, int maxColumns)
{
    auto column = static_cast<size_t> (frame / framesPerColumn);
    while (column >= 2 * static_cast<size_t> (std::max (1, maxColumns)))
    {
        for (auto* values : { &inputPeak, &outputPeak, &gainReductionDb })
        {
            for (size_t i = 0; 2 * i < values->size(); ++i)
                (*values)[i] = std::max ((*values)[2 * i],
                                         2 * i + 1 < values->size() ? (*values)[2 * i + 1] : 0.0f);
            values->resize ((values->size() + 1) / 2);
        }
        framesPerColumn *= 2;
        column = static_cast<size_t> (frame / framesPerColumn);
    }
    if (column >= inputPeak.size())
    {
        inputPeak.resize (column + 1, 0.0f);
        outputPeak.resize (column + 1, 0.0f);
        gainReductionDb.resize (column + 1, 0.0f);
    }
    return column;
}
