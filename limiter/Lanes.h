#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ORVALIS_LANES_SSE 1
#else
#define ORVALIS_LANES_SSE 0
#endif

/**
    Four single-precision lanes (the four channels of a frame, or four frames of a channel) for
    the engine's vector loops: SSE where the platform has it, plain floats elsewhere. Every
    operation is one IEEE operation per lane, and larger / smaller / the clamp compare in the
    operand order of the SSE instructions, so both versions give the same bits.
*/
namespace lanes
{
/** True for +0 alone (all bits clear). */
inline bool isPositiveZero (float x) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &x, sizeof bits);
    return bits == 0;
}

#if ORVALIS_LANES_SSE
struct Lanes
{
    __m128 v;
};
inline Lanes load (const float* p) noexcept
{
    return { _mm_loadu_ps (p) };
}
inline void store (float* p, Lanes a) noexcept
{
    _mm_storeu_ps (p, a.v);
}
inline Lanes splat (float x) noexcept
{
    return { _mm_set1_ps (x) };
}
/** The lanes a, b, c, d in that order. */
inline Lanes set (float a, float b, float c, float d) noexcept
{
    return { _mm_setr_ps (a, b, c, d) };
}
inline Lanes operator+ (Lanes a, Lanes b) noexcept
{
    return { _mm_add_ps (a.v, b.v) };
}
inline Lanes operator* (Lanes a, Lanes b) noexcept
{
    return { _mm_mul_ps (a.v, b.v) };
}
inline Lanes magnitude (Lanes a) noexcept
{
    return { _mm_andnot_ps (_mm_set1_ps (-0.0f), a.v) };
}
/** A zero with the sign of each lane. */
inline Lanes signedZero (Lanes a) noexcept
{
    return { _mm_and_ps (a.v, _mm_set1_ps (-0.0f)) };
}
/** a > b ? a : b in each lane. */
inline Lanes larger (Lanes a, Lanes b) noexcept
{
    return { _mm_max_ps (a.v, b.v) };
}
/** a < b ? a : b in each lane. */
inline Lanes smaller (Lanes a, Lanes b) noexcept
{
    return { _mm_min_ps (a.v, b.v) };
}
/** x where |x| >= least (NaN and infinity included), else 0. */
inline Lanes zeroBelow (Lanes a, float least) noexcept
{
    return { _mm_and_ps (a.v, _mm_cmpge_ps (magnitude (a).v, _mm_set1_ps (least))) };
}
/** x where x is finite, else 0. */
inline Lanes finiteOnly (Lanes a) noexcept
{
    const __m128 finite =
        _mm_cmple_ps (magnitude (a).v, _mm_set1_ps (std::numeric_limits<float>::max()));
    return { _mm_and_ps (a.v, finite) };
}
/** All bits set in the lanes that are not finite, given magnitudes (NaN or infinite). */
inline Lanes notFinite (Lanes magnitudes) noexcept
{
    return { _mm_cmpnle_ps (magnitudes.v, _mm_set1_ps (std::numeric_limits<float>::max())) };
}
inline Lanes operator| (Lanes a, Lanes b) noexcept
{
    return { _mm_or_ps (a.v, b.v) };
}
/** True when any bit of any lane is set. */
inline bool any (Lanes a) noexcept
{
    return _mm_movemask_epi8 (_mm_castps_si128 (a.v)) != 0;
}
/** The lanes' bits or'ed. */
inline Lanes orBits (Lanes a, Lanes b) noexcept
{
    return { _mm_or_ps (a.v, b.v) };
}
/** True when some lane is not +0 (any of its bits set; -0 counts). */
inline bool anyBitSet (Lanes a) noexcept
{
    return _mm_movemask_epi8 (_mm_cmpeq_epi32 (_mm_castps_si128 (a.v), _mm_setzero_si128()))
           != 0xFFFF;
}
/** The first lane in which a > b, 4 when there is none. */
inline int firstAbove (Lanes a, Lanes b) noexcept
{
    const int above = _mm_movemask_ps (_mm_cmpgt_ps (a.v, b.v));
    return (above & 1) != 0 ? 0 : (above & 2) != 0 ? 1 : (above & 4) != 0 ? 2 : above != 0 ? 3 : 4;
}
inline void transpose (Lanes& a, Lanes& b, Lanes& c, Lanes& d) noexcept
{
    _MM_TRANSPOSE4_PS (a.v, b.v, c.v, d.v);
}
#else
struct Lanes
{
    float v[4];
};
template <typename Op>
inline Lanes each (Lanes a, Lanes b, Op op) noexcept
{
    Lanes r;
    for (int i = 0; i < 4; ++i)
        r.v[i] = op (a.v[i], b.v[i]);
    return r;
}
inline Lanes load (const float* p) noexcept
{
    return { { p[0], p[1], p[2], p[3] } };
}
inline void store (float* p, Lanes a) noexcept
{
    std::copy (a.v, a.v + 4, p);
}
inline Lanes splat (float x) noexcept
{
    return { { x, x, x, x } };
}
inline Lanes set (float a, float b, float c, float d) noexcept
{
    return { { a, b, c, d } };
}
inline Lanes operator+ (Lanes a, Lanes b) noexcept
{
    return each (a, b, [] (float x, float y) { return x + y; });
}
inline Lanes operator* (Lanes a, Lanes b) noexcept
{
    return each (a, b, [] (float x, float y) { return x * y; });
}
inline Lanes magnitude (Lanes a) noexcept
{
    return each (a, a, [] (float x, float) { return std::abs (x); });
}
inline Lanes signedZero (Lanes a) noexcept
{
    return each (a, a, [] (float x, float) { return std::copysign (0.0f, x); });
}
inline Lanes larger (Lanes a, Lanes b) noexcept
{
    return each (a, b, [] (float x, float y) { return x > y ? x : y; });
}
inline Lanes smaller (Lanes a, Lanes b) noexcept
{
    return each (a, b, [] (float x, float y) { return x < y ? x : y; });
}
inline Lanes zeroBelow (Lanes a, float least) noexcept
{
    return each (a, a, [least] (float x, float) { return std::abs (x) >= least ? x : 0.0f; });
}
inline Lanes finiteOnly (Lanes a) noexcept
{
    return each (a, a, [] (float x, float) { return std::isfinite (x) ? x : 0.0f; });
}
inline Lanes notFinite (Lanes magnitudes) noexcept
{
    return each (
        magnitudes, magnitudes, [] (float x, float) { return std::isfinite (x) ? 0.0f : 1.0f; });
}
inline Lanes operator| (Lanes a, Lanes b) noexcept
{
    return each (a, b, [] (float x, float y) { return x != 0.0f || y != 0.0f ? 1.0f : 0.0f; });
}
inline bool any (Lanes a) noexcept
{
    return a.v[0] != 0.0f || a.v[1] != 0.0f || a.v[2] != 0.0f || a.v[3] != 0.0f;
}
inline Lanes orBits (Lanes a, Lanes b) noexcept
{
    Lanes r;
    for (int i = 0; i < 4; ++i)
    {
        std::uint32_t x, y;
        std::memcpy (&x, &a.v[i], sizeof x);
        std::memcpy (&y, &b.v[i], sizeof y);
        x |= y;
        std::memcpy (&r.v[i], &x, sizeof x);
    }
    return r;
}
inline bool anyBitSet (Lanes a) noexcept
{
    for (float x : a.v)
        if (! isPositiveZero (x))
            return true;
    return false;
}
inline int firstAbove (Lanes a, Lanes b) noexcept
{
    int i = 0;
    while (i < 4 && ! (a.v[i] > b.v[i]))
        ++i;
    return i;
}
inline void transpose (Lanes& a, Lanes& b, Lanes& c, Lanes& d) noexcept
{
    Lanes* rows[4] = { &a, &b, &c, &d };
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            std::swap (rows[i]->v[j], rows[j]->v[i]);
}
#endif

