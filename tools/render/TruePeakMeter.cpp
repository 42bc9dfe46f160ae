#include "tools/render/TruePeakMeter.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr int historyLength = TruePeakMeter::tapsPerPhase - 1;
constexpr int tapsBeforeCentre = 5;
constexpr double kaiserBeta = 4.0;
constexpr double windowHalfWidth = 6.0;

double besselI0 (double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k)
    {
        const double ratio = x / (2.0 * k);
        term *= ratio * ratio;
        sum += term;
    }
    return sum;
}

using Phases = std::array<std::array<float, TruePeakMeter::tapsPerPhase>, TruePeakMeter::numPhases>;

Phases designPhases()
{
    constexpr double pi = 3.141592653589793;
    Phases phases {};
    for (int p = 0; p < TruePeakMeter::numPhases; ++p)
    {
        std::array<double, TruePeakMeter::tapsPerPhase> taps {};
        double sum = 0.0;
        for (int k = 0; k < TruePeakMeter::tapsPerPhase; ++k)
        {
            const double distance = (k - tapsBeforeCentre) - p / double (TruePeakMeter::numPhases);
            // Exact zeros at whole-sample distances keep phase 0 an exact copy of the input.
            const double sinc = distance == 0.0 ? 1.0
                                : p == 0        ? 0.0
                                                : std::sin (pi * distance) / (pi * distance);
            const double r = distance / windowHalfWidth;
            const double window = besselI0 (kaiserBeta * std::sqrt (std::max (0.0, 1.0 - r * r)))
                                  / besselI0 (kaiserBeta);
            taps[static_cast<size_t> (k)] = sinc * window;
            sum += sinc * window;
        }
        for (int k = 0; k < TruePeakMeter::tapsPerPhase; ++k)
            phases[static_cast<size_t> (p)][static_cast<size_t> (k)] =
                static_cast<float> (taps[static_cast<size_t> (k)] / sum);
    }
    return phases;
}

const Phases& allPhases()
{
    static const Phases phases = designPhases();
    return phases;
}
} // namespace

const std::array<float, TruePeakMeter::tapsPerPhase>& TruePeakMeter::getPhase (int phase)
{
    return allPhases()[static_cast<size_t> (phase)];
}

TruePeakMeter::TruePeakMeter (int maxBlock) : maxBlockSize (std::max (maxBlock, tapsPerPhase))
{
    allPhases();
    history.assign (static_cast<size_t> ((historyLength + maxBlockSize) * numChannels), 0.0f);
    interpolated.assign (static_cast<size_t> (maxBlockSize * numChannels), 0.0f);
}

void TruePeakMeter::process (const float* const* channels, int numFrames)
{
    float* const block = history.data() + historyLength * numChannels;
    for (int ch = 0; ch < numChannels; ++ch)
        for (int i = 0; i < numFrames; ++i)
            block[i * numChannels + ch] = channels[ch][i];
    run (numFrames);
}

void TruePeakMeter::finish()
{
    std::fill (history.begin() + historyLength * numChannels, history.end(), 0.0f);
    run (tapsPerPhase);
}

namespace
{
// The interleaved frames form one flat array in which a channel's next sample is four
// places on, so interpolating every channel at once is a single strided convolution.
void interpolate (const float* __restrict in,
                  float* __restrict out,
                  const std::array<float, TruePeakMeter::tapsPerPhase>& taps,
                  int numValues)
{
    for (int j = 0; j < numValues; ++j)
    {
        float y = 0.0f;
        for (int k = 0; k < TruePeakMeter::tapsPerPhase; ++k)
            y += taps[static_cast<size_t> (k)] * in[j + k * TruePeakMeter::numChannels];
        out[j] = y;
    }
}

void raisePeaks (const float* __restrict values, std::array<float, 4>& peaks, int numValues)
{
    float lanes[4] = { peaks[0], peaks[1], peaks[2], peaks[3] };
    for (int j = 0; j < numValues; j += 4)
        for (int lane = 0; lane < 4; ++lane)
        {
            const float a = std::abs (values[j + lane]);
            lanes[lane] = lanes[lane] > a ? lanes[lane] : a;
        }
    for (size_t lane = 0; lane < 4; ++lane)
        peaks[lane] = lanes[lane];
}
} // namespace

void TruePeakMeter::run (int numFrames)
{
    float* const data = history.data();
    float* const out = interpolated.data();
    const int numValues = numFrames * numChannels;

    // Output frame i is centred on frame i + tapsBeforeCentre of the buffer; phase 0 is that frame.
    raisePeaks (data + tapsBeforeCentre * numChannels, samplePeaks, numValues);
    for (int p = 1; p < numPhases; ++p)
    {
        interpolate (data, out, getPhase (p), numValues);
        raisePeaks (out, truePeaks, numValues);
    }
    for (size_t c = 0; c < truePeaks.size(); ++c)
        truePeaks[c] = std::max (truePeaks[c], samplePeaks[c]);

    std::copy (data + numValues, data + numValues + historyLength * numChannels, data);
}
