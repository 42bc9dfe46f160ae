#pragma once

#include <ebur128.h>

#include <optional>
#include <vector>

/**
    Integrated loudness (ITU-R BS.1770) and loudness range (EBU Tech 3342) of a multichannel
    programme, by libebur128 in its exact mode, each channel weighted as its speaker's position
    asks (libebur128's channel types; 0, unused, leaves a channel out).
*/
class ChannelLoudness
{
public:
    ChannelLoudness (double sampleRate, const std::vector<int>& channelTypes);
    ~ChannelLoudness();

    ChannelLoudness (const ChannelLoudness&) = delete;
    ChannelLoudness& operator= (const ChannelLoudness&) = delete;

    /** Adds numFrames frames of the channels. */
    void process (const float* const* channels, int numFrames);

    /** Integrated loudness in LUFS; none when everything was below the absolute gate. */
    std::optional<double> getIntegratedLufs() const;
    /** Loudness range in LU (0 without enough loud short-term windows). */
    double getRangeLu() const;

private:
    ebur128_state* state = nullptr;
    size_t numChannels;
    std::vector<float> interleaved;
};
