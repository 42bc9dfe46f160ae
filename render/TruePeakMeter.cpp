#include "render/TruePeakMeter.h"

#include "render/BesselI0.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace
{
constexpr int historyLength = TruePeakMeter::tapsPerPhase - 1;
constexpr int tapsBeforeCentre = 5;
constexpr double kaiserBeta = 4.0;
constexpr double windowHalfWidth = 6.0;

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
}

void TruePeakMeter::process (const float* const* channels, int numFrames)
{
    float* const block = history.data() + historyLength * numChannels;
    int i = 0;
#if defined(__SSE2__)
    // Four frames at a time: four loads, a transpose, four stores.
    for (; i + 4 <= numFrames; i += 4)
    {
        __m128 a = _mm_loadu_ps (channels[0] + i), b = _mm_loadu_ps (channels[1] + i),
               c = _mm_loadu_ps (channels[2] + i), d = _mm_loadu_ps (channels[3] + i);
        _MM_TRANSPOSE4_PS (a, b, c, d);
        _mm_storeu_ps (block + i * numChannels, a);
        _mm_storeu_ps (block + i * numChannels + 4, b);
        _mm_storeu_ps (block + i * numChannels + 8, c);
        _mm_storeu_ps (block + i * numChannels + 12, d);
    }
#endif
    for (; i < numFrames; ++i)
        for (int ch = 0; ch < numChannels; ++ch)
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
// The taps of a phase and its mirror: phase 2 is symmetric about the half-sample point, and
// phase 3 is phase 1 reversed. With the sums and differences of mirrored frames, six products
// give phase 2, and six more each give y1 + y3 and y1 - y3, whose absolute values add up to twice
// the larger of |y1| and |y3|.
struct FoldedTaps
{
    static constexpr int half = TruePeakMeter::tapsPerPhase / 2;
    std::array<float, half> middle {}, sum {}, difference {};
    float gainBound = 0.0f; // the largest sum of absolute taps of any phase
};

FoldedTaps foldTaps()
{
    FoldedTaps f;
    const auto& p1 = TruePeakMeter::getPhase (1);
    const auto& p2 = TruePeakMeter::getPhase (2);
    constexpr int last = TruePeakMeter::tapsPerPhase - 1;
    for (int k = 0; k < FoldedTaps::half; ++k)
    {
        const auto i = static_cast<size_t> (k), mirror = static_cast<size_t> (last - k);
        f.middle[i] = p2[i];
        f.sum[i] = 0.5f * (p1[i] + p1[mirror]);
        f.difference[i] = 0.5f * (p1[i] - p1[mirror]);
    }
    for (int p = 1; p < TruePeakMeter::numPhases; ++p)
    {
        float total = 0.0f;
        for (float tap : TruePeakMeter::getPhase (p))
            total += std::abs (tap);
        f.gainBound = std::max (f.gainBound, total * 1.0001f);
    }
    return f;
}

const FoldedTaps& foldedTaps()
{
    static const FoldedTaps taps = foldTaps();
    return taps;
}

// The interleaved frames form one flat array in which a channel's next sample is four places on,
// so two frames, eight values, go through the interpolator side by side: lane l of out[] is the
// largest interpolated magnitude of channel l % 4 over the pairs of frames.
template <int lanes>
#if defined(__GNUC__) || defined(__clang__)
__attribute__ ((always_inline))
#endif
inline void
raiseInterpolatedPeaks (const float* __restrict in,
                        int numValues,
                        const FoldedTaps& t,
                        float* __restrict out)
{
    constexpr int stride = TruePeakMeter::numChannels;
    constexpr int last = TruePeakMeter::tapsPerPhase - 1;
    float acc[static_cast<size_t> (lanes)];
    for (int l = 0; l < lanes; ++l)
        acc[l] = out[l];
    for (int j = 0; j + lanes <= numValues; j += lanes)
    {
        for (int l = 0; l < lanes; ++l)
        {
            const float* x = in + j + l;
            float y2 = 0.0f, s = 0.0f, d = 0.0f;
            for (int k = 0; k < FoldedTaps::half; ++k)
            {
                const float a = x[k * stride], b = x[(last - k) * stride];
                y2 += t.middle[static_cast<size_t> (k)] * (a + b);
                s += t.sum[static_cast<size_t> (k)] * (a + b);
                d += t.difference[static_cast<size_t> (k)] * (a - b);
            }
            const float v = std::max (std::abs (y2), std::abs (s) + std::abs (d));
            acc[l] = acc[l] > v ? acc[l] : v;
        }
    }
    for (int l = 0; l < lanes; ++l)
        out[l] = acc[l];
}

// Largest magnitude per channel of numFrames interleaved frames, eight lanes at a time.
#if defined(__GNUC__) || defined(__clang__)
__attribute__ ((always_inline))
#endif
inline void
raisePeaks (const float* __restrict values, std::array<float, 4>& peaks, int numFrames)
{
    float lanes[8] = { peaks[0], peaks[1], peaks[2], peaks[3],
                       peaks[0], peaks[1], peaks[2], peaks[3] };
    int j = 0;
    for (; j + 8 <= numFrames * 4; j += 8)
        for (int lane = 0; lane < 8; ++lane)
        {
            const float a = std::abs (values[j + lane]);
            lanes[lane] = lanes[lane] > a ? lanes[lane] : a;
        }
    for (; j < numFrames * 4; j += 4)
        for (int lane = 0; lane < 4; ++lane)
        {
            const float a = std::abs (values[j + lane]);
            lanes[lane] = lanes[lane] > a ? lanes[lane] : a;
        }
    for (size_t lane = 0; lane < 4; ++lane)
        peaks[lane] = std::max (lanes[lane], lanes[lane + 4]);
}

// Frames per look at whether interpolating could raise any channel's true peak.
constexpr int chunkFrames = 64;
constexpr int framesAfterCentre = historyLength - tapsBeforeCentre;

/**
    The peaks of numFrames frames whose taps start at data. Output frame i is centred on frame
    i + tapsBeforeCentre of the buffer; phase 0 is that frame. No interpolated value exceeds
    gainBound times the largest sample under the taps: a stretch whose samples are that far below
    every channel's true peak so far cannot raise it, and is not interpolated. wide values (two
    or four frames) go through the interpolator side by side.
*/
template <int wide = 8>
#if defined(__GNUC__) || defined(__clang__)
__attribute__ ((always_inline))
#endif
inline void
measureFrames (const float* data,
               int numFrames,
               const FoldedTaps& taps,
               std::array<float, 4>& samplePeaks,
               std::array<float, 4>& truePeaks)
{
    constexpr int stride = TruePeakMeter::numChannels;
    constexpr int framesPerStep = wide / stride;
    float lanes[static_cast<size_t> (wide)] = {};
    for (int first = 0; first < numFrames; first += chunkFrames)
    {
        const int count = std::min (chunkFrames, numFrames - first);
        std::array<float, 4> centre {}, local {};
        raisePeaks (data + (first + tapsBeforeCentre) * stride, centre, count);
        raisePeaks (data + first * stride, local, tapsBeforeCentre);
        raisePeaks (data + (first + count + tapsBeforeCentre) * stride, local, framesAfterCentre);
        bool canRaise = false;
        for (size_t c = 0; c < local.size(); ++c)
        {
            samplePeaks[c] = std::max (samplePeaks[c], centre[c]);
            truePeaks[c] = std::max (truePeaks[c], samplePeaks[c]);
            canRaise = canRaise || std::max (local[c], centre[c]) * taps.gainBound > truePeaks[c];
        }
        if (! canRaise)
            continue;

        const int whole = (count / framesPerStep) * framesPerStep;
        raiseInterpolatedPeaks<wide> (data + first * stride, whole * stride, taps, lanes);
        if (whole < count)
            raiseInterpolatedPeaks<4> (
                data + (first + whole) * stride, (count - whole) * stride, taps, lanes);
        for (size_t c = 0; c < truePeaks.size(); ++c)
            for (size_t l = c; l < static_cast<size_t> (wide); l += stride)
                truePeaks[c] = std::max (truePeaks[c], lanes[l]);
    }
}

using MeasureFrames =
    void (*) (const float*, int, const FoldedTaps&, std::array<float, 4>&, std::array<float, 4>&);

void measureFramesPortable (const float* data,
                            int numFrames,
                            const FoldedTaps& taps,
                            std::array<float, 4>& samplePeaks,
                            std::array<float, 4>& truePeaks)
{
    measureFrames (data, numFrames, taps, samplePeaks, truePeaks);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The same code for processors with AVX2 and FMA: two frames per vector.
__attribute__ ((target ("avx2,fma"))) void measureFramesAvx2 (const float* data,
                                                              int numFrames,
                                                              const FoldedTaps& taps,
                                                              std::array<float, 4>& samplePeaks,
                                                              std::array<float, 4>& truePeaks)
{
    measureFrames (data, numFrames, taps, samplePeaks, truePeaks);
}

// And for AVX-512: four frames per vector.
__attribute__ ((target ("avx512f,avx512vl,avx2,fma"))) void
measureFramesAvx512 (const float* data,
                     int numFrames,
                     const FoldedTaps& taps,
                     std::array<float, 4>& samplePeaks,
                     std::array<float, 4>& truePeaks)
{
    measureFrames<16> (data, numFrames, taps, samplePeaks, truePeaks);
}
#endif

MeasureFrames chooseMeasureFrames()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (__builtin_cpu_supports ("avx512f") && __builtin_cpu_supports ("avx512vl")
        && __builtin_cpu_supports ("fma"))
        return measureFramesAvx512;
    if (__builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma"))
        return measureFramesAvx2;
#endif
    return measureFramesPortable;
}
} // namespace

void TruePeakMeter::run (int numFrames)
{
    static const MeasureFrames measure = chooseMeasureFrames();
    float* const data = history.data();
    measure (data, numFrames, foldedTaps(), samplePeaks, truePeaks);
    std::copy (
        data + numFrames * numChannels, data + (numFrames + historyLength) * numChannels, data);
}
