#include "limiter/TruePeakInterpolator.h"

#include "limiter/TruePeakTaps.h"

#include <algorithm>
#include <iterator>
#include <new>

static_assert (static_cast<int> (std::size (truePeakTaps::firstStage)) + 3
               == TruePeakInterpolator::delaySamples);

namespace
{
constexpr size_t kStateSize = static_cast<size_t> (channelPasses::interpolatorStateSize);
} // namespace

TruePeakInterpolator::TruePeakInterpolator (int maxChannelsToUse)
{
    if (maxChannelsToUse < 1 || maxChannelsToUse > largestChannelCount)
        return;
    history.reset (new (std::nothrow) float[static_cast<size_t> (maxChannelsToUse) * kStateSize]());
    if (history)
        maxChannels = maxChannelsToUse;
}

TruePeakInterpolator::~TruePeakInterpolator() = default;

void TruePeakInterpolator::reset() noexcept
{
    if (isAllocated())
        std::fill_n (history.get(), static_cast<size_t> (maxChannels) * kStateSize, 0.0f);
}

void TruePeakInterpolator::process (const float* const* channels,
                                    int numChannels,
                                    int numFrames,
                                    float* peaks,
                                    float skipUpTo,
                                    const channelPasses::Passes& passes) noexcept
{
    numFrames = std::min (numFrames, maxFramesPerCall);
    if (numFrames <= 0 || numChannels <= 0)
        return;
    numChannels = std::min (numChannels, largestChannelCount);
    for (int ch = 0; ch < numChannels; ++ch)
    {
        float* const out = peaks + ch * maxFramesPerCall;
        if (ch < maxChannels)
            passes.interpolate (channels[ch],
                                numFrames,
                                history.get() + static_cast<size_t> (ch) * kStateSize,
                                skipUpTo,
                                out);
        else
            std::fill_n (out, numFrames, 0.0f);
    }
}
