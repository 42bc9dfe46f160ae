#pragma once

#include "render/RenderJob.h"

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

/**
    The batch form: every WAV, AIFF and FLAC file of the inputs (folders searched recursively) into
    one output folder, on several workers, each with its own processor. Outputs keep their input's
    name and folder below the input folder given; nothing is written over an input. One line per
    file as it finishes; on a terminal also one progress line for the whole batch.
*/
class BatchRender
{
public:
    BatchRender (const RenderContext& context, std::function<bool()> shouldStop);

    /**
        Finds the files and their outputs. Returns the reason when the batch cannot start: a
        clash of outputs, an output that would replace an input, an output folder that is a file.
    */
    std::optional<juce::String> plan();

    /** Renders every planned file; returns the exit status. */
    int run();

    const std::vector<FileResult>& getResults() const { return results; }
    double getWallSeconds() const { return wallSeconds; }
    int getWorkers() const { return workers; }

    /** The cores this process may run on (taskset and cgroups included). */
    static int availableCores();

    /** The exit status for a set of results: failed 1, target missed 4, truncated 3, else 0. */
    static int exitStatusFor (const std::vector<FileResult>& results);

private:
    struct Planned
    {
        juce::File input, output, plot;
        juce::int64 bytes = 0;
    };

    void addInput (const juce::String& argument);
    void worker();
    void printFinished (size_t index);

    const RenderContext& context;
    std::function<bool()> shouldStop;
    juce::File outDir, plotDir;
    std::vector<Planned> planned;
    std::vector<FileResult> results;

    int workers = 1;
    double wallSeconds = 0.0;
    std::vector<size_t> order; // largest first, so the last file to start is a short one
    std::atomic<size_t> nextInOrder { 0 };
    // Shared with the main thread, which shows progress: per file, by the worker rendering it.
    std::unique_ptr<std::atomic<double>[]> fractionDone; // of the file, 0..1
    std::unique_ptr<std::atomic<double>[]> secondsDone;  // of audio
    std::unique_ptr<std::atomic<int>[]> finishedState; // 0 waiting or running, 1 finished, 2 shown
    std::atomic<int> activeWorkers { 0 };
    int shown = 0;
};
