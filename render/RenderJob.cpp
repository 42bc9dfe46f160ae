#include "render/RenderJob.h"

#include "render/DemoSceneReader.h"
#include "render/EnvelopePlot.h"
#include "render/FileChecks.h"
#include "render/FloatWavWriter.h"
#include "render/MultichannelProcessor.h"
#include "render/ProgrammeLoudness.h"
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
                                                       const ChannelLayout& layout,
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

    const int numChannels = layout.numChannels;
    const auto mask = layout.outputMask(); // the speakers named, as the input named them
    std::unique_ptr<juce::AudioFormatWriter> writer;
    if (format == RenderOptions::Format::flac)
        writer.reset (juce::FlacAudioFormat().createWriterFor (
            stream.get(), sampleRate, static_cast<unsigned> (numChannels), 24, {}, 5));
    else if (format == RenderOptions::Format::aiff24)
        writer.reset (juce::AiffAudioFormat().createWriterFor (
            stream.get(), sampleRate, static_cast<unsigned> (numChannels), 24, {}, 0));
    else if (format == RenderOptions::Format::wav32)
        writer = std::make_unique<FloatWavWriter> (stream.get(), sampleRate, numChannels, mask);
    else
        writer.reset (juce::WavAudioFormat().createWriterFor (
            stream.get(),
            sampleRate,
            mask != 0 ? juce::AudioChannelSet::fromWaveChannelMask (static_cast<juce::int32> (mask))
                      : juce::AudioChannelSet::discreteChannels (numChannels),
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
    inputFile = file;
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
    result.numChannels = input.numChannels; // for the report, also of a count refused
    if (input.source == nullptr)
        return fail (input.channelCountRefused ? FileStatus::skipped : FileStatus::failed,
                     name + ": " + input.problem);

    result.inputFormat = input.formatName;
    result.sampleRate = input.sampleRate;
    result.numChannels = input.numChannels;
    result.declaredFrames = input.declaredFrames;
    result.lengthNote = input.headerNote;
    result.channelMask = input.channelMask;

    if (input.numChannels < 1 || input.numChannels > ChannelLayout::largestChannelCount)
        return fail (FileStatus::skipped,
                     name + ": " + InputFile::channelCountProblem (input.numChannels));
    const ChannelLayout layout (input.numChannels, input.channelMask);
    if (context.options.targetLoudnessLufs
        && layout.loudness() == ChannelLayout::Loudness::notMeasured)
        return fail (FileStatus::skipped,
                     name + ": its loudness is " + layout.loudnessDescription ({})
                         + ", so --target-loudness has nothing to bring to the target");
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
    input.numChannels = 4;
    input.presentFrames = input.declaredFrames = reader->lengthInSamples;
    input.source = std::make_unique<ReaderFrameSource> (std::move (reader));
    result.inputFormat = input.formatName;
    result.sampleRate = input.sampleRate;
    result.numChannels = input.numChannels;
    result.declaredFrames = input.declaredFrames;
}

juce::int64 RenderJob::getExpectedFrames() const
{
    return input.source != nullptr ? std::max<juce::int64> (0, input.source->getExpectedFrames())
                                   : 0;
}

namespace
{
using Progress = std::function<void (juce::int64, juce::int64)>;

// --target-loudness: the loudness reached is within this of the target (the report promises
// 0.1 LU), the gain stays within these limits, and a gain that adds less loudness than
// flatSlope per dB means the limiter holds the output below the target.
constexpr double aimLu = 0.07, promisedLu = 0.1;
constexpr double maxGainDb = 60.0, maxAttenuationDb = 40.0, flatSlope = 0.02;
constexpr int maxTrials = 8;

juce::String lufsText (double lufs)
{
    return juce::String (lufs, 2) + " LUFS";
}

struct Trial
{
    double gainDb, lufs;
};

/**
    The gain for the next trial. Limiting makes the loudness a concave function of the gain:
    each dB adds less. After one trial the limiter's loss of loudness there tells how much less
    (a loss of d LU: about 1 / (1 + d) LU per dB, taken as no less than 0.5, as a loss that
    comes from a few peaks cut once does not grow with the gain); after two, the slope between
    them; after
    three, the gain is interpolated as a quadratic function of the loudness through the last
    three, going a fifth further while every trial lies on one side of the target (as limiting
    flattens the curve, the estimates fall short). Once trials lie on both sides, the next stays
    between the nearest two.
*/
double nextGain (const std::vector<Trial>& trials, double target, double inputLufs)
{
    const auto& last = trials.back();
    double next = 0.0;
    if (trials.size() == 1)
    {
        const double loss = std::max (0.0, inputLufs + last.gainDb - last.lufs);
        next = last.gainDb + (target - last.lufs) * std::min (1.0 + loss, 2.0);
    }
    else
    {
        const auto& a = trials[trials.size() - 2];
        const double slope =
            std::clamp ((last.lufs - a.lufs) / (last.gainDb - a.gainDb), 0.05, 1.0);
        next = last.gainDb + (target - last.lufs) / slope;
        if (trials.size() >= 3)
        {
            const auto& z = trials[trials.size() - 3];
            const double l0 = z.lufs, l1 = a.lufs, l2 = last.lufs;
            if (l0 != l1 && l1 != l2 && l0 != l2)
            {
                const double quadratic =
                    z.gainDb * (target - l1) * (target - l2) / ((l0 - l1) * (l0 - l2))
                    + a.gainDb * (target - l0) * (target - l2) / ((l1 - l0) * (l1 - l2))
                    + last.gainDb * (target - l0) * (target - l1) / ((l2 - l0) * (l2 - l1));
                if (std::isfinite (quadratic))
                    next = quadratic;
            }
        }
    }
    // Within the nearest trials below and above the target, when there are both.
    std::optional<Trial> below, above;
    for (const auto& t : trials)
    {
        if (t.lufs < target && (! below || t.gainDb > below->gainDb))
            below = t;
        if (t.lufs > target && (! above || t.gainDb < above->gainDb))
            above = t;
    }
    if (below && above)
    {
        if (! (next > below->gainDb && next < above->gainDb))
            next = below->gainDb
                   + (above->gainDb - below->gainDb) * (target - below->lufs)
                         / (above->lufs - below->lufs);
    }
    else if (trials.size() >= 2)
        next = last.gainDb + 1.2 * (next - last.gainDb); // a little beyond: to bracket it sooner
    return next;
}
} // namespace

bool RenderJob::reopenInput()
{
    if (result.inputFormat == "demo")
    {
        openDemo();
        return true;
    }
    input = InputFile::open (inputFile);
    return input.source != nullptr;
}

RenderJob::Pass RenderJob::runPass (const PassGains& gains,
                                    juce::AudioFormatWriter* writer,
                                    RenderOptions::Format format,
                                    const std::function<bool()>& shouldStop,
                                    const Progress& progress)
{
    const auto& options = context.options;
    // Four channels run the plug-in's own processor; other counts its audio path for them.
    std::unique_ptr<juce::AudioProcessor> processor (
        input.numChannels == 4 ? createPluginFilter()
                               : new MultichannelProcessor (input.numChannels));
    juce::StringArray settingWarnings;
    Pass pass;
    if (gains.chosen)
    {
        auto passOptions = options;
        passOptions.knobValues[parameters::inputGain] = gains.knobDb;
        pass.knobs = applySettings (*processor, passOptions, &context.settings, settingWarnings);
        pass.knobs.preGainDb = gains.preGainDb;
    }
    else
        pass.knobs = applySettings (*processor, options, &context.settings, settingWarnings);
    if (writer != nullptr && context.warnAboutSettings)
        for (const auto& text : settingWarnings)
            warn (text);

    RenderSession::Settings sessionSettings;
    sessionSettings.blockSize = options.blockSize;
    sessionSettings.raw = options.raw;
    sessionSettings.settledStart = options.settled;
    sessionSettings.preGain = pass.knobs.linearPreGain();
    sessionSettings.inputGain = pass.knobs.linearGain() * sessionSettings.preGain;
    sessionSettings.countClipping = format != RenderOptions::Format::wav32;
    sessionSettings.plotColumns = EnvelopePlot::width - 90;
    sessionSettings.measureLevels = writer != nullptr;
    sessionSettings.measureInputLoudness = options.inputLoudness && writer != nullptr;
    sessionSettings.measureOutputLoudness = true;
    sessionSettings.loudnessGain =
        options.convention == RenderOptions::Convention::fuma ? std::sqrt (2.0f) : 1.0f;
    sessionSettings.channelMask = input.channelMask;

    RenderSession session (*processor, *input.source, writer, sessionSettings);
    session.prepare();
    pass.knobs.attackMs = lookaheadMsInForce (*processor, pass.knobs.attackMs);
    pass.outcome = session.run (shouldStop, progress);
    if (pass.outcome == RenderSession::Result::finished && shouldStop())
        pass.outcome = RenderSession::Result::interrupted; // stopped before the output is in place
    processor->releaseResources();
    pass.stats = session.getStats();
    return pass;
}

std::optional<RenderJob::PassGains>
RenderJob::chooseLoudnessGain (const std::function<bool()>& shouldStop,
                               const Progress& progress,
                               RenderSession::Result& outcome)
{
    const double target = *context.options.targetLoudnessLufs;
    auto& outcomeOfTarget = result.loudnessTarget.emplace();
    outcomeOfTarget.targetLufs = target;
    const juce::int64 frames = std::max<juce::int64> (1, getExpectedFrames());
    juce::int64 framesBefore = 0;
    int passesPlanned = 3; // the measurement, a trial and the render written
    // Progress in frames of the file, shared out among the passes planned so far.
    const auto passProgress = [&] (juce::int64 done, juce::int64)
    {
        progressShown =
            std::max (progressShown, std::min (frames, (framesBefore + done) / passesPlanned));
        progress (progressShown, frames);
    };
    const auto nextPass = [&]
    {
        framesBefore += std::max<juce::int64> (frames, input.source->getExpectedFrames());
        ++outcomeOfTarget.passes;
        return reopenInput();
    };

    // The input's own loudness gives the first guess.
    std::optional<double> inputLufs;
    juce::int64 inputFrames = 0;
    {
        ++outcomeOfTarget.passes;
        // openInput refused the layouts whose loudness is not measured.
        const auto meterOwner = ProgrammeLoudness::create (
            ChannelLayout (input.numChannels, input.channelMask),
            input.sampleRate,
            context.options.convention == RenderOptions::Convention::fuma ? std::sqrt (2.0f) : 1.0f,
            8192);
        auto& meter = *meterOwner;
        std::vector<std::vector<float>> block (static_cast<size_t> (input.numChannels),
                                               std::vector<float> (8192));
        std::vector<float*> pointers;
        for (auto& channel : block)
            pointers.push_back (channel.data());
        for (juce::int64 done = 0;;)
        {
            if (shouldStop())
            {
                outcome = RenderSession::Result::interrupted;
                return std::nullopt;
            }
            const int got = input.source->read (pointers.data(), 8192);
            if (got < 0)
            {
                outcome = RenderSession::Result::readFailed;
                return std::nullopt;
            }
            for (auto& channel : block)
                for (int i = 0; i < got; ++i)
                    channel[static_cast<size_t> (i)] =
                        std::isfinite (channel[static_cast<size_t> (i)])
                            ? channel[static_cast<size_t> (i)]
                            : 0.0f;
            meter.process (pointers.data(), got);
            done += got;
            inputFrames = done;
            passProgress (done, frames);
            if (got < 8192)
                break;
        }
        inputLufs = meter.getIntegratedLufs();
        measuredInput = Loudness { inputLufs, meter.getRangeLu() };
    }

    const auto gainsFor = [] (double gainDb)
    {
        PassGains g;
        g.chosen = true;
        g.knobDb = static_cast<float> (std::max (0.0, gainDb));
        g.preGainDb = static_cast<float> (std::min (0.0, gainDb));
        return g;
    };
    if (! inputLufs)
    {
        outcomeOfTarget.reason =
            inputFrames < static_cast<juce::int64> (input.sampleRate * 0.4)
                ? "the input is shorter than one 400 ms block of the loudness measurement, so "
                  "it has no integrated loudness"
                : "W is silent (below the absolute gate of -70 LUFS): no gain reaches "
                      + lufsText (target);
        if (! nextPass())
        {
            outcome = RenderSession::Result::readFailed;
            return std::nullopt;
        }
        return gainsFor (0.0);
    }

    // Measure, correct, measure again: a trial renders through the limiter and measures only
    // the output's loudness (see nextGain for the corrections).
    // Gains are kept to 0.001 dB: a difference in the last bits of a measurement (another
    // machine's maths library) cannot change the gain, and so the output, of a shard.
    const auto quantised = [] (double db)
    { return std::round (std::clamp (db, -maxAttenuationDb, maxGainDb) * 1000.0) / 1000.0; };
    double gain = quantised (target - *inputLufs);
    std::vector<Trial> trials;
    for (int trial = 1;; ++trial)
    {
        if (! nextPass())
        {
            outcome = RenderSession::Result::readFailed;
            return std::nullopt;
        }
        const auto pass =
            runPass (gainsFor (gain), nullptr, result.format, shouldStop, passProgress);
        if (pass.outcome != RenderSession::Result::finished)
        {
            outcome = pass.outcome;
            return std::nullopt;
        }
        const auto& reached = pass.stats.outputLoudness;
        if (! reached || ! reached->integratedLufs)
        {
            outcomeOfTarget.reason =
                "the output's W is silent at " + juce::String (gain, 2) + " dB";
            break;
        }
        const double lufs = *reached->integratedLufs;
        trials.push_back ({ gain, lufs });
        if (std::abs (lufs - target) <= aimLu)
            break;
        if (trials.size() >= 2)
        {
            const auto& a = trials[trials.size() - 2];
            if (lufs < target && a.lufs < target && gain > a.gainDb
                && (lufs - a.lufs) / (gain - a.gainDb) < flatSlope)
            {
                outcomeOfTarget.reason = "the limiter holds W near " + lufsText (lufs)
                                         + ": more gain no longer makes it louder";
                break;
            }
        }
        if (trial == maxTrials)
        {
            outcomeOfTarget.reason = "not within " + juce::String (aimLu, 2) + " LU after "
                                     + juce::String (maxTrials) + " trials";
            break;
        }
        const double next = nextGain (trials, target, *inputLufs);
        if ((next > maxGainDb && gain >= maxGainDb)
            || (next < -maxAttenuationDb && gain <= -maxAttenuationDb))
        {
            outcomeOfTarget.reason =
                (next > 0.0 ? "needs more than +" + juce::String (maxGainDb, 0) + " dB of gain"
                            : "needs more than " + juce::String (maxAttenuationDb, 0)
                                  + " dB of attenuation")
                + " (" + lufsText (lufs) + " at " + juce::String (gain, 2) + " dB)";
            break;
        }
        const double nextGainDb = quantised (next);
        if (std::any_of (trials.begin(),
                         trials.end(),
                         [nextGainDb] (const Trial& t) { return t.gainDb == nextGainDb; }))
        {
            outcomeOfTarget.reason = "no gain within 0.001 dB lands within "
                                     + juce::String (aimLu, 2) + " LU of the target";
            break;
        }
        gain = nextGainDb;
        ++passesPlanned;
    }
    // The closest trial; the render written repeats it exactly.
    const auto closest =
        std::min_element (trials.begin(),
                          trials.end(),
                          [target] (const Trial& a, const Trial& b)
                          { return std::abs (a.lufs - target) < std::abs (b.lufs - target); });
    if (closest != trials.end())
        gain = closest->gainDb;
    if (! nextPass())
    {
        outcome = RenderSession::Result::readFailed;
        return std::nullopt;
    }
    return gainsFor (gain);
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
    const auto failFor = [&] (RenderSession::Result outcome)
    {
        if (outcome == RenderSession::Result::interrupted)
            return fail (FileStatus::interrupted, outputName + ": interrupted; not written");
        if (outcome == RenderSession::Result::readFailed)
            return fail (FileStatus::failed,
                         result.inputName + ": read error; " + outputName + " not written");
        return fail (FileStatus::failed,
                     outputName + ": write error (disk full?); nothing written");
    };
    result.format = format;

    PassGains gains;
    Progress finalProgress = progress;
    if (options.targetLoudnessLufs)
    {
        auto outcome = RenderSession::Result::finished;
        const auto chosen = chooseLoudnessGain (shouldStop, progress, outcome);
        if (! chosen)
        {
            result.seconds =
                std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();
            return failFor (outcome);
        }
        gains = *chosen;
        const juce::int64 frames = std::max<juce::int64> (1, getExpectedFrames());
        const juce::int64 start = std::min (progressShown, frames);
        finalProgress = [progress, start, frames] (juce::int64 done, juce::int64 expected)
        {
            const auto share =
                std::min (1.0, double (done) / double (std::max<juce::int64> (1, expected)));
            progress (start + static_cast<juce::int64> (share * double (frames - start)), frames);
        };
    }

    if (format == RenderOptions::Format::flac && input.numChannels > maxFlacChannels)
        return fail (FileStatus::failed,
                     outputName + ": FLAC carries at most " + juce::String (maxFlacChannels)
                         + " channels, the input has " + juce::String (input.numChannels)
                         + " (--format wav32 or wav24 writes them); nothing written");

    juce::TemporaryFile temporary (outputFile, juce::TemporaryFile::useHiddenFile);
    juce::String problem;
    auto writer = createWriter (format,
                                temporary.getFile(),
                                input.sampleRate,
                                ChannelLayout (input.numChannels, input.channelMask),
                                problem);
    if (writer == nullptr)
        return fail (FileStatus::failed, outputName + ": " + problem);

    const auto pass = runPass (gains, writer.get(), format, shouldStop, finalProgress);
    writer.reset(); // completes the file's header
    result.knobs = pass.knobs;
    result.mode = modeName (result.knobs.truePeak);
    result.stats = pass.stats;
    if (! result.stats.inputLoudness)
        result.stats.inputLoudness = measuredInput; // measured anyway for --target-loudness
    result.seconds =
        std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count();
    if (pass.outcome != RenderSession::Result::finished)
        return failFor (pass.outcome);

    const auto& stats = result.stats;
    // Read back what was written before it replaces anything.
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> check (
            formats.createReaderFor (temporary.getFile().createInputStream()));
        if (check == nullptr || check->lengthInSamples != stats.inputFrames
            || static_cast<int> (check->numChannels) != input.numChannels)
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

    if (auto& target = result.loudnessTarget)
    {
        // The render written is measured as the last trial was, so it lands where that did.
        const auto& reached = stats.outputLoudness;
        target->met =
            target->reason.isEmpty() && reached && reached->integratedLufs
            && std::abs (*reached->integratedLufs - *options.targetLoudnessLufs) <= promisedLu;
        if (! target->met)
        {
            if (target->reason.isEmpty())
                target->reason =
                    "the output reached "
                    + (reached && reached->integratedLufs ? lufsText (*reached->integratedLufs)
                                                          : juce::String ("no loudness"));
            result.status = FileStatus::offTarget;
        }
    }

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
