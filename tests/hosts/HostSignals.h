#pragma once

// The test signal the host tests feed every format and the renderer, and the silence a host plays
// before it.

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using Signal = std::vector<std::vector<float>>;

/** Same channels, same lengths, every sample's bits the same (NaNs and signed zeros included). */
inline bool bitIdentical (const Signal& a, const Signal& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t ch = 0; ch < a.size(); ++ch)
        if (a[ch].size() != b[ch].size()
            || std::memcmp (a[ch].data(), b[ch].data(), a[ch].size() * sizeof (float)) != 0)
            return false;
    return true;
}

/** Correlated channels (four unless asked): 100 ms noise bursts peaking near +12 dBFS,
    alternating with passages 20 dB lower, from a fixed seed. In a higher-order signal the last
    channel is the loudest in every other burst, so that only a detector that reads every channel
    keeps its peaks under the ceiling. */
inline Signal makeScene (size_t numFrames, unsigned seed, size_t numChannels = 4)
{
    std::mt19937 random (seed);
    std::normal_distribution<float> noise (0.0f, 1.0f);
    Signal signal (numChannels, std::vector<float> (numFrames));
    for (size_t i = 0; i < numFrames; ++i)
    {
        const float common = noise (random);
        const float level = (i / 4800) % 2 == 0 ? 1.0f : 0.1f;
        for (size_t ch = 0; ch < numChannels; ++ch)
        {
            const float boost =
                ch >= 4 && ch == numChannels - 1 && (i / 9600) % 2 == 0 ? 1.8f : 1.0f;
            signal[ch][i] =
                std::clamp (boost * level * (common + 0.5f * noise (random)), -4.0f, 4.0f);
        }
    }
    return signal;
}

/** Frames of silence a host plays before the scene. `orvalis-render --settled` starts from a
    settled processor: it runs 65536 frames of silence, in which the input-gain glide reaches its
    target and the limiter's settle phase after a look-ahead setting ends, and prepares again. A
    host that plays this much silence first is in the same state when the scene begins, whatever
    the order in which it set the parameters and prepared (an LV2 plug-in, for one, is prepared
    when it is instantiated, before any setting arrives). */
constexpr size_t hostLeadInFrames = 96000;

inline Signal withLeadIn (const Signal& scene)
{
    Signal result (scene.size());
    for (size_t ch = 0; ch < scene.size(); ++ch)
    {
        result[ch].assign (hostLeadInFrames, 0.0f);
        result[ch].insert (result[ch].end(), scene[ch].begin(), scene[ch].end());
    }
    return result;
}

inline Signal withoutLeadIn (const Signal& output)
{
    Signal result (output.size());
    for (size_t ch = 0; ch < output.size(); ++ch)
        result[ch].assign (output[ch].begin() + (long) hostLeadInFrames, output[ch].end());
    return result;
}
