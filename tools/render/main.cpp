// orvalis-render: runs the Orvalis processor over a four-channel first-order ambisonic file.
#include "tools/render/DemoSceneReader.h"
#include "tools/render/EnvelopePlot.h"
#include "tools/render/RenderOptions.h"
#include "tools/render/RenderSession.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <array>
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
constexpr double maxSampleRate = 192000.0;
constexpr double progressAfterSeconds = 5.0;

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal (int signal)
{
    stopSignal = signal;
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

Limiter settings (the plug-in's four knobs, in their units):
  --gain DB        input gain, 0..60 dB (default 0)
  --attack MS      attack time, which is the look-ahead, 0..40 ms (default 1)
  --release MS     release time, 0..1000 ms (default 20)
  --ceiling DB     max peak level, -10..+10 dB (default 0)
  --settings FILE  a settings document as the plug-in saves it, for example
                     <Root><Gain>0.1</Gain><Attack>0.025</Attack><Release>0.02</Release>
                     <Threshold>0.45</Threshold><idxInputConfig>0</idxInputConfig></Root>
                   Its values are the knobs' positions 0..1: Gain = dB/60, Attack = ms/40,
                   Release = ms/1000, Threshold = (dB+10)/20. Tags are matched ignoring
                   case; missing elements keep the defaults. --gain, --attack, --release
                   and --ceiling given as well override the document.

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
                   latency (the look-ahead), so the input's last latency frames are not
                   heard. By default the output is aligned: the input is followed by
                   latency frames of silence and the first latency frames of output are
                   dropped, so output frame n belongs to input frame n.

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
10 ms windows - the latency in samples and the speed as a multiple of real time.
A progress bar appears on a terminal for inputs longer than 5 seconds.

The processor is driven as a host drives the plug-in: the four settings are set (input
gain, attack, release, max peak level), the processor is prepared for the file's rate
and block size, and the file is processed block by block. So, as in a host, the input
gain glides up from 0 dB over the first milliseconds, and after a look-ahead change the
release runs slower for a while; --settled avoids both. Input samples that are not finite numbers (NaN,
infinity) are replaced by silence, with a warning.

Exit status: 0 done; 1 a file could not be read or written; 2 bad command line;
130 or 143 interrupted (Ctrl-C, SIGTERM): the temporary file is removed and OUTPUT
is left as it was.

Examples:
  orvalis-render --demo out/demo.wav --plot out/demo.png
  orvalis-render concert.wav concert-limited.wav --gain 6 --ceiling -1
  orvalis-render take3.flac take3-limited.flac --format flac --attack 5 --release 200
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

juce::File resolve (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

/** True when both names lead to one file: the same path after resolving links, or a hard link. */
bool sameFile (const juce::File& a, const juce::File& b)
{
    namespace fs = std::filesystem;
    const fs::path pa (a.getFullPathName().toStdString()), pb (b.getFullPathName().toStdString());
    std::error_code error;
    if (fs::exists (pa, error) && fs::exists (pb, error) && fs::equivalent (pa, pb, error))
        return true;
    std::error_code errorA, errorB;
    const auto ca = fs::weakly_canonical (pa, errorA), cb = fs::weakly_canonical (pb, errorB);
    return ! errorA && ! errorB && ca == cb;
}

juce::String decibels (float linear, const char* unit)
{
    if (! (linear > 0.0f))
        return "-inf";
    const float db = 20.0f * std::log10 (linear);
    return (db >= 0.0f ? "+" : "") + juce::String (db, 2)
           + (unit[0] != 0 ? juce::String (" ") + unit : "");
}

juce::String clockTime (double seconds, bool withMilliseconds)
{
    const auto totalMs = static_cast<juce::int64> (seconds * 1000.0 + 0.5);
    const auto minutes = totalMs / 60000;
    const auto restMs = totalMs % 60000;
    auto text = juce::String (minutes) + ":" + juce::String (restMs / 1000).paddedLeft ('0', 2);
    if (withMilliseconds)
        text << "." << juce::String (restMs % 1000).paddedLeft ('0', 3);
    return text;
}

/** Checks a file that must exist and be readable; returns the reason when it is not. */
std::optional<juce::String> checkReadable (const juce::File& file, const juce::String& shownName)
{
    if (file.isDirectory())
        return shownName + ": is a folder, not a file";
    if (! file.existsAsFile())
        return shownName + ": no such file";
    if (::access (file.getFullPathName().toRawUTF8(), R_OK) != 0)
        return shownName + ": cannot be read (permission denied)";
    return std::nullopt;
}

/** Checks a file name to be written: its folder must exist and it must not be a folder. */
std::optional<juce::String> checkWritable (const juce::File& file, const juce::String& shownName)
{
    if (file.isDirectory())
        return shownName + ": is a folder; give a file name";
    if (! file.getParentDirectory().isDirectory())
        return shownName + ": folder " + file.getParentDirectory().getFullPathName()
               + " does not exist";
    return std::nullopt;
}

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

struct Parameters
{
    float gainDb, attackMs, releaseMs, ceilingDb;
};

// The plug-in's index-based parameter calls; JUCE 7 marks them deprecated.
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
void setParameters (juce::AudioProcessor& processor, const RenderOptions& options, bool keepUnset)
{
    // A double quotient passed as float, as the plug-in's window converts its knobs.
    const auto set = [&] (int index,
                          const std::optional<double>& value,
                          double fallback,
                          double offset,
                          double span)
    {
        if (value.has_value() || ! keepUnset)
            processor.setParameter (
                index, static_cast<float> ((value.value_or (fallback) + offset) / span));
    };
    set (3, options.gainDb, 0.0, 0.0, 60.0);       // Input Gain
    set (0, options.attackMs, 1.0, 0.0, 40.0);     // Attack Time
    set (1, options.releaseMs, 20.0, 0.0, 1000.0); // Release Time
    set (2, options.ceilingDb, 0.0, 10.0, 20.0);   // Max Peak Level
}

std::array<float, 4> readNormalised (juce::AudioProcessor& processor)
{
    return { processor.getParameter (0),
             processor.getParameter (1),
             processor.getParameter (2),
             processor.getParameter (3) };
}
JUCE_END_IGNORE_WARNINGS_GCC_LIKE
} // namespace

namespace
{
struct SettingsDocument
{
    std::unique_ptr<juce::XmlElement> xml;
    juce::String name;
};

std::optional<juce::String> loadSettings (const juce::String& path, SettingsDocument& document)
{
    const auto file = resolve (path);
    if (auto problem = checkReadable (file, path))
        return problem;
    juce::XmlDocument parser (file.loadFileAsString());
    document.xml = parser.getDocumentElement();
    if (document.xml == nullptr)
    {
        const auto reason = parser.getLastParseError();
        return path + ": not an XML settings document"
               + (reason.isNotEmpty() ? " (" + reason + ")"
                                      : juce::String (" (no XML element in it)"));
    }
    document.name = path;

    bool known = false;
    for (auto* child : document.xml->getChildIterator())
        for (const char* tag : { "Gain", "Attack", "Release", "Threshold", "idxInputConfig" })
            known = known || child->getTagName().equalsIgnoreCase (tag);
    if (! known)
        warn (path
              + " has none of the elements Gain, Attack, Release, Threshold; the defaults apply");
    return std::nullopt;
}

std::unique_ptr<juce::AudioFormatWriter> createWriter (RenderOptions::Format format,
                                                       const juce::File& file,
                                                       double sampleRate,
                                                       juce::String& problem)
{
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    if (! stream->openedOk())
    {
        problem = "cannot write in " + file.getParentDirectory().getFullPathName() + ": "
                  + stream->getStatus().getErrorMessage();
        return nullptr;
    }

    std::unique_ptr<juce::AudioFormatWriter> writer;
    if (format == RenderOptions::Format::flac)
        writer.reset (
            juce::FlacAudioFormat().createWriterFor (stream.get(), sampleRate, 4, 24, {}, 5));
    else
        writer.reset (juce::WavAudioFormat().createWriterFor (
            stream.get(),
            sampleRate,
            juce::AudioChannelSet::discreteChannels (4),
            format == RenderOptions::Format::wav32 ? 32 : 24,
            {},
            0));
    if (writer == nullptr)
    {
        problem = "cannot write " + RenderOptions::formatName (format) + " at "
                  + juce::String (sampleRate) + " Hz";
        return nullptr;
    }
    stream.release(); // the writer owns it now
    return writer;
}

void printSummary (const RenderStats& stats,
                   const juce::String& inputName,
                   const juce::String& outputName,
                   RenderOptions::Format format,
                   bool raw,
                   double sampleRate,
                   const Parameters& p)
{
    const double seconds = static_cast<double> (stats.inputFrames) / sampleRate;
    std::cout << "input      " << inputName << ": " << sampleRate << " Hz, 4 channels, "
              << juce::String (seconds, 3) << " s (" << stats.inputFrames << " frames)\n";
    std::cout << "output     " << outputName << ": " << RenderOptions::formatName (format) << ", "
              << (raw ? "raw (delayed by the latency)" : "aligned with the input") << "\n";
    std::cout << "settings   input gain " << juce::String (p.gainDb, 2) << " dB, attack "
              << juce::String (p.attackMs, 3) << " ms, release " << juce::String (p.releaseMs, 2)
              << " ms, ceiling " << juce::String (p.ceilingDb, 2) << " dB\n";
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

    const double speed = stats.wallSeconds > 0.0 ? seconds / stats.wallSeconds : 0.0;
    const double processorSpeed =
        stats.processorSeconds > 0.0 ? seconds / stats.processorSeconds : 0.0;
    std::cout << "speed      " << juce::String (speed, 1) << "x real time ("
              << juce::String (stats.wallSeconds, 3) << " s for " << juce::String (seconds, 3)
              << " s of audio; the processor alone " << juce::String (processorSpeed, 1) << "x)\n";
    std::cout.flush();
}

int render (const RenderOptions& options)
{
    SettingsDocument settings;
    if (options.settingsFile.isNotEmpty())
        if (auto problem = loadSettings (options.settingsFile, settings))
            return fail (*problem);

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();

    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::File inputFile;
    juce::String inputName;
    if (options.demo)
    {
        reader = std::make_unique<DemoSceneReader>();
        inputName = "demo scene (ambiX, SN3D)";
    }
    else
    {
        inputName = options.input;
        inputFile = resolve (options.input);
        if (auto problem = checkReadable (inputFile, options.input))
            return fail (*problem);
        // By content, not by name: a FLAC file called .wav is still read.
        reader.reset (formats.createReaderFor (inputFile.createInputStream()));
        if (reader == nullptr)
            return fail (options.input
                         + ": not an audio file this program can read (WAV, AIFF or FLAC)");
    }

    if (reader->numChannels != 4)
        return fail (inputName + ": needs 4 channels (first-order ambisonics), got "
                     + juce::String (reader->numChannels));
    const double sampleRate = reader->sampleRate;
    if (! (sampleRate >= 1.0))
        return fail (inputName + ": has no valid sample rate");
    if (sampleRate > maxSampleRate)
        return fail (inputName + ": sample rate " + juce::String (sampleRate) + " Hz is above "
                     + juce::String (maxSampleRate) + " Hz, the highest the limiter supports");

    const auto outputFile = resolve (options.output);
    if (auto problem = checkWritable (outputFile, options.output))
        return fail (*problem);
    if (! options.demo && sameFile (inputFile, outputFile))
        return fail (options.output + ": OUTPUT is the same file as INPUT; choose another name");
    if (settings.xml != nullptr && sameFile (resolve (options.settingsFile), outputFile))
        return fail (options.output + ": OUTPUT is the same file as the settings document");
    if (! options.format.has_value())
        for (const char* extension : { ".aif", ".aiff", ".aifc", ".ogg", ".mp3" })
            if (options.output.endsWithIgnoreCase (extension))
                return fail (options.output + ": cannot write "
                             + juce::String (extension + 1).toUpperCase()
                             + "; name OUTPUT .wav or .flac, or choose --format");

    juce::File plotFile;
    if (options.plotFile.isNotEmpty())
    {
        plotFile = resolve (options.plotFile);
        if (auto problem = checkWritable (plotFile, options.plotFile))
            return fail (*problem);
        if (sameFile (plotFile, outputFile) || (! options.demo && sameFile (plotFile, inputFile)))
            return fail (options.plotFile + ": the plot must not replace INPUT or OUTPUT");
    }

    std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    if (settings.xml != nullptr)
    {
        juce::MemoryBlock state;
        juce::AudioProcessor::copyXmlToBinary (*settings.xml, state);
        processor->setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    }
    setParameters (*processor, options, settings.xml != nullptr);

    const auto normalised = readNormalised (*processor);
    const char* const names[] = { "Attack Time", "Release Time", "Max Peak Level", "Input Gain" };
    for (size_t i = 0; i < normalised.size(); ++i)
        if (! (normalised[i] >= 0.0f && normalised[i] <= 1.0f))
            warn (juce::String (names[i]) + " is " + juce::String (normalised[i])
                  + ", outside 0..1; the processor applies it as a host would");
    // The plug-in's own mappings, in single precision.
    const Parameters parameters { 60.0f * normalised[3],
                                  40.0f * normalised[0],
                                  1000.0f * normalised[1],
                                  20.0f * normalised[2] - 10.0f };

    const auto format = options.outputFormat();
    if ((format == RenderOptions::Format::flac) != options.output.endsWithIgnoreCase (".flac"))
        warn ("writing " + RenderOptions::formatName (format) + " into a file named "
              + outputFile.getFileName());
    juce::TemporaryFile temporary (outputFile, juce::TemporaryFile::useHiddenFile);
    juce::String problem;
    auto writer = createWriter (format, temporary.getFile(), sampleRate, problem);
    if (writer == nullptr)
        return fail (options.output + ": " + problem);

    RenderSession::Settings sessionSettings;
    sessionSettings.blockSize = options.blockSize;
    sessionSettings.raw = options.raw;
    sessionSettings.settledStart = options.settled;
    sessionSettings.inputGain =
        parameters.gainDb * 0.05f <= -5.0f ? 0.0f : std::pow (10.0f, parameters.gainDb * 0.05f);
    sessionSettings.countClipping = format != RenderOptions::Format::wav32;
    sessionSettings.plotColumns = EnvelopePlot::width - 90;

    RenderSession session (*processor, *reader, *writer, sessionSettings);
    session.prepare();

    const double inputSeconds = static_cast<double> (reader->lengthInSamples) / sampleRate;
    ProgressBar progress (::isatty (STDERR_FILENO) == 1 && inputSeconds > progressAfterSeconds);
    const auto result = session.run ([] { return stopSignal != 0; },
                                     [&progress] (juce::int64 done, juce::int64 total)
                                     { progress.update (done, total); });
    progress.clear();
    writer.reset(); // completes the file's header
    processor->releaseResources();

    const auto& stats = session.getStats();
    if (result == RenderSession::Result::interrupted || stopSignal != 0)
        return fail ("interrupted; " + options.output + " not written",
                     128 + static_cast<int> (stopSignal));
    if (result == RenderSession::Result::readFailed)
        return fail (inputName + ": read error; " + options.output + " not written");
    if (result == RenderSession::Result::writeFailed)
        return fail (options.output + ": write error (disk full?); nothing written");

    // Read back what was written before it replaces anything.
    std::unique_ptr<juce::AudioFormatReader> check (
        formats.createReaderFor (temporary.getFile().createInputStream()));
    if (check == nullptr || check->lengthInSamples != stats.inputFrames || check->numChannels != 4)
        return fail (options.output
                     + ": the written file is incomplete (disk full?); nothing written");
    check.reset();

    std::error_code renameError;
    std::filesystem::rename (temporary.getFile().getFullPathName().toStdString(),
                             outputFile.getFullPathName().toStdString(),
                             renameError);
    if (renameError)
        return fail (options.output
                     + ": cannot replace it: " + juce::String (renameError.message()));

    printSummary (stats, inputName, options.output, format, options.raw, sampleRate, parameters);
    if (stats.nonFiniteInputSamples > 0)
        warn (juce::String (stats.nonFiniteInputSamples)
              + " input samples were not finite numbers and became silence");
    if (stats.clippedOutputSamples > 0)
        warn (juce::String (stats.clippedOutputSamples)
              + " output samples above 0 dBFS were clipped in " + RenderOptions::formatName (format)
              + "; use --format wav32 or a ceiling at or below 0 dB");

    if (plotFile != juce::File())
    {
        EnvelopePlot::Labels labels;
        labels.title = "Orvalis: " + inputName + " -> " + options.output;
        labels.subtitle = "input gain " + juce::String (parameters.gainDb, 1) + " dB, attack "
                          + juce::String (parameters.attackMs, 2) + " ms, release "
                          + juce::String (parameters.releaseMs, 1) + " ms, ceiling "
                          + juce::String (parameters.ceilingDb, 1) + " dB; largest gain reduction "
                          + juce::String (stats.largestGainReductionDb, 1) + " dB";
        labels.sampleRate = sampleRate;
        labels.ceilingDb = parameters.ceilingDb;
        const auto image = EnvelopePlot::draw (stats.history, labels);

        juce::TemporaryFile plotTemporary (plotFile, juce::TemporaryFile::useHiddenFile);
        if (! EnvelopePlot::writePng (image, plotTemporary.getFile()))
            return fail (options.plotFile + ": cannot write the plot (" + options.output
                         + " was written)");
        std::filesystem::rename (plotTemporary.getFile().getFullPathName().toStdString(),
                                 plotFile.getFullPathName().toStdString(),
                                 renameError);
        if (renameError)
            return fail (options.plotFile
                         + ": cannot write the plot: " + juce::String (renameError.message()));
        std::cout << "plot       " << options.plotFile << "\n";
    }
    return 0;
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
    return render (options);
}
