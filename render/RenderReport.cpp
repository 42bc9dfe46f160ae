#include "render/RenderReport.h"

#include "render/ChannelLayout.h"

#include "render/FileChecks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace
{
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

template <typename T>
juce::var orNull (const std::optional<T>& value)
{
    return value ? juce::var (*value) : juce::var();
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
                        ? juce::var (rounded (*loudness->integratedLufs, 0.001))
                        : juce::var());
    o->setProperty ("loudnessRangeLu",
                    loudness ? juce::var (rounded (loudness->rangeLu, 0.001)) : juce::var());
    return o;
}

/** The settings of a file (as applied to it) or, without one, of the run (as asked for). */
juce::var settingsObject (const RenderContext& context, const FileResult* r)
{
    const auto& o = context.options;
    const auto& knobs = r != nullptr ? r->knobs : context.knobs;
    auto* s = new juce::DynamicObject();
    s->setProperty ("mode", r != nullptr && r->mode.isNotEmpty() ? r->mode : context.modeName());
    s->setProperty ("inputGainDb", rounded (knobs.gainDb, 0.001));
    s->setProperty ("attackMs", rounded (knobs.attackMs, 0.001));
    s->setProperty ("releaseMs", rounded (knobs.releaseMs, 0.001));
    s->setProperty ("ceilingDb", rounded (knobs.ceilingDb, 0.001));
    s->setProperty ("blockSize", o.blockSize);
    s->setProperty ("aligned", ! o.raw);
    s->setProperty ("settledStart", o.settled);
    s->setProperty ("settingsFile", textOrNull (o.settingsFile));
    s->setProperty ("convention", RenderOptions::conventionName (o.convention));
    if (r != nullptr)
        s->setProperty ("preGainDb", rounded (knobs.preGainDb, 0.001));
    s->setProperty ("targetLoudnessLufs", orNull (o.targetLoudnessLufs));
    if (r == nullptr)
    {
        s->setProperty ("targetTruePeakDb", orNull (o.targetTruePeakDb));
        s->setProperty ("format",
                        o.format ? juce::var (RenderOptions::formatName (*o.format)) : juce::var());
        s->setProperty ("inputLoudness", o.inputLoudness);
    }
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
    f->setProperty ("note", textOrNull (r.notes()));
    f->setProperty ("inputFormat", textOrNull (r.inputFormat));
    f->setProperty ("outputFormat",
                    rendered ? juce::var (RenderOptions::formatName (r.format)) : juce::var());
    f->setProperty ("sampleRate",
                    r.sampleRate > 0.0 ? juce::var (juce::roundToInt (r.sampleRate)) : juce::var());
    f->setProperty ("channels", r.numChannels > 0 ? juce::var (r.numChannels) : juce::var());
    // Ambisonic files are measured by W, as loudnessChannel says; others say how, or null when
    // their loudness is not measured.
    const ChannelLayout layout (r.numChannels, r.channelMask);
    if (r.numChannels > 0 && r.numChannels <= ChannelLayout::largestChannelCount
        && ! layout.ambisonicOrder())
        f->setProperty ("loudnessOf",
                        layout.loudness() == ChannelLayout::Loudness::ofChannels
                            ? juce::var ("channels")
                            : juce::var());
    f->setProperty ("frames", rendered ? juce::var (s.inputFrames) : juce::var());
    f->setProperty ("declaredFrames",
                    r.declaredFrames >= 0 ? juce::var (r.declaredFrames) : juce::var());
    f->setProperty ("seconds",
                    rendered
                        ? juce::var (rounded (static_cast<double> (s.inputFrames) / rate, 0.001))
                        : juce::var());
    f->setProperty ("settings", settingsObject (context, &r));
    f->setProperty ("index", static_cast<juce::int64> (r.batchIndex));
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
        f->setProperty ("limitedFrames", s.limitedFrames);
        f->setProperty ("nonFiniteInputSamples", s.nonFiniteInputSamples);
        f->setProperty ("clippedOutputSamples", s.clippedOutputSamples);
        f->setProperty ("meetsTarget", orNull (r.meetsTarget));
        f->setProperty ("gainAppliedDb", rounded (r.knobs.gainAppliedDb(), 0.001));
        const auto& target = r.loudnessTarget;
        f->setProperty ("loudnessReachedLufs",
                        target && s.outputLoudness && s.outputLoudness->integratedLufs
                            ? juce::var (rounded (*s.outputLoudness->integratedLufs, 0.001))
                            : juce::var());
        f->setProperty ("meetsLoudnessTarget", target ? juce::var (target->met) : juce::var());
        f->setProperty ("loudnessPasses", target ? juce::var (target->passes) : juce::var());
        f->setProperty ("renderSeconds", rounded (r.seconds, 0.001));
    }
    return f;
}

