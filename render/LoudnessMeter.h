#pragma once

#include <array>
#include <optional>
#include <vector>

/**
    Integrated loudness (ITU-R BS.1770-4) and loudness range (EBU Tech 3342) of one channel,
    measured as a mono programme (weight 1) after a fixed gain: the report measures the
    omnidirectional channel W, and FuMa's W is 3 dB below ambiX's.

    The K-weighting runs in double precision; the 400 ms gating blocks (every 100 ms) and the 3 s
    short-term windows (every second) are kept as their mean squares, a few bytes per second of
    audio, so the result is exact rather than read from a histogram.
*/
class LoudnessMeter
{
public:
    /** maxBlockSize is accepted for the interface's sake: any block length works. */
    LoudnessMeter (double sampleRate, float gain, int maxBlockSize = 0);

    /** Adds numFrames samples. */
    void process (const float* samples, int numFrames);

    /** Integrated loudness in LUFS; none when everything was below the absolute gate. */
    std::optional<double> getIntegratedLufs() const;
    /** Loudness range in LU (0 without enough loud short-term windows). */
    double getRangeLu() const;

private:
    struct Biquad
    {
        double b0, b1, b2, a1, a2;
    };

    void endStep();

    double gain;
    Biquad shelf {}, highPass {};
    // Direct form I: the last two inputs, shelf outputs and high-pass outputs.
    double x1 = 0.0, x2 = 0.0, m1 = 0.0, m2 = 0.0, y1 = 0.0, y2 = 0.0;

    int stepFrames = 1; // 100 ms
    int framesInStep = 0;
    double stepSum = 0.0; // sum of squares of the weighted signal in the current step
    static constexpr int stepsPerBlock = 4, stepsPerShortTerm = 30, shortTermHop = 10;
    std::array<double, stepsPerShortTerm> recentSteps {};
    long long stepsDone = 0;

    std::vector<double> blockEnergies;     // mean squares of gating blocks above -70 LUFS
    std::vector<double> shortTermEnergies; // mean squares of every 3 s window
};
