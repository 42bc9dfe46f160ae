#pragma once

#include "limiter/ChannelPasses.h"

#include <memory>

/**
    The true-peak detector's interpolator: up to 64 channels oversampled eight times, and for
    every input frame the largest magnitude per channel around one sample, the sample itself
    included; it sees the whole band up to the Nyquist frequency as the 32x reference the engine's
    tests measure with does.

    Three stages each double the rate by computing the points half-way between neighbours with a
    symmetric filter (tools/interpolator designs them, limiter/TruePeakTaps.h holds them). The
    first (80 taps) follows the half-way response of that reference (a Kaiser-windowed sinc,
    beta 10, 128 taps) over the whole band: within 0.03 dB of it below 0.93 of the Nyquist
    frequency, and above it, where the reference falls to 0 at the Nyquist frequency as every
    half-way interpolator must, short of it by at most 0.012 of full scale. The second and third
    (8 and 4 taps) pass the whole input band within 0.004 and 0.01 dB. So noise, clipped and
    square waves, fs/2 patterns and tones up to the Nyquist frequency are read as the reference
    reads them; what the 8x grid can miss between its points is at most 1/cos(pi f / 8 fs): 0.17 dB
    at the Nyquist frequency, 0.04 dB at half of it. Each interval between two samples also
    takes the three points orvalis-render's 4x meter computes there (TruePeakTaps' meterQuarter
    and meterHalf), which read some signals (full-band noise, tones around 0.7 of the Nyquist
    frequency) up to 0.12 dB higher than a band-limited reconstruction: so the limited output is
    never above the ceiling by that meter either.

    For the frame pushed as number n, the result is the largest magnitude of each channel over the
    open interval from sample n - delaySamples - 1 to sample n - delaySamples + 1 (the sample
    itself and the seven grid points on either side of it). A call whose frames' peaks cannot
    exceed skipUpTo on a channel (every input magnitude they take, times the largest gain of any
    grid point, TruePeakTaps' largestPointGain, is at most it) interpolates nothing there and gives
    the centre samples' magnitudes. Each channel is computed on its own, several frames at once
    (ChannelPasses), so the cost grows with the channel count and nothing else. Every buffer is
    allocated in the constructor; process() neither allocates nor locks. Input samples must be
    finite; magnitudes below 1e-20 are taken as 0, so that the filters never meet subnormal
    numbers.
*/
class TruePeakInterpolator
{
public:
    static constexpr int maxFramesPerCall = channelPasses::chunkLength;
    static constexpr int delaySamples = 43;
    static constexpr int largestChannelCount = 64;

    /** Allocates for up to maxChannels channels (1 to largestChannelCount; outside that range
        nothing is allocated). */
    explicit TruePeakInterpolator (int maxChannels = 4);
    ~TruePeakInterpolator();

    TruePeakInterpolator (const TruePeakInterpolator&) = delete;
    TruePeakInterpolator& operator= (const TruePeakInterpolator&) = delete;

    /** False when the constructor could not allocate; such an object outputs zeros. */
    bool isAllocated() const noexcept { return history != nullptr; }
    /** The channels allocated. */
    int getMaxChannels() const noexcept { return maxChannels; }

    /** Forgets every sample of every channel: the history becomes silence. */
    void reset() noexcept;

    /** Pushes numFrames frames (at most maxFramesPerCall) of numChannels channels (at most the
        allocated ones), channel ch's samples at channels[ch][0 .. numFrames - 1], and writes the
        peak of channel ch for frame i to peaks[ch * maxFramesPerCall + i]; a channel whose peaks
        cannot exceed skipUpTo gives its centre samples' magnitudes instead (a negative skipUpTo
        interpolates everything). */
    void process (const float* const* channels,
                  int numChannels,
                  int numFrames,
                  float* peaks,
                  float skipUpTo = -1.0f,
                  const channelPasses::Passes& passes = channelPasses::best()) noexcept;

private:
    int maxChannels = 0;
    std::unique_ptr<float[]> history; // channel ch's state at ch * interpolatorStateSize
};
