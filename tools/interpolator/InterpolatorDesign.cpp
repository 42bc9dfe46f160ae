// orvalis-interpolator-design: designs the half-sample interpolators of the limiter's true-peak
// detector and prints them as the C++ tables of limiter/TruePeakInterpolator.cpp.
//
// Each stage doubles the rate by computing the sample half-way between every two samples with a
// symmetric filter of an even number of taps (the samples themselves pass unchanged). For a
// sinusoid of frequency w (radians per input sample) the half-way sample comes out scaled by
// H(w) = 2 * sum_j c_j cos (w (j + 1/2)); the doubled signal then holds the sinusoid with
// amplitude (1 + H) / 2 and its image with (1 - H) / 2. So the only design goal is H = 1 over the
// passband, and each filter is the minimax solution of that (Lawson's iteratively reweighted
// least squares on a dense grid), in double precision.
//
//   orvalis-interpolator-design           the tables
//   orvalis-interpolator-design --report  each stage's largest |1 - H| over its passband
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
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

/** The taps c_0 (nearest the half-way point) .. c_{M-1} of a 2M-tap interpolator. */
Vector design (int halfLength, double passbandEdge)
{
    constexpr int gridSize = 2000;
    const auto m = static_cast<size_t> (halfLength);
    Vector w (gridSize), weight (gridSize, 1.0), taps;
    for (int g = 0; g < gridSize; ++g)
        w[static_cast<size_t> (g)] = passbandEdge * g / (gridSize - 1);

    for (int iteration = 0; iteration < 300; ++iteration)
    {
        std::vector<Vector> a (m, Vector (m, 0.0));
        Vector b (m, 0.0);
        for (size_t g = 0; g < gridSize; ++g)
            for (size_t i = 0; i < m; ++i)
            {
                const double ai = 2.0 * std::cos (w[g] * (static_cast<double> (i) + 0.5));
                b[i] += weight[g] * ai;
                for (size_t j = 0; j < m; ++j)
                    a[i][j] +=
                        weight[g] * ai * 2.0 * std::cos (w[g] * (static_cast<double> (j) + 0.5));
            }
        taps = solve (a, b);

        double sum = 0.0;
        for (size_t g = 0; g < gridSize; ++g)
        {
            weight[g] *= std::abs (1.0 - response (taps, w[g])) + 1e-300;
            sum += weight[g];
        }
        for (auto& x : weight)
            x /= sum;
    }
    return taps;
}

double largestError (const Vector& taps, double passbandEdge)
{
    double e = 0.0;
    for (int g = 0; g <= 20000; ++g)
        e = std::max (e, std::abs (1.0 - response (taps, passbandEdge * g / 20000.0)));
    return e;
}

struct Stage
{
    const char* name;
    int numTaps;
    double passbandEdge; // radians per sample at the stage's input rate
};

// The passband is 0.907 of the Nyquist frequency at every rate (20 kHz at 44.1 kHz): the first
// stage's at the input rate, the later stages' the same band at twice and four times the rate.
const double edge = 2.0 * pi * 20000.0 / 44100.0;
const Stage stages[] = {
    { "firstStage", 36, edge },
    { "secondStage", 6, edge / 2.0 },
    { "thirdStage", 4, edge / 4.0 },
};
} // namespace

int main (int argc, char** argv)
{
    const bool report = argc > 1 && std::strcmp (argv[1], "--report") == 0;
    for (const auto& stage : stages)
    {
        const auto taps = design (stage.numTaps / 2, stage.passbandEdge);
        if (report)
        {
            const double e = largestError (taps, stage.passbandEdge);
            std::printf (
                "%-20s %2d taps, passband to %.4f of Nyquist: largest |1 - H| %.2e (%.4f dB)\n",
                stage.name,
                stage.numTaps,
                stage.passbandEdge / pi,
                e,
                20.0 * std::log10 (1.0 + e));
            continue;
        }
        std::printf ("constexpr float %s[] = {", stage.name);
        for (size_t j = 0; j < taps.size(); ++j)
            std::printf (
                "%s%.9gf", j == 0 ? " " : ", ", static_cast<double> (static_cast<float> (taps[j])));
        std::printf (" };\n");
    }
    return 0;
}
