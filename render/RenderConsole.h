#pragma once

#include "render/RenderModel.h"

#include <vector>

/**
    What orvalis-render tells the person running it: errors and warnings on stderr, one line per
    message; on stdout the single-file form's summary of its file, or the batch form's line per
    file and its summary.
*/
namespace RenderConsole
{
/** "orvalis-render: MESSAGE" on stderr. */
void fail (const juce::String& message);

/** "orvalis-render: warning: MESSAGE" on stderr. */
void warn (const juce::String& message);

/** The single-file form: the input, output, settings, levels, loudness and speed of its file. */
void printFileSummary (const FileResult& result, const RenderContext& context);

/** The single-file form's warnings after the summary: truncated, non-finite or clipped samples. */
void warnAboutFile (const FileResult& result);

/** The batch form's first line: how many files (of the batch's, in a shard), where to, on how
    many workers. */
void printBatchStart (size_t files, size_t batchFiles, const RenderContext& context, int workers);

/** The batch form's line for a file as it finishes, the position-th of count. */
void printFileLine (const FileResult& result,
                    int position,
                    size_t count,
                    const RenderContext& context);

/** The batch form's summary: the counts, the audio and the speed; the target, if any. */
void printBatchSummary (const RunTotals& totals,
                        const RunSummary& summary,
                        const RenderContext& context);

/** "report     NAME" for every --report. */
void printReportNames (const RenderContext& context);
} // namespace RenderConsole
