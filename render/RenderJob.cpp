#include "render/RenderJob.h"

#include "render/DemoSceneReader.h"
#include "render/EnvelopePlot.h"
#include "render/FileChecks.h"
#include "render/FloatWavWriter.h"
#include "render/ReaderFrameSource.h"
#include "render/RenderSession.h"
#include "render/RenderSettings.h"

#include <chrono>
#include <cmath>
#include <mutex>

namespace
{
std::unique_ptr<juce::AudioFormatWriter> createWriter (RenderOptions::Format format,
                                                       const juce::File& file,
                                                       double sampleRate,
                                                       juce::String& problem)
{
    // A large buffer: the file is written in few, long writes.
    auto stream = std::make_unique<juce::FileOutputStream> (file, 1 << 18);
    if (! stream->openedOk())
    {
        problem = "cannot write in " + file.getParentDirectory().getFullPathName() + ": "
                  + stream->getStatus().getErrorMessage();
        return nullptr;
    }

    std::unique_ptr<juce::AudioFormatWriter> writer;
    if (format == RenderOptions::Format::flac)
        writer.reset (juce::FlacAudioFormat().createWriterFor (
            stream.get(), sampleRate, FrameSource::numChannels, 24, {}, 5));
    else if (format == RenderOptions::Format::aiff24)
        writer.reset (juce::AiffAudioFormat().createWriterFor (
            stream.get(), sampleRate, FrameSource::numChannels, 24, {}, 0));
    else if (format == RenderOptions::Format::wav32)
        writer =
            std::make_unique<FloatWavWriter> (stream.get(), sampleRate, FrameSource::numChannels);
    else
        writer.reset (juce::WavAudioFormat().createWriterFor (
            stream.get(),
            sampleRate,
            juce::AudioChannelSet::discreteChannels (FrameSource::numChannels),
            24,
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

// JUCE's image and font code is shared by every worker; one picture at a time.
std::mutex plotLock;
} // namespace

RenderJob::RenderJob (const RenderContext& c, FileResult& r, Warn w) :
    context (c),
    result (r),
    warn (std::move (w))
{
}

bool RenderJob::openInput (const juce::File& file)
{
    const auto& name = result.inputName;
    const auto fail = [this] (FileStatus status, const juce::String& message)
    {
        result.status = status;
        result.error = message;
        return false;
    };

    if (auto problem = FileChecks::checkReadable (file, name))
        return fail (FileStatus::failed, *problem);
    input = InputFile::open (file);
    if (input.source == nullptr)
        return fail (FileStatus::failed, name + ": " + input.problem);

    result.inputFormat = input.formatName;
    result.sampleRate = input.sampleRate;
    result.numChannels = input.numChannels;
    result.declaredFrames = input.declaredFrames;
    result.lengthNote = input.headerNote;

    if (input.numChannels != FrameSource::numChannels)
        return fail (FileStatus::skipped,
                     name + ": needs " + juce::String (FrameSource::numChannels)
                         + " channels (first-order ambisonics), got "
                         + juce::String (input.numChannels));
    if (! (input.sampleRate >= 1.0))
        return fail (FileStatus::failed, name + ": has no valid sample rate");
    if (input.sampleRate > maxSampleRate)
        return fail (FileStatus::skipped,
                     name + ": sample rate " + juce::String (input.sampleRate) + " Hz is above "
                         + juce::String (maxSampleRate) + " Hz, the highest the limiter supports");
    return true;
}

void RenderJob::openDemo()
{
    auto reader = std::make_unique<DemoSceneReader>();
    input = InputFile();
    input.formatName = "demo";
    input.sampleRate = reader->sampleRate;
    input.numChannels = FrameSource::numChannels;
    input.presentFrames = input.declaredFrames = reader->lengthInSamples;
    input.source = std::make_unique<ReaderFrameSource> (std::move (reader));
    result.inputFormat = input.formatName;
    result.sampleRate = input.sampleRate;
    result.numChannels = FrameSource::numChannels;
    result.declaredFrames = input.declaredFrames;
}

juce::int64 RenderJob::getExpectedFrames() const
{
    return input.source != nullptr ? std::max<juce::int64> (0, input.source->getExpectedFrames())
                                   : 0;
}

void RenderJob::render (const juce::File& outputFile,
                        RenderOptions::Format format,
                        const juce::File& plot,
                        const std::function<bool()>& shouldStop,
                        const std::function<void (juce::int64, juce::int64)>& progress)
{
    const auto started = std::chrono::steady_clock::now();
    const auto& options = context.options;
    const auto& outputName = result.outputName;
    const auto fail = [this] (FileStatus status, const juce::String& message)
    {
        result.status = status;
        result.error = message;
    };

    std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    juce::StringArray settingWarnings;
    result.knobs = applySettings (*processor, options, &context.settings, settingWarnings);
    result.mode = modeName (result.knobs.truePeak);
    result.format = format;
    if (context.warnAboutSettings)
        for (const auto& text : settingWarnings)
            warn (text);

    juce::TemporaryFile temporary (outputFile, juce::TemporaryFile::useHiddenFile);
    juce::String problem;
    auto writer = createWriter (format, temporary.getFile(), input.sampleRate, problem);
    if (writer == nullptr)
        return fail (FileStatus::failed, outputName + ": " + problem);

    RenderSession::Settings sessionSettings;
    sessionSettings.blockSize = options.blockSize;
    sessionSettings.raw = options.raw;
    sessionSettings.settledStart = options.settled;
    sessionSettings.inputGain = result.knobs.linearGain();
    sessionSettings.countClipping = format != RenderOptions::Format::wav32;
    sessionSettings.plotColumns = EnvelopePlot::width - 90;
    sessionSettings.measureInputLoudness = options.inputLoudness;
    sessionSettings.measureOutputLoudness = true;
    sessionSettings.loudnessGain =
        options.convention == RenderOptions::Convention::fuma ? std::sqrt (2.0f) : 1.0f;

    RenderSession session (*processor, *input.source, *writer, sessionSettings);
    session.prepare();
    result.knobs.attackMs = lookaheadMsInForce (*processor, result.knobs.attackMs);

    auto outcome = session.run (shouldStop, progress);
    if (outcome == RenderSession::Result::finished && shouldStop())
        outcome = RenderSession::Result::interrupted; // stopped before the output is in place
    writer.reset();                                   // completes the file's header
    processor->releaseResources();
    result.stats = session.getStats();
    result.seconds =
        std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();

    if (outcome == RenderSession::Result::interrupted)
        return fail (FileStatus::interrupted, outputName + ": interrupted; not written");
    if (outcome == RenderSession::Result::readFailed)
        return fail (FileStatus::failed,
                     result.inputName + ": read error; " + outputName + " not written");
    if (outcome == RenderSession::Result::writeFailed)
        return fail (FileStatus::failed,
                     outputName + ": write error (disk full?); nothing written");

    const auto& stats = result.stats;
    // Read back what was written before it replaces anything.
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> check (
            formats.createReaderFor (temporary.getFile().createInputStream()));
        if (check == nullptr || check->lengthInSamples != stats.inputFrames
            || check->numChannels != FrameSource::numChannels)
            return fail (FileStatus::failed,
                         outputName
                             + ": the written file is incomplete (disk full?); nothing written");
    }
    if (auto renameProblem = FileChecks::moveInto (temporary.getFile(), outputFile))
        return fail (FileStatus::failed, outputName + ": cannot replace it: " + *renameProblem);

    result.rendered = true;
    const auto damage = input.source->getDamageNote();
    if (damage.isNotEmpty())
        result.lengthNote << (result.lengthNote.isEmpty() ? "" : "; ") << damage;
    // A FLAC stream's length is known only now.
    const bool truncated = input.declaredFrames >= 0 && stats.inputFrames < input.declaredFrames;
    if (input.presentFrames < 0 && input.declaredFrames >= 0
        && stats.inputFrames != input.declaredFrames)
        result.lengthNote = (truncated ? "truncated: the header promises " : "the header says ")
                            + juce::String (input.declaredFrames) + " frames, the file holds "
                            + juce::String (stats.inputFrames)
                            + (result.lengthNote.isEmpty() ? "" : "; " + result.lengthNote);
    result.status = truncated ? FileStatus::truncated : FileStatus::done;

    if (options.targetTruePeakDb.has_value())
        result.meetsTarget = result.largestOutputTruePeak() <= static_cast<float> (
                                 std::pow (10.0, *options.targetTruePeakDb / 20.0));

    if (plot != juce::File() && ! drawPlot (plot))
        result.error = result.plotName + ": cannot write the plot (" + outputName + " was written)";
}

bool RenderJob::drawPlot (const juce::File& plotFile)
{
    const auto& stats = result.stats;
    const auto& knobs = result.knobs;
    EnvelopePlot::Labels labels;
    labels.title = "Orvalis: " + result.inputName + " -> " + result.outputName;
    labels.subtitle =
        "input gain " + juce::String (knobs.gainDb, 1) + " dB, attack "
        + juce::String (knobs.attackMs, 2) + " ms, release " + juce::String (knobs.releaseMs, 1)
        + " ms, ceiling " + juce::String (knobs.ceilingDb, 1)
        + (knobs.truePeak ? " dBTP (true-peak limiting)" : " dB") + "; largest gain reduction "
        + juce::String (stats.largestGainReductionDb, 1) + " dB";
    labels.sampleRate = input.sampleRate;
    labels.ceilingDb = knobs.ceilingDb;

    std::lock_guard<std::mutex> lock (plotLock);
    const auto image = EnvelopePlot::draw (stats.history, labels);
    juce::TemporaryFile plotTemporary (plotFile, juce::TemporaryFile::useHiddenFile);
    if (! EnvelopePlot::writePng (image, plotTemporary.getFile()))
        return false;
    return ! FileChecks::moveInto (plotTemporary.getFile(), plotFile).has_value();
}
