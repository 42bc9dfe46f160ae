#pragma once

#include <juce_core/juce_core.h>

/** How the renderer writes levels and times for people. */
namespace RenderText
{
/** "+1.25 dBFS", "-inf": a linear level in dB with two decimals and the unit, if any. */
juce::String decibels (float linear, const char* unit);

/** "1:05" or "1:05.250": minutes and seconds. */
juce::String clockTime (double seconds, bool withMilliseconds);

/** "12.5 s", "3.2 min", "1.50 h": an amount of audio. */
juce::String duration (double seconds);
} // namespace RenderText
