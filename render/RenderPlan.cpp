#include "render/RenderPlan.h"

#include "render/FileChecks.h"
#include "render/Platform.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace
{
namespace fs = std::filesystem;

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
    // Below the folder as given, the names as the system writes them: day1/a/b.wav on Linux,
    // D:\day1\a\b.wav on Windows.
    const auto separator = juce::File::getSeparatorString();
    const auto native = relative.replace ("/", separator);
    return folder.endsWith ("/") || folder.endsWith (separator) ? folder + native
                                                                : folder + separator + native;
}
} // namespace

RenderPlan::RenderPlan (const RenderContext& c) : context (c)
{
}

std::optional<RenderPlan::Refusal> RenderPlan::make()
{
    return context.options.isBatch() ? makeBatch() : makeSingle();
}

void RenderPlan::add (const juce::File& input,
                      const juce::String& inputName,
                      const juce::String& relative)
{
    const auto format = outputFormatFor (context.options, relative);
    const auto outRelative = outputNameFor (relative, format);
    Entry e;
    e.input = input;
    e.output = outDir.getChildFile (outRelative);
    if (plotDir != juce::File())
        e.plot = plotDir.getChildFile (outRelative + ".png");
    e.bytes = std::max<juce::int64> (0, input.getSize());
    FileResult r;
    r.inputName = inputName;
    r.outputName = joinName (context.options.outDir, outRelative);
    if (plotDir != juce::File())
        r.plotName = joinName (context.options.plotFile, outRelative + ".png");
    r.format = format;
    r.mode = context.modeName();
    r.knobs = context.knobs;
    entries.push_back (e);
    results.push_back (r);
}

