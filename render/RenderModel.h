#pragma once

// The data of a run: what every file shares, what was found, done and measured per file, and the
// run as a whole. Plain values, filled by the plan, the jobs and the run, read by the summary and
// the report. Levels are kept per channel for as many channels as the input has.

#include "processor/Parameters.h"
#include "render/ExitStatus.h"
#include "render/LevelHistory.h"
#include "render/RenderOptions.h"
#include "render/SettingsDocument.h"

#include <cstdint>
#include <optional>
#include <vector>

/** The four knobs in their units: what the processor applies, not merely what was asked for. */
struct KnobSettings
{
    float gainDb = parameters::knob (parameters::inputGain).defaultValue;
    float attackMs = parameters::knob (parameters::attackTime).defaultValue;
    float releaseMs = parameters::knob (parameters::releaseTime).defaultValue;
    float ceilingDb = parameters::knob (parameters::maxPeakLevel).defaultValue;
    bool truePeak = false; // the peaks the ceiling holds: true peaks (dBTP) or samples (dBFS)
    // The renderer's own attenuation before the processor (0 or below), which --target-loudness
    // uses for inputs louder than the target: the processor's input gain goes no lower than 0 dB.
    float preGainDb = 0.0f;

    /** The linear input gain. */
    float linearGain() const;
    /** The linear gain before the processor. */
    float linearPreGain() const;
    /** All the gain the input gets before the limiter, in dB. */
    float gainAppliedDb() const { return preGainDb + gainDb; }
};

/** What every file of a run shares: the options and the settings document. */
struct RenderContext
{
    RenderOptions options;
    SettingsDocument settings;     // no xml without --settings
    bool warnAboutSettings = true; // the batch warns once, not for every file
    KnobSettings knobs;            // what the settings give, for files that are never rendered

    /** The limiting mode the options and the settings give, as the report names it. */
    juce::String modeName() const;
};

enum class FileStatus
{
    notStarted,
    done,
    truncated, // done, but the input holds less than its header promises
    offTarget, // done, but its loudness could not be brought to --target-loudness
    skipped,   // audio, but not 1 to 64 channels at a rate the limiter runs at (or, for
               // --target-loudness, without a loudness measured)
    failed,
    interrupted
};

/** The name the report and the summary use: "done", "not-started", ... */
juce::String statusName (FileStatus status);

/** Integrated loudness (LUFS; none below the absolute gate) and loudness range (LU). */
struct Loudness
{
    std::optional<double> integratedLufs;
    double rangeLu = 0.0;
};

/** One linear level per channel. */
using ChannelLevels = std::vector<float>;

/** How --target-loudness went for a file. */
struct LoudnessTargetResult
{
    double targetLufs = 0.0;
    bool met = false;
    int passes = 0;      // reads of the input: the measurement, the trials and the render written
    juce::String reason; // why the target was not met
};

/** What a render measured. Peaks are linear; the gain reduction is in dB. */
struct RenderStats
{
    int latencySamples = 0;
    juce::int64 inputFrames = 0;
    juce::int64 outputFrames = 0;
    ChannelLevels inputPeak, inputTruePeak, outputPeak, outputTruePeak; // once rendered
    float largestGainReductionDb = 0.0f;
    juce::int64 largestGainReductionFrame = -1;            // where its 10 ms window starts
    juce::int64 limitedFrames = 0;                         // output frames below their gained input
    std::optional<Loudness> inputLoudness, outputLoudness; // as the layout asks, when measured
    juce::int64 nonFiniteInputSamples = 0;                 // replaced by silence before processing
    juce::int64 clippedOutputSamples = 0;                  // beyond full scale, when counted
    double wallSeconds = 0.0;
    double processorSeconds = 0.0;
    LevelHistory history;
};

/** Everything known about one file's render, for the summary and the report. */
struct FileResult
{
    juce::String inputName, outputName, plotName; // as given or as derived
    FileStatus status = FileStatus::notStarted;
    juce::String error;    // "NAME: reason" when skipped or failed (or for a plot that failed)
    size_t batchIndex = 0; // the file's place among all the inputs of the batch, shards or not

    // The input as found.
    juce::String inputFormat;
    double sampleRate = 0.0;
    int numChannels = 0;
    std::uint32_t channelMask = 0;   // the speakers the file names (InputFile)
    juce::int64 declaredFrames = -1; // -1: the header gave no length
    juce::String lengthNote;         // how the length was read, when the header was wrong

    // What was done, and what it gave (valid once rendered).
    RenderOptions::Format format = RenderOptions::Format::wav32;
    KnobSettings knobs;
    juce::String mode;
    bool rendered = false;
    RenderStats stats;
    std::optional<bool> meetsTarget;                    // with --target-true-peak
    std::optional<LoudnessTargetResult> loudnessTarget; // with --target-loudness, once rendered
    double seconds = 0.0;                               // wall time of the whole file

    bool wasRendered() const
    {
        return status == FileStatus::done || status == FileStatus::truncated
               || status == FileStatus::offTarget;
    }
    /** The length note and, for a missed loudness target, why it was missed. */
    juce::String notes() const;
    /** The largest true peak of the output's channels, linear (0 before it is rendered). */
    float largestOutputTruePeak() const;
};

/** The run as a whole, for the report's summary. */
struct RunSummary
{
    juce::String startedAt; // ISO 8601, UTC
    double wallSeconds = 0.0;
    int workers = 1;
    ExitStatus exitStatus = ExitStatus::done;
    bool interrupted = false;
    size_t batchFiles = 0; // the inputs of the whole batch: more than files in a shard
};

/** Counts per status, and the totals of the files rendered. */
struct RunTotals
{
    int files = 0, done = 0, truncated = 0, offTarget = 0, skipped = 0, failed = 0, interrupted = 0,
        notStarted = 0, targetMissed = 0;
    double audioSeconds = 0.0;
    juce::int64 frames = 0, limitedFrames = 0;
    float largestGainReductionDb = 0.0f;
    float largestOutputTruePeak = 0.0f; // linear
};

RunTotals totalsOf (const std::vector<FileResult>& files);

/**
    The exit status the files give: failed when any failed (a picture that could not be drawn
    included) or none was rendered, else targetMissed, else offTarget, else truncated, else done.
*/
ExitStatus exitStatusFor (const std::vector<FileResult>& files);
