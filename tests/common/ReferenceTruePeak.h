#pragma once

#include <array>
#include <cstddef>

/**
    A reference true-peak meter for checking the limiter: four channels oversampled 32 times by a
    Kaiser-windowed sinc (beta 10) of 128 taps per phase, cut off at the Nyquist frequency. Every
    phase is within 0.0001 dB of flat up to 0.95 of the Nyquist frequency (and falls off above),
    so it measures what a band-limited reconstruction of the samples reaches, far more closely
    than the 4x meters of ITU-R BS.1770. The signal is taken as silent before and after the
    samples given. Standard C++ only, in double precision; the 4x points are computed everywhere
    and the other 28 points only where they can raise the peak.
*/
namespace referenceTruePeak
{
constexpr int oversampling = 32;
constexpr int tapsPerPhase = 128;

/** The largest magnitude per channel of the 32x oversampled signal (the samples included), linear. */
std::array<double, 4> measure (const float* const* channels, std::size_t numFrames);
} // namespace referenceTruePeak