void RenderPlan::addInput (const juce::String& argument)
{
    const auto given = FileChecks::resolve (argument);
    if (! given.isDirectory())
    {
        add (given, argument, given.getFileName());
        return;
    }

    // Every audio file below the folder, in name order, leaving out hidden files and folders
    // (our own temporary files among them) and the output folder, should it be inside.
    std::vector<std::pair<juce::String, juce::File>> found;
    std::error_code error;
    const auto root = Platform::pathOf (given);
    const auto outPath = fs::weakly_canonical (Platform::pathOf (outDir), error);
    for (fs::recursive_directory_iterator
             it (root, fs::directory_options::skip_permission_denied, error),
         end;
         it != end;
         it.increment (error))
    {
        if (error)
            break;
        const auto name = Platform::textOf (it->path().filename());
        std::error_code statError;
        if (name.startsWithChar ('.')
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
        const auto relative = juce::String::fromUTF8 (
            fs::relative (it->path(), root, statError).generic_u8string().c_str());
        found.emplace_back (relative, juce::File (Platform::textOf (it->path())));
    }
    std::sort (found.begin(),
               found.end(),
               [] (const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [relative, file] : found)
        add (file, joinName (argument, relative), relative);
}

bool RenderPlan::replacedByReport (const juce::File& report) const
{
    return inputs.find (report).has_value() || written.find (report).has_value();
}

std::optional<RenderPlan::Refusal> RenderPlan::makeBatch()
{
    const auto& options = context.options;
    const auto refuse = [] (const juce::String& message) {
        return std::optional<Refusal> (Refusal { message, ExitStatus::usage });
    };

    outDir = FileChecks::resolve (options.outDir);
    if (outDir.existsAsFile())
        return refuse (options.outDir + ": is a file; --out-dir needs a folder");
    if (options.plotFile.isNotEmpty())
    {
        plotDir = FileChecks::resolve (options.plotFile);
        if (plotDir.existsAsFile())
            return refuse (options.plotFile
                           + ": is a file; with --out-dir, --plot names a folder for the pictures");
    }

    for (const auto& argument : options.inputs)
    {
        if (! FileChecks::resolve (argument).exists())
            return refuse (argument + ": no such file or folder");
        addInput (argument);
    }
    if (entries.empty())
        return refuse ("no WAV, AIFF or FLAC files in " + options.inputs.joinIntoString (", "));

    // Files compare as the system compares their names: ignoring case on Windows.
    std::map<juce::File, size_t> outputs;
    for (size_t i = 0; i < entries.size(); ++i)
    {
        const auto key = entries[i].output;
        if (auto [at, inserted] = outputs.emplace (key, i); ! inserted)
            return refuse (results[at->second].inputName + " and " + results[i].inputName
                           + " would both be written to " + results[i].outputName);
    }
    // Nothing may be written over an input: not by its path, a link, or a hard link.
    for (size_t i = 0; i < entries.size(); ++i)
        inputs.add (entries[i].input, i);
    for (size_t i = 0; i < entries.size(); ++i)
    {
        const auto& e = entries[i];
        if (auto other = inputs.find (e.output))
            return refuse (results[i].outputName + " would replace the input "
                           + results[*other].inputName + "; choose another --out-dir");
        if (e.plot != juce::File())
            if (auto other = inputs.find (e.plot))
                return refuse (results[i].plotName + " would replace the input "
                               + results[*other].inputName + "; choose another --plot folder");
        written.add (e.output, i);
        if (e.plot != juce::File())
            written.add (e.plot, i);
    }
    for (const auto& name : options.reportFiles)
        if (replacedByReport (FileChecks::resolve (name)))
            return refuse (name + ": the report must not replace an input or an output");

    // Every check above is made on the whole batch, so each shard refuses what the batch would.
    batchFiles = entries.size();
    for (size_t i = 0; i < results.size(); ++i)
        results[i].batchIndex = i;
    if (options.shard)
    {
        std::vector<juce::int64> sizes;
        for (const auto& e : entries)
            sizes.push_back (e.bytes);
        const auto shards = shareOut (sizes, options.shard->count);
        std::vector<Entry> keptEntries;
        std::vector<FileResult> keptResults;
        for (size_t i = 0; i < entries.size(); ++i)
            if (shards[i] == options.shard->index - 1)
            {
                keptEntries.push_back (entries[i]);
                keptResults.push_back (results[i]);
            }
        entries = std::move (keptEntries);
        results = std::move (keptResults);
    }
    return std::nullopt;
}

std::vector<int> RenderPlan::shareOut (const std::vector<juce::int64>& sizes, int count)
{
    std::vector<size_t> order (sizes.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort (
        order.begin(), order.end(), [&sizes] (size_t a, size_t b) { return sizes[a] > sizes[b]; });
    std::vector<juce::int64> bytes (static_cast<size_t> (std::max (1, count)), 0);
    std::vector<int> shard (sizes.size(), 0);
    for (const auto i : order)
    {
        const auto least = std::min_element (bytes.begin(), bytes.end()) - bytes.begin();
        shard[i] = static_cast<int> (least);
        // Counted at least one byte, so that empty files are shared out too.
        bytes[static_cast<size_t> (least)] += std::max<juce::int64> (1, sizes[i]);
    }
    return shard;
}

std::optional<RenderPlan::Refusal> RenderPlan::makeSingle()
{
    const auto& options = context.options;
    Entry e;
    e.demo = options.demo;
    if (! e.demo)
    {
        e.input = FileChecks::resolve (options.input);
        e.bytes = std::max<juce::int64> (0, e.input.getSize());
    }
    e.output = FileChecks::resolve (options.output);
    if (options.plotFile.isNotEmpty())
        e.plot = FileChecks::resolve (options.plotFile);
    FileResult r;
    r.inputName = e.demo ? juce::String ("demo scene (ambiX, SN3D)") : options.input;
    r.outputName = options.output;
    r.plotName = options.plotFile;
    r.format = options.outputFormat();
    r.mode = context.modeName();
    r.knobs = context.knobs;
    entries.push_back (e);
    results.push_back (r);
    batchFiles = 1;

    if (! e.demo)
        inputs.add (e.input, 0);
    written.add (e.output, 0);
    if (e.plot != juce::File())
        written.add (e.plot, 0);
    for (const auto& name : options.reportFiles)
    {
        const auto report = FileChecks::resolve (name);
        if (replacedByReport (report))
            return Refusal { name + ": the report must not replace INPUT, OUTPUT or the plot",
                             ExitStatus::failed };
        if (auto problem = FileChecks::checkWritable (report, name))
            return Refusal { *problem, ExitStatus::failed };
    }
    return std::nullopt;
}

std::optional<juce::String> RenderPlan::checkBeforeRender (size_t index,
                                                           const RenderJob::Warn& warn) const
{
    const auto& options = context.options;
    const auto& e = entries[index];
    const auto& r = results[index];
    if (options.isBatch())
    {
        // The folders below the output folder are made as the inputs' folders are met.
        std::error_code error;
        fs::create_directories (Platform::pathOf (e.output.getParentDirectory()), error);
        if (e.plot != juce::File())
            fs::create_directories (Platform::pathOf (e.plot.getParentDirectory()), error);
        if (! e.output.getParentDirectory().isDirectory())
            return r.outputName + ": cannot make its folder: " + juce::String (error.message());
    }
    else
    {
        // The single-file form writes into folders that exist, and names its output itself.
        if (auto problem = FileChecks::checkWritable (e.output, r.outputName))
            return problem;
        if (inputs.find (e.output))
            return r.outputName + ": OUTPUT is the same file as INPUT; choose another name";
        if (context.settings.xml != nullptr
            && FileChecks::sameFile (FileChecks::resolve (options.settingsFile), e.output))
            return r.outputName + ": OUTPUT is the same file as the settings document";
        if (! options.format.has_value())
            for (const char* extension : { ".aif", ".aiff", ".aifc", ".ogg", ".mp3" })
                if (r.outputName.endsWithIgnoreCase (extension))
                    return r.outputName + ": cannot write "
                           + juce::String (extension + 1).toUpperCase()
                           + "; name OUTPUT .wav or .flac, or choose --format";
        if (e.plot != juce::File())
        {
            if (auto problem = FileChecks::checkWritable (e.plot, r.plotName))
                return problem;
            if (FileChecks::sameFile (e.plot, e.output) || inputs.find (e.plot))
                return r.plotName + ": the plot must not replace INPUT or OUTPUT";
        }
    }
    if ((r.format == RenderOptions::Format::flac) != r.outputName.endsWithIgnoreCase (".flac"))
        warn ("writing " + RenderOptions::formatName (r.format) + " into a file named "
              + e.output.getFileName());
    return std::nullopt;
}
