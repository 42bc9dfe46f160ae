#pragma once

#include "render/RenderModel.h"

#include <optional>
#include <vector>

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
} // namespace RenderReport
