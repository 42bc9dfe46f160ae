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

constexpr int kFrames = TruePeakInterpolator::maxFramesPerCall;
constexpr float kSilent = 1.0e-20f;

using lanes::Lanes;
using lanes::larger;
using lanes::load;
using lanes::magnitude;
using lanes::splat;
using lanes::store;

// The point half-way between p[0] and p[1] (four consecutive frames of one channel at once), from
// the taps' pairs, in four partial sums so that consecutive additions do not wait for each other.
template <int halfLength>
inline Lanes halfWay (const float* p, const float* taps) noexcept
{
    static_assert (halfLength % 4 == 2);
    const auto pair = [p, taps] (int j) noexcept
    { return splat (taps[j]) * (load (p - j) + load (p + j + 1)); };
    Lanes sum[4] = { pair (0), pair (1), pair (2), pair (3) };
    for (int j = 4; j < halfLength - 2; j += 4)
        for (int k = 0; k < 4; ++k)
            sum[k] = sum[k] + pair (j + k);
    sum[0] = sum[0] + pair (halfLength - 2);
    sum[1] = sum[1] + pair (halfLength - 1);
    return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}
} // namespace

TruePeakInterpolator::TruePeakInterpolator (int maxChannelsToUse)
{
    if (maxChannelsToUse < 1 || maxChannelsToUse > largestChannelCount)
        return;
    history.reset (
        new (std::nothrow) float[static_cast<size_t> (maxChannelsToUse) * channelStride]());
    if (history)
        maxChannels = maxChannelsToUse;
}

TruePeakInterpolator::~TruePeakInterpolator() = default;

void TruePeakInterpolator::reset() noexcept
{
    if (isAllocated())
        std::fill_n (history.get(), static_cast<size_t> (maxChannels) * channelStride, 0.0f);
}

void TruePeakInterpolator::process (const float* const* channels,
                                    int numChannels,
                                    int numFrames,
                                    float* peaks) noexcept
{
    numFrames = std::min (numFrames, maxFramesPerCall);
    if (numFrames <= 0 || numChannels <= 0)
        return;
    numChannels = std::min (numChannels, largestChannelCount);
    for (int ch = 0; ch < numChannels; ++ch)
    {
        float* const out = peaks + ch * kFrames;
        if (ch < maxChannels)
            processChannel (channels[ch], numFrames, history.get() + ch * channelStride, out);
        else
            std::fill_n (out, numFrames, 0.0f);
    }
}

