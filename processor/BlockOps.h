#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ORVALIS_BLOCK_OPS_SSE 1
#else
#define ORVALIS_BLOCK_OPS_SSE 0
#endif

/** One-pass helpers for the processor's block: the input gain, non-finite samples made silent,
    and the block's peak magnitude (what juce::AudioBuffer::getMagnitude gives for finite samples),
    so that each channel is read and written once. */
namespace blockOps
{
namespace detail
{
    inline float silenceIfNotFinite (float x) noexcept
    {
        return std::isfinite (x) ? x : 0.0f;
    }

    template <bool applyGain>
    inline float process (float* samples, float gain, int numSamples) noexcept
    {
        int i = 0;
        float peak = 0.0f;
#if ORVALIS_BLOCK_OPS_SSE
        const __m128 signMask = _mm_set1_ps (-0.0f);
        const __m128 largestFinite = _mm_set1_ps (std::numeric_limits<float>::max());
        const __m128 g = _mm_set1_ps (gain);
        __m128 largest = _mm_setzero_ps();
        for (; i + 4 <= numSamples; i += 4)
        {
            __m128 x = _mm_loadu_ps (samples + i);
            if (applyGain)
                x = _mm_mul_ps (x, g);
            const __m128 magnitude = _mm_andnot_ps (signMask, x);
            const __m128 finite = _mm_cmple_ps (magnitude, largestFinite);
            _mm_storeu_ps (samples + i, _mm_and_ps (x, finite));
            largest = _mm_max_ps (largest, _mm_and_ps (magnitude, finite));
        }
        alignas (16) float lanes[4];
        _mm_store_ps (lanes, largest);
        peak = std::max (std::max (lanes[0], lanes[1]), std::max (lanes[2], lanes[3]));
#endif
        for (; i < numSamples; ++i)
        {
            const float x = silenceIfNotFinite (applyGain ? samples[i] * gain : samples[i]);
            samples[i] = x;
            peak = std::max (peak, std::abs (x));
        }
        return peak;
    }

    /** The largest finite magnitude, reading only; nonFinite tells whether any sample is not. */
    inline float measureFinite (const float* samples, int numSamples, bool& nonFinite) noexcept
    {
        int i = 0;
        float peak = 0.0f;
        nonFinite = false;
#if ORVALIS_BLOCK_OPS_SSE
        const __m128 signMask = _mm_set1_ps (-0.0f);
        const __m128 largestFinite = _mm_set1_ps (std::numeric_limits<float>::max());
        __m128 largest = _mm_setzero_ps();
        int allFinite = 0xf;
        for (; i + 4 <= numSamples; i += 4)
        {
            const __m128 magnitude = _mm_andnot_ps (signMask, _mm_loadu_ps (samples + i));
            const __m128 finite = _mm_cmple_ps (magnitude, largestFinite);
            allFinite &= _mm_movemask_ps (finite);
            largest = _mm_max_ps (largest, _mm_and_ps (magnitude, finite));
        }
        nonFinite = allFinite != 0xf;
        alignas (16) float lanes[4];
        _mm_store_ps (lanes, largest);
        peak = std::max (std::max (lanes[0], lanes[1]), std::max (lanes[2], lanes[3]));
#endif
        for (; i < numSamples; ++i)
        {
            if (std::isfinite (samples[i]))
                peak = std::max (peak, std::abs (samples[i]));
            else
                nonFinite = true;
        }
        return peak;
    }
} // namespace detail

/** Makes non-finite samples 0 and returns the largest magnitude. Reads only, unless a sample is
    not finite. */
inline float silenceNonFiniteAndMeasure (float* samples, int numSamples) noexcept
{
    bool nonFinite = false;
    const float peak = detail::measureFinite (samples, numSamples, nonFinite);
    return nonFinite ? detail::process<false> (samples, 1.0f, numSamples) : peak;
}

/** Multiplies by gain, makes non-finite results 0 and returns the largest magnitude. */
inline float
multiplySilenceNonFiniteAndMeasure (float* samples, float gain, int numSamples) noexcept
{
    // x * 1 is x: skip the multiply at unity gain.
    return gain == 1.0f ? silenceNonFiniteAndMeasure (samples, numSamples)
                        : detail::process<true> (samples, gain, numSamples);
}

/** The largest magnitude of samples that are all finite. */
inline float peakMagnitude (const float* samples, int numSamples) noexcept
{
    int i = 0;
    float peak = 0.0f;
#if ORVALIS_BLOCK_OPS_SSE
    const __m128 signMask = _mm_set1_ps (-0.0f);
    __m128 a = _mm_setzero_ps(), b = _mm_setzero_ps();
    for (; i + 8 <= numSamples; i += 8)
    {
        a = _mm_max_ps (a, _mm_andnot_ps (signMask, _mm_loadu_ps (samples + i)));
        b = _mm_max_ps (b, _mm_andnot_ps (signMask, _mm_loadu_ps (samples + i + 4)));
    }
    alignas (16) float lanes[4];
    _mm_store_ps (lanes, _mm_max_ps (a, b));
    peak = std::max (std::max (lanes[0], lanes[1]), std::max (lanes[2], lanes[3]));
#endif
    for (; i < numSamples; ++i)
        peak = std::max (peak, std::abs (samples[i]));
    return peak;
}
} // namespace blockOps
