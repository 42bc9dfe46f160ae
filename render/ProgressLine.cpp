#include "render/ProgressLine.h"

#include "render/RenderText.h"

#include <algorithm>
#include <cstdio>

ProgressLine::ProgressLine (Style s, bool files, double minimumSeconds) :
    style (s),
    countFiles (files),
    minimumAudioSeconds (minimumSeconds)
{
}

void ProgressLine::show (
    int filesDone, int files, double fraction, double audioSeconds, double expectedSeconds)
{
    if (style == Style::off
        || (minimumAudioSeconds > 0.0 && expectedSeconds <= minimumAudioSeconds))
        return;
    const bool onTerminal = style == Style::terminal;
    const auto now = Clock::now();
    const auto interval =
        onTerminal ? std::chrono::milliseconds (200) : std::chrono::milliseconds (10000);
    if (now - lastShown < interval)
        return;
    lastShown = now;
    const double elapsed = std::chrono::duration<double> (now - started).count();
    juce::String line;
    if (onTerminal)
    {
        constexpr int barWidth = 24;
        const int filled = static_cast<int> (std::clamp (fraction, 0.0, 1.0) * barWidth);
        line << "\r  [" << juce::String::repeatedString ("#", filled)
             << juce::String::repeatedString (".", barWidth - filled) << "] ";
    }
    else
        line << "progress: ";
    if (countFiles)
        line << filesDone << "/" << files << " files, ";
    else
        line << juce::roundToInt (std::clamp (fraction, 0.0, 1.0) * 100.0) << " %, ";
    line << RenderText::duration (audioSeconds) << " of audio";
    if (elapsed > 0.5 && audioSeconds > 0.0)
        line << ", " << juce::roundToInt (audioSeconds / elapsed) << "x real time";
    if (fraction > 0.02 && fraction < 1.0)
        line << ", about " << RenderText::clockTime (elapsed / fraction - elapsed, false)
             << " left";
    if (onTerminal)
        line << "\033[K";
    else
        line << "\n";
    std::fputs (line.toRawUTF8(), stderr);
    std::fflush (stderr);
    drawn = onTerminal;
}

void ProgressLine::clear()
{
    if (drawn)
        std::fputs ("\r\033[K", stderr);
    drawn = false;
}
