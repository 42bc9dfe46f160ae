#pragma once

#include "render/RenderModel.h"

#include <optional>
#include <vector>

/**
    The machine-readable record of a run: JSON (the schema is in README.md) or CSV (one row per
    file and a last row for the batch), chosen by the file's extension. Written to a hidden
    temporary file and renamed, so a reader never sees half a report.

    A report is built as a document (juce::var) first; both texts are written from it, and its
    summary is worked out from its files alone, so the reports of shards, read back and joined,
    give the summary and the CSV one batch would have given. Numbers are written with the
    precision they carry: levels and loudness to 0.001 dB or LU, shares to 1e-6, times to 1 ms.
*/
namespace RenderReport
{
constexpr int schemaVersion = 2;

/** The report's document. */
juce::var build (const RenderContext& context,
                 const std::vector<FileResult>& files,
                 const RunSummary& summary);

/** What the summary needs beyond the files: the run as a whole. */
struct RunFacts
{
    double wallSeconds = 0.0;
    int workers = 1;
    bool interrupted = false;
    int exitStatus = 0;
};

/** The summary of a document's files (its "files" array), for a run with these facts. */
juce::var summaryOf (const juce::var& files, const RunFacts& run);

/**
    The exit status a document's files give, as exitStatusFor gives it for the files themselves
    (an empty list gives 0: a shard with no files).
*/
int exitStatusOf (const juce::var& files);

juce::String toJson (const juce::var& report);
juce::String toCsv (const juce::var& report);

/** Writes the document as JSON or CSV, by the name's extension; the reason when it could not. */
std::optional<juce::String> write (const juce::File& file, const juce::var& report);

/** A number as the report writes it: the shortest text that reads back as the same double. */
juce::String number (double value);
} // namespace RenderReport
