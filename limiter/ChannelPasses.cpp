#include "limiter/ChannelPasses.h"

#include "limiter/Lanes.h"
#include "limiter/TruePeakTaps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <type_traits>
#include <utility>

#if ORVALIS_LANES_SSE && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ORVALIS_AVX2_PATH 1
// Everything between these is compiled for AVX2 (without FMA), whatever the flags of the build.
#if defined(__clang__)
#define ORVALIS_BEGIN_AVX2                                                                         \
    _Pragma ("clang attribute push (__attribute__((target(\"avx2\"))), apply_to = function)")
#define ORVALIS_END_AVX2 _Pragma ("clang attribute pop")
#else
#define ORVALIS_BEGIN_AVX2 _Pragma ("GCC push_options") _Pragma ("GCC target (\"avx2\")")
#define ORVALIS_END_AVX2 _Pragma ("GCC pop_options")
#endif
#else
#define ORVALIS_AVX2_PATH 0
#endif

namespace channelPasses
{
namespace baselinePath
{
    using Wide = lanes::Lanes;
    constexpr int kWidth = 4;
    inline Wide loadWide (const float* p) noexcept
    {
        return lanes::load (p);
    }
    inline void storeWide (float* p, Wide a) noexcept
    {
        lanes::store (p, a);
    }
    inline Wide splatWide (float x) noexcept
    {
        return lanes::splat (x);
    }

#include "limiter/ChannelPassesBody.h"
} // namespace baselinePath

#if ORVALIS_AVX2_PATH
ORVALIS_BEGIN_AVX2
namespace avx2Path
{
    // Eight lanes, each operation the one of lanes::Lanes (SSE) on eight values: the same IEEE
    // operation per lane, maxima and minima in the same operand order, compares alike for NaN.
    struct Wide
    {
        __m256 v;
    };
    constexpr int kWidth = 8;
    inline Wide loadWide (const float* p) noexcept
    {
        return { _mm256_loadu_ps (p) };
    }
    inline void storeWide (float* p, Wide a) noexcept
    {
        _mm256_storeu_ps (p, a.v);
    }
    inline Wide splatWide (float x) noexcept
    {
        return { _mm256_set1_ps (x) };
    }
    inline Wide operator+ (Wide a, Wide b) noexcept
    {
        return { _mm256_add_ps (a.v, b.v) };
    }
    inline Wide operator* (Wide a, Wide b) noexcept
    {
        return { _mm256_mul_ps (a.v, b.v) };
    }
    inline Wide magnitude (Wide a) noexcept
    {
        return { _mm256_andnot_ps (_mm256_set1_ps (-0.0f), a.v) };
    }
    inline Wide signedZero (Wide a) noexcept
    {
        return { _mm256_and_ps (a.v, _mm256_set1_ps (-0.0f)) };
    }
    inline Wide larger (Wide a, Wide b) noexcept
    {
        return { _mm256_max_ps (a.v, b.v) };
    }
    inline Wide smaller (Wide a, Wide b) noexcept
    {
        return { _mm256_min_ps (a.v, b.v) };
    }
    inline Wide finiteOnly (Wide a) noexcept
    {
        const __m256 finite = _mm256_cmp_ps (
            magnitude (a).v, _mm256_set1_ps (std::numeric_limits<float>::max()), _CMP_LE_OQ);
        return { _mm256_and_ps (a.v, finite) };
    }
    inline Wide notFinite (Wide magnitudes) noexcept
    {
        return { _mm256_cmp_ps (
            magnitudes.v, _mm256_set1_ps (std::numeric_limits<float>::max()), _CMP_NLE_UQ) };
    }
    inline Wide operator| (Wide a, Wide b) noexcept
    {
        return { _mm256_or_ps (a.v, b.v) };
    }
    inline bool any (Wide a) noexcept
    {
        return _mm256_movemask_ps (a.v) != 0;
    }
    inline Wide orBits (Wide a, Wide b) noexcept
    {
        return { _mm256_or_ps (a.v, b.v) };
    }
    inline bool anyBitSet (Wide a) noexcept
    {
        const __m256i bits = _mm256_castps_si256 (a.v);
        return _mm256_testz_si256 (bits, bits) == 0;
    }
    inline int firstAbove (Wide a, Wide b) noexcept
    {
        const int above = _mm256_movemask_ps (_mm256_cmp_ps (a.v, b.v, _CMP_GT_OQ));
        return above == 0 ? 8 : __builtin_ctz (static_cast<unsigned> (above));
    }

#include "limiter/ChannelPassesBody.h"
} // namespace avx2Path
ORVALIS_END_AVX2
#endif

namespace
{
    constexpr Passes baselinePasses =
        baselinePath::passesFor (std::make_integer_sequence<int, delayRunCount> {});
#if ORVALIS_AVX2_PATH
    constexpr Passes avx2Passes =
        avx2Path::passesFor (std::make_integer_sequence<int, delayRunCount> {});

    bool avx2Wanted() noexcept
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports ("avx2") && std::getenv ("ORVALIS_BASELINE_LANES") == nullptr;
    }
#endif
} // namespace

const Passes& baseline() noexcept
{
    return baselinePasses;
}

const Passes& best() noexcept
{
#if ORVALIS_AVX2_PATH
    static const bool wide = avx2Wanted();
    return wide ? avx2Passes : baselinePasses;
#else
    return baselinePasses;
#endif
}
} // namespace channelPasses
