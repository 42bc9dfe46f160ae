#pragma once

#include <memory>

/**
    The true-peak detector's interpolator: up to 64 channels oversampled eight times, and for
    every input frame the largest magnitude per channel around one sample, the sample itself
    included.

    Three stages each double the rate by computing the points half-way between neighbours with a
    symmetric minimax filter (tools/interpolator designs them): the first, sharp one (36 taps)
    passes 0.907 of the Nyquist frequency, which is 20 kHz at 44.1 kHz; the second and third (6
    and 4 taps) need only pass what the first let through. Over that passband each stage's
    half-way points are within 0.0168, 0.0145 and 0.0068 dB of the band-limited signal; above it
    the first stage falls off (to -0.4 dB at 0.92, -1.9 dB at 0.95 of the Nyquist frequency), so
    content there is under-read. The peak of a tone between two points of the 8x grid is at most
    1/cos(pi f / 8 fs) higher than the larger of them: 0.14 dB at 0.907 of the Nyquist frequency,
    0.03 dB at 0.45.

    For the frame pushed as number n, the result is the largest magnitude of each channel over the
    open interval from sample n - delaySamples - 1 to sample n - delaySamples + 1 (the sample
    itself and the seven grid points on either side of it). Each channel is computed on its own,
    several frames at once, so the cost grows with the channel count and nothing else. Every
    buffer is allocated in the constructor; process() neither allocates nor locks. Input samples
    must be finite; magnitudes below 1e-20 are taken as 0, so that the filters never meet
    subnormal numbers.
*/
class TruePeakInterpolator
{
public:
    static constexpr int maxFramesPerCall = 64;
    static constexpr int delaySamples = 20;
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
        peak of channel ch for frame i to peaks[ch * maxFramesPerCall + i]. */
    void
    process (const float* const* channels, int numChannels, int numFrames, float* peaks) noexcept;

private:
    void
    processChannel (const float* samples, int numFrames, float* history, float* peaks) noexcept;

    // Per channel, channelStride floats: the last inputHistory inputs and room for a call's
    // frames (rounded up to whole vectors), then the carried values of the later stages (see
    // processChannel).
    static constexpr int inputHistory = 35;
    static constexpr int carried = 5;
    static constexpr int channelStride = inputHistory + maxFramesPerCall + 8 + carried + 4;
    int maxChannels = 0;
    std::unique_ptr<float[]> history;
};
