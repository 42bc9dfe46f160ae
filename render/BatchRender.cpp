#include "render/BatchRender.h"

#include "render/Platform.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

void addNote (juce::String& note, const juce::String& text)
{
    note << (note.isEmpty() ? "" : "; ") << text;
}
} // namespace

BatchRender::BatchRender (const RenderContext& c, RenderPlan& p, std::function<bool()> stop) :
    context (c),
    plan (p),
    shouldStop (std::move (stop))
{
}

int BatchRender::availableCores()
{
    return Platform::availableCores();
}

void BatchRender::renderOne (size_t index, const Listener& listener)
{
    auto& result = plan.results[index];
    const auto& entry = plan.entries[index];

    // Without a listener to tell them at once, a file's warnings are shown with its line.
    juce::StringArray warnings;
    const RenderJob::Warn warn = listener.tellNow ? listener.tellNow
                                                  : [&warnings] (const juce::String& text)
    { warnings.add (text); };
    RenderJob job (context, result, warn);
    bool opened = true;
    if (entry.demo)
        job.openDemo();
    else
        opened = job.openInput (entry.input);
    if (opened)
    {
        secondsExpected[index].store (double (job.getExpectedFrames()) / result.sampleRate,
                                      std::memory_order_relaxed);
        if (auto problem = plan.checkBeforeRender (index, warn))
        {
            result.status = FileStatus::failed;
            result.error = *problem;
        }
        else
        {
            const double rate = result.sampleRate;
            job.render (
                entry.output,
                result.format,
                entry.plot,
                shouldStop,
                [this, index, rate] (juce::int64 done, juce::int64 expected)
                {
                    fractionDone[index].store (
                        expected > 0 ? std::min (1.0, double (done) / double (expected)) : 0.0,
                        std::memory_order_relaxed);
                    secondsDone[index].store (double (done) / rate, std::memory_order_relaxed);
                });
        }
    }
    if (listener.tellNow)
        return;
    for (const auto& text : warnings)
        addNote (result.lengthNote, text);
    if (result.wasRendered())
    {
        const auto& s = result.stats;
        if (s.nonFiniteInputSamples > 0)
            addNote (result.lengthNote,
                     juce::String (s.nonFiniteInputSamples)
                         + " input samples were not finite numbers and became silence");
        if (s.clippedOutputSamples > 0)
            addNote (result.lengthNote,
                     juce::String (s.clippedOutputSamples)
                         + " output samples above 0 dBFS were clipped in "
                         + RenderOptions::formatName (result.format));
    }
}

void BatchRender::worker (const Listener& listener)
{
    const auto tellCaller = [this]
    {
        {
            const std::lock_guard<std::mutex> lock (wakeLock);
            ++finishedSinceLook;
        }
        wake.notify_one();
    };
    for (;;)
    {
        const auto slot = nextInOrder.fetch_add (1);
        if (slot >= order.size() || shouldStop())
        {
            activeWorkers.fetch_sub (1, std::memory_order_release);
            tellCaller();
            return;
        }
        const auto index = order[slot];
        renderOne (index, listener);
        fractionDone[index].store (1.0, std::memory_order_relaxed);
        finishedState[index].store (1, std::memory_order_release);
        tellCaller();
    }
}

void BatchRender::run (ProgressLine& progress, const Listener& listener)
{
    const auto started = Clock::now();
    const size_t n = plan.entries.size();
    const int jobs = context.options.jobs;
    workers = static_cast<int> (
        std::min<size_t> (n, static_cast<size_t> (jobs > 0 ? jobs : availableCores())));

    order.resize (n);
    for (size_t i = 0; i < n; ++i)
        order[i] = i;
    std::stable_sort (order.begin(),
                      order.end(),
                      [this] (size_t a, size_t b)
                      { return plan.entries[a].bytes > plan.entries[b].bytes; });
    fractionDone.reset (new std::atomic<double>[n]);
    secondsDone.reset (new std::atomic<double>[n]);
    secondsExpected.reset (new std::atomic<double>[n]);
    finishedState.reset (new std::atomic<int>[n]);
    juce::int64 totalBytes = 0;
    for (size_t i = 0; i < n; ++i)
    {
        fractionDone[i] = 0.0;
        secondsDone[i] = 0.0;
        secondsExpected[i] = 0.0;
        finishedState[i] = 0;
        totalBytes += plan.entries[i].bytes;
    }

    if (listener.started)
        listener.started (workers);

    std::vector<std::thread> threads;
    activeWorkers = workers;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back ([this, &listener] { worker (listener); });

    int told = 0;
    const auto tell = [&] (size_t index)
    {
        ++told;
        if (listener.finished)
            listener.finished (index, told);
        finishedState[index].store (2, std::memory_order_relaxed);
    };
    for (bool running = true; running;)
    {
        running = activeWorkers.load (std::memory_order_acquire) > 0;

        double fraction = 0.0, seconds = 0.0, expected = 0.0;
        for (size_t i = 0; i < n; ++i)
        {
            if (finishedState[i].load (std::memory_order_acquire) == 1)
            {
                progress.clear();
                tell (i);
            }
            // Shared out by the inputs' sizes; evenly when none has a size (the demo scene).
            const double share = totalBytes > 0
                                     ? double (plan.entries[i].bytes) / double (totalBytes)
                                     : 1.0 / double (n);
            fraction += fractionDone[i].load (std::memory_order_relaxed) * share;
            seconds += secondsDone[i].load (std::memory_order_relaxed);
            expected += secondsExpected[i].load (std::memory_order_relaxed);
        }
        if (running)
        {
            progress.show (told, static_cast<int> (n), fraction, seconds, expected);
            std::unique_lock<std::mutex> lock (wakeLock);
            wake.wait_for (
                lock, std::chrono::milliseconds (50), [this] { return finishedSinceLook > 0; });
            finishedSinceLook = 0;
        }
        else
            progress.clear();
    }
    for (auto& thread : threads)
        thread.join();
    for (size_t i = 0; i < n; ++i)
        if (finishedState[i].load() == 1)
            tell (i);

    wallSeconds = std::chrono::duration<double> (Clock::now() - started).count();
}
