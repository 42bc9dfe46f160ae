#pragma once

#include <memory>
#include <optional>
#include <vector>

/**
    Integrated loudness and loudness range (ITU-R BS.1770-4, EBU R128) of one channel, through
    libebur128 in its histogram mode, so memory does not grow with the length of the input. The
    channel is measured as a mono programme (weight 1), after a fixed gain: the report measures
    the omnidirectional channel W, and FuMa's W is 3 dB below ambiX's.
*/
class LoudnessMeter
{
public:
    LoudnessMeter (double sampleRate, float gain, int maxBlockSize);
    ~LoudnessMeter();

    LoudnessMeter (const LoudnessMeter&) = delete;
    LoudnessMeter& operator= (const LoudnessMeter&) = delete;

    /** Adds numFrames samples (at most maxBlockSize). */
    void process (const float* samples, int numFrames);

    /** Integrated loudness in LUFS; none when everything was below the absolute gate. */
    std::optional<double> getIntegratedLufs() const;
    /** Loudness range in LU. */
    double getRangeLu() const;

private:
    struct State;
    std::unique_ptr<State> state;
    float gain;
    std::vector<float> scaled;
};