bool isRendered (const juce::var& file)
{
    const auto status = file["status"].toString();
    return status == "done" || status == "truncated" || status == "off-target";
}

//==============================================================================
// JSON in JUCE's layout (two-space indents, CRLF line ends, as reports have always been
// written), with numbers as number() writes them and standard escapes only.
void writeString (juce::MemoryOutputStream& out, const juce::String& text)
{
    out << '"';
    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        switch (c)
        {
            case '"':
                out << "\\\"";
                break;
            case '\\':
                out << "\\\\";
                break;
            case '\b':
                out << "\\b";
                break;
            case '\f':
                out << "\\f";
                break;
            case '\n':
                out << "\\n";
                break;
            case '\r':
                out << "\\r";
                break;
            case '\t':
                out << "\\t";
                break;
            default:
                if (c >= 32 && c < 127)
                    out << static_cast<char> (c);
                else
                {
                    juce::CharPointer_UTF16::CharType units[2] {};
                    juce::CharPointer_UTF16 utf16 (units);
                    utf16.write (c);
                    const auto count = juce::CharPointer_UTF16::getBytesRequiredFor (c) / 2;
                    for (size_t i = 0; i < count; ++i)
                        out << "\\u"
                            << juce::String::toHexString (
                                   static_cast<int> (static_cast<std::uint16_t> (units[i])))
                                   .paddedLeft ('0', 4);
                }
        }
    }
    out << '"';
}

void writeJson (juce::MemoryOutputStream& out, const juce::var& v, int indent)
{
    const auto spaces = [&out] (int n) { out.writeRepeatedByte (' ', static_cast<size_t> (n)); };
    if (v.isString())
        writeString (out, v.toString());
    else if (v.isVoid() || v.isUndefined())
        out << "null";
    else if (v.isBool())
        out << (static_cast<bool> (v) ? "true" : "false");
    else if (v.isDouble())
        out << RenderReport::number (static_cast<double> (v));
    else if (v.isInt() || v.isInt64())
        out << juce::String (static_cast<juce::int64> (v));
    else if (const auto* array = v.getArray())
    {
        out << '[';
        if (! array->isEmpty())
        {
            out << "\r\n";
            for (int i = 0; i < array->size(); ++i)
            {
                spaces (indent + 2);
                writeJson (out, array->getReference (i), indent + 2);
                out << (i + 1 < array->size() ? ",\r\n" : "\r\n");
            }
            spaces (indent);
        }
        out << ']';
    }
    else if (auto* object = v.getDynamicObject())
    {
        const auto& properties = object->getProperties();
        out << "{\r\n";
        for (int i = 0; i < properties.size(); ++i)
        {
            spaces (indent + 2);
            writeString (out, properties.getName (i).toString());
            out << ": ";
            writeJson (out, properties.getValueAt (i), indent + 2);
            out << (i + 1 < properties.size() ? ",\r\n" : "\r\n");
        }
        spaces (indent);
        out << '}';
    }
    else
        out << "null";
}

