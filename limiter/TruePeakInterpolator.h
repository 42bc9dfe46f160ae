#pragma once

#include <memory>

/**
    The true-peak detector's interpolator: the four channels of a first-order ambisonic signal
    oversampled eight times, and for every input frame the largest magnitude per channel around
    one sample, the sample itself included.

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
    itself and the seven grid points on either side of it). Every buffer is allocated in the
    constructor; process() neither allocates nor locks. Input samples must be finite; magnitudes
    below 1e-20 are taken as 0, so that the filters never meet subnormal numbers.
*/
class TruePeakInterpolator
{
public:
    static constexpr int numChannels = 4;
    static constexpr int maxFramesPerCall = 64;
    static constexpr int delaySamples = 20;

    TruePeakInterpolator();
    ~TruePeakInterpolator();

    TruePeakInterpolator (const TruePeakInterpolator&) = delete;
    TruePeakInterpolator& operator= (const TruePeakInterpolator&) = delete;

    /** False when the constructor could not allocate; such an object outputs zeros. */
    bool isAllocated() const noexcept { return inputs != nullptr; }

    /** Forgets every sample: the history becomes silence. */
    void reset() noexcept;

    /** Pushes numFrames frames (at most maxFramesPerCall), the four channels of frame i at
        frames[4 * i + ch], and writes each one's four channel peaks to peaks[4 * i + ch]. */
    void process (const float* frames, int numFrames, float* peaks) noexcept;

private:
    // Interleaved frames, four floats each: the last inputHistory inputs, then the current call's;
    // the 2x stream (its last secondHistory entries, then two per frame); the 4x stream (the last
    // thirdHistory entries, then four per frame).
    static constexpr int inputHistory = 35;
    static constexpr int secondHistory = 5;
    static constexpr int thirdHistory = 3;
    std::unique_ptr<float[]> inputs, doubled, quadrupled;
    // Peaks carried from one frame to the next (see run).
    float previousInterval[numChannels] {}, previousPart[numChannels] {};
};
