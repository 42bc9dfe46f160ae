#pragma once

#include "render/InputFile.h"
#include "render/RenderModel.h"

#include <functional>

/**
    One file through the processor: opens the input, renders it into a hidden temporary file
    beside the output, checks what was written and renames it into place. A fresh processor
    renders each file, so a file's output is the same whichever worker renders it and after
    whatever came before.
*/
class RenderJob
{
public:
    using Warn = std::function<void (const juce::String&)>;

    RenderJob (const RenderContext& context, FileResult& result, Warn warn);

    /** Opens the input; false, with the result failed or skipped, when it cannot be rendered. */
    bool openInput (const juce::File& input);
    /** Takes the built-in demo scene as the input. */
    void openDemo();

    /**
        Renders the opened input. plot, unless empty, is drawn once the output is in place.
        progress gets input frames done and the expected total.
    */
    void render (const juce::File& output,
                 RenderOptions::Format format,
                 const juce::File& plot,
                 const std::function<bool()>& shouldStop,
                 const std::function<void (juce::int64, juce::int64)>& progress);

    /** Frames the input is expected to hold (for progress), once opened. */
    juce::int64 getExpectedFrames() const;

    /** The highest rate the limiter runs at. */
    static constexpr double maxSampleRate = 192000.0;

private:
    bool drawPlot (const juce::File& plot);

    const RenderContext& context;
    FileResult& result;
    Warn warn;
    InputFile input;
};
