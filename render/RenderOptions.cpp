#include "render/RenderOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace
{
struct Range
{
    const char* option;
    double minimum, maximum;
    const char* text; // the range as the message shows it
};

const Range targetRange { "--target-true-peak", -60.0, 20.0, "-60..+20 dBTP" };
const Range loudnessRange { "--target-loudness", -60.0, 0.0, "-60..0 LUFS" };

/** The knob an option sets (--gain, --attack, --release, --ceiling), or nullptr. */
const parameters::Knob* knobFor (const juce::String& option)
{
    for (const auto& knob : parameters::knobs)
        if (option == knob.option)
            return &knob;
    return nullptr;
}

Range rangeOf (const parameters::Knob& knob)
{
    return { knob.option, knob.minimum, knob.maximum, knob.rangeText };
}

std::optional<juce::String>
parseNumber (const juce::String& text, const Range& range, double& result)
{
    const auto utf8 = text.trim().toStdString();
    char* end = nullptr;
    errno = 0;
    const double value = utf8.empty() ? 0.0 : std::strtod (utf8.c_str(), &end);
    if (utf8.empty() || end == nullptr || *end != '\0' || errno == ERANGE
        || ! std::isfinite (value))
        return juce::String (range.option) + " needs a number, got '" + text + "'";
    if (value < range.minimum || value > range.maximum)
        return juce::String (range.option) + " must be " + range.text + ", got " + text;
    result = value;
    return std::nullopt;
}
} // namespace

