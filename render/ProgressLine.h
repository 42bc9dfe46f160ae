#pragma once

#include <chrono>

/**
    The progress of a run on stderr: on a terminal one line, rewritten in place; elsewhere, if
    asked for, a plain line every 10 s. It counts files done of the files in the run, or shows
    the share done when the run has one file to render.
*/
class ProgressLine
{
public:
    enum class Style
    {
        off,
        terminal,
        plain
    };

    /** minimumAudioSeconds > 0: nothing is shown until more audio than that is to be rendered. */
    ProgressLine (Style style, bool countFiles, double minimumAudioSeconds = 0.0);

    /** fraction of the whole run (0..1), audio rendered and expected so far, in seconds. */
    void
    show (int filesDone, int files, double fraction, double audioSeconds, double expectedSeconds);

    /** Takes a terminal line away, before other lines are written or the run ends. */
    void clear();

private:
    using Clock = std::chrono::steady_clock;

    Style style;
    bool countFiles;
    double minimumAudioSeconds;
    bool drawn = false;
    Clock::time_point started = Clock::now();
    Clock::time_point lastShown = Clock::now();
};
