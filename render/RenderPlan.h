#pragma once

#include "render/FileIndex.h"
#include "render/RenderJob.h"
#include "render/RenderModel.h"

#include <optional>
#include <vector>

/**
    What a run renders and where the results go, checked before anything is written. The batch
    form plans every WAV, AIFF and FLAC file of its inputs (folders searched recursively) into one
    output folder, each keeping its input's name and folder below the input folder given; the
    single-file form plans one file (or the demo scene) into OUTPUT. Both forms ask the same
    questions - does an output or a picture replace an input, a report an input or an output -
    and word the answers for their own command lines.
*/
class RenderPlan
{
public:
    /** One file to render. */
    struct Entry
    {
        juce::File input, output, plot; // no input for the demo scene, no plot without --plot
        juce::int64 bytes = 0;          // the input's size, to share out the progress
        bool demo = false;
    };

    /** Why a run cannot start, and the status it ends with. */
    struct Refusal
    {
        juce::String message;
        ExitStatus status;
    };

    explicit RenderPlan (const RenderContext& context);

    /**
        Finds the files and their outputs and checks them against each other, before any input
        is opened. The batch form refuses (ExitStatus::usage) an output folder that is a file,
        an input that does not exist, no audio at all, two inputs with one output, an output or
        a picture that would replace an input, a report that would replace an input or an output.
        The single-file form refuses (ExitStatus::failed) a report that would replace INPUT,
        OUTPUT or the plot, or that cannot be written.
    */
    std::optional<Refusal> make();

    /**
        The checks of one file once its input is open, just before it is rendered; the reason it
        cannot be rendered. The batch form makes the output's folders here. warn is told about an
        output whose name suggests another format than the one written.
    */
    std::optional<juce::String> checkBeforeRender (size_t index, const RenderJob::Warn& warn) const;

    /**
        Shares files out among count shards, balanced by their sizes: largest first, each to the
        shard with the fewest bytes so far (the lowest-numbered of equals). It depends only on
        the sizes in their order, so every machine given the same inputs makes the same shares.
        The shard (0 .. count - 1) of each file.
    */
    static std::vector<int> shareOut (const std::vector<juce::int64>& sizes, int count);

    std::vector<Entry> entries;
    std::vector<FileResult> results; // one for each entry
    size_t batchFiles = 0;           // the batch's files before --shard kept its share

private:
    std::optional<Refusal> makeBatch();
    std::optional<Refusal> makeSingle();
    void add (const juce::File& input, const juce::String& inputName, const juce::String& relative);
    void addInput (const juce::String& argument);
    /** The report named replaces an input, an output or a picture of the plan. */
    bool replacedByReport (const juce::File& report) const;

    const RenderContext& context;
    juce::File outDir, plotDir;
    FileIndex inputs;  // the entries' inputs
    FileIndex written; // the entries' outputs and pictures
};
