#pragma once

#include "render/BatchRender.h"
#include "render/RenderModel.h"
#include "render/RenderPlan.h"

#include <chrono>

/**
    One invocation of orvalis-render after its command line is read: the settings document, the
    plan, the render of every planned file, what the form prints, the reports and the exit status.
    The single-file form runs as a batch of one file; it prints a summary of that file instead of
    the batch's lines, and anything that keeps its file from being rendered fails it (with the
    report written) rather than refusing the command line.
*/
class RenderRun
{
public:
    explicit RenderRun (RenderContext& context);

    ExitStatus run();

private:
    bool loadSettings();
    ExitStatus finishSingle (RenderPlan& plan, RunSummary& summary);
    ExitStatus finishBatch (RenderPlan& plan, const BatchRender& batch, RunSummary& summary);
    /** Writes every --report; false (after saying why) when one could not be written. */
    bool writeReports (const std::vector<FileResult>& files, const RunSummary& summary) const;
    double secondsSinceStart() const;

    RenderContext& context;
    std::chrono::steady_clock::time_point startClock = std::chrono::steady_clock::now();
};
