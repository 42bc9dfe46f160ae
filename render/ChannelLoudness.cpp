#include "render/ChannelLoudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>

namespace
{
constexpr int framesPerPiece = 4096;
}

ChannelLoudness::ChannelLoudness (double sampleRate, const std::vector<int>& channelTypes) :
    numChannels (channelTypes.size()),
    interleaved (numChannels * framesPerPiece)
{
    state = ebur128_init (static_cast<unsigned> (numChannels),
                          static_cast<unsigned long> (std::lround (sampleRate)),
                          EBUR128_MODE_I | EBUR128_MODE_LRA);
    if (state != nullptr)
        for (size_t ch = 0; ch < numChannels; ++ch)
            ebur128_set_channel (state, static_cast<unsigned> (ch), channelTypes[ch]);
}

ChannelLoudness::~ChannelLoudness()
{
    if (state != nullptr)
        ebur128_destroy (&state);
}

void ChannelLoudness::process (const float* const* channels, int numFrames)
{
    if (state == nullptr)
        return;
    for (int first = 0; first < numFrames; first += framesPerPiece)
    {
        const int count = std::min (framesPerPiece, numFrames - first);
        for (size_t ch = 0; ch < numChannels; ++ch)
        {
            const float* in = channels[ch] + first;
            float* out = interleaved.data() + ch;
            for (int i = 0; i < count; ++i, out += numChannels)
                *out = in[i];
        }
        ebur128_add_frames_float (state, interleaved.data(), static_cast<size_t> (count));
    }
}

std::optional<double> ChannelLoudness::getIntegratedLufs() const
{
    double lufs = 0.0;
    if (state == nullptr || ebur128_loudness_global (state, &lufs) != EBUR128_SUCCESS
        || ! std::isfinite (lufs))
        return std::nullopt;
    return lufs;
}

double ChannelLoudness::getRangeLu() const
{
    double range = 0.0;
    if (state == nullptr || ebur128_loudness_range (state, &range) != EBUR128_SUCCESS
        || ! std::isfinite (range))
        return 0.0;
    return range;
}
