#include "tests/common/ReferenceTruePeak.h"

#include "render/BesselI0.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace referenceTruePeak
{
namespace
{
    constexpr int half = tapsPerPhase / 2;
    constexpr double beta = 10.0;
    constexpr int coarseStep = oversampling / 4;

    // Phase p (1..31) weighs sample n + k (k = -half + 1 .. half) for the point n + p / 32.
    using Phases = std::vector<std::vector<double>>;

    Phases design()
    {
        constexpr double pi = 3.14159265358979323846;
        Phases phases (oversampling, std::vector<double> (tapsPerPhase, 0.0));
        for (int p = 1; p < oversampling; ++p)
            for (int k = -half + 1; k <= half; ++k)
            {
                const double d = k - p / static_cast<double> (oversampling);
                const double r = d / (half + 0.5);
                const double window =
                    besselI0 (beta * std::sqrt (std::max (0.0, 1.0 - r * r))) / besselI0 (beta);
                phases[static_cast<size_t> (p)][static_cast<size_t> (k + half - 1)] =
                    std::sin (pi * d) / (pi * d) * window;
            }
        return phases;
    }

    double point (const std::vector<double>& taps, const double* window)
    {
        double sum = 0.0;
        for (size_t k = 0; k < taps.size(); ++k)
            sum += taps[k] * window[k];
        return std::abs (sum);
    }

    double measureChannel (const float* samples, size_t numFrames, const Phases& phases)
    {
        // The samples with half frames of silence on either side.
        std::vector<double> x (numFrames + 2 * half, 0.0);
        for (size_t i = 0; i < numFrames; ++i)
            x[i + half] = samples[i];

        double peak = 0.0;
        for (double v : x)
            peak = std::max (peak, std::abs (v));

        // Intervals from just before the first sample to just after the last. First the 4x
        // points; between two points of a 4x grid a signal band-limited to the Nyquist frequency
        // rises at most 1/cos(pi/8) above the larger (Szego's inequality), so only intervals whose
        // 4x peak times that can beat the peak so far need all 31 points.
        const size_t first = half - 1, last = numFrames + half - 1;
        std::vector<double> coarse (last + 1 - first, 0.0);
        for (size_t n = first; n <= last; ++n)
        {
            const double* window = x.data() + (n - half + 1);
            double m = std::max (std::abs (x[n]), std::abs (x[n + 1]));
            for (int p = coarseStep; p < oversampling; p += coarseStep)
                m = std::max (m, point (phases[static_cast<size_t> (p)], window));
            coarse[n - first] = m;
            peak = std::max (peak, m);
        }

        const double bound = 1.0 / std::cos (3.14159265358979323846 / 8.0);
        std::vector<size_t> order (coarse.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort (order.begin(),
                   order.end(),
                   [&coarse] (size_t a, size_t b) { return coarse[a] > coarse[b]; });
        for (size_t i : order)
        {
            if (coarse[i] * bound <= peak)
                break;
            const double* window = x.data() + (first + i - half + 1);
            for (int p = 1; p < oversampling; ++p)
                if (p % coarseStep != 0)
                    peak = std::max (peak, point (phases[static_cast<size_t> (p)], window));
        }
        return peak;
    }
} // namespace

std::array<double, 4> measure (const float* const* channels, std::size_t numFrames)
{
    static const Phases phases = design();
    std::array<double, 4> peaks {};
    for (size_t ch = 0; ch < 4; ++ch)
        peaks[ch] = measureChannel (channels[ch], numFrames, phases);
    return peaks;
}
} // namespace referenceTruePeak
