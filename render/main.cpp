// orvalis-render: runs the Orvalis processor over a four-channel first-order ambisonic file.
#include "render/BatchRender.h"
#include "render/FileChecks.h"
#include "render/RenderJob.h"
#include "render/RenderReport.h"
#include "render/RenderText.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace
{
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;
constexpr double progressAfterSeconds = 5.0;

// Set by the signal handler, read by every worker of a batch: a lock-free atomic is safe in both.
std::atomic<int> stopSignal { 0 };
static_assert (std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal (int signal);
extern "C" void onStopSignal (int signal)
{
    const int savedErrno = errno;
    stopSignal.store (signal, std::memory_order_relaxed);
    errno = savedErrno;
}

void installStopHandlers()
{
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset (&action.sa_mask);
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction (signal, &action, nullptr);
}

const char* const helpText =
    R"(orvalis-render - limit a four-channel first-order ambisonic recording with Orvalis

Usage:
  orvalis-render INPUT OUTPUT [options]
  orvalis-render --out-dir DIR INPUT... [options]
  orvalis-render --demo OUTPUT [options]

Runs the Orvalis look-ahead limiter - the very processor of the plug-in - over a whole
file. One gain acts on all four channels, so limiting lowers the whole sound field
without moving the sources in it.

INPUT   a WAV, AIFF or FLAC file with exactly 4 channels (ambiX or FuMa: the limiter
        treats both alike) at any sample rate up to 192000 Hz. It is read block by
        block, so files of any length work in little memory.
OUTPUT  written at the input's sample rate with the input's length. The audio goes to
        a hidden temporary file in OUTPUT's folder, renamed to OUTPUT only when it is
        complete; an existing OUTPUT is replaced. OUTPUT must not be INPUT.

An input is read for what it holds, not for what its header claims: a WAV data size of
0 or 0xFFFFFFFF (left by a recorder that lost power) or one beyond the end of the file
means "to the end of the file", an AIFF likewise, and a FLAC file is decoded until the
decoder stops. An input holding less than its header promises is rendered as far as it
goes and reported as truncated (exit status 3); nothing is invented.

Batch form:
  --out-dir DIR    render every INPUT into DIR: files, and folders searched recursively
                   for WAV, AIFF and FLAC files (hidden files and DIR itself left out).
                   An output keeps its input's name and its folder below the folder given,
                   and its format: WAV becomes 32-bit float WAV, FLAC 24-bit FLAC, AIFF
                   24-bit AIFF, unless --format says otherwise (which sets the extension).
                   Files that are not four-channel audio (or above 192000 Hz) are skipped,
                   files that cannot be read fail; either way the rest go on. No output may
                   replace an input, and no two inputs may share an output.
  -j N, --jobs N   N workers, each rendering one file at a time with its own processor
                   (default: one per core this process may use)
  --plot DIR       with --out-dir, the pictures go to DIR, as OUTPUT.png below it
On a terminal one progress line shows files done, audio done, the speed and the time
left; otherwise a plain progress line every 10 s. A line per file as it finishes, then a
summary. Ctrl-C stops at once: finished outputs stay, unfinished ones are removed.

Report and delivery checks (both forms):
  --report FILE    write a report of every file: FILE.json (schema in README.md) or
                   FILE.csv (a row per file, a last row for the batch); may be given once
                   for each. Written to a temporary file and renamed when complete.
  --target-true-peak DB
                   fail the run (exit status 4) for every output whose true peak on any
                   channel is above DB dBTP (-60..+20); the outputs stay in place
  --convention C   ambix (the default) or fuma: the loudness is that of W, channel 1, as
                   ambiX's W; FuMa's W is 3 dB lower, so with fuma it is raised by 3.01 dB
  --input-loudness also measure the input's loudness (the output's always is); costs
                   about a fifth of the speed

Limiter settings (the plug-in's four knobs, in their units):
  --gain DB        input gain, 0..60 dB (default 0)
  --attack MS      attack time, which is the look-ahead, 0..40 ms (default 1)
  --release MS     release time, 0..1000 ms (default 20)
  --ceiling DB     max peak level, -10..+10 dB (default 0); dBTP with --true-peak
  --true-peak      limit true peaks, as the plug-in's "Peak: True peak" choice: the
                   detector looks between the samples (8x oversampled), so the output's
                   true peak stays at the ceiling; the latency grows by 20 samples
  --sample-peak    limit sample peaks (the default), also when the settings document
                   chooses true peaks
  --settings FILE  a settings document as the plug-in saves it, for example
                     <Root><Gain>0.1</Gain><Attack>0.025</Attack><Release>0.02</Release>
                     <Threshold>0.45</Threshold><idxInputConfig>0</idxInputConfig></Root>
                   Its values are the knobs' positions 0..1: Gain = dB/60, Attack = ms/40,
                   Release = ms/1000, Threshold = (dB+10)/20; a last element
                   <TruePeak>1</TruePeak> chooses true-peak limiting. Tags are matched
                   ignoring case; missing elements keep the defaults. --gain, --attack,
                   --release, --ceiling, --true-peak and --sample-peak given as well
                   override the document.

Processing:
  --block N        frames per processing block, 1..8192 (default 512); the output does
                   not depend on it, except while the input gain glides at the start
                   (use --settled for output that never depends on it)
  --settled        start settled, as an instance that has been running for a while:
                   before the file, run 65536 frames of silence through the processor and
                   prepare it afresh, so that the input gain starts at its setting instead
                   of gliding up from 0 dB, and the release at its setting instead of the
                   slower settling release that follows a change of look-ahead
  --raw            write the output as the processor produces it: delayed by the
                   latency (the look-ahead; 20 samples more with --true-peak), so the
                   input's last latency frames are not heard. By default the output
                   is aligned: the input is followed by latency frames of silence and
                   the first latency frames of output are dropped, so output frame n
                   belongs to input frame n.

Output:
  --format F       wav32 (32-bit float WAV, the default), wav24 (24-bit PCM WAV) or
                   flac (24-bit FLAC). Without --format an OUTPUT ending in .flac is
                   written as FLAC. 24-bit output cannot hold samples above 0 dBFS: they
                   are clipped and counted in a warning (keep the ceiling at or below 0 dB).
  --plot PNG       also draw the input and output peak envelopes and the gain
                   reduction over time into a PNG picture

Demo:
  --demo           render the built-in scene instead of INPUT: 8 seconds at 48 kHz of
                   first-order ambisonics (ambiX: ACN order, SN3D) with four percussive
                   sources circling the listener, peaks up to about +9 dBFS; the same on
                   every run

  -h, --help       show this text
  --version        show the version

When done, a summary shows per channel the input and output sample peaks (dBFS) and
true peaks (dBTP): 4x oversampled through a 48-tap polyphase interpolator with the
structure of ITU-R BS.1770-4 (its coefficients are a Kaiser-windowed sinc designed
here, not the standard's table; flat within 0.1 dB up to 3/4 of the Nyquist
frequency; a true peak is never shown below its sample peak). It also shows the
largest gain reduction - the input peak after the input gain over the output peak, in
10 ms windows - the share of the frames during which the limiter held the output more
than 0.001 dB below the input after gain, the integrated loudness and loudness range of W
(ITU-R BS.1770-4 / EBU R128 through libebur128), the latency in samples and the speed as a
multiple of real time. A progress bar appears on a terminal for inputs longer than 5
seconds.

The processor is driven as a host drives the plug-in: the four settings are set (input
gain, attack, release, max peak level), the processor is prepared for the file's rate
and block size, and the file is processed block by block. So, as in a host, the input
gain glides up from 0 dB over the first milliseconds, and after a look-ahead change the
release runs slower for a while; --settled avoids both. Input samples that are not finite numbers (NaN,
infinity) are replaced by silence, with a warning.

Exit status: 0 done; 1 a file could not be read or written (in the batch form: any
file, or none was four-channel audio); 2 bad command line; 3 an input was truncated
(its output holds what the file held); 4 an output is above --target-true-peak; 130 or
143 interrupted (Ctrl-C, SIGTERM): unfinished outputs are removed and what was there
before is left as it was. When several apply, the first of 1, 4, 3 is given.

Examples:
  orvalis-render --demo out/demo.wav --plot out/demo.png
  orvalis-render concert.wav concert-limited.wav --gain 6 --ceiling -1
  orvalis-render take3.flac take3-limited.flac --format flac --attack 5 --release 200
  orvalis-render --out-dir limited/ day1/ day2/ --ceiling -1 --report limited/report.json
)";

int fail (const juce::String& message, int code = exitFailed)
{
    std::cerr << "orvalis-render: " << message << std::endl;
    return code;
}

void warn (const juce::String& message)
{
    std::cerr << "orvalis-render: warning: " << message << std::endl;
}

using FileChecks::resolve;
using FileChecks::sameFile;
using RenderText::clockTime;
using RenderText::decibels;

class ProgressBar
{
public:
    explicit ProgressBar (bool on) : enabled (on) {}

    void update (juce::int64 done, juce::int64 total)
    {
        if (! enabled || total <= 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (shown && done < total && now - lastShown < std::chrono::milliseconds (100))
            return;
        lastShown = now;
        shown = true;
        const double fraction = static_cast<double> (done) / static_cast<double> (total);
        const double elapsed = std::chrono::duration<double> (now - started).count();
        constexpr int barWidth = 30;
        const int filled = static_cast<int> (fraction * barWidth);
        juce::String bar = juce::String::repeatedString ("#", filled)
                           + juce::String::repeatedString (".", barWidth - filled);
        juce::String line = "\r  [" + bar + "] "
                            + juce::String (juce::roundToInt (fraction * 100.0)).paddedLeft (' ', 3)
                            + "%";
        if (fraction > 0.02)
            line << "  about " << clockTime (elapsed / fraction - elapsed, false) << " left  ";
        std::fputs (line.toRawUTF8(), stderr);
        std::fflush (stderr);
    }

    void clear()
    {
        if (shown)
            std::fputs ("\r\033[K", stderr);
        shown = false;
    }

private:
    bool enabled;
    bool shown = false;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown;
};

std::optional<juce::String> loadSettings (const juce::String& path, SettingsDocument& document)
{
    const auto file = resolve (path);
    if (auto problem = FileChecks::checkReadable (file, path))
        return problem;
    juce::StringArray warnings;
    if (auto problem = SettingsDocument::parse (file.loadFileAsString(), document, warnings))
        return path + ": " + *problem;
    for (const auto& warning : warnings)
        warn (path + " " + warning);
    return std::nullopt;
}

juce::String startTime()
{
    return juce::Time::getCurrentTime().toISO8601 (true);
}

/** Writes every --report; false (after saying why) when one could not be written. */
bool writeReports (const RenderContext& context,
                   const std::vector<FileResult>& files,
                   const RunSummary& summary)
{
    bool ok = true;
    for (const auto& name : context.options.reportFiles)
        if (auto problem = RenderReport::write (resolve (name), context, files, summary))
        {
            fail (name + ": cannot write the report: " + *problem);
            ok = false;
        }
    return ok;
}

void printSummary (const FileResult& result, bool raw, const RenderContext& context)
{
    const auto& stats = result.stats;
    const auto& p = result.knobs;
    const double sampleRate = result.sampleRate;
    const double seconds = static_cast<double> (stats.inputFrames) / sampleRate;
    std::cout << "input      " << result.inputName << ": " << sampleRate << " Hz, 4 channels, "
              << juce::String (seconds, 3) << " s (" << stats.inputFrames << " frames)\n";
    if (result.lengthNote.isNotEmpty())
        std::cout << "length     " << result.lengthNote << "\n";
    std::cout << "output     " << result.outputName << ": "
              << RenderOptions::formatName (result.format) << ", "
              << (raw ? "raw (delayed by the latency)" : "aligned with the input") << "\n";
    std::cout << "settings   input gain " << juce::String (p.gainDb, 2) << " dB, attack "
              << juce::String (p.attackMs, 3) << " ms, release " << juce::String (p.releaseMs, 2)
              << " ms, ceiling " << juce::String (p.ceilingDb, 2) << (p.truePeak ? " dBTP" : " dB")
              << "\n";
    std::cout << "mode       "
              << (p.truePeak ? "true peak: the ceiling holds the output's true peaks (dBTP)"
                             : "sample peak: the ceiling holds the output's samples (dBFS)")
              << "\n";
    std::cout << "latency    " << stats.latencySamples << " samples ("
              << juce::String (1000.0 * stats.latencySamples / sampleRate, 3) << " ms)\n";

    const auto row = [] (const char* label, const std::array<float, 4>& values, const char* unit)
    {
        juce::String line = juce::String (label).paddedRight (' ', 26);
        for (float v : values)
            line << decibels (v, "").paddedLeft (' ', 9);
        std::cout << line << "  " << unit << "\n";
    };
    std::cout << juce::String().paddedRight (' ', 26) << "     ch 1     ch 2     ch 3     ch 4\n";
    row ("input sample peak", stats.inputPeak, "dBFS");
    row ("input true peak", stats.inputTruePeak, "dBTP");
    row ("output sample peak", stats.outputPeak, "dBFS");
    row ("output true peak", stats.outputTruePeak, "dBTP");

    std::cout << "gain reduction  largest " << juce::String (stats.largestGainReductionDb, 2)
              << " dB";
    if (stats.largestGainReductionFrame >= 0 && stats.largestGainReductionDb > 0.0f)
        std::cout << " at "
                  << clockTime (static_cast<double> (stats.largestGainReductionFrame) / sampleRate,
                                true);
    std::cout << " (input peak after gain over output peak, 10 ms windows)\n";
    std::cout << "limiting   "
              << juce::String (stats.inputFrames > 0
                                   ? 100.0 * static_cast<double> (stats.limitedFrames)
                                         / static_cast<double> (stats.inputFrames)
                                   : 0.0,
                               2)
              << " % of the frames (output below the input after gain)\n";

    const auto loudness = [] (const std::optional<Loudness>& l)
    {
        if (! l.has_value())
            return juce::String ("not measured");
        return (l->integratedLufs ? juce::String (*l->integratedLufs, 2) + " LUFS"
                                  : juce::String ("below the gate"))
               + ", range " + juce::String (l->rangeLu, 2) + " LU";
    };
    std::cout << "loudness   W (" << RenderOptions::conventionName (context.options.convention)
              << "): input " << loudness (stats.inputLoudness) << "; output "
              << loudness (stats.outputLoudness) << "\n";
    if (result.meetsTarget.has_value())
        std::cout << "target     output true peak "
                  << decibels (result.largestOutputTruePeak(), "dBTP")
                  << (*result.meetsTarget ? " meets" : " exceeds") << " the target of "
                  << juce::String (*context.options.targetTruePeakDb, 2) << " dBTP\n";

    const double speed = stats.wallSeconds > 0.0 ? seconds / stats.wallSeconds : 0.0;
    const double processorSpeed =
        stats.processorSeconds > 0.0 ? seconds / stats.processorSeconds : 0.0;
    std::cout << "speed      " << juce::String (speed, 1) << "x real time ("
              << juce::String (stats.wallSeconds, 3) << " s for " << juce::String (seconds, 3)
              << " s of audio; the processor alone " << juce::String (processorSpeed, 1) << "x)\n";
    std::cout.flush();
}

int renderOne (const RenderContext& context)
{
    const auto& options = context.options;
    const auto started = startTime();
    const auto startClock = std::chrono::steady_clock::now();

    std::vector<FileResult> results (1);
    auto& result = results[0];
    result.inputName = options.demo ? juce::String ("demo scene (ambiX, SN3D)") : options.input;
    result.outputName = options.output;
    result.plotName = options.plotFile;
    result.mode = context.modeName();
    RenderJob job (context, result, warn);

    const auto outputFile = resolve (options.output);
    const auto inputFile = options.demo ? juce::File() : resolve (options.input);
    const auto plotFile = options.plotFile.isNotEmpty() ? resolve (options.plotFile) : juce::File();
    for (const auto& name : options.reportFiles)
    {
        const auto report = resolve (name);
        if (sameFile (report, outputFile) || (! options.demo && sameFile (report, inputFile))
            || (plotFile != juce::File() && sameFile (report, plotFile)))
            return fail (name + ": the report must not replace INPUT, OUTPUT or the plot");
        if (auto problem = FileChecks::checkWritable (report, name))
            return fail (*problem);
    }

    // From here on a failure is reported in the report too, with the settings it would have had.
    if (! options.reportFiles.isEmpty())
    {
        std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
        juce::StringArray repeated; // RenderJob tells them
        result.knobs = applySettings (*processor, options, &context.settings, repeated);
    }
    RunSummary summary;
    summary.startedAt = started;
    const auto failReported = [&] (const juce::String& message)
    {
        result.status = FileStatus::failed;
        result.error = message;
        summary.exitStatus = exitFailed;
        summary.wallSeconds =
            std::chrono::duration<double> (std::chrono::steady_clock::now() - startClock).count();
        writeReports (context, results, summary);
        return fail (message);
    };

    if (options.demo)
        job.openDemo();
    else if (! job.openInput (inputFile))
        return failReported (result.error);

    if (auto problem = FileChecks::checkWritable (outputFile, options.output))
        return failReported (*problem);
    if (! options.demo && sameFile (inputFile, outputFile))
        return failReported (options.output
                             + ": OUTPUT is the same file as INPUT; choose another name");
    if (context.settings.xml != nullptr && sameFile (resolve (options.settingsFile), outputFile))
        return failReported (options.output + ": OUTPUT is the same file as the settings document");
    if (! options.format.has_value())
        for (const char* extension : { ".aif", ".aiff", ".aifc", ".ogg", ".mp3" })
            if (options.output.endsWithIgnoreCase (extension))
                return failReported (options.output + ": cannot write "
                                     + juce::String (extension + 1).toUpperCase()
                                     + "; name OUTPUT .wav or .flac, or choose --format");

    if (plotFile != juce::File())
    {
        if (auto problem = FileChecks::checkWritable (plotFile, options.plotFile))
            return failReported (*problem);
        if (sameFile (plotFile, outputFile) || (! options.demo && sameFile (plotFile, inputFile)))
            return failReported (options.plotFile + ": the plot must not replace INPUT or OUTPUT");
    }

    const auto format = options.outputFormat();
    if ((format == RenderOptions::Format::flac) != options.output.endsWithIgnoreCase (".flac"))
        warn ("writing " + RenderOptions::formatName (format) + " into a file named "
              + outputFile.getFileName());

    const double inputSeconds = static_cast<double> (job.getExpectedFrames()) / result.sampleRate;
    ProgressBar progress (::isatty (STDERR_FILENO) == 1 && inputSeconds > progressAfterSeconds);
    job.render (
        outputFile,
        format,
        plotFile,
        [] { return stopSignal != 0; },
        [&progress] (juce::int64 done, juce::int64 total) { progress.update (done, total); });
    progress.clear();
    summary.wallSeconds =
        std::chrono::duration<double> (std::chrono::steady_clock::now() - startClock).count();

    if (result.status == FileStatus::interrupted || stopSignal != 0)
    {
        if (result.status == FileStatus::interrupted)
            result.error.clear();
        summary.interrupted = true;
        summary.exitStatus = 128 + stopSignal.load();
        writeReports (context, results, summary);
        return fail ("interrupted; " + options.output + " not written", summary.exitStatus);
    }
    if (result.status == FileStatus::failed)
        return failReported (result.error);

    printSummary (result, options.raw, context);
    const auto& stats = result.stats;
    if (result.status == FileStatus::truncated)
        warn (result.inputName + " is " + result.lengthNote
              + "; only the frames present were rendered");
    if (stats.nonFiniteInputSamples > 0)
        warn (juce::String (stats.nonFiniteInputSamples)
              + " input samples were not finite numbers and became silence");
    if (stats.clippedOutputSamples > 0)
        warn (juce::String (stats.clippedOutputSamples)
              + " output samples above 0 dBFS were clipped in " + RenderOptions::formatName (format)
              + "; use --format wav32 or a ceiling at or below 0 dB");

    int status = BatchRender::exitStatusFor (results);
    if (plotFile != juce::File() && result.error.isEmpty())
        std::cout << "plot       " << options.plotFile << "\n";
    summary.exitStatus = status;
    if (! writeReports (context, results, summary))
        status = exitFailed;
    for (const auto& name : options.reportFiles)
        std::cout << "report     " << name << "\n";
    if (result.error.isNotEmpty())
        return fail (result.error);
    return status;
}

int renderBatch (RenderContext& context)
{
    const auto started = startTime();
    // Workers make their processors while this one lives: the first processor of the process
    // sets up the shared look-and-feel, which belongs on this thread. It also tells the settings
    // warnings once for the whole batch.
    std::unique_ptr<juce::AudioProcessor> keeper (createPluginFilter());
    juce::StringArray warnings;
    context.knobs = applySettings (*keeper, context.options, &context.settings, warnings);
    for (const auto& warning : warnings)
        warn (warning);
    context.warnAboutSettings = false;

    BatchRender batch (context, [] { return stopSignal != 0; });
    if (auto problem = batch.plan())
        return fail (*problem, exitUsage);

    int status = batch.run();
    const auto& results = batch.getResults();
    const auto t = RenderReport::totals (results);
    RunSummary summary;
    summary.startedAt = started;
    summary.wallSeconds = batch.getWallSeconds();
    summary.workers = batch.getWorkers();
    summary.interrupted = stopSignal != 0;
    if (summary.interrupted)
        status = 128 + stopSignal.load();
    summary.exitStatus = status;

    std::cout << "summary    " << t.files << " files: " << t.done << " done, " << t.truncated
              << " truncated, " << t.skipped << " skipped, " << t.failed << " failed";
    if (summary.interrupted)
        std::cout << ", " << t.interrupted << " interrupted (removed), " << t.notStarted
                  << " not started";
    std::cout << "; " << RenderText::duration (t.audioSeconds) << " of audio in "
              << juce::String (summary.wallSeconds, 1) << " s ("
              << juce::roundToInt (summary.wallSeconds > 0.0 ? t.audioSeconds / summary.wallSeconds
                                                             : 0.0)
              << "x real time)\n";
    if (context.options.targetTruePeakDb.has_value())
        std::cout << "target     " << t.targetMissed
                  << (t.targetMissed == 1 ? " output exceeds" : " outputs exceed")
                  << " the true-peak target of "
                  << juce::String (*context.options.targetTruePeakDb, 2) << " dBTP\n";
    if (! writeReports (context, results, summary) && status == 0)
        status = exitFailed;
    for (const auto& name : context.options.reportFiles)
        std::cout << "report     " << name << "\n";
    std::cout.flush();
    if (summary.interrupted)
        fail ("interrupted: " + juce::String (t.done + t.truncated) + " finished outputs kept, "
              + juce::String (t.interrupted) + " unfinished removed, " + juce::String (t.notStarted)
              + " not started");
    return status;
}

int render (RenderContext& context)
{
    const auto& options = context.options;
    if (options.settingsFile.isNotEmpty())
        if (auto problem = loadSettings (options.settingsFile, context.settings))
            return fail (*problem);
    return options.isBatch() ? renderBatch (context) : renderOne (context);
}
} // namespace

int main (int argc, char* argv[])
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    RenderOptions options;
    if (auto problem = RenderOptions::parse (args, options))
        return fail (*problem + " (see orvalis-render --help)", exitUsage);
    if (options.help)
    {
        std::cout << helpText;
        return 0;
    }
    if (options.version)
    {
        std::cout << "orvalis-render " << ORVALIS_VERSION << "\n";
        return 0;
    }

    installStopHandlers();
    // The processor's look-and-feel and image cache expect JUCE's GUI classes to be initialised;
    // nothing here opens a window.
    juce::ScopedJuceInitialiser_GUI juceGui;
    RenderContext context;
    context.options = options;
    return render (context);
}
