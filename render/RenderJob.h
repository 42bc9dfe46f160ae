#pragma once

#include "render/InputFile.h"
#include "render/RenderModel.h"
#include "render/RenderSession.h"

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
        progress gets input frames done and the expected total (of every pass, when
        --target-loudness renders trials first).
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
    /** The most channels a FLAC stream carries. */
    static constexpr int maxFlacChannels = 8;

private:
    /** The input gain of a pass: the knob (0 dB and up) and the renderer's attenuation. */
    struct PassGains
    {
        bool chosen = false; // else the options' and the settings document's gain
        float knobDb = 0.0f, preGainDb = 0.0f;
    };
    struct Pass
    {
        RenderSession::Result outcome = RenderSession::Result::finished;
        RenderStats stats;
        KnobSettings knobs;
    };

    /**
        One render of the input through a fresh processor. Without a writer nothing is written
        and only the output's loudness is measured (a trial).
    */
    Pass runPass (const PassGains& gains,
                  juce::AudioFormatWriter* writer,
                  RenderOptions::Format format,
                  const std::function<bool()>& shouldStop,
                  const std::function<void (juce::int64, juce::int64)>& progress);
    /**
        --target-loudness: measures the input, renders trials until the output's loudness is
        within 0.05 LU of the target or cannot get closer, and leaves the input open again for
        the render written. The gain to render with (the closest one when the target cannot be
        met, the reason in the result), or none when a pass was interrupted or failed.
    */
    std::optional<PassGains>
    chooseLoudnessGain (const std::function<bool()>& shouldStop,
                        const std::function<void (juce::int64, juce::int64)>& progress,
                        RenderSession::Result& outcome);
    bool reopenInput();
    bool drawPlot (const juce::File& plot);

    const RenderContext& context;
    FileResult& result;
    Warn warn;
    InputFile input;
    juce::File inputFile;
    std::optional<Loudness> measuredInput; // by --target-loudness's first pass
    juce::int64 progressShown = 0;         // frames, over --target-loudness's passes
};
