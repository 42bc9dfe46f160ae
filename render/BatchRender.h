#pragma once

#include "render/ProgressLine.h"
#include "render/RenderJob.h"
#include "render/RenderPlan.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

/**
    Renders the files of a plan on several workers, each file by a RenderJob with its own
    processor, largest files first. The calling thread shows the progress and hears of each file
    as it finishes; workers stop taking files once shouldStop says so. Both forms run this way:
    the single-file form is a plan of one file.
*/
class BatchRender
{
public:
    struct Listener
    {
        std::function<void (int workers)> started;                 // before the first file starts
        std::function<void (size_t index, int position)> finished; // position: 1, 2, ... in order
        // Warnings of a file: told at once when set, else kept in the file's note.
        RenderJob::Warn tellNow;
    };

    BatchRender (const RenderContext& context, RenderPlan& plan, std::function<bool()> shouldStop);

    /** Renders every planned file into the plan's results. */
    void run (ProgressLine& progress, const Listener& listener);

    double getWallSeconds() const { return wallSeconds; }
    int getWorkers() const { return workers; }

    /** The cores this process may run on (taskset and cgroups included). */
    static int availableCores();

private:
    void worker (const Listener& listener);
    void renderOne (size_t index, const Listener& listener);

    const RenderContext& context;
    RenderPlan& plan;
    std::function<bool()> shouldStop;

    int workers = 1;
    double wallSeconds = 0.0;
    std::vector<size_t> order; // largest first, so the last file to start is a short one
    std::atomic<size_t> nextInOrder { 0 };
    // Shared with the calling thread, which shows progress: per file, by the worker rendering it.
    std::unique_ptr<std::atomic<double>[]> fractionDone;    // of the file, 0..1
    std::unique_ptr<std::atomic<double>[]> secondsDone;     // of audio
    std::unique_ptr<std::atomic<double>[]> secondsExpected; // of audio, once the input is open
    std::unique_ptr<std::atomic<int>[]> finishedState; // 0 waiting or running, 1 finished, 2 told
    std::atomic<int> activeWorkers { 0 };
    // Wakes the calling thread as a file finishes, so it tells it (and ends the run) at once.
    std::mutex wakeLock;
    std::condition_variable wake;
    int finishedSinceLook = 0; // guarded by wakeLock
};
