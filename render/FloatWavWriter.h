#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdint>
#include <vector>

/**
    A 32-bit float WAV writer whose file is byte for byte what JUCE's WAV writer makes of the same
    frames with a discrete channel layout, or the speakers of a channel mask, and no metadata
    (RIFF, or RF64 beyond 4 GiB of audio),
    without JUCE's per-sample conversion and second copy: frames are interleaved straight into a
    large buffer that goes to the stream in one write.
*/
class FloatWavWriter : public juce::AudioFormatWriter
{
public:
    /** Takes ownership of the stream, as JUCE's writers do. */
    FloatWavWriter (juce::OutputStream* stream,
                    double sampleRate,
                    int numChannels,
                    std::uint32_t channelMask = 0);
    ~FloatWavWriter() override;

    /** data holds float samples (this writer uses floating-point data). */
    bool write (const int** data, int numSamples) override;

private:
    bool flushBuffer();
    void writeHeader();

    std::vector<float> buffer; // interleaved
    size_t bufferedFrames = 0, bufferFrames = 0;
    juce::uint64 bytesWritten = 0;
    bool writeFailed = false;
    std::uint32_t channelMask;
};
