#include "render/RenderReport.h"

#include "render/FileChecks.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr int schemaVersion = 1;

/** The value to the given step (a power of ten at most 1), as the nearest double to that decimal. */
double rounded (double value, double step)
{
    const double perUnit = std::round (1.0 / step);
    return std::round (value * perUnit) / perUnit;
}

/** A linear level in dB to 0.001 dB; null for silence. */
juce::var decibels (float linear)
{
    if (! (linear > 0.0f))
        return {};
    return rounded (20.0 * std::log10 (static_cast<double> (linear)), 0.001);
}

juce::var channelDecibels (const ChannelLevels& values)
{
    juce::Array<juce::var> list;
    for (float v : values)
        list.add (decibels (v));
    return list;
}

juce::var textOrNull (const juce::String& text)
{
    return text.isEmpty() ? juce::var() : juce::var (text);
}

double wGainDb (const RenderContext& context)
{
    return context.options.convention == RenderOptions::Convention::fuma ? 3.0103 : 0.0;
}

juce::var levels (const FileResult& r, bool output)
{
    const auto& s = r.stats;
    auto* o = new juce::DynamicObject();
    o->setProperty ("samplePeakDb", channelDecibels (output ? s.outputPeak : s.inputPeak));
    o->setProperty ("truePeakDb", channelDecibels (output ? s.outputTruePeak : s.inputTruePeak));
    const auto& loudness = output ? s.outputLoudness : s.inputLoudness;
    o->setProperty ("integratedLufs",
                    loudness && loudness->integratedLufs
                        ? juce::var (rounded (*loudness->integratedLufs, 0.01))
                        : juce::var());
    o->setProperty ("loudnessRangeLu",
                    loudness ? juce::var (rounded (loudness->rangeLu, 0.01)) : juce::var());
    return o;
}

juce::var settingsObject (const RenderContext& context, const FileResult& r)
{
    const auto& o = context.options;
    auto* s = new juce::DynamicObject();
    s->setProperty ("mode", r.mode.isNotEmpty() ? r.mode : context.modeName());
    s->setProperty ("inputGainDb", rounded (r.knobs.gainDb, 0.001));
    s->setProperty ("attackMs", rounded (r.knobs.attackMs, 0.001));
    s->setProperty ("releaseMs", rounded (r.knobs.releaseMs, 0.001));
    s->setProperty ("ceilingDb", rounded (r.knobs.ceilingDb, 0.001));
    s->setProperty ("blockSize", o.blockSize);
    s->setProperty ("aligned", ! o.raw);
    s->setProperty ("settledStart", o.settled);
    s->setProperty ("settingsFile", textOrNull (o.settingsFile));
    s->setProperty ("convention", RenderOptions::conventionName (o.convention));
    return s;
}

juce::var fileObject (const RenderContext& context, const FileResult& r)
{
    auto* f = new juce::DynamicObject();
    const bool rendered = r.wasRendered();
    const auto& s = r.stats;
    const double rate = r.sampleRate > 0.0 ? r.sampleRate : 1.0;
    f->setProperty ("input", r.inputName);
    f->setProperty ("output", rendered ? juce::var (r.outputName) : juce::var());
    f->setProperty ("status", statusName (r.status));
    f->setProperty ("error", textOrNull (r.error));
    f->setProperty ("note", textOrNull (r.lengthNote));
    f->setProperty ("inputFormat", textOrNull (r.inputFormat));
    f->setProperty ("outputFormat",
                    rendered ? juce::var (RenderOptions::formatName (r.format)) : juce::var());
    f->setProperty ("sampleRate",
                    r.sampleRate > 0.0 ? juce::var (juce::roundToInt (r.sampleRate)) : juce::var());
    f->setProperty ("channels", r.numChannels > 0 ? juce::var (r.numChannels) : juce::var());
    f->setProperty ("frames", rendered ? juce::var (s.inputFrames) : juce::var());
    f->setProperty ("declaredFrames",
                    r.declaredFrames >= 0 ? juce::var (r.declaredFrames) : juce::var());
    f->setProperty ("seconds",
                    rendered
                        ? juce::var (rounded (static_cast<double> (s.inputFrames) / rate, 0.001))
                        : juce::var());
    f->setProperty ("settings", settingsObject (context, r));
    if (rendered)
    {
        f->setProperty ("latencySamples", s.latencySamples);
        f->setProperty ("in", levels (r, false));
        f->setProperty ("out", levels (r, true));
        f->setProperty ("largestGainReductionDb", rounded (s.largestGainReductionDb, 0.001));
        f->setProperty ("largestGainReductionAtSeconds",
                        s.largestGainReductionFrame >= 0 && s.largestGainReductionDb > 0.0f
                            ? juce::var (rounded (
                                static_cast<double> (s.largestGainReductionFrame) / rate, 0.001))
                            : juce::var());
        f->setProperty ("limitingShare",
                        s.inputFrames > 0 ? rounded (static_cast<double> (s.limitedFrames)
                                                         / static_cast<double> (s.inputFrames),
                                                     1.0e-6)
                                          : 0.0);
        f->setProperty ("nonFiniteInputSamples", s.nonFiniteInputSamples);
        f->setProperty ("clippedOutputSamples", s.clippedOutputSamples);
        f->setProperty ("meetsTarget", r.meetsTarget ? juce::var (*r.meetsTarget) : juce::var());
        f->setProperty ("renderSeconds", rounded (r.seconds, 0.001));
    }
    return f;
}

