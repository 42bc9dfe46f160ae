#pragma once

#include "render/InputFile.h"
#include "render/RenderOptions.h"
#include "render/RenderSession.h"
#include "render/RenderSettings.h"

#include <functional>
#include <optional>

/** What every file of a run shares: the options and the settings document. */
struct RenderContext
{
    RenderOptions options;
    SettingsDocument settings;     // no xml without --settings
    bool warnAboutSettings = true; // the batch warns once, not for every file
    KnobSettings knobs;            // what the settings give, for files that are never rendered

    /** The limiting mode the options and the settings give, as the report names it. */
    juce::String modeName() const { return ::modeName (selectsTruePeak (options, settings)); }
};

enum class FileStatus
{
    notStarted,
    done,
    truncated, // done, but the input holds less than its header promises
    skipped,   // audio, but not four channels at a rate the limiter runs at
    failed,
    interrupted
};

/** The name the report and the summary use: "done", "not-started", ... */
juce::String statusName (FileStatus status);

/** Everything known about one file's render, for the summary and the report. */
struct FileResult
{
    juce::String inputName, outputName, plotName; // as given or as derived
    FileStatus status = FileStatus::notStarted;
    juce::String error; // "NAME: reason" when skipped or failed (or for a plot that failed)

    // The input as found.
    juce::String inputFormat;
    double sampleRate = 0.0;
    int numChannels = 0;
    juce::int64 declaredFrames = -1; // -1: the header gave no length
    juce::String lengthNote;         // how the length was read, when the header was wrong

    // What was done, and what it gave (valid once rendered).
    RenderOptions::Format format = RenderOptions::Format::wav32;
    KnobSettings knobs;
    juce::String mode;
    bool rendered = false;
    RenderStats stats;
    std::optional<bool> meetsTarget; // with --target-true-peak
    double seconds = 0.0;            // wall time of the whole file

    bool wasRendered() const
    {
        return status == FileStatus::done || status == FileStatus::truncated;
    }
    float largestOutputTruePeak() const;
};

/**
    One file through the processor: opens the input, renders it into a hidden temporary file
    beside the output, checks what was written and renames it into place. A fresh processor
    renders each file, so a file's output is the same whichever worker renders it and after
    whatever came before.
*/
class RenderJob
{
public:
    using Warn = std::function<void (const juce::String&)>;

    RenderJob (const RenderContext& context, FileResult& result, Warn warn);

    /** Opens the input; false, with the result failed or skipped, when it cannot be rendered. */
    bool openInput (const juce::File& input);
    /** Takes the built-in demo scene as the input. */
    void openDemo();

    /**
        Renders the opened input. plot, unless empty, is drawn once the output is in place.
        progress gets input frames done and the expected total.
    */
    void render (const juce::File& output,
                 RenderOptions::Format format,
                 const juce::File& plot,
                 const std::function<bool()>& shouldStop,
                 const std::function<void (juce::int64, juce::int64)>& progress);

    /** Frames the input is expected to hold (for progress), once opened. */
    juce::int64 getExpectedFrames() const;

    /** The highest rate the limiter runs at. */
    static constexpr double maxSampleRate = 192000.0;

private:
    bool drawPlot (const juce::File& plot);

    const RenderContext& context;
    FileResult& result;
    Warn warn;
    InputFile input;
};
