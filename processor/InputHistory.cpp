#include "processor/InputHistory.h"

#include <algorithm>

InputHistory::InputHistory() : ring (new float[static_cast<size_t> (numChannels * capacity)]())
{
}

void InputHistory::clear() noexcept
{
    std::fill_n (ring.get(), numChannels * capacity, 0.0f);
    writePos = 0;
}

void InputHistory::record (const float* const* channels, int numSamples, int delaySamples) noexcept
{
    if (numSamples <= 0)
        return;

    const int kept = std::min (numSamples, std::clamp (delaySamples, 0, capacity));
    const int first = numSamples - kept;
    for (int ch = 0; ch < numChannels; ++ch)
    {
        float* const line = ring.get() + ch * capacity;
        const float* const source = channels[ch];
        for (int i = first; i < numSamples; ++i)
            line[(writePos + i) & mask] = source[i];
    }
    writePos = (writePos + (numSamples & mask)) & mask;
}

void InputHistory::delay (const float* const* in,
                          float* const* out,
                          int numSamples,
                          int delaySamples) noexcept
{
    if (numSamples <= 0)
        return;

    const int d = std::clamp (delaySamples, 0, capacity - 1);
    for (int ch = 0; ch < numChannels; ++ch)
    {
        float* const line = ring.get() + ch * capacity;
        const float* const source = in[ch];
        float* const destination = out[ch];
        int pos = writePos;
        for (int i = 0; i < numSamples; ++i)
        {
            // Written before it is read, so a delay of 0 gives the input back.
            line[pos] = source[i];
            destination[i] = line[(pos - d) & mask];
            pos = (pos + 1) & mask;
        }
    }
    writePos = (writePos + (numSamples & mask)) & mask;
}
