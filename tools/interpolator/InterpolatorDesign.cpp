// orvalis-interpolator-design: designs the half-sample interpolators of the limiter's true-peak
// detector and prints them as the C++ tables of limiter/TruePeakTaps.h.
//
// Each stage doubles the rate by computing the sample half-way between every two samples with a
// symmetric filter of an even number of taps (the samples themselves pass unchanged). For a
// sinusoid of frequency w (radians per input sample) the half-way sample comes out scaled by
// H(w) = 2 * sum_j c_j cos (w (j + 1/2)); the doubled signal then holds the sinusoid with
// amplitude (1 + H) / 2 and its image with (1 - H) / 2. Each filter is the weighted minimax
// solution (Lawson's iteratively reweighted least squares on a dense grid, in double precision) of
// a target response: for the second and third stages H = 1 up to the input's Nyquist frequency;
// for the first, which alone sees the whole band, the half-way response of the 32x reference the
// engine's tests measure with (tests/common/ReferenceTruePeak: a Kaiser-windowed sinc, beta 10,
// 128 taps per phase), over the whole band up to the Nyquist frequency, weighted 1 below 0.93 of
// it and 0.3 above. That reference is flat to 0.95 of the Nyquist frequency and falls to 0 at it,
// as every half-way interpolator must; following it there is what lets the detector see what the
// reference sees of noise, clipped and square waves and fs/2 patterns, whose inter-sample peaks
// come from that band.
//
//   orvalis-interpolator-design           the tables
//   orvalis-interpolator-design --report  each stage's largest error against its target
#include "render/BesselI0.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace
{
using Vector = std::vector<double>;
constexpr double pi = 3.14159265358979323846;

Vector solve (std::vector<Vector> a, Vector b)
{
    const size_t n = b.size();
    for (size_t i = 0; i < n; ++i)
    {
        size_t pivot = i;
        for (size_t r = i + 1; r < n; ++r)
            if (std::abs (a[r][i]) > std::abs (a[pivot][i]))
                pivot = r;
        std::swap (a[i], a[pivot]);
        std::swap (b[i], b[pivot]);
        for (size_t r = i + 1; r < n; ++r)
        {
            const double f = a[r][i] / a[i][i];
            for (size_t c = i; c < n; ++c)
                a[r][c] -= f * a[i][c];
            b[r] -= f * b[i];
        }
    }
    Vector x (n);
    for (size_t i = n; i-- > 0;)
    {
        double s = b[i];
        for (size_t c = i + 1; c < n; ++c)
            s -= a[i][c] * x[c];
        x[i] = s / a[i][i];
    }
    return x;
}

double response (const Vector& halfTaps, double w)
{
    double h = 0.0;
    for (size_t j = 0; j < halfTaps.size(); ++j)
        h += 2.0 * halfTaps[j] * std::cos (w * (static_cast<double> (j) + 0.5));
    return h;
}

// The reference's half-way response: its phase 16 of 32, sinc (d) times a Kaiser window (beta 10)
// over 128 taps, d the distance from the half-way point.
double referenceHalfWay (double w)
{
    double h = 0.0;
    for (int j = 0; j < 64; ++j)
    {
        const double d = j + 0.5, r = d / 64.5;
        const double window = besselI0 (10.0 * std::sqrt (1.0 - r * r)) / besselI0 (10.0);
        h += 2.0 * std::sin (pi * d) / (pi * d) * window * std::cos (w * d);
    }
    return h;
}

struct Stage
{
    const char* name;
    int numTaps;
    double bandEdge;     // radians per sample at the stage's input rate: the target's extent
    double weightedEdge; // the target's weight is 1 below this, topWeight above
    double topWeight;
    std::function<double (double)> target;
};

/** The taps c_0 (nearest the half-way point) .. c_{M-1} of a 2M-tap interpolator. */
Vector design (const Stage& stage)
{
    constexpr int gridSize = 2500;
    const auto m = static_cast<size_t> (stage.numTaps / 2);
    Vector w (gridSize), target (gridSize), base (gridSize), weight (gridSize), taps;
    for (size_t g = 0; g < gridSize; ++g)
    {
        w[g] = stage.bandEdge * static_cast<double> (g) / (gridSize - 1);
        target[g] = stage.target (w[g]);
        base[g] = weight[g] = w[g] < stage.weightedEdge ? 1.0 : stage.topWeight;
    }

    for (int iteration = 0; iteration < 300; ++iteration)
    {
        std::vector<Vector> a (m, Vector (m, 0.0));
        Vector b (m, 0.0);
        for (size_t g = 0; g < gridSize; ++g)
            for (size_t i = 0; i < m; ++i)
            {
                const double ai = 2.0 * std::cos (w[g] * (static_cast<double> (i) + 0.5));
                b[i] += weight[g] * ai * target[g];
                for (size_t j = 0; j < m; ++j)
                    a[i][j] +=
                        weight[g] * ai * 2.0 * std::cos (w[g] * (static_cast<double> (j) + 0.5));
            }
        taps = solve (a, b);

        double sum = 0.0;
        for (size_t g = 0; g < gridSize; ++g)
        {
            weight[g] *= base[g] * std::abs (target[g] - response (taps, w[g])) + 1e-300;
            sum += weight[g];
        }
        for (auto& x : weight)
            x /= sum;
    }
    return taps;
}

// The largest error against the target below the weighted edge, and the largest shortfall
// (target above the response) above it.
void errors (const Stage& stage, const Vector& taps, double& passband, double& shortfall)
{
    passband = shortfall = 0.0;
    for (int g = 0; g <= 20000; ++g)
    {
        const double w = stage.bandEdge * g / 20000.0;
        const double e = stage.target (w) - response (taps, w);
        if (w < stage.weightedEdge)
            passband = std::max (passband, std::abs (e));
        else
            shortfall = std::max (shortfall, e);
    }
}

const auto flat = [] (double) { return 1.0; };
const Stage stages[] = {
    { "firstStage", 80, pi, 0.93 * pi, 0.3, referenceHalfWay },
    { "secondStage", 8, pi / 2.0, pi / 2.0, 1.0, flat },
    { "thirdStage", 4, pi / 4.0, pi / 4.0, 1.0, flat },
};
} // namespace

