#pragma once

#include "render/FrameSource.h"

#include <functional>
#include <memory>

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

    int getNumChannels() const override { return static_cast<int> (reader->numChannels); }
    int read (float* const* channels, int numFrames) override;
    juce::int64 getExpectedFrames() const override { return reader->lengthInSamples; }
    double getSampleRate() const override { return reader->sampleRate; }

private:
    std::unique_ptr<juce::AudioFormatReader> reader;
    std::function<bool()> streamFailed;
    juce::int64 position = 0;
};
