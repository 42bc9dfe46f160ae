#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

/**
    Audio of 1 to 64 channels read front to back, block by block, until the source ends. The
    length is whatever the source delivers: a file's header may only guess it.
*/
class FrameSource
{
public:
    virtual ~FrameSource() = default;

    /** The channels every frame has. */
    virtual int getNumChannels() const = 0;

    /** Reads up to numFrames frames into the channels; fewer only at the end, -1 on a read error. */
    virtual int read (float* const* channels, int numFrames) = 0;

    /** The frames the source expects to deliver in all (for progress and the plot's scale), 0 if unknown. */
    virtual juce::int64 getExpectedFrames() const = 0;

    virtual double getSampleRate() const = 0;

    /** What went wrong while reading, when the source read on past damage; empty otherwise. */
    virtual juce::String getDamageNote() const { return {}; }
};
