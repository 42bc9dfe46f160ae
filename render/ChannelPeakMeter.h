#pragma once

#include "render/TruePeakMeter.h"

#include <vector>

/**
    Sample and true peaks of 1 to 64 channels: four-channel TruePeakMeters side by side, the last
    one's spare channels fed silence. Each channel's peaks are its own, so they are the ones a
    four-channel meter gives for the same channel.
*/
class ChannelPeakMeter
{
public:
    ChannelPeakMeter (int numChannels, int maxBlockSize);

    /** Adds numFrames frames (at most maxBlockSize) of the channels. */
    void process (const float* const* channels, int numFrames);
    /** Runs the interpolators out past the last sample. */
    void finish();

    float getSamplePeak (int channel) const;
    float getTruePeak (int channel) const;

private:
    static constexpr int width = TruePeakMeter::numChannels;
    int numChannels;
    std::vector<TruePeakMeter> meters;
    std::vector<float> silence;
};
