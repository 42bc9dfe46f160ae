#include "render/RenderRun.h"

#include "render/FileChecks.h"
#include "render/Platform.h"
#include "render/RenderConsole.h"
#include "render/RenderMerge.h"
#include "render/RenderReport.h"
#include "render/RenderSettings.h"
#include "render/StopSignal.h"

#include <iostream>

namespace
{
// The single-file form shows its progress only for inputs longer than this.
constexpr double singleFileProgressAfterSeconds = 5.0;

bool stopRequested()
{
    return StopSignal::received() != 0;
}
} // namespace

RenderRun::RenderRun (RenderContext& c) : context (c)
{
}

double RenderRun::secondsSinceStart() const
{
    return std::chrono::duration<double> (std::chrono::steady_clock::now() - startClock).count();
}

bool RenderRun::loadSettings()
{
    const auto& path = context.options.settingsFile;
    const auto file = FileChecks::resolve (path);
    if (auto problem = FileChecks::checkReadable (file, path))
    {
        RenderConsole::fail (*problem);
        return false;
    }
    juce::StringArray warnings;
    if (auto problem =
            SettingsDocument::parse (file.loadFileAsString(), context.settings, warnings))
    {
        RenderConsole::fail (path + ": " + *problem);
        return false;
    }
    for (const auto& warning : warnings)
        RenderConsole::warn (path + " " + warning);
    return true;
}

bool RenderRun::writeReports (const std::vector<FileResult>& files, const RunSummary& summary) const
{
    bool ok = true;
    if (context.options.reportFiles.isEmpty())
        return true;
    const auto report = RenderReport::build (context, files, summary);
    for (const auto& name : context.options.reportFiles)
        if (auto problem = RenderReport::write (FileChecks::resolve (name), report))
        {
            RenderConsole::fail (name + ": cannot write the report: " + *problem);
            ok = false;
        }
    return ok;
}

ExitStatus RenderRun::run()
{
    const auto& options = context.options;
    if (options.isMerge())
        return RenderMerge (options).run();

    RunSummary summary;
    summary.startedAt = juce::Time::getCurrentTime().toISO8601 (true);
    if (options.settingsFile.isNotEmpty() && ! loadSettings())
        return ExitStatus::failed;

    // Workers make their processors while this one lives: the first processor of the process
    // sets up the shared look-and-feel, which belongs on this thread. It also gives the knobs of
    // files that are never rendered, and in the batch form tells the settings warnings once.
    std::unique_ptr<juce::AudioProcessor> keeper (createPluginFilter());
    juce::StringArray warnings;
    context.knobs = applySettings (*keeper, options, &context.settings, warnings);
    if (options.isBatch())
    {
        for (const auto& warning : warnings)
            RenderConsole::warn (warning);
        context.warnAboutSettings = false;
    }

    RenderPlan plan (context);
    if (auto refusal = plan.make())
    {
        RenderConsole::fail (refusal->message);
        return refusal->status;
    }
    summary.batchFiles = plan.batchFiles;

    const bool terminal = Platform::standardErrorIsTerminal();
    BatchRender batch (context, plan, stopRequested);
    BatchRender::Listener listener;
    if (options.isBatch())
    {
        ProgressLine progress (
            terminal ? ProgressLine::Style::terminal : ProgressLine::Style::plain, true);
        const auto count = plan.entries.size();
        listener.started = [&] (int workers)
        { RenderConsole::printBatchStart (count, plan.batchFiles, context, workers); };
        listener.finished = [&] (size_t index, int position)
        { RenderConsole::printFileLine (plan.results[index], position, count, context); };
        batch.run (progress, listener);
        return finishBatch (plan, batch, summary);
    }
    ProgressLine progress (terminal ? ProgressLine::Style::terminal : ProgressLine::Style::off,
                           false,
                           singleFileProgressAfterSeconds);
    listener.tellNow = RenderConsole::warn;
    batch.run (progress, listener);
    return finishSingle (plan, summary);
}

ExitStatus RenderRun::finishSingle (RenderPlan& plan, RunSummary& summary)
{
    const auto& options = context.options;
    auto& results = plan.results;
    auto& result = results[0];
    summary.wallSeconds = secondsSinceStart();

    if (result.status == FileStatus::interrupted || result.status == FileStatus::notStarted
        || stopRequested())
    {
        // Unfinished, or stopped before it began: nothing was written. A file that ended as the
        // signal came keeps what happened to it in the report.
        if (result.status == FileStatus::interrupted || result.status == FileStatus::notStarted)
        {
            result.status = FileStatus::interrupted;
            result.error.clear();
        }
        summary.interrupted = true;
        summary.exitStatus = exitStatusForSignal (StopSignal::received());
        writeReports (results, summary);
        RenderConsole::fail ("interrupted; " + options.output + " not written");
        return summary.exitStatus;
    }
    // With one file there is nothing to skip: an input that cannot be rendered fails the run.
    if (result.status == FileStatus::failed || result.status == FileStatus::skipped)
    {
        result.status = FileStatus::failed;
        summary.exitStatus = ExitStatus::failed;
        writeReports (results, summary);
        RenderConsole::fail (result.error);
        return ExitStatus::failed;
    }

    RenderConsole::printFileSummary (result, context);
    RenderConsole::warnAboutFile (result);
    auto status = exitStatusFor (results);
    if (result.plotName.isNotEmpty() && result.error.isEmpty())
        std::cout << "plot       " << result.plotName << "\n";
    summary.exitStatus = status;
    if (! writeReports (results, summary))
        status = ExitStatus::failed;
    RenderConsole::printReportNames (context);
    if (result.error.isNotEmpty())
    {
        RenderConsole::fail (result.error);
        return ExitStatus::failed;
    }
    return status;
}

ExitStatus RenderRun::finishBatch (RenderPlan& plan, const BatchRender& batch, RunSummary& summary)
{
    const auto& results = plan.results;
    const auto totals = totalsOf (results);
    // A shard may get no files at all (more shards than files): it has nothing to fail.
    auto status = results.empty() ? ExitStatus::done : exitStatusFor (results);
    summary.wallSeconds = batch.getWallSeconds();
    summary.workers = batch.getWorkers();
    summary.interrupted = stopRequested();
    if (summary.interrupted)
        status = exitStatusForSignal (StopSignal::received());
    summary.exitStatus = status;

    RenderConsole::printBatchSummary (totals, summary, context);
    if (! writeReports (results, summary) && status == ExitStatus::done)
        status = ExitStatus::failed;
    RenderConsole::printReportNames (context);
    std::cout.flush();
    if (summary.interrupted)
        RenderConsole::fail ("interrupted: " + juce::String (totals.done + totals.truncated)
                             + " finished outputs kept, " + juce::String (totals.interrupted)
                             + " unfinished removed, " + juce::String (totals.notStarted)
                             + " not started");
    return status;
}