std::optional<juce::String> RenderOptions::parse (const juce::StringArray& args,
                                                  RenderOptions& result)
{
    RenderOptions options;
    juce::StringArray positional, otherOptions;
    bool onlyPositional = false;

    for (int i = 0; i < args.size(); ++i)
    {
        juce::String arg = args[i];
        if (onlyPositional || ! arg.startsWith ("-") || arg == "-")
        {
            positional.add (arg);
            continue;
        }
        if (arg.startsWith ("-j") && arg.length() > 2)
            arg = "--jobs=" + arg.substring (2);
        else if (arg == "-j")
            arg = "--jobs";
        if (arg == "--")
        {
            onlyPositional = true;
            continue;
        }

        juce::String value;
        bool hasInlineValue = false;
        if (arg.startsWith ("--") && arg.containsChar ('='))
        {
            value = arg.fromFirstOccurrenceOf ("=", false, false);
            arg = arg.upToFirstOccurrenceOf ("=", false, false);
            hasInlineValue = true;
        }

        const auto* knob = knobFor (arg);
        const bool takesValue =
            knob != nullptr || arg == "--block" || arg == "--settings" || arg == "--plot"
            || arg == "--format" || arg == "--out-dir" || arg == "--jobs" || arg == "--report"
            || arg == "--target-true-peak" || arg == "--convention" || arg == "--target-loudness"
            || arg == "--shard" || arg == "--merge-reports";
        if (takesValue && ! hasInlineValue)
        {
            if (i + 1 >= args.size())
                return arg + " needs a value";
            value = args[++i];
        }
        else if (! takesValue && hasInlineValue)
            return arg + " takes no value";

        if (arg != "--merge-reports" && arg != "--help" && arg != "-h" && arg != "--version")
            otherOptions.add (arg);

        if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg == "--version")
            options.version = true;
        else if (arg == "--demo")
            options.demo = true;
        else if (arg == "--raw")
            options.raw = true;
        else if (arg == "--settled")
            options.settled = true;
        else if (arg == "--input-loudness")
            options.inputLoudness = true;
        else if (arg == "--true-peak" || arg == "--sample-peak")
        {
            const bool truePeak = arg == "--true-peak";
            if (options.truePeak.has_value() && *options.truePeak != truePeak)
                return juce::String ("--true-peak and --sample-peak cannot both be given");
            options.truePeak = truePeak;
        }
        else if (knob != nullptr)
        {
            double number = 0.0;
            if (auto error = parseNumber (value, rangeOf (*knob), number))
                return error;
            options.knobValues[static_cast<size_t> (knob->index)] = number;
        }
        else if (arg == "--block")
        {
            const auto text = value.trim();
            if (! text.containsOnly ("0123456789") || text.isEmpty() || text.length() > 5
                || text.getIntValue() < 1 || text.getIntValue() > maxBlockSize)
                return "--block must be a whole number 1.." + juce::String (maxBlockSize) + ", got "
                       + value;
            options.blockSize = text.getIntValue();
        }
        else if (arg == "--settings" || arg == "--plot")
        {
            if (value.isEmpty())
                return arg + " needs a file name";
            (arg == "--settings" ? options.settingsFile : options.plotFile) = value;
        }
        else if (arg == "--out-dir")
        {
            if (value.isEmpty())
                return juce::String ("--out-dir needs a folder name");
            options.outDir = value;
        }
        else if (arg == "--jobs")
        {
            const auto text = value.trim();
            if (! text.containsOnly ("0123456789") || text.isEmpty() || text.length() > 4
                || text.getIntValue() < 1 || text.getIntValue() > 256)
                return "-j must be a whole number of workers 1..256, got " + value;
            options.jobs = text.getIntValue();
        }
        else if (arg == "--report")
        {
            if (! value.endsWithIgnoreCase (".json") && ! value.endsWithIgnoreCase (".csv"))
                return "--report needs a file name ending in .json or .csv, got '" + value + "'";
            for (const auto& earlier : options.reportFiles)
                if (earlier.endsWithIgnoreCase (".json") == value.endsWithIgnoreCase (".json"))
                    return juce::String ("--report is given twice for the same kind of file");
            options.reportFiles.add (value);
        }
        else if (arg == "--target-true-peak")
        {
            double number = 0.0;
            if (auto error = parseNumber (value, targetRange, number))
                return error;
            options.targetTruePeakDb = number;
        }
        else if (arg == "--target-loudness")
        {
            double number = 0.0;
            if (auto error = parseNumber (value, loudnessRange, number))
                return error;
            options.targetLoudnessLufs = number;
        }
        else if (arg == "--shard")
        {
            const auto k = value.upToFirstOccurrenceOf ("/", false, false).trim();
            const auto n = value.fromFirstOccurrenceOf ("/", false, false).trim();
            const auto whole = [] (const juce::String& t)
            { return t.isNotEmpty() && t.length() <= 6 && t.containsOnly ("0123456789"); };
            if (! value.containsChar ('/') || ! whole (k) || ! whole (n) || n.getIntValue() < 1
                || k.getIntValue() < 1 || k.getIntValue() > n.getIntValue())
                return "--shard needs K/N with 1 <= K <= N (the K-th of N shares), got '" + value
                       + "'";
            options.shard = Shard { k.getIntValue(), n.getIntValue() };
        }
        else if (arg == "--merge-reports")
        {
            if (! value.endsWithIgnoreCase (".json") && ! value.endsWithIgnoreCase (".csv"))
                return "--merge-reports needs an OUT file ending in .json or .csv, got '" + value
                       + "'";
            options.mergeOutput = value;
        }
        else if (arg == "--convention")
        {
            if (value.equalsIgnoreCase ("ambix"))
                options.convention = Convention::ambiX;
            else if (value.equalsIgnoreCase ("fuma"))
                options.convention = Convention::fuma;
            else
                return "--convention must be ambix or fuma, got '" + value + "'";
        }
        else if (arg == "--format")
        {
            if (value == "wav32")
                options.format = Format::wav32;
            else if (value == "wav24")
                options.format = Format::wav24;
            else if (value == "flac")
                options.format = Format::flac;
            else
                return "--format must be wav32, wav24 or flac, got '" + value + "'";
        }
        else
            return "unknown option " + arg;
    }

    if (options.help || options.version)
    {
        result = options;
        return std::nullopt;
    }

    if (options.isMerge())
    {
        if (! otherOptions.isEmpty())
            return "--merge-reports takes only report files, not " + otherOptions[0];
        if (positional.isEmpty())
            return juce::String ("--merge-reports needs at least one IN.json report");
        for (const auto& name : positional)
            if (! name.endsWithIgnoreCase (".json"))
                return "--merge-reports joins JSON reports; '" + name + "' is not one";
        options.mergeInputs = positional;
        result = options;
        return std::nullopt;
    }
    if (options.targetLoudnessLufs && options.knobValues[parameters::inputGain].has_value())
        return juce::String (
            "--gain and --target-loudness cannot both be given: the target chooses the gain");

    if (options.isBatch())
    {
        if (options.demo)
            return juce::String ("--demo writes one OUTPUT; it cannot be used with --out-dir");
        if (positional.isEmpty())
            return juce::String ("--out-dir needs at least one INPUT file or folder");
        for (const auto& name : positional)
            if (name.isEmpty())
                return juce::String ("file names must not be empty");
        options.inputs = positional;
        result = options;
        return std::nullopt;
    }
    if (options.jobs > 0)
        return juce::String ("-j needs the batch form (--out-dir DIR INPUT...)");
    if (options.shard)
        return juce::String ("--shard needs the batch form (--out-dir DIR INPUT...)");

    const int wanted = options.demo ? 1 : 2;
    if (positional.size() < wanted)
        return options.demo
                   ? juce::String ("--demo needs an OUTPUT file")
                   : juce::String (positional.isEmpty() ? "needs INPUT and OUTPUT files"
                                                        : "needs an OUTPUT file after INPUT");
    if (positional.size() > wanted)
        return "unexpected argument '" + positional[wanted] + "'";

    if (options.demo)
        options.output = positional[0];
    else
    {
        options.input = positional[0];
        options.output = positional[1];
    }
    if (options.output.isEmpty() || (! options.demo && options.input.isEmpty()))
        return juce::String ("file names must not be empty");

    result = options;
    return std::nullopt;
}

RenderOptions::Format RenderOptions::outputFormat() const
{
    if (format.has_value())
        return *format;
    return output.endsWithIgnoreCase (".flac") ? Format::flac : Format::wav32;
}

juce::String RenderOptions::formatName (Format f)
{
    switch (f)
    {
        case Format::wav32:
            return "32-bit float WAV";
        case Format::wav24:
            return "24-bit WAV";
        case Format::flac:
            return "24-bit FLAC";
        case Format::aiff24:
            return "24-bit AIFF";
    }
    return {};
}

juce::String RenderOptions::conventionName (Convention c)
{
    return c == Convention::fuma ? "FuMa" : "ambiX";
}
