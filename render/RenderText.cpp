#include "render/RenderText.h"

#include <cmath>

namespace RenderText
{
juce::String decibels (float linear, const char* unit)
{
    if (! (linear > 0.0f))
        return "-inf";
    const float db = 20.0f * std::log10 (linear);
    return (db >= 0.0f ? "+" : "") + juce::String (db, 2)
           + (unit[0] != 0 ? juce::String (" ") + unit : "");
}

juce::String clockTime (double seconds, bool withMilliseconds)
{
    const auto totalMs = static_cast<juce::int64> (seconds * 1000.0 + 0.5);
    const auto minutes = totalMs / 60000;
    const auto restMs = totalMs % 60000;
    auto text = juce::String (minutes) + ":" + juce::String (restMs / 1000).paddedLeft ('0', 2);
    if (withMilliseconds)
        text << "." << juce::String (restMs % 1000).paddedLeft ('0', 3);
    return text;
}

juce::String duration (double seconds)
{
    if (seconds < 120.0)
        return juce::String (seconds, 1) + " s";
    if (seconds < 7200.0)
        return juce::String (seconds / 60.0, 1) + " min";
    return juce::String (seconds / 3600.0, 2) + " h";
}
} // namespace RenderText
