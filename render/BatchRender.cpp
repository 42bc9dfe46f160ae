#include "render/BatchRender.h"

#include "render/FileChecks.h"
#include "render/RenderText.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool isAudioName (const juce::String& name)
{
    for (const char* extension : { ".wav", ".wave", ".aif", ".aiff", ".aifc", ".flac" })
        if (name.endsWithIgnoreCase (extension))
            return true;
    return false;
}

bool isFlacName (const juce::String& name)
{
    return name.endsWithIgnoreCase (".flac");
}

bool isAiffName (const juce::String& name)
{
    return name.endsWithIgnoreCase (".aif") || name.endsWithIgnoreCase (".aiff")
           || name.endsWithIgnoreCase (".aifc");
}

/** The format an input's output is written in: --format, else the input's own (by its name). */
RenderOptions::Format outputFormatFor (const RenderOptions& options, const juce::String& name)
{
    if (options.format.has_value())
        return *options.format;
    if (isFlacName (name))
        return RenderOptions::Format::flac;
    if (isAiffName (name))
        return RenderOptions::Format::aiff24;
    return RenderOptions::Format::wav32;
}

/** The output's name: the input's, with the extension of another format when --format changes it. */
juce::String outputNameFor (const juce::String& relative, RenderOptions::Format format)
{
    const bool keep =
        (format == RenderOptions::Format::flac && isFlacName (relative))
        || (format == RenderOptions::Format::aiff24 && isAiffName (relative))
        || ((format == RenderOptions::Format::wav32 || format == RenderOptions::Format::wav24)
            && ! isFlacName (relative) && ! isAiffName (relative));
    if (keep)
        return relative;
    const auto stem = relative.upToLastOccurrenceOf (".", false, false);
    return stem + (format == RenderOptions::Format::flac ? ".flac" : ".wav");
}

juce::String joinName (const juce::String& folder, const juce::String& relative)
{
    return folder.endsWithChar ('/') ? folder + relative : folder + "/" + relative;
}

/** One line for the whole batch, rewritten in place on a terminal, or a plain line now and then. */
class BatchProgress
{
public:
    explicit BatchProgress (bool terminal) : onTerminal (terminal) {}

    void show (int filesDone, int files, double fraction, double audioSeconds, bool force = false)
    {
        const auto now = Clock::now();
        const auto interval =
            onTerminal ? std::chrono::milliseconds (200) : std::chrono::milliseconds (10000);
        if (! force && now - lastShown < interval)
            return;
        lastShown = now;
        const double elapsed = std::chrono::duration<double> (now - started).count();
        juce::String line;
        if (onTerminal)
        {
            constexpr int barWidth = 24;
            const int filled = static_cast<int> (std::clamp (fraction, 0.0, 1.0) * barWidth);
            line << "\r  [" << juce::String::repeatedString ("#", filled)
                 << juce::String::repeatedString (".", barWidth - filled) << "] ";
        }
        else
            line << "progress: ";
        line << filesDone << "/" << files << " files, " << RenderText::duration (audioSeconds)
             << " of audio";
        if (elapsed > 0.5 && audioSeconds > 0.0)
            line << ", " << juce::roundToInt (audioSeconds / elapsed) << "x real time";
        if (fraction > 0.02 && fraction < 1.0)
            line << ", about " << RenderText::clockTime (elapsed / fraction - elapsed, false)
                 << " left";
        if (onTerminal)
            line << "\033[K";
        else
            line << "\n";
        std::fputs (line.toRawUTF8(), stderr);
        std::fflush (stderr);
        drawn = onTerminal;
    }

    void clear()
    {
        if (drawn)
            std::fputs ("\r\033[K", stderr);
        drawn = false;
    }

private:
    bool onTerminal;
    bool drawn = false;
    Clock::time_point started = Clock::now();
    Clock::time_point lastShown = Clock::now();
};
} // namespace

BatchRender::BatchRender (const RenderContext& c, std::function<bool()> stop) :
    context (c),
    shouldStop (std::move (stop))
{
}