//==============================================================================
juce::String csvField (const juce::String& text)
{
    if (text.containsAnyOf (",\"\n\r"))
        return "\"" + text.replace ("\"", "\"\"") + "\"";
    return text;
}

juce::String csvNumber (const juce::var& value)
{
    if (value.isVoid() || value.isUndefined())
        return {};
    if (value.isDouble())
        return RenderReport::number (static_cast<double> (value));
    return value.toString();
}

/** The CSV's columns per level: one per channel of the widest file rendered, at least four. */
int csvChannels (const juce::var& files)
{
    int channels = 4;
    for (int i = 0; i < files.size(); ++i)
        if (isRendered (files[i]))
            channels = std::max (channels, files[i]["out"]["samplePeakDb"].size());
    return channels;
}
} // namespace

namespace RenderReport
{
juce::String number (double value)
{
    if (! std::isfinite (value))
        return "null";
    if (value == 0.0)
        return "0.0";
    // Whole numbers keep a decimal point, as JUCE writes them: a reader sees a real number.
    if (value == std::floor (value) && std::abs (value) < 1.0e15)
        return juce::String (static_cast<juce::int64> (value)) + ".0";
    char text[32];
    const auto end = std::to_chars (text, text + sizeof (text), value).ptr;
    return juce::String (text, static_cast<size_t> (end - text));
}

juce::var
build (const RenderContext& context, const std::vector<FileResult>& files, const RunSummary& run)
{
    const auto& options = context.options;
    auto* root = new juce::DynamicObject();
    juce::var report (root);
    root->setProperty ("schema", "orvalis-render-report");
    root->setProperty ("schemaVersion", schemaVersion);
    root->setProperty ("program", "orvalis-render " ORVALIS_VERSION);
    root->setProperty ("startedAt", run.startedAt);
    root->setProperty ("outDir", textOrNull (options.outDir));
    root->setProperty ("targetTruePeakDb", orNull (options.targetTruePeakDb));
    root->setProperty ("targetLoudnessLufs", orNull (options.targetLoudnessLufs));
    root->setProperty ("loudnessChannel", "W");
    root->setProperty ("convention", RenderOptions::conventionName (options.convention));
    root->setProperty ("wGainDb", wGainDb (context));
    juce::var shard;
    if (options.shard)
    {
        auto* s = new juce::DynamicObject();
        shard = s;
        s->setProperty ("index", options.shard->index);
        s->setProperty ("count", options.shard->count);
        s->setProperty ("batchFiles", static_cast<juce::int64> (run.batchFiles));
    }
    root->setProperty ("shard", shard);
    root->setProperty ("mergedFrom", juce::var());
    root->setProperty ("settings", settingsObject (context, nullptr));

    juce::Array<juce::var> list;
    for (const auto& r : files)
        list.add (fileObject (context, r));
    root->setProperty ("files", list);

    RunFacts facts;
    facts.wallSeconds = run.wallSeconds;
    facts.workers = run.workers;
    facts.interrupted = run.interrupted;
    facts.exitStatus = toInt (run.exitStatus);
    root->setProperty ("summary", summaryOf (root->getProperty ("files"), facts));
    return report;
}

juce::var summaryOf (const juce::var& files, const RunFacts& run)
{
    int done = 0, truncated = 0, offTarget = 0, skipped = 0, failed = 0, interrupted = 0,
        notStarted = 0, targetMissed = 0;
    double audioSeconds = 0.0, largestReduction = 0.0;
    std::optional<double> largestTruePeak;
    juce::int64 frames = 0, limited = 0;
    for (int i = 0; i < files.size(); ++i)
    {
        const auto& f = files[i];
        const auto status = f["status"].toString();
        done += status == "done";
        truncated += status == "truncated";
        offTarget += status == "off-target";
        skipped += status == "skipped";
        failed += status == "failed";
        interrupted += status == "interrupted";
        notStarted += status == "not-started";
        if (! isRendered (f))
            continue;
        if (f["meetsTarget"].isBool() && ! static_cast<bool> (f["meetsTarget"]))
            ++targetMissed;
        const auto fileFrames = static_cast<juce::int64> (f["frames"]);
        frames += fileFrames;
        limited += static_cast<juce::int64> (f["limitedFrames"]);
        audioSeconds += static_cast<double> (fileFrames) / static_cast<double> (f["sampleRate"]);
        largestReduction =
            std::max (largestReduction, static_cast<double> (f["largestGainReductionDb"]));
        const auto& peaks = f["out"]["truePeakDb"];
        for (int ch = 0; ch < peaks.size(); ++ch)
            if (! peaks[ch].isVoid())
            {
                const auto peak = static_cast<double> (peaks[ch]);
                largestTruePeak = std::max (largestTruePeak.value_or (peak), peak);
            }
    }

    auto* summary = new juce::DynamicObject();
    juce::var keep (summary);
    summary->setProperty ("files", files.size());
    summary->setProperty ("done", done);
    summary->setProperty ("truncated", truncated);
    summary->setProperty ("offTarget", offTarget);
    summary->setProperty ("skipped", skipped);
    summary->setProperty ("failed", failed);
    summary->setProperty ("interrupted", interrupted);
    summary->setProperty ("notStarted", notStarted);
    summary->setProperty ("targetMissed", targetMissed);
    summary->setProperty ("audioSeconds", rounded (audioSeconds, 0.001));
    summary->setProperty ("wallSeconds", rounded (run.wallSeconds, 0.001));
    summary->setProperty (
        "speed", run.wallSeconds > 0.0 ? rounded (audioSeconds / run.wallSeconds, 0.1) : 0.0);
    summary->setProperty ("workers", run.workers);
    summary->setProperty ("largestGainReductionDb", largestReduction);
    summary->setProperty ("largestOutputTruePeakDb", orNull (largestTruePeak));
    summary->setProperty (
        "limitingShare",
        frames > 0 ? rounded (static_cast<double> (limited) / static_cast<double> (frames), 1.0e-6)
                   : 0.0);
    summary->setProperty ("frames", frames);
    summary->setProperty ("limitedFrames", limited);
    summary->setProperty ("wasInterrupted", run.interrupted);
    summary->setProperty ("exitStatus", run.exitStatus);
    return keep;
}

int exitStatusOf (const juce::var& files)
{
    bool failed = false, missed = false, offTarget = false, truncated = false, rendered = false;
    for (int i = 0; i < files.size(); ++i)
    {
        const auto& f = files[i];
        const auto status = f["status"].toString();
        const bool fileRendered = isRendered (f);
        failed = failed || status == "failed" || (fileRendered && ! f["error"].isVoid());
        missed = missed
                 || (fileRendered && f["meetsTarget"].isBool()
                     && ! static_cast<bool> (f["meetsTarget"]));
        offTarget = offTarget || status == "off-target";
        truncated = truncated || status == "truncated";
        rendered = rendered || fileRendered;
    }
    if (files.size() == 0)
        return toInt (ExitStatus::done);
    if (failed || ! rendered)
        return toInt (ExitStatus::failed);
    return toInt (missed      ? ExitStatus::targetMissed
                  : offTarget ? ExitStatus::offTarget
                  : truncated ? ExitStatus::truncated
                              : ExitStatus::done);
}

juce::String toJson (const juce::var& report)
{
    juce::MemoryOutputStream out;
    writeJson (out, report, 0);
    out << "\n";
    return out.toUTF8();
}

juce::String toCsv (const juce::var& report)
{
    const auto& files = report["files"];
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
    header.addArray ({ "largest_gain_reduction_db",
                       "limiting_share",
                       "meets_target",
                       "render_seconds",
                       "index",
                       "pre_gain_db",
                       "gain_applied_db",
                       "target_loudness_lufs",
                       "loudness_reached_lufs",
                       "meets_loudness_target",
                       "loudness_passes",
                       "limited_frames" });

    const auto yesNo = [] (const juce::var& value)
    {
        return value.isBool() ? juce::String (static_cast<bool> (value) ? "yes" : "no")
                              : juce::String();
    };
    juce::String text = header.joinIntoString (",") + "\n";
    for (int i = 0; i < files.size(); ++i)
    {
        const auto& object = files[i];
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
            {
                // A file with fewer channels than the widest leaves the rest of its columns empty.
                const auto values =
                    levelsOf.isObject() ? levelsOf.getProperty (kind, {}) : juce::var();
                for (int ch = 0; ch < channels; ++ch)
                    row.add (ch < values.size() ? csvNumber (values[ch]) : juce::String());
            }
            row.add (csvNumber (levelsOf.getProperty ("integratedLufs", {})));
            row.add (csvNumber (levelsOf.getProperty ("loudnessRangeLu", {})));
        }
        row.add (csvNumber (get ("largestGainReductionDb")));
        row.add (csvNumber (get ("limitingShare")));
        row.add (yesNo (get ("meetsTarget")));
        row.add (csvNumber (get ("renderSeconds")));
        row.add (csvNumber (get ("index")));
        row.add (csvNumber (settings.getProperty ("preGainDb", {})));
        row.add (csvNumber (get ("gainAppliedDb")));
        row.add (csvNumber (settings.getProperty ("targetLoudnessLufs", {})));
        row.add (csvNumber (get ("loudnessReachedLufs")));
        row.add (yesNo (get ("meetsLoudnessTarget")));
        row.add (csvNumber (get ("loudnessPasses")));
        row.add (csvNumber (get ("limitedFrames")));
        text << row.joinIntoString (",") << "\n";
    }

