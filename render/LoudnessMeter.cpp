#include "render/LoudnessMeter.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace
{
constexpr double pi = 3.141592653589793;
// Loudness of a mean square: -0.691 + 10 log10 (z), BS.1770's offset for the K-weighting's gain.
constexpr double offsetLu = -0.691;
const double absoluteGate = std::pow (10.0, (-70.0 - offsetLu) / 10.0);
// States below this are flushed, so that a long silence never leaves the filters subnormal.
constexpr double negligible = 1.0e-25;

double loudnessOf (double meanSquare)
{
    return offsetLu + 10.0 * std::log10 (meanSquare);
}
} // namespace

LoudnessMeter::LoudnessMeter (double sampleRate, float g, int) : gain (g)
{
    // The K-weighting at any rate, from the analogue prototypes of BS.1770's two stages: a high
    // shelf of about +4 dB above 1.5 kHz (the head) and a second-order high-pass at 38 Hz (RLB).
    {
        const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
        const double k = std::tan (pi * f0 / sampleRate);
        const double vh = std::pow (10.0, gainDb / 20.0), vb = std::pow (vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        shelf = { (vh + vb * k / q + k * k) / a0,
                  2.0 * (k * k - vh) / a0,
                  (vh - vb * k / q + k * k) / a0,
                  2.0 * (k * k - 1.0) / a0,
                  (1.0 - k / q + k * k) / a0 };
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        const double k = std::tan (pi * f0 / sampleRate);
        const double a0 = 1.0 + k / q + k * k;
        highPass = { 1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0 };
    }
    stepFrames = std::max (1, static_cast<int> ((static_cast<long long> (sampleRate) + 5) / 10));
}

void LoudnessMeter::process (const float* samples, int numFrames)
{
    // The gain goes into the shelf's feed-forward taps (the inputs it keeps are unscaled).
    const double g = gain;
    const Biquad s { shelf.b0 * g, shelf.b1 * g, shelf.b2 * g, shelf.a1, shelf.a2 }, h = highPass;
    for (int i = 0; i < numFrames;)
    {
        const int count = std::min (numFrames - i, stepFrames - framesInStep);
        double px1 = x1, px2 = x2, pm1 = m1, pm2 = m2, py1 = y1, py2 = y2, sum = 0.0;
        for (int j = i; j < i + count; ++j)
        {
            const double x = samples[j];
            // The last output's term last: only it waits for the previous sample.
            const double m = ((s.b0 * x + s.b1 * px1 + s.b2 * px2) - s.a2 * pm2) - s.a1 * pm1;
            const double y = ((m - 2.0 * pm1 + pm2) - h.a2 * py2) - h.a1 * py1;
            px2 = px1;
            px1 = x;
            pm2 = pm1;
            pm1 = m;
            py2 = py1;
            py1 = y;
            sum += y * y;
        }
        const auto flushed = [] (double v) { return std::abs (v) < negligible ? 0.0 : v; };
        x1 = flushed (px1);
        x2 = flushed (px2);
        m1 = flushed (pm1);
        m2 = flushed (pm2);
        y1 = flushed (py1);
        y2 = flushed (py2);
        stepSum += sum;
        framesInStep += count;
        i += count;
        if (framesInStep == stepFrames)
            endStep();
    }
}

void LoudnessMeter::endStep()
{
    recentSteps[static_cast<size_t> (stepsDone % stepsPerShortTerm)] = stepSum;
    ++stepsDone;
    stepSum = 0.0;
    framesInStep = 0;

    const auto meanOfLast = [this] (int steps)
    {
        double total = 0.0;
        for (long long k = stepsDone - steps; k < stepsDone; ++k)
            total += recentSteps[static_cast<size_t> (k % stepsPerShortTerm)];
        return total / (static_cast<double> (steps) * stepFrames);
    };
    if (stepsDone >= stepsPerBlock)
    {
        const double block = meanOfLast (stepsPerBlock);
        if (block >= absoluteGate)
            blockEnergies.push_back (block);
    }
    if (stepsDone >= stepsPerShortTerm && (stepsDone - stepsPerShortTerm) % shortTermHop == 0)
        shortTermEnergies.push_back (meanOfLast (stepsPerShortTerm));
}

std::optional<double> LoudnessMeter::getIntegratedLufs() const
{
    if (blockEnergies.empty())
        return std::nullopt;
    const double ungated = std::accumulate (blockEnergies.begin(), blockEnergies.end(), 0.0)
                           / static_cast<double> (blockEnergies.size());
    const double relativeGate = ungated * 0.1; // -10 LU
    double total = 0.0;
    size_t count = 0;
    for (double e : blockEnergies)
        if (e >= relativeGate)
        {
            total += e;
            ++count;
        }
    if (count == 0 || ! (total > 0.0))
        return std::nullopt;
    return loudnessOf (total / static_cast<double> (count));
}

double LoudnessMeter::getRangeLu() const
{
    std::vector<double> loud;
    for (double e : shortTermEnergies)
        if (e >= absoluteGate)
            loud.push_back (e);
    if (loud.empty())
        return 0.0;
    const double relativeGate = std::accumulate (loud.begin(), loud.end(), 0.0)
                                / static_cast<double> (loud.size()) * 0.01; // -20 LU
    loud.erase (
        std::remove_if (loud.begin(), loud.end(), [=] (double e) { return e < relativeGate; }),
        loud.end());
    if (loud.empty())
        return 0.0;
    std::sort (loud.begin(), loud.end());
    const auto at = [&loud] (double share)
    { return loud[static_cast<size_t> (static_cast<double> (loud.size() - 1) * share + 0.5)]; };
    return 10.0 * std::log10 (at (0.95) / at (0.10));
}
