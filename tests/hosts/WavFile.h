#pragma once

// Just enough WAV for the host tests: 32-bit float files in and out, so that hosts and the
// command-line renderer can be compared sample for sample.

#include <string>
#include <vector>

struct FloatWav
{
    int sampleRate = 0;
    std::vector<std::vector<float>> channels;
};

/** Writes the channels (all of one length) as a WAVE_FORMAT_EXTENSIBLE 32-bit float file. */
bool writeFloatWav (const std::string& path,
                    const std::vector<std::vector<float>>& channels,
                    int sampleRate);

/** Reads a 32-bit float WAV file (plain or extensible); returns no channels on any other file. */
FloatWav readFloatWav (const std::string& path);
