#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/**
    The built-in demo scene, read like a file: a first-order ambisonic recording (ambiX: ACN channel
    order W, Y, Z, X with SN3D normalisation) of four percussive sources circling the listener at
    different speeds and heights, 48 kHz, with peaks well above 0 dBFS.

    Every sample is a pure function of its position, so the scene is the same on every run and for
    any way of reading it in pieces.
*/
class DemoSceneReader : public juce::AudioFormatReader
{
public:
    static constexpr double sceneSampleRate = 48000.0;
    static constexpr double defaultSeconds = 8.0;

    explicit DemoSceneReader (double seconds = defaultSeconds);

    bool readSamples (int* const* destChannels,
                      int numDestChannels,
                      int startOffsetInDestBuffer,
                      juce::int64 startSampleInFile,
                      int numSamples) override;

    /** The scene's four channels at one sample position. */
    static void renderFrame (juce::int64 position, float* frame);
};