juce::String csvField (const juce::String& text)
{
    if (text.containsAnyOf (",\"\n\r"))
        return "\"" + text.replace ("\"", "\"\"") + "\"";
    return text;
}

juce::String csvNumber (const juce::var& value)
{
    return value.isVoid() ? juce::String() : value.toString();
}

/** The CSV's columns per level: one per channel of the widest file rendered, at least four. */
int csvChannels (const std::vector<FileResult>& files)
{
    size_t channels = 4;
    for (const auto& r : files)
        if (r.wasRendered())
            channels = std::max (channels, r.stats.outputPeak.size());
    return static_cast<int> (channels);
}
} // namespace

namespace RenderReport
{
juce::String
toJson (const RenderContext& context, const std::vector<FileResult>& files, const RunSummary& run)
{
    const auto& options = context.options;
    auto* root = new juce::DynamicObject();
    juce::var keep (root);
    root->setProperty ("schema", "orvalis-render-report");
    root->setProperty ("schemaVersion", schemaVersion);
    root->setProperty ("program", "orvalis-render " ORVALIS_VERSION);
    root->setProperty ("startedAt", run.startedAt);
    root->setProperty ("outDir", textOrNull (options.outDir));
    root->setProperty ("targetTruePeakDb",
                       options.targetTruePeakDb ? juce::var (*options.targetTruePeakDb)
                                                : juce::var());
    root->setProperty ("loudnessChannel", "W");
    root->setProperty ("convention", RenderOptions::conventionName (options.convention));
    root->setProperty ("wGainDb", wGainDb (context));

    juce::Array<juce::var> list;
    for (const auto& r : files)
        list.add (fileObject (context, r));
    root->setProperty ("files", list);

    const auto t = totalsOf (files);
    auto* summary = new juce::DynamicObject();
    summary->setProperty ("files", t.files);
    summary->setProperty ("done", t.done);
    summary->setProperty ("truncated", t.truncated);
    summary->setProperty ("skipped", t.skipped);
    summary->setProperty ("failed", t.failed);
    summary->setProperty ("interrupted", t.interrupted);
    summary->setProperty ("notStarted", t.notStarted);
    summary->setProperty ("targetMissed", t.targetMissed);
    summary->setProperty ("audioSeconds", rounded (t.audioSeconds, 0.001));
    summary->setProperty ("wallSeconds", rounded (run.wallSeconds, 0.001));
    summary->setProperty (
        "speed", run.wallSeconds > 0.0 ? rounded (t.audioSeconds / run.wallSeconds, 0.1) : 0.0);
    summary->setProperty ("workers", run.workers);
    summary->setProperty ("largestGainReductionDb", rounded (t.largestGainReductionDb, 0.001));
    summary->setProperty ("largestOutputTruePeakDb", decibels (t.largestOutputTruePeak));
    summary->setProperty ("limitingShare",
                          t.frames > 0 ? rounded (static_cast<double> (t.limitedFrames)
                                                      / static_cast<double> (t.frames),
                                                  1.0e-6)
                                       : 0.0);
    summary->setProperty ("wasInterrupted", run.interrupted);
    summary->setProperty ("exitStatus", toInt (run.exitStatus));
    root->setProperty ("summary", summary);
    return juce::JSON::toString (keep, false) + "\n";
}

juce::String
toCsv (const RenderContext& context, const std::vector<FileResult>& files, const RunSummary& run)
{
    const int channels = csvChannels (files);
    juce::StringArray header { "input",         "output",          "status",        "error",
                               "note",          "input_format",    "output_format", "sample_rate",
                               "frames",        "declared_frames", "seconds",       "mode",
                               "input_gain_db", "attack_ms",       "release_ms",    "ceiling_db",
                               "convention",    "latency_samples" };
    for (const char* side : { "in", "out" })
    {
        for (const char* kind : { "sample_peak_db", "true_peak_db" })
            for (int ch = 1; ch <= channels; ++ch)
                header.add (juce::String (side) + "_" + kind + "_" + juce::String (ch));
        header.add (juce::String (side) + "_integrated_lufs");
        header.add (juce::String (side) + "_loudness_range_lu");
    }
    header.addArray (
        { "largest_gain_reduction_db", "limiting_share", "meets_target", "render_seconds" });

    juce::String text = header.joinIntoString (",") + "\n";
    for (const auto& r : files)
    {
        const auto object = fileObject (context, r);
        const auto get = [&object] (const char* key) { return object.getProperty (key, {}); };
        const auto settings = get ("settings");
        juce::StringArray row;
        for (const char* key :
             { "input", "output", "status", "error", "note", "inputFormat", "outputFormat" })
            row.add (csvField (get (key).toString()));
        for (const char* key : { "sampleRate", "frames", "declaredFrames", "seconds" })
            row.add (csvNumber (get (key)));
        row.add (settings.getProperty ("mode", {}).toString());
        for (const char* key : { "inputGainDb", "attackMs", "releaseMs", "ceilingDb" })
            row.add (csvNumber (settings.getProperty (key, {})));
        row.add (settings.getProperty ("convention", {}).toString());
        row.add (csvNumber (get ("latencySamples")));
        for (const char* side : { "in", "out" })
        {
            const auto levelsOf = get (side);
            for (const char* kind : { "samplePeakDb", "truePeakDb" })
                for (int ch = 0; ch < channels; ++ch)
                    row.add (levelsOf.isObject() ? csvNumber (levelsOf.getProperty (kind, {})[ch])
                                                 : juce::String());
            row.add (csvNumber (levelsOf.getProperty ("integratedLufs", {})));
            row.add (csvNumber (levelsOf.getProperty ("loudnessRangeLu", {})));
        }
        row.add (csvNumber (get ("largestGainReductionDb")));
        row.add (csvNumber (get ("limitingShare")));
        const auto meets = get ("meetsTarget");
        row.add (meets.isBool() ? juce::String (static_cast<bool> (meets) ? "yes" : "no")
                                : juce::String());
        row.add (csvNumber (get ("renderSeconds")));
        text << row.joinIntoString (",") << "\n";
    }

    // The batch as a last row: its counts in the status column, its totals below the columns.
    const auto t = totalsOf (files);
    juce::StringArray row;
    row.add ("(batch)");
    row.add ({});
    row.add (csvField (juce::String (t.done) + " done; " + juce::String (t.truncated)
                       + " truncated; " + juce::String (t.skipped) + " skipped; "
                       + juce::String (t.failed) + " failed; " + juce::String (t.interrupted)
                       + " interrupted; " + juce::String (t.notStarted)
                       + " not started; exit status " + juce::String (toInt (run.exitStatus))));
    while (row.size() < header.indexOf ("frames"))
        row.add ({});
    row.add (juce::String (t.frames));
    row.add ({});
    row.add (juce::String (rounded (t.audioSeconds, 0.001)));
    while (row.size() < header.indexOf ("largest_gain_reduction_db"))
        row.add ({});
    row.add (juce::String (rounded (t.largestGainReductionDb, 0.001)));
    row.add (t.frames > 0 ? juce::String (
                 static_cast<double> (t.limitedFrames) / static_cast<double> (t.frames), 6)
                          : juce::String ("0"));
    row.add (context.options.targetTruePeakDb ? juce::String (t.targetMissed == 0 ? "yes" : "no")
                                              : juce::String());
    row.add (juce::String (rounded (run.wallSeconds, 0.001)));
    text << row.joinIntoString (",") << "\n";
    return text;
}

std::optional<juce::String> write (const juce::File& file,
                                   const RenderContext& context,
                                   const std::vector<FileResult>& files,
                                   const RunSummary& summary)
{
    const auto text = file.getFileName().endsWithIgnoreCase (".csv")
                          ? toCsv (context, files, summary)
                          : toJson (context, files, summary);
    juce::TemporaryFile temporary (file, juce::TemporaryFile::useHiddenFile);
    {
        juce::FileOutputStream out (temporary.getFile());
        if (! out.openedOk() || ! out.writeText (text, false, false, nullptr))
            return juce::String ("cannot write in ") + file.getParentDirectory().getFullPathName();
        out.flush();
        if (! out.getStatus().wasOk())
            return out.getStatus().getErrorMessage();
    }
    if (auto problem = FileChecks::moveInto (temporary.getFile(), file))
        return *problem;
    return std::nullopt;
}
} // namespace RenderReport
