#pragma once

#include "render/FrameSource.h"

#include <cstdint>
#include <memory>

/**
    An input opened for a render, read for what it holds rather than what its header claims.

    WAV (RIFF and RF64) and AIFF headers are checked against the file before JUCE's readers see
    them: a data size of 0 or 0xFFFFFFFF (left by a recorder that lost power) or one beyond the
    end of the file means "to the end of the file", and JUCE reads a corrected copy of the header,
    so the frames present come out exactly as with a correct header and no frame is invented. FLAC
    is decoded by libFLAC until the decoder stops, whatever STREAMINFO's total says. Other formats
    JUCE knows are read as JUCE reads them.
*/
struct InputFile
{
    std::unique_ptr<FrameSource> source; // null when the file cannot be read
    juce::String problem;                // why not, for "NAME: problem"

    juce::String formatName; // "WAV", "AIFF", "FLAC" or JUCE's name of the format
    double sampleRate = 0.0;
    int numChannels = 0;
    int bitsPerSample = 0;
    bool floatingPoint = false;
    /** The speakers the file names for its channels (WAVE_FORMAT_EXTENSIBLE's mask, a plain
        stereo WAV's or AIFF's left and right, FLAC's assignments); 0 when it names none. */
    std::uint32_t channelMask = 0;

    /** Frames the file holds, known before reading except for FLAC (-1 there). */
    juce::int64 presentFrames = -1;
    /** The length the header gives, -1 when it gives none (a placeholder of 0 or 0xFFFFFFFF). */
    juce::int64 declaredFrames = -1;
    /** How the header's length was taken when it was not simply right; empty otherwise. */
    juce::String headerNote;

    /** The file has no channels or more than the limiter takes (source is null). */
    bool channelCountRefused = false;

    bool isFlac() const { return formatName == "FLAC"; }

    /** Why a file of numChannels channels cannot be rendered: "has 65 channels; ...". */
    static juce::String channelCountProblem (int numChannels);

    static InputFile open (const juce::File& file);
};
