#include "tools/render/TruePeakMeter.h"

#include <juce_audio_basics/juce_audio_basics.h>

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

TruePeakMeter::TruePeakMeter (int channels, int maxBlock) :
    numChannels (std::clamp (channels, 1, maxChannels)),
    maxBlockSize (std::max (maxBlock, tapsPerPhase))
{
    allPhases();
    history.assign (static_cast<size_t> (numChannels),
                    std::vector<float> (static_cast<size_t> (historyLength + maxBlockSize), 0.0f));
    interpolated.assign (static_cast<size_t> (maxBlockSize), 0.0f);
}

void TruePeakMeter::process (const float* const* channels, int numFrames)
{
    for (int ch = 0; ch < numChannels; ++ch)
        processChannel (ch, channels[ch], numFrames);
}

void TruePeakMeter::finish()
{
    const std::vector<float> zeros (static_cast<size_t> (tapsPerPhase), 0.0f);
    for (int ch = 0; ch < numChannels; ++ch)
        processChannel (ch, zeros.data(), tapsPerPhase);
}

void TruePeakMeter::processChannel (int channel, const float* samples, int numFrames)
{
    auto& buffer = history[static_cast<size_t> (channel)];
    float* const data = buffer.data();
    std::copy (samples, samples + numFrames, data + historyLength);

    // Output i is centred on data[i + tapsBeforeCentre]; phase 0 is that sample itself.
    auto range = juce::FloatVectorOperations::findMinAndMax (data + tapsBeforeCentre, numFrames);
    float peak = std::max (-range.getStart(), range.getEnd());

    float* const out = interpolated.data();
    for (int p = 1; p < numPhases; ++p)
    {
        const auto& taps = getPhase (p);
        std::fill (out, out + numFrames, 0.0f);
        for (int k = 0; k < tapsPerPhase; ++k)
        {
            const float tap = taps[static_cast<size_t> (k)];
            const float* const in = data + k;
            for (int i = 0; i < numFrames; ++i)
                out[i] += tap * in[i];
        }
        range = juce::FloatVectorOperations::findMinAndMax (out, numFrames);
        peak = std::max (peak, std::max (-range.getStart(), range.getEnd()));
    }

    auto& truePeak = truePeaks[static_cast<size_t> (channel)];
    truePeak = std::max (truePeak, peak);
    std::copy (data + numFrames, data + numFrames + historyLength, data);
}