// Frame i pushes sample n (n = the newest); with m = n - a (a = 18, the first stage's half
// length) it adds to the 2x stream the point H[m] half-way between samples m and m + 1. From
// there the 2x stream is complete up to sample m + 1, so the second stage adds the 4x points
// Q1[m - 1] and Q3[m - 1] a quarter after and before sample m - 1 + 1/2, and the 4x stream is
// complete up to sample m; the third stage adds the four 8x points from m - 1 - 1/8 to m - 1 +
// 5/8. Those complete the interval from sample m - 2 to m - 1 (its 8x point at 7/8 is the first
// of frame i, "closing"; its points from 1/8 to 3/4 came with frame i - 1, "part"); with the
// interval before it and sample m - 2 between them they give the frame's result. Each step is
// done for all frames of the call at once (frames rounded up to whole vectors; the extra lanes
// read zeros and are never kept), and carries to the next call H[m - 2], H[m - 1], Q3[m - 2],
// the last part and the last completed interval.
void TruePeakInterpolator::processChannel (const float* samples,
                                           int numFrames,
                                           float* block,
                                           float* peaks) noexcept
{
    constexpr int a = firstHalfLength;
    float* const x = block; // x[inputHistory + i] is frame i's newest sample
    float* const carry = block + inputHistory + kFrames + 8;
    const int padded = (numFrames + 3) & ~3;

    lanes::inLanes (numFrames,
                    [&] (auto v, int i)
                    {
                        using V = decltype (v);
                        const V sample = lanes::loadAs<V> (samples + i);
                        store (x + inputHistory + i, lanes::zeroBelow (sample, kSilent));
                    });
    std::fill (x + inputHistory + numFrames, x + inputHistory + padded, 0.0f);

    // xs[i] is sample m of frame i; half[2 + i] is H[m], quarter1[i] Q1[m - 1], quarter3[1 + i]
    // Q3[m - 1]; part[1 + i] the 8x, 4x and 2x points of frame i from m - 1 + 1/8 to m - 1 + 3/4;
    // completed[1 + i] frame i's completed interval.
    const float* const xs = x + inputHistory - a;
    alignas (16) float half[2 + kFrames + 4], quarter1[kFrames + 4], quarter3[1 + kFrames + 4];
    alignas (16) float part[1 + kFrames + 4], closing[kFrames + 4], completed[1 + kFrames + 4];
    half[0] = carry[0];
    half[1] = carry[1];
    quarter3[0] = carry[2];
    part[0] = carry[3];
    completed[0] = carry[4];

    for (int i = 0; i < padded; i += 4)
        store (half + 2 + i, halfWay<a> (xs + i, firstStage));

    const Lanes second0 = splat (secondStage[0]), second1 = splat (secondStage[1]),
                second2 = splat (secondStage[2]);
    for (int i = 0; i < padded; i += 4)
    {
        const Lanes xm2 = load (xs + i - 2), xm1 = load (xs + i - 1), xm = load (xs + i),
                    xp1 = load (xs + i + 1);
        const Lanes hm2 = load (half + i), hm1 = load (half + i + 1), hm = load (half + i + 2);
        store (quarter1 + i, second0 * (xm1 + hm1) + second1 * (hm2 + xm) + second2 * (xm2 + hm));
        store (quarter3 + 1 + i,
               second0 * (hm1 + xm) + second1 * (xm1 + hm) + second2 * (hm2 + xp1));
    }

    const Lanes third0 = splat (thirdStage[0]), third1 = splat (thirdStage[1]);
    for (int i = 0; i < padded; i += 4)
    {
        const Lanes xm1 = load (xs + i - 1), xm = load (xs + i);
        const Lanes hm2 = load (half + i), hm1 = load (half + i + 1);
        const Lanes q1 = load (quarter1 + i), q3before = load (quarter3 + i),
                    q3 = load (quarter3 + 1 + i);
        const Lanes eighth1 = third0 * (xm1 + q1) + third1 * (q3before + hm1);
        const Lanes eighth3 = third0 * (q1 + hm1) + third1 * (xm1 + q3);
        const Lanes eighth5 = third0 * (hm1 + q3) + third1 * (q1 + xm);
        store (closing + i, magnitude (third0 * (q3before + xm1) + third1 * (hm2 + q1)));
        const Lanes opening = larger (larger (magnitude (eighth1), magnitude (eighth3)),
                                      larger (magnitude (eighth5), magnitude (hm1)));
        store (part + 1 + i, larger (opening, larger (magnitude (q1), magnitude (q3))));
    }

    for (int i = 0; i < padded; i += 4)
        store (completed + 1 + i, larger (load (part + i), load (closing + i)));
    lanes::inLanes (numFrames,
                    [&] (auto v, int i)
                    {
                        using V = decltype (v);
                        const V sample = magnitude (lanes::loadAs<V> (xs + i - 2));
                        store (peaks + i,
                               larger (larger (lanes::loadAs<V> (completed + i), sample),
                                       lanes::loadAs<V> (completed + 1 + i)));
                    });

    carry[0] = half[numFrames];
    carry[1] = half[numFrames + 1];
    carry[2] = quarter3[numFrames];
    carry[3] = part[numFrames];
    carry[4] = completed[numFrames];
    std::copy_n (x + numFrames, inputHistory, x);
}
