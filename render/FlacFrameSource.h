#pragma once

#include "render/FrameSource.h"

#include <memory>
#include <vector>

/**
    A FLAC file decoded front to back by libFLAC until the decoder stops. STREAMINFO's total is
    only a guess here: a damaged file whose total is too large ends where its frames end, and one
    whose total is too small is read to its last frame. Damaged frames come out as libFLAC gives
    them (silence of the frame's length) and are counted. Samples are converted exactly as JUCE's
    FLAC reader converts them, so a sound file gives the same floats either way.
*/
class FlacFrameSource : public FrameSource
{
public:
    ~FlacFrameSource() override;

    /** Opens the file and reads its metadata; null with the reason when it is no FLAC stream. */
    static std::unique_ptr<FlacFrameSource> open (const juce::File& file, juce::String& problem);

    int getNumChannels() const override { return streamChannels; }
    int read (float* const* channels, int numFrames) override;
    juce::int64 getExpectedFrames() const override { return declaredFrames; }
    double getSampleRate() const override { return sampleRate; }
    juce::String getDamageNote() const override;

    int getBitsPerSample() const { return bitsPerSample; }
    /** STREAMINFO's total, 0 when it gives none. */
    juce::int64 getDeclaredFrames() const { return declaredFrames; }

    struct Callbacks;

private:
    FlacFrameSource();
    bool decodeMore();

    void* decoder = nullptr; // FLAC__StreamDecoder
    double sampleRate = 0.0;
    int streamChannels = 0;
    int bitsPerSample = 0;
    juce::int64 declaredFrames = 0;
    bool gotStreamInfo = false;
    bool ended = false;
    bool failed = false;
    int damagedFrames = 0;
    int wrongChannelFrames = 0;
    juce::String stopReason;

    // The decoded frame not yet handed out, channel by channel.
    std::vector<std::vector<float>> pending;
    int pendingStart = 0, pendingCount = 0;
};
