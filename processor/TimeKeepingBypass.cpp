#include "processor/TimeKeepingBypass.h"

#include <cmath>

TimeKeepingBypass::TimeKeepingBypass (int maxBlockSamples, int maxChannels) :
    history (std::clamp (maxChannels, 1, maxScratchChannels)),
    numChannels (history.getNumChannels()), // all allocated for, until the line below
    scratch (new float[static_cast<size_t> (numChannels * maxBlockSamples)]()),
    scratchStride (maxBlockSamples)
{
    setNumChannels (std::min (4, numChannels));
}

void TimeKeepingBypass::setNumChannels (int channels) noexcept
{
    history.setNumChannels (channels);
    numChannels = history.getNumChannels();
}

void TimeKeepingBypass::prepare (int sampleRate) noexcept
{
    fadeSamples =
        std::max (1, static_cast<int> (static_cast<float> (sampleRate) * fadeMs / 1000.0f));
    stateKnown = false;
    resumeHoldSamples = 0;
    limiterMissedAudio = false;
}

void TimeKeepingBypass::beginProcessedBlock (double limiterDelay) noexcept
{
    if (! stateKnown)
    {
        stateKnown = true;
        fadePos = 0;
    }
    else if (limiterMissedAudio)
    {
        // Coming out of bypass: the limiter resumes where it stopped, but its delay line holds
        // audio from before the bypass for as long as its delay.
        resumeHoldSamples = static_cast<int> (std::ceil (limiterDelay));
        limiterMissedAudio = false;
    }
}

void TimeKeepingBypass::beginBypassedBlock() noexcept
{
    if (! stateKnown)
    {
        stateKnown = true;
        fadePos = fadeSamples;
    }
    resumeHoldSamples = 0;
}

float TimeKeepingBypass::crossfade (float limited,
                                    float bypassedInput,
                                    float bypassedShare) noexcept
{
    const float input = std::isfinite (bypassedInput) ? bypassedInput : 0.0f;
    return bypassedShare * input + (1.0f - bypassedShare) * limited;
}

void TimeKeepingBypass::scratchChannels (float** channels) noexcept
{
    for (int ch = 0; ch < numChannels; ++ch)
        channels[ch] = scratch.get() + ch * scratchStride;
}
