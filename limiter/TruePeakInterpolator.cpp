#include "limiter/TruePeakInterpolator.h"

#include "limiter/Lanes.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace
{
// The taps c_0 (nearest the half-way point) to c_{M-1} of each stage; the point half-way between
// samples k and k + 1 is the sum of c_j * (x[k - j] + x[k + 1 + j]). Printed by
// orvalis-interpolator-design (tools/interpolator), which gives their passbands and errors.
// clang-format off
constexpr float firstStage[] = { 0.635534048f, -0.208967537f, 0.121985823f, -0.083596848f, 0.0614960045f, -0.0468920581f, 0.0364166349f, -0.0285051148f, 0.0223325416f, -0.0174209662f, 0.0134718744f, -0.0102856373f, 0.00772058172f, -0.0056699249f, 0.00404932164f, -0.00278890203f, 0.00182927062f, -0.00167893746f };
constexpr float secondStage[] = { 0.600278974f, -0.121989809f, 0.0225452781f };
constexpr float thirdStage[] = { 0.568398952f, -0.06879282f };
// clang-format on

constexpr int firstHalfLength = static_cast<int> (std::size (firstStage));
static_assert (firstHalfLength + 2 == TruePeakInterpolator::delaySamples);

constexpr int kChannels = TruePeakInterpolator::numChannels;
constexpr float kSilent = 1.0e-20f;

using lanes::Lanes;
using lanes::larger;
using lanes::load;
using lanes::magnitude;
using lanes::splat;
using lanes::store;

// The point half-way between p[0] and p[4] (entries four floats apart), from the taps' pairs, in
// four partial sums so that consecutive additions do not wait for each other.
template <int halfLength>
inline Lanes halfWay (const float* p, const float* taps) noexcept
{
    static_assert (halfLength % 4 == 2);
    const auto pair = [p, taps] (int j) noexcept
    { return splat (taps[j]) * (load (p - j * kChannels) + load (p + (j + 1) * kChannels)); };
    Lanes sum[4] = { pair (0), pair (1), pair (2), pair (3) };
    for (int j = 4; j < halfLength - 2; j += 4)
        for (int k = 0; k < 4; ++k)
            sum[k] = sum[k] + pair (j + k);
    sum[0] = sum[0] + pair (halfLength - 2);
    sum[1] = sum[1] + pair (halfLength - 1);
    return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}
} // namespace

TruePeakInterpolator::TruePeakInterpolator()
{
    inputs.reset (new (
        std::nothrow) float[static_cast<size_t> ((inputHistory + maxFramesPerCall) * kChannels)]());
    doubled.reset (new (std::nothrow) float[static_cast<size_t> (
        (secondHistory + 2 * maxFramesPerCall) * kChannels)]());
    quadrupled.reset (new (std::nothrow) float[static_cast<size_t> (
        (thirdHistory + 4 * maxFramesPerCall) * kChannels)]());
    if (! (inputs && doubled && quadrupled))
    {
        inputs.reset();
        doubled.reset();
        quadrupled.reset();
    }
    reset();
}

TruePeakInterpolator::~TruePeakInterpolator() = default;

void TruePeakInterpolator::reset() noexcept
{
    if (! isAllocated())
        return;
    std::fill_n (inputs.get(), inputHistory * kChannels, 0.0f);
    std::fill_n (doubled.get(), secondHistory * kChannels, 0.0f);
    std::fill_n (quadrupled.get(), thirdHistory * kChannels, 0.0f);
    std::fill_n (previousInterval, kChannels, 0.0f);
    std::fill_n (previousPart, kChannels, 0.0f);
}

// Frame n (a = 18, the first stage's half length) adds to the 2x stream the point half-way after sample n - a and sample
// n - a + 1; from there the 2x stream is complete up to sample n - a + 1, so the second stage adds
// the 4x points a quarter before and after sample n - a - 0.5, and the 4x stream is complete up to
// sample n - a; the third stage adds the four 8x points between n - a - 1.125 and n - a - 0.375.
// Those complete the interval from sample n - a - 2 to n - a - 1 (its first three 8x points came
// with frame n - 1; the other four of them and its 2x and 4x points are "part" of frame n); with
// the interval before it and sample n - a - 2 between them they give the frame's result.
void TruePeakInterpolator::process (const float* frames, int numFrames, float* peaks) noexcept
{
    numFrames = std::min (numFrames, maxFramesPerCall);
    if (numFrames <= 0)
        return;
    if (! isAllocated())
    {
        std::fill_n (peaks, numFrames * kChannels, 0.0f);
        return;
    }

    float* const x = inputs.get();
    float* const s = doubled.get();
    float* const r = quadrupled.get();
    constexpr int a = firstHalfLength;
    constexpr int c = kChannels;
    Lanes interval = load (previousInterval), part = load (previousPart);

    const Lanes second0 = splat (secondStage[0]), second1 = splat (secondStage[1]),
                second2 = splat (secondStage[2]);
    const Lanes third0 = splat (thirdStage[0]), third1 = splat (thirdStage[1]);

    for (int f = 0; f < numFrames; ++f)
    {
        float* const newest = x + (inputHistory + f) * c;
        store (newest, lanes::zeroBelow (load (frames + f * c), kSilent));

        // The 2x stream: the new half-way point, then sample n - a + 1. sp points at the newest.
        const Lanes half = halfWay<a> (newest - a * c, firstStage);
        float* const sp = s + (secondHistory + 2 * f + 1) * c;
        store (sp - c, half);
        store (sp, load (newest - (a - 1) * c));

        // The 4x points after 2x entries K - 4 and K - 3 (K the newest).
        const auto quarter = [&] (const float* p) noexcept
        {
            return second0 * (load (p) + load (p + c)) + second1 * (load (p - c) + load (p + 2 * c))
                   + second2 * (load (p - 2 * c) + load (p + 3 * c));
        };
        const Lanes q0 = quarter (sp - 4 * c), q1 = quarter (sp - 3 * c);
        const Lanes olderHalf = load (sp - 3 * c);
        float* const rp = r + (thirdHistory + 4 * f + 3) * c;
        store (rp - 3 * c, q0);
        store (rp - 2 * c, olderHalf);
        store (rp - c, q1);
        store (rp, load (sp - 2 * c));

        // The 8x points after 4x entries J - 5 to J - 2 (J the newest).
        const auto eighth = [&] (const float* p) noexcept
        { return third0 * (load (p) + load (p + c)) + third1 * (load (p - c) + load (p + 2 * c)); };
        const Lanes closing = magnitude (eighth (rp - 5 * c));
        const Lanes opening =
            larger (larger (magnitude (eighth (rp - 4 * c)), magnitude (eighth (rp - 3 * c))),
                    larger (magnitude (eighth (rp - 2 * c)), magnitude (olderHalf)));
        const Lanes nextPart = larger (opening, larger (magnitude (q0), magnitude (q1)));

        const Lanes completed = larger (part, closing);
        const Lanes sample = magnitude (load (newest - (a + 2) * c));
        store (peaks + f * c, larger (larger (interval, sample), completed));
        interval = completed;
        part = nextPart;
    }

    store (previousInterval, interval);
    store (previousPart, part);
    std::copy_n (x + numFrames * c, inputHistory * c, x);
    std::copy_n (s + 2 * numFrames * c, secondHistory * c, s);
    std::copy_n (r + 4 * numFrames * c, thirdHistory * c, r);
}
