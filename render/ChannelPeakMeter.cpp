#include "render/ChannelPeakMeter.h"

#include <algorithm>
#include <array>

ChannelPeakMeter::ChannelPeakMeter (int channels, int maxBlockSize) :
    numChannels (channels),
    meters (static_cast<size_t> ((channels + width - 1) / width), TruePeakMeter (maxBlockSize)),
    silence (static_cast<size_t> (std::max (maxBlockSize, TruePeakMeter::tapsPerPhase)), 0.0f)
{
}

void ChannelPeakMeter::process (const float* const* channels, int numFrames)
{
    for (size_t m = 0; m < meters.size(); ++m)
    {
        std::array<const float*, width> group {};
        for (int c = 0; c < width; ++c)
        {
            const int ch = static_cast<int> (m) * width + c;
            group[static_cast<size_t> (c)] = ch < numChannels ? channels[ch] : silence.data();
        }
        meters[m].process (group.data(), numFrames);
    }
}

void ChannelPeakMeter::finish()
{
    for (auto& meter : meters)
        meter.finish();
}

float ChannelPeakMeter::getSamplePeak (int channel) const
{
    return meters[static_cast<size_t> (channel / width)].getSamplePeak (channel % width);
}

float ChannelPeakMeter::getTruePeak (int channel) const
{
    return meters[static_cast<size_t> (channel / width)].getTruePeak (channel % width);
}
