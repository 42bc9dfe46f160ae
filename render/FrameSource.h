#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

/**
    Four channels of audio read front to back, block by block, until the source ends. The length
    is whatever the source delivers: a file's header may only guess it.
*/
class FrameSource
{
public:
    static constexpr int numChannels = 4;

    virtual ~FrameSource() = default;

    /** Reads up to numFrames frames into the four channels; fewer only at the end, -1 on a read error. */
    virtual int read (float* const* channels, int numFrames) = 0;

    /** The frames the source expects to deliver in all (for progress and the plot's scale), 0 if unknown. */
    virtual juce::int64 getExpectedFrames() const = 0;

    virtual double getSampleRate() const = 0;

    /** What went wrong while reading, when the source read on past damage; empty otherwise. */
    virtual juce::String getDamageNote() const { return {}; }
};

/**
    Reads a JUCE reader from its first frame to its lengthInSamples, in order. A reader whose
    stream reports a short read (a file that shrank while it was read) fails instead of giving
    silence.
*/
class ReaderFrameSource : public FrameSource
{
public:
    /** streamFailed, if given, is asked after each read whether the data came in whole. */
    explicit ReaderFrameSource (std::unique_ptr<juce::AudioFormatReader> reader,
                                std::function<bool()> streamFailed = {});

    int read (float* const* channels, int numFrames) override;
    juce::int64 getExpectedFrames() const override { return reader->lengthInSamples; }
    double getSampleRate() const override { return reader->sampleRate; }

private:
    std::unique_ptr<juce::AudioFormatReader> reader;
    std::function<bool()> streamFailed;
    juce::int64 position = 0;
};
