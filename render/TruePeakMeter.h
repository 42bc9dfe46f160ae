#pragma once

#include <array>
#include <cstddef>
#include <vector>

/**
    Measures the sample peak and the true peak of four channels by 4x oversampling, block by
    block.

    The interpolator follows the structure of ITU-R BS.1770-4 Annex 2: 48 taps in four phases of
    twelve. Its coefficients are a Kaiser-windowed sinc (beta 4) designed here, each phase
    normalised to unity gain at DC, so phase 0 reproduces the samples exactly and the true peak is
    never below the sample peak. The response is within 0.1 dB of flat up to three quarters of the
    Nyquist frequency. Results do not depend on how the signal is split into blocks.
*/
class TruePeakMeter
{
public:
    static constexpr int numPhases = 4;
    static constexpr int tapsPerPhase = 12;
    static constexpr int numChannels = 4;

    /** Prepares for blocks of up to maxBlockSize frames. */
    explicit TruePeakMeter (int maxBlockSize);

    /** Adds numFrames frames (at most maxBlockSize) of the four channels. */
    void process (const float* const* channels, int numFrames);
    /** Runs the interpolator out past the last sample, so the peaks after it count too. */
    void finish();

    /** The largest absolute sample so far (complete after finish()), linear. */
    float getSamplePeak (int channel) const
    {
        return samplePeaks[static_cast<std::size_t> (channel)];
    }
    /** The largest absolute value of the oversampled signal so far, linear. */
    float getTruePeak (int channel) const { return truePeaks[static_cast<std::size_t> (channel)]; }

    /** One phase's twelve taps; tap k weighs the sample k - 5 frames from the current one. */
    static const std::array<float, tapsPerPhase>& getPhase (int phase);

private:
    void run (int numFrames);

    int maxBlockSize;
    // Frames interleaved four channels wide: the last tapsPerPhase - 1 frames, then the block.
    std::vector<float> history;
    std::array<float, numChannels> samplePeaks {}, truePeaks {};
};
