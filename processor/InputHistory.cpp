#include "processor/InputHistory.h"

#include <algorithm>

InputHistory::InputHistory (int maxChannelsToKeep) :
    maxChannels (std::max (1, maxChannelsToKeep)),
    numChannels (maxChannels),
    ring (new float[static_cast<size_t> (maxChannels * capacity)]())
{
}

void InputHistory::clear() noexcept
{
    std::fill_n (ring.get(), numChannels * capacity, 0.0f);
    writePos = 0;
}

void InputHistory::setNumChannels (int channels) noexcept
{
    numChannels = std::clamp (channels, 1, maxChannels);
    clear();
}

void InputHistory::record (const float* const* channels, int numSamples, int delaySamples) noexcept
{
    if (numSamples <= 0)
        return;

    const int kept = std::min (numSamples, std::clamp (delaySamples, 0, capacity));
    const int first = numSamples - kept;
    const int pos = (writePos + (first & mask)) & mask;
    for (int ch = 0; ch < numChannels; ++ch)
        copyIntoRing (ring.get() + ch * capacity, pos, channels[ch] + first, kept);
    writePos = (writePos + (numSamples & mask)) & mask;
}

void InputHistory::delay (const float* const* in,
                          float* const* out,
                          int numSamples,
                          int delaySamples) noexcept
{
    const int d = std::clamp (delaySamples, 0, capacity - 1);
    // Each stretch is stored before its delayed copy is read, so a delay of 0 gives the input back
    // and the output may be the input; a stretch is short enough not to overwrite what it reads.
    const int stretch = capacity - d;
    for (int done = 0; done < numSamples;)
    {
        const int k = std::min (numSamples - done, stretch);
        const int readPos = (writePos - d) & mask;
        for (int ch = 0; ch < numChannels; ++ch)
        {
            float* const line = ring.get() + ch * capacity;
            copyIntoRing (line, writePos, in[ch] + done, k);
            copyOutOfRing (line, readPos, out[ch] + done, k);
        }
        writePos = (writePos + k) & mask;
        done += k;
    }
}

void InputHistory::copyIntoRing (float* line, int pos, const float* source, int count) noexcept
{
    const int first = std::min (count, capacity - pos);
    std::copy (source, source + first, line + pos);
    std::copy (source + first, source + count, line);
}

void InputHistory::copyOutOfRing (const float* line,
                                  int pos,
                                  float* destination,
                                  int count) noexcept
{
    const int first = std::min (count, capacity - pos);
    std::copy (line + pos, line + pos + first, destination);
    std::copy (line, line + (count - first), destination + first);
}
