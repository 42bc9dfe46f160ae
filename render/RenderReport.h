#pragma once

#include "render/RenderJob.h"

#include <optional>
#include <vector>

/** The run as a whole, for the report's summary. */
struct RunSummary
{
    juce::String startedAt; // ISO 8601, UTC
    double wallSeconds = 0.0;
    int workers = 1;
    int exitStatus = 0;
    bool interrupted = false;
};

/**
    The machine-readable record of a run: JSON (the schema is in README.md) or CSV (one row per
    file and a last row for the batch), chosen by the file's extension. Written to a hidden
    temporary file and renamed, so a reader never sees half a report.
*/
namespace RenderReport
{
/** Writes the report; the reason when it could not be written. */
std::optional<juce::String> write (const juce::File& file,
                                   const RenderContext& context,
                                   const std::vector<FileResult>& files,
                                   const RunSummary& summary);

/** The JSON text of the report. */
juce::String toJson (const RenderContext& context,
                     const std::vector<FileResult>& files,
                     const RunSummary& summary);

/** The CSV text of the report. */
juce::String toCsv (const RenderContext& context,
                    const std::vector<FileResult>& files,
                    const RunSummary& summary);

/** Counts per status, and the batch's totals. */
struct Totals
{
    int files = 0, done = 0, truncated = 0, skipped = 0, failed = 0, interrupted = 0,
        notStarted = 0, targetMissed = 0;
    double audioSeconds = 0.0;
    juce::int64 frames = 0, limitedFrames = 0;
    float largestGainReductionDb = 0.0f;
    float largestOutputTruePeak = 0.0f; // linear
};
Totals totals (const std::vector<FileResult>& files);
} // namespace RenderReport