/** One lane: the scalar counterpart of Lanes for the ends of loops, with the same operations
    in the same operand order, so that a loop's last frames round as its vector part does. */
struct Single
{
    float v;
};
inline Single operator+ (Single a, Single b) noexcept
{
    return { a.v + b.v };
}
inline Single operator* (Single a, Single b) noexcept
{
    return { a.v * b.v };
}
inline void store (float* p, Single a) noexcept
{
    *p = a.v;
}
inline Single magnitude (Single a) noexcept
{
    return { std::abs (a.v) };
}
inline Single signedZero (Single a) noexcept
{
    return { std::copysign (0.0f, a.v) };
}
inline Single larger (Single a, Single b) noexcept
{
    return { a.v > b.v ? a.v : b.v };
}
inline Single smaller (Single a, Single b) noexcept
{
    return { a.v < b.v ? a.v : b.v };
}
inline Single zeroBelow (Single a, float least) noexcept
{
    return { std::abs (a.v) >= least ? a.v : 0.0f };
}
inline Single finiteOnly (Single a) noexcept
{
    return { std::isfinite (a.v) ? a.v : 0.0f };
}

/** Loads or splats a Lanes or a Single (loadAs<V>, splatAs<V>) in code written for either. */
template <typename V>
inline V loadAs (const float* p) noexcept;
template <>
inline Lanes loadAs<Lanes> (const float* p) noexcept
{
    return load (p);
}
template <>
inline Single loadAs<Single> (const float* p) noexcept
{
    return { *p };
}
template <typename V>
inline V splatAs (float x) noexcept;
template <>
inline Lanes splatAs<Lanes> (float x) noexcept
{
    return splat (x);
}
template <>
inline Single splatAs<Single> (float x) noexcept
{
    return { x };
}
/** How many floats a V holds. */
template <typename V>
constexpr int widthOf = sizeof (V) / sizeof (float);

/** Calls body (V {}, i) for i = 0, 4, 8, ... with V = Lanes while four values remain, then
    body (Single {}, i) for each of the rest, up to count. */
template <typename Body>
[[gnu::always_inline]] inline void inLanes (int count, Body&& body) noexcept
{
    int i = 0;
    for (; i + 4 <= count; i += 4)
        body (Lanes {}, i);
    for (; i < count; ++i)
        body (Single {}, i);
}
} // namespace lanes