int BatchRender::availableCores()
{
    cpu_set_t set;
    CPU_ZERO (&set);
    if (sched_getaffinity (0, sizeof (set), &set) == 0)
        return std::max (1, CPU_COUNT (&set));
    return static_cast<int> (std::max (1u, std::thread::hardware_concurrency()));
}

void BatchRender::addInput (const juce::String& argument)
{
    const auto given = FileChecks::resolve (argument);
    const auto add = [this] (const juce::File& input,
                             const juce::String& inputName,
                             const juce::String& relative)
    {
        const auto format = outputFormatFor (context.options, relative);
        const auto outRelative = outputNameFor (relative, format);
        Planned p;
        p.input = input;
        p.output = outDir.getChildFile (outRelative);
        if (plotDir != juce::File())
            p.plot = plotDir.getChildFile (outRelative + ".png");
        p.bytes = std::max<juce::int64> (0, input.getSize());
        FileResult r;
        r.inputName = inputName;
        r.outputName = joinName (context.options.outDir, outRelative);
        if (plotDir != juce::File())
            r.plotName = joinName (context.options.plotFile, outRelative + ".png");
        r.format = format;
        r.mode = context.modeName();
        r.knobs = context.knobs;
        planned.push_back (p);
        results.push_back (r);
    };

    if (! given.isDirectory())
    {
        add (given, argument, given.getFileName());
        return;
    }

    // Every audio file below the folder, in name order, leaving out hidden files and folders
    // (our own temporary files among them) and the output folder, should it be inside.
    std::vector<std::pair<juce::String, juce::File>> found;
    std::error_code error;
    const fs::path root (given.getFullPathName().toStdString());
    const auto outPath =
        fs::weakly_canonical (fs::path (outDir.getFullPathName().toStdString()), error);
    for (fs::recursive_directory_iterator
             it (root, fs::directory_options::skip_permission_denied, error),
         end;
         it != end;
         it.increment (error))
    {
        if (error)
            break;
        const auto name = it->path().filename().string();
        std::error_code statError;
        if (name.rfind (".", 0) == 0
            || (it->is_directory (statError)
                && fs::weakly_canonical (it->path(), statError) == outPath
                && fs::weakly_canonical (root, statError) != outPath))
        {
            if (it->is_directory (statError))
                it.disable_recursion_pending();
            continue;
        }
        if (! it->is_regular_file (statError) || ! isAudioName (name))
            continue;
        const auto relative =
            juce::String (fs::relative (it->path(), root, statError).generic_string());
        found.emplace_back (relative, juce::File (juce::String (it->path().string())));
    }
    std::sort (found.begin(),
               found.end(),
               [] (const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [relative, file] : found)
        add (file, joinName (argument, relative), relative);
}

std::optional<juce::String> BatchRender::plan()
{
    const auto& options = context.options;
    outDir = FileChecks::resolve (options.outDir);
    if (outDir.existsAsFile())
        return options.outDir + ": is a file; --out-dir needs a folder";
    if (options.plotFile.isNotEmpty())
    {
        plotDir = FileChecks::resolve (options.plotFile);
        if (plotDir.existsAsFile())
            return options.plotFile
                   + ": is a file; with --out-dir, --plot names a folder for the pictures";
    }

    for (const auto& argument : options.inputs)
    {
        if (! FileChecks::resolve (argument).exists())
            return argument + ": no such file or folder";
        addInput (argument);
    }
    if (planned.empty())
        return "no WAV, AIFF or FLAC files in " + options.inputs.joinIntoString (", ");

    std::map<juce::String, size_t> outputs;
    for (size_t i = 0; i < planned.size(); ++i)
    {
        const auto key = planned[i].output.getFullPathName();
        if (auto [at, inserted] = outputs.emplace (key, i); ! inserted)
            return results[at->second].inputName + " and " + results[i].inputName
                   + " would both be written to " + results[i].outputName;
    }
    // Nothing may be written over an input: not by its path, a link, or a hard link.
    std::map<juce::String, size_t> inputPaths;
    std::map<std::pair<dev_t, ino_t>, size_t> inputNodes;
    const auto canonical = [] (const juce::File& file)
    {
        std::error_code error;
        return juce::String (
            fs::weakly_canonical (fs::path (file.getFullPathName().toStdString()), error).string());
    };
    for (size_t i = 0; i < planned.size(); ++i)
    {
        inputPaths.emplace (canonical (planned[i].input), i);
        struct stat info
        {
        };
        if (::stat (planned[i].input.getFullPathName().toRawUTF8(), &info) == 0)
            inputNodes.emplace (std::make_pair (info.st_dev, info.st_ino), i);
    }
    const auto inputAt = [&] (const juce::File& file) -> std::optional<size_t>
    {
        if (auto at = inputPaths.find (canonical (file)); at != inputPaths.end())
            return at->second;
        struct stat info
        {
        };
        if (::stat (file.getFullPathName().toRawUTF8(), &info) == 0)
            if (auto at = inputNodes.find (std::make_pair (info.st_dev, info.st_ino));
                at != inputNodes.end())
                return at->second;
        return std::nullopt;
    };
    for (size_t i = 0; i < planned.size(); ++i)
        for (const auto* file : { &planned[i].output, &planned[i].plot })
            if (*file != juce::File())
                if (auto other = inputAt (*file))
                    return results[i].outputName + " would replace the input "
                           + results[*other].inputName + "; choose another --out-dir";
    for (const auto& name : options.reportFiles)
    {
        const auto report = FileChecks::resolve (name);
        if (inputAt (report) || outputs.count (report.getFullPathName()) > 0)
            return name + ": the report must not replace an input or an output";
    }
    return std::nullopt;
}

int BatchRender::exitStatusFor (const std::vector<FileResult>& files)
{
    bool failed = false, missed = false, truncated = false, rendered = false;
    for (const auto& r : files)
    {
        // A picture that could not be drawn fails the run too, though the output is in place.
        failed =
            failed || r.status == FileStatus::failed || (r.error.isNotEmpty() && r.wasRendered());
        missed = missed || (r.meetsTarget.has_value() && ! *r.meetsTarget);
        truncated = truncated || r.status == FileStatus::truncated;
        rendered = rendered || r.wasRendered();
    }
    if (failed || ! rendered)
        return 1;
    return missed ? 4 : truncated ? 3 : 0;
}

void BatchRender::worker()
{
    for (;;)
    {
        const auto slot = nextInOrder.fetch_add (1);
        if (slot >= order.size() || shouldStop())
        {
            activeWorkers.fetch_sub (1, std::memory_order_release);
            return;
        }
        const auto index = order[slot];
        auto& result = results[index];
        const auto& p = planned[index];

        // Warnings of one file are collected and shown with its line.
        juce::StringArray warnings;
        RenderJob job (
            context, result, [&warnings] (const juce::String& text) { warnings.add (text); });
        if (job.openInput (p.input))
        {
            std::error_code error;
            fs::create_directories (
                fs::path (p.output.getParentDirectory().getFullPathName().toStdString()), error);
            if (p.plot != juce::File())
                fs::create_directories (
                    fs::path (p.plot.getParentDirectory().getFullPathName().toStdString()), error);
            if (! p.output.getParentDirectory().isDirectory())
            {
                result.status = FileStatus::failed;
                result.error = result.outputName
                               + ": cannot make its folder: " + juce::String (error.message());
            }
            else
            {
                const double rate = result.sampleRate;
                job.render (
                    p.output,
                    result.format,
                    p.plot,
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
        for (const auto& text : warnings)
            result.lengthNote << (result.lengthNote.isEmpty() ? "" : "; ") << text;
        if (result.wasRendered())
        {
            const auto& s = result.stats;
            if (s.nonFiniteInputSamples > 0)
                result.lengthNote << (result.lengthNote.isEmpty() ? "" : "; ")
                                  << s.nonFiniteInputSamples
                                  << " input samples were not finite numbers and became silence";
            if (s.clippedOutputSamples > 0)
                result.lengthNote << (result.lengthNote.isEmpty() ? "" : "; ")
                                  << s.clippedOutputSamples
                                  << " output samples above 0 dBFS were clipped in "
                                  << RenderOptions::formatName (result.format);
        }
        fractionDone[index].store (1.0, std::memory_order_relaxed);
        finishedState[index].store (1, std::memory_order_release);
    }
}

void BatchRender::printFinished (size_t index)
{
    const auto& r = results[index];
    ++shown;
    const auto count = juce::String (results.size());
    juce::String line = "[" + juce::String (shown).paddedLeft (' ', count.length()) + "/" + count
                        + "] " + statusName (r.status).paddedRight (' ', 10) + " ";
    if (r.wasRendered())
    {
        const auto& s = r.stats;
        line << r.inputName << " -> " << r.outputName << ": "
             << RenderText::duration (double (s.inputFrames) / r.sampleRate)
             << ", largest reduction " << juce::String (s.largestGainReductionDb, 2)
             << " dB, limiting "
             << juce::String (s.inputFrames > 0
                                  ? 100.0 * double (s.limitedFrames) / double (s.inputFrames)
                                  : 0.0,
                              2)
             << " %, true peak " << RenderText::decibels (r.largestOutputTruePeak(), "dBTP");
        if (s.outputLoudness && s.outputLoudness->integratedLufs)
            line << ", W " << juce::String (*s.outputLoudness->integratedLufs, 1) << " LUFS";
        if (r.meetsTarget.has_value() && ! *r.meetsTarget)
            line << " (above the target of " << juce::String (*context.options.targetTruePeakDb, 2)
                 << " dBTP)";
        if (r.lengthNote.isNotEmpty())
            line << "\n        note: " << r.lengthNote;
        if (r.error.isNotEmpty())
            line << "\n        " << r.error;
    }
    else if (r.status == FileStatus::interrupted)
        line << r.inputName << " -> " << r.outputName << ": unfinished, removed";
    else
        line << (r.error.isNotEmpty() ? r.error : r.inputName);
    std::cout << line << std::endl;
}

int BatchRender::run()
{
    const auto started = Clock::now();
    const auto& options = context.options;
    const size_t n = planned.size();
    workers = static_cast<int> (std::min<size_t> (
        n, static_cast<size_t> (options.jobs > 0 ? options.jobs : availableCores())));

    order.resize (n);
    for (size_t i = 0; i < n; ++i)
        order[i] = i;
    std::stable_sort (order.begin(),
                      order.end(),
                      [this] (size_t a, size_t b) { return planned[a].bytes > planned[b].bytes; });
    fractionDone.reset (new std::atomic<double>[n]);
    secondsDone.reset (new std::atomic<double>[n]);
    finishedState.reset (new std::atomic<int>[n]);
    juce::int64 totalBytes = 0;
    for (size_t i = 0; i < n; ++i)
    {
        fractionDone[i] = 0.0;
        secondsDone[i] = 0.0;
        finishedState[i] = 0;
        totalBytes += planned[i].bytes;
    }

    std::cout << "batch      " << n << (n == 1 ? " file" : " files") << " into " << options.outDir
              << " on " << workers << (workers == 1 ? " worker" : " workers") << std::endl;

    std::vector<std::thread> threads;
    activeWorkers = workers;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back ([this] { worker(); });

    BatchProgress progress (::isatty (STDERR_FILENO) == 1);
    for (bool running = true; running;)
    {
        running = activeWorkers.load (std::memory_order_acquire) > 0;

        double fraction = 0.0, seconds = 0.0;
        for (size_t i = 0; i < n; ++i)
        {
            if (finishedState[i].load (std::memory_order_acquire) == 1)
            {
                progress.clear();
                printFinished (i);
                finishedState[i].store (2, std::memory_order_relaxed);
            }
            fraction += totalBytes > 0 ? fractionDone[i].load (std::memory_order_relaxed)
                                             * double (planned[i].bytes) / double (totalBytes)
                                       : 0.0;
            seconds += secondsDone[i].load (std::memory_order_relaxed);
        }
        if (running)
        {
            progress.show (shown, static_cast<int> (n), fraction, seconds);
            std::this_thread::sleep_for (std::chrono::milliseconds (50));
        }
        else
            progress.clear();
    }
    for (auto& thread : threads)
        thread.join();
    for (size_t i = 0; i < n; ++i)
        if (finishedState[i].load() == 1)
            printFinished (i);

    wallSeconds = std::chrono::duration<double> (Clock::now() - started).count();
    return exitStatusFor (results);
}