    // The batch as a last row: its counts in the status column, its totals below the columns.
    const auto& t = report["summary"];
    const auto count = [&t] (const char* key) { return juce::String (static_cast<int> (t[key])); };
    juce::StringArray row;
    row.add ("(batch)");
    row.add ({});
    row.add (csvField (count ("done") + " done; " + count ("truncated") + " truncated; "
                       + count ("offTarget") + " off-target; " + count ("skipped") + " skipped; "
                       + count ("failed") + " failed; " + count ("interrupted") + " interrupted; "
                       + count ("notStarted") + " not started; exit status "
                       + count ("exitStatus")));
    const auto column = [&row, &header] (const char* name)
    {
        while (row.size() < header.indexOf (name))
            row.add ({});
    };
    column ("frames");
    row.add (csvNumber (t["frames"]));
    row.add ({});
    row.add (csvNumber (t["audioSeconds"]));
    column ("largest_gain_reduction_db");
    row.add (csvNumber (t["largestGainReductionDb"]));
    row.add (csvNumber (t["limitingShare"]));
    row.add (report["targetTruePeakDb"].isVoid()
                 ? juce::String()
                 : juce::String (static_cast<int> (t["targetMissed"]) == 0 ? "yes" : "no"));
    row.add (csvNumber (t["wallSeconds"]));
    column ("target_loudness_lufs");
    row.add (csvNumber (report["targetLoudnessLufs"]));
    row.add ({});
    row.add (report["targetLoudnessLufs"].isVoid()
                 ? juce::String()
                 : juce::String (static_cast<int> (t["offTarget"]) == 0 ? "yes" : "no"));
    row.add ({});
    row.add (csvNumber (t["limitedFrames"]));
    text << row.joinIntoString (",") << "\n";
    return text;
}

std::optional<juce::String> write (const juce::File& file, const juce::var& report)
{
    const auto text =
        file.getFileName().endsWithIgnoreCase (".csv") ? toCsv (report) : toJson (report);
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
