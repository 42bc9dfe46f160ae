#pragma once

#include "render/FrameSource.h"
#include "render/Platform.h"

#include <memory>

#include <vector>

/**
    The frames of a 32-bit float WAV file read straight from the file in large pieces and
    de-interleaved, giving the samples JUCE's reader gives, bit for bit. A read that comes up short
    of the frames the file held when it was opened (it shrank) fails instead of giving silence.
*/
class FloatWavFrameSource : public FrameSource
{
public:
    FloatWavFrameSource (const juce::File& file,
                         juce::int64 dataStart,
                         juce::int64 numFrames,
                         int numChannels,
                         double sampleRate);
    ~FloatWavFrameSource() override;

    bool openedOk() const { return input->isOpen(); }

    int getNumChannels() const override { return channelCount; }
    int read (float* const* channels, int numFrames) override;
    juce::int64 getExpectedFrames() const override { return totalFrames; }
    double getSampleRate() const override { return rate; }

private:
    std::unique_ptr<Platform::ReadOnlyFile> input;
    juce::int64 dataStart, totalFrames, position = 0;
    int channelCount;
    double rate;
    std::vector<float> interleaved;
    juce::int64 bufferStart = 0, bufferFrames = 0; // the frames interleaved holds
};