// The largest sum of the absolute weights with which the cascade's points (the 8x grid between two
// samples) take the input samples, found by running the cascade, with the taps as the engine
// stores them, on a unit impulse: no point exceeds it times the largest input magnitude nearby.
double largestPointGain (const std::vector<Vector>& allTaps)
{
    constexpr int length = 512, at = 256;
    Vector stream (length, 0.0);
    std::vector<Vector> weights; // per 8x point of one interval, per impulse position
    for (int k = 0; k < length; ++k)
    {
        Vector x (length, 0.0);
        x[static_cast<size_t> (k)] = 1.0;
        for (const auto& taps : allTaps)
        {
            Vector doubled (2 * x.size(), 0.0);
            for (size_t i = 0; i < x.size(); ++i)
            {
                double h = 0.0;
                for (size_t j = 0; j < taps.size(); ++j)
                {
                    const auto low = static_cast<long> (i) - static_cast<long> (j);
                    const size_t high = i + 1 + j;
                    h += static_cast<double> (static_cast<float> (taps[j]))
                         * ((low >= 0 ? x[static_cast<size_t> (low)] : 0.0)
                            + (high < x.size() ? x[high] : 0.0));
                }
                doubled[2 * i] = x[i];
                doubled[2 * i + 1] = h;
            }
            x = doubled;
        }
        weights.push_back (x);
    }
    double largest = 1.0;
    for (int p = 1; p < 8; ++p)
    {
        double sum = 0.0;
        for (const auto& w : weights)
            sum += std::abs (w[static_cast<size_t> (8 * at + p)]);
        largest = std::max (largest, sum);
    }
    return largest;
}

int main (int argc, char** argv)
{
    const bool report = argc > 1 && std::strcmp (argv[1], "--report") == 0;
    std::vector<Vector> allTaps;
    for (const auto& stage : stages)
    {
        const auto taps = design (stage);
        allTaps.push_back (taps);
        if (report)
        {
            double passband, shortfall;
            errors (stage, taps, passband, shortfall);
            double l1 = 0.0;
            for (double c : taps)
                l1 += 2.0 * std::abs (c);
            std::printf (
                "%-12s %2d taps: below %.3f of its own Nyquist frequency within %.2e of its "
                "target (%.4f dB); above, short of it by at most %.4f; sum of |taps| %.3f\n",
                stage.name,
                stage.numTaps,
                stage.weightedEdge / pi,
                passband,
                20.0 * std::log10 (1.0 + passband),
                shortfall,
                l1);
            continue;
        }
        std::printf ("constexpr float %s[] = {", stage.name);
        for (size_t j = 0; j < taps.size(); ++j)
            std::printf (
                "%s%.9gf", j == 0 ? " " : ", ", static_cast<double> (static_cast<float> (taps[j])));
        std::printf (" };\n");
    }
    const double gain = largestPointGain (allTaps);
    if (report)
        std::printf ("no point of the 8x grid exceeds %.4f times the largest input magnitude it "
                     "takes\n",
                     gain);
    else
        std::printf ("constexpr float largestPointGain = %.4ff;\n",
                     std::ceil (gain * 1.0e4) / 1.0e4);
    return 0;
}
