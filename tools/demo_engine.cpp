// Runs the limiter engine on a built-in four-channel test signal and prints what it did.
#include "limiter/LookaheadLimiter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

int main()
{
    constexpr int rate = 48000;
    constexpr int blockSize = 512;
    constexpr int seconds = 4;
    constexpr double twoPi = 6.283185307179586;

    LookaheadLimiter limiter (40.0f, 1.0f);
    limiter.setNumChannels();
    limiter.setLookaheadMs (1.0f);
    limiter.setReleaseMs (20.0f);
    limiter.setCeiling (1.0f);
    limiter.setSampleRate (rate);

    std::array<std::vector<float>, 4> signal;
    for (int ch = 0; ch < 4; ++ch)
    {
        signal[ch].resize (rate * seconds);
        for (size_t i = 0; i < signal[ch].size(); ++i)
        {
            const double t = static_cast<double> (i) / rate;
            const double burst = std::fmod (t, 0.5) < 0.1 ? 3.0 : 0.4; // +9.5 dBFS bursts
            signal[ch][i] = static_cast<float> (burst * std::sin (twoPi * (220.0 * (ch + 1)) * t));
        }
    }

    float inputPeak = 0.0f, outputPeak = 0.0f, maxReductionDb = 0.0f;
    for (auto& channel : signal)
        for (float s : channel)
            inputPeak = std::max (inputPeak, std::abs (s));

    for (int start = 0; start < rate * seconds; start += blockSize)
    {
        float* pointers[4];
        for (int ch = 0; ch < 4; ++ch)
            pointers[ch] = signal[ch].data() + start;
        limiter.process (pointers, std::min (blockSize, rate * seconds - start));
        maxReductionDb = std::max (maxReductionDb, limiter.getGainReductionDb());
    }

    for (auto& channel : signal)
        for (float s : channel)
            outputPeak = std::max (outputPeak, std::abs (s));

    std::printf ("Limited %d s of 4-channel test signal at %d Hz (look-ahead %d samples)\n",
                 seconds,
                 rate,
                 limiter.getLookaheadSamples());
    std::printf ("input peak  %+.2f dBFS\noutput peak %+.2f dBFS\nlargest gain reduction %.2f dB\n",
                 20.0 * std::log10 (inputPeak),
                 20.0 * std::log10 (outputPeak),
                 maxReductionDb);
    return outputPeak <= 1.0f ? 0 : 1;
}
