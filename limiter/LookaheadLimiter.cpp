#include "limiter/LookaheadLimiter.h"

#include "limiter/Lanes.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <new>

namespace
{
using lanes::Lanes;

constexpr int kChannels = 4;
constexpr int kMaxRate = 192000;
constexpr int kChunkLength = TruePeakInterpolator::maxFramesPerCall;

// Truncates toward zero like a plain cast, but maps NaN to 0 and saturates instead of overflowing.
int truncateToInt (float value) noexcept
{
    if (! (value == value))
        return 0;
    if (value >= 2147483520.0f)
        return std::numeric_limits<int>::max();
    if (value <= -2147483648.0f)
        return std::numeric_limits<int>::min();
    return static_cast<int> (value);
}

// A NaN or infinite input sample would stick in the peak detector (every comparison with NaN is
// false) and spread through the interpolation (0 * inf); it is limited as silence instead.
inline float finiteOrZero (float x) noexcept
{
    return std::isfinite (x) ? x : 0.0f;
}

int samplesFor (int rate, float ms) noexcept
{
    return truncateToInt (static_cast<float> (rate) * ms / 1000.0f);
}

int largestLookahead (float maxLookaheadMs) noexcept
{
    return std::max (1, samplesFor (kMaxRate, maxLookaheadMs));
}

// The largest N + 1 (the constructor's look-ahead is the largest one, so its product needs no
// clamp beyond the int range).
int capacityFor (float maxLookaheadMs) noexcept
{
    const int largestN = largestLookahead (maxLookaheadMs);
    return largestN < std::numeric_limits<int>::max() ? largestN + 1 : largestN;
}

// 0.1^(1/k): the distance to the target shrinks to a tenth after k steps.
float tenthAfter (double k) noexcept
{
    return static_cast<float> (std::pow (0.1, 1.0 / k));
}

float releaseCoefficient (int rate, float ms) noexcept
{
    return tenthAfter (static_cast<double> (static_cast<float> (rate) * ms / 1000.0f + 1.0f));
}

// One frame's step of the delay's glide towards target samples (a ten-thousandth of the way, in
// double precision, landing on the target once within 1e-9 of it). Returns the whole samples of
// the delay and sets frac to the rest.
inline int stepDelayGlide (float& delay, int target, float& frac) noexcept
{
    if (std::abs (static_cast<double> (delay) - static_cast<double> (target)) > 1e-9)
        delay = static_cast<float> (static_cast<double> (delay) * 0.9999
                                    + static_cast<double> (target) * 0.0001);
    else
        delay = static_cast<float> (target);
    const int whole = static_cast<int> (std::floor (delay));
    frac = delay - static_cast<float> (whole);
    return whole;
}

// The sample-peak detector values of count frames from start. Non-finite samples become 0, in
// place (the output overwrites them anyway), and a frame's value is the ceiling unless a
// channel's magnitude is greater; with every sample finite the order of the maximum does not
// matter. Returns the first frame whose value is above the ceiling, count when there is none.
[[gnu::always_inline]] inline int
samplePeaks (float* const* x, int start, int count, float limit, float* framePeaks) noexcept
{
    const Lanes upper = lanes::splat (limit);
    int firstAbove = count;
    int i = 0;
    for (; i + 4 <= count; i += 4)
    {
        Lanes largest = lanes::splat (0.0f);
        for (int ch = 0; ch < kChannels; ++ch)
        {
            const Lanes v = lanes::finiteOnly (lanes::load (x[ch] + start + i));
            lanes::store (x[ch] + start + i, v);
            largest = lanes::larger (largest, lanes::magnitude (v));
        }
        lanes::store (framePeaks + i, lanes::larger (upper, largest));
        if (firstAbove == count)
            if (const int lane = lanes::firstAbove (largest, upper); lane < 4)
                firstAbove = i + lane;
    }
    for (; i < count; ++i)
    {
        float v = limit;
        for (int ch = 0; ch < kChannels; ++ch)
        {
            const float sample = finiteOrZero (x[ch][start + i]);
            x[ch][start + i] = sample;
            v = v > std::abs (sample) ? v : std::abs (sample);
        }
        framePeaks[i] = v;
        if (firstAbove == count && v > limit)
            firstAbove = i;
    }
    return firstAbove;
}

// The true-peak detector values of count frames from start. Non-finite samples become 0 in place,
// the frames are laid side by side for the interpolator, which writes each one's four channel
// peaks to channelPeaks, and a frame's value is the ceiling unless its largest channel peak, with
// the headroom, is greater.
[[gnu::always_inline]] inline void truePeaks (TruePeakInterpolator& interpolator,
                                              float* const* x,
                                              int start,
                                              int count,
                                              float limit,
                                              float* frames,
                                              float* channelPeaks,
                                              float* framePeaks) noexcept
{
    int i = 0;
    for (; i + 4 <= count; i += 4)
    {
        Lanes c[kChannels];
        for (int ch = 0; ch < kChannels; ++ch)
        {
            c[ch] = lanes::finiteOnly (lanes::load (x[ch] + start + i));
            lanes::store (x[ch] + start + i, c[ch]);
        }
        lanes::transpose (c[0], c[1], c[2], c[3]);
        for (int k = 0; k < 4; ++k)
            lanes::store (frames + (i + k) * kChannels, c[k]);
    }
    for (; i < count; ++i)
        for (int ch = 0; ch < kChannels; ++ch)
            frames[i * kChannels + ch] = x[ch][start + i] = finiteOrZero (x[ch][start + i]);

    interpolator.process (frames, count, channelPeaks);

    const Lanes upper = lanes::splat (limit);
    const Lanes headroom = lanes::splat (LookaheadLimiter::truePeakHeadroom);
    for (i = 0; i + 4 <= count; i += 4)
    {
        Lanes p[4];
        for (int k = 0; k < 4; ++k)
            p[k] = lanes::load (channelPeaks + (i + k) * kChannels);
        lanes::transpose (p[0], p[1], p[2], p[3]);
        const Lanes largest =
            lanes::larger (lanes::larger (p[0], p[1]), lanes::larger (p[2], p[3]));
        lanes::store (framePeaks + i, lanes::larger (largest * headroom, upper));
    }
    for (; i < count; ++i)
    {
        const float* p = channelPeaks + i * kChannels;
        const float a = p[0] > p[1] ? p[0] : p[1], b = p[2] > p[3] ? p[2] : p[3];
        const float v = (a > b ? a : b) * LookaheadLimiter::truePeakHeadroom;
        framePeaks[i] = v > limit ? v : limit;
    }
}

// True when the running sum of the outputs (frame by frame, channel by channel, in single
// precision) is 0. That sum has a rounding error of at most (K - 1) * 2^-24 / (1 - (K - 1) *
// 2^-24) times the sum of the absolute values, K the number of terms: under 0.00196 for K <= 4 *
// 8192. A sum in four lanes that is larger than 0.004 times the absolute sum (its own error is
// under 0.0005) proves the running sum non-zero without forming it.
bool outputsSumToZero (const float* const* channels, int numSamples) noexcept
{
    if (numSamples <= 8192)
    {
        Lanes total = lanes::splat (0.0f), magnitude = lanes::splat (0.0f);
        float tailTotal = 0.0f, tailMagnitude = 0.0f;
        const int vectorEnd = numSamples & ~3;
        for (int ch = 0; ch < kChannels; ++ch)
        {
            const float* x = channels[ch];
            for (int i = 0; i < vectorEnd; i += 4)
            {
                const Lanes y = lanes::load (x + i);
                total = total + y;
                magnitude = magnitude + lanes::magnitude (y);
            }
            for (int i = vectorEnd; i < numSamples; ++i)
            {
                tailTotal += x[i];
                tailMagnitude += std::abs (x[i]);
            }
        }
        float t[4], m[4];
        lanes::store (t, total);
        lanes::store (m, magnitude);
        const float quickTotal = (t[0] + t[1]) + (t[2] + t[3]) + tailTotal;
        const float quickMagnitude = (m[0] + m[1]) + (m[2] + m[3]) + tailMagnitude;
        if (std::abs (quickTotal) > 0.004f * quickMagnitude)
            return false;
    }

    float sum = 0.0f;
    for (int i = 0; i < numSamples; ++i)
        for (int ch = 0; ch < kChannels; ++ch)
            sum += channels[ch][i];
    return sum == 0.0f;
}
} // namespace

LookaheadLimiter::LookaheadLimiter (float maxLookaheadMsToUse, float ceilingToUse) :
    peakWindow (capacityFor (maxLookaheadMsToUse))
{
    const int largestN = largestLookahead (maxLookaheadMsToUse);
    delayCapacity = capacityFor (maxLookaheadMsToUse);
    // The four channels' delay rings side by side: frame f of channel ch at f * 4 + ch.
    ringFrames =
        delayCapacity <= std::numeric_limits<int>::max() - TruePeakInterpolator::delaySamples
            ? delayCapacity + TruePeakInterpolator::delaySamples
            : delayCapacity;
    // The true-peak ring follows the delay ring in the same block. (As two blocks, an owner that
    // creates and deletes limiters one after another made the C library return the memory to
    // the system and fault it in again every time.)
    delayLines.reset (new (std::nothrow) float[static_cast<size_t> (ringFrames) * kChannels * 2]());
    truePeakRing =
        delayLines ? delayLines.get() + static_cast<size_t> (ringFrames) * kChannels : nullptr;

    if (! (delayLines && peakWindow.isAllocated() && interpolator.isAllocated()))
    {
        delayLines.reset();
        truePeakRing = nullptr;
        maxChannels = 0;
        numChannels = 0;
        return;
    }

    lookaheadSamples = largestN;
    lookaheadMs = maxLookaheadMs = maxLookaheadMsToUse;
    attackCoeff = tenthAfter (static_cast<double> (largestN + 1));
    ceiling = ceilingToUse;
    numChannels = maxChannels = kChannels;
    sampleRate = maxSampleRate = kMaxRate;
    attackTarget = gain = 1.0f;
    smoothedDelay = 0.0f;
    settleWeight = 0.0f;
    gainReadout.store (1.0f, std::memory_order_relaxed);

    // Until the owner sets a release time, a long one keeps setLookaheadMs from starting a
    // settle phase while the object is being configured.
    releaseMs = 1000.0f;
    releaseCoeff = releaseCoefficient (sampleRate, releaseMs);
}

LookaheadLimiter::~LookaheadLimiter() = default;

// The window of N + 1 frames, cleared, and the attack that takes N + 1 steps.
void LookaheadLimiter::resizeWindow() noexcept
{
    peakWindow.setSize (lookaheadSamples + 1);
    attackCoeff = tenthAfter (static_cast<double> (lookaheadSamples + 1));
}

void LookaheadLimiter::startSettle() noexcept
{
    if (releaseMs < settleReleaseLimitMs)
    {
        settleWeight = 1.0f;
        settleCoeff = releaseCoefficient (sampleRate, settleReleaseLimitMs);
    }
}

int LookaheadLimiter::setSampleRate (int rate)
{
    if (rate > maxSampleRate || ! isAllocated())
        return kRefused;

    const int n = samplesFor (rate, lookaheadMs);
    // Rates and look-aheads within the allocation can never exceed the largest N.
    lookaheadSamples = std::min (std::max (n, 0), delayCapacity - 1);
    smoothedDelay = static_cast<float> (lookaheadSamples);

    if (n < 1)
        return kRefused;

    resizeWindow();
    releaseCoeff = releaseCoefficient (rate, releaseMs);
    sampleRate = rate;
    smoothedDelay = static_cast<float> (delayTarget());
    reset();
    return kOk;
}

int LookaheadLimiter::setLookaheadMs (float ms)
{
    if (ms > maxLookaheadMs || ! isAllocated())
        return kRefused;

    lookaheadSamples = std::min (std::max (samplesFor (sampleRate, ms), 1), delayCapacity - 1);
    resizeWindow();
    lookaheadMs = ms;
    startSettle();
    return kOk;
}

int LookaheadLimiter::setReleaseMs (float ms)
{
    releaseCoeff = releaseCoefficient (sampleRate, ms);
    releaseMs = ms;
    return kOk;
}

int LookaheadLimiter::setCeiling (float linear)
{
    ceiling = linear;
    return kOk;
}

int LookaheadLimiter::setNumChannels()
{
    if (maxChannels < kChannels)
        return kRefused;

    numChannels = kChannels;
    reset();
    return kOk;
}

int LookaheadLimiter::setTruePeak (bool on)
{
    if (! isAllocated())
        return kRefused;
    if (on == truePeak)
        return kOk;

    truePeak = on;
    // Like a look-ahead change: the detector starts afresh, the delay glides to its new length.
    startSettle();
    peakWindow.clear();
    interpolator.reset();
    std::fill_n (truePeakRing, static_cast<size_t> (ringFrames) * kChannels, 0.0f);
    std::fill_n (outputTruePeaks, kChannels, 0.0f);
    return kOk;
}

int LookaheadLimiter::delayTarget() const noexcept
{
    return truePeak && lookaheadSamples >= 1 ? lookaheadSamples + truePeakDelaySamples
                                             : lookaheadSamples;
}

int LookaheadLimiter::getLatencySamples() const noexcept
{
    return delayTarget();
}

float LookaheadLimiter::getGainReductionDb() const noexcept
{
    return -20.0f * std::log10 (gainReadout.load (std::memory_order_relaxed));
}

int LookaheadLimiter::reset() noexcept
{
    if (! isAllocated())
        return kOk;

    delayWritePos = 0;
    attackTarget = gain = 1.0f;
    peakWindow.clear();
    std::fill_n (delayLines.get(), static_cast<size_t> (ringFrames) * kChannels, 0.0f);
    if (truePeak)
    {
        interpolator.reset();
        std::fill_n (truePeakRing, static_cast<size_t> (ringFrames) * kChannels, 0.0f);
    }
    return kOk;
}

// The gain law works on a local copy of its state, so that the loops keep it in registers (stores
// to the channels could otherwise alias it).
[[gnu::always_inline]] inline void LookaheadLimiter::stepGain (GainState& s,
                                                               float windowPeak) const noexcept
{
    const float target = windowPeak > ceiling ? ceiling / windowPeak : 1.0f;

    if (s.gain > target)
    {
        // Pre-compensated so that N + 1 attack steps from here end exactly at the target.
        const float candidate = (target - 0.1f * s.gain) * 1.1111112f;
        if (! (s.attackTarget < candidate))
            s.attackTarget = candidate;
    }
    else
    {
        s.attackTarget = target;
    }

    float releaseStep;
    if (static_cast<double> (s.settleWeight) > 0.0001)
    {
        s.settleWeight = s.settleWeight * settleCoeff;
        releaseStep = settleCoeff;
    }
    else
    {
        s.settleWeight = 0.0f;
        releaseStep = releaseCoeff;
    }

    if (s.gain > s.attackTarget)
    {
        s.gain = s.attackTarget + (s.gain - s.attackTarget) * attackCoeff;
        // The gain never falls below the current target.
        if (target > s.gain)
            s.gain = target;
    }
    else
    {
        s.gain = s.attackTarget + (s.gain - s.attackTarget) * releaseStep;
    }
}

// The entry before r, on the ring of delayCapacity frames that sample-peak mode has always read,
// also now that the ring is longer for true-peak mode: at the largest look-ahead that ring held
// exactly N + 1 frames, so the entry before the oldest was the frame just written. (It is weighted
// by 0 unless the delay glides, but the sign of that zero reaches the output.)
int LookaheadLimiter::olderEntry (int writePos, int r, int d) const noexcept
{
    if (d + 1 == delayCapacity)
        return writePos;
    return r == 0 ? ringFrames - 1 : r - 1;
}

// The ceiling unless a channel's magnitude is greater, in channel order (non-finite samples as 0).
float LookaheadLimiter::detectorValue (const float* const* channels, int i) const noexcept
{
    float v = ceiling;
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const float a = std::abs (finiteOrZero (channels[ch][i]));
        if (! (v > a))
            v = a;
    }
    return v;
}

int LookaheadLimiter::process (float* const* channels, int numSamples) noexcept
{
    if (numSamples <= 0 || ! isAllocated())
    {
        gainReadout.store (1.0f, std::memory_order_relaxed);
        return kOk;
    }

    if (lookaheadSamples < 1)
        processEachChannel (channels, numSamples);
    else
        processFourChannels (channels, numSamples);
    return kOk;
}

// The plain loop, a frame and then a channel at a time, in sample-peak mode: the reference that
// processFourChannels is checked against, and the engine itself after a refused rate whose
// look-ahead is under one sample (then there is no delay and the window is the current frame).
void LookaheadLimiter::processEachChannel (float* const* channels, int numSamples) noexcept
{
    const int n = lookaheadSamples;
    float* const lines = delayLines.get();
    float sum = 0.0f;
    PeakWindow::Cursor window = peakWindow.begin();
    GainState state { gain, attackTarget, settleWeight };

    for (int i = 0; i < numSamples; ++i)
    {
        const float v = detectorValue (channels, i);
        stepGain (state, n >= 1 ? peakWindow.push (window, v) : v);

        int r = 0, older = 0;
        float frac = 0.0f;
        if (n >= 1)
        {
            if (++delayWritePos >= ringFrames)
                delayWritePos = 0;
            const int d = stepDelayGlide (smoothedDelay, n, frac);
            r = delayWritePos - d;
            if (r < 0)
                r += ringFrames;
            older = olderEntry (delayWritePos, r, d);
        }

        for (int ch = 0; ch < numChannels; ++ch)
        {
            float y = finiteOrZero (channels[ch][i]);
            if (n >= 1)
            {
                lines[delayWritePos * kChannels + ch] = y;
                y = frac * lines[older * kChannels + ch]
                    + (1.0f - frac) * lines[r * kChannels + ch];
            }
            y = y * state.gain;
            if (y > ceiling)
                y = ceiling;
            if (y < -ceiling)
                y = -ceiling;
            channels[ch][i] = y;
            sum += y;
        }
    }

    peakWindow.end (window);
    gain = state.gain;
    attackTarget = state.attackTarget;
    settleWeight = state.settleWeight;
    gainReadout.store (sum != 0.0f ? gain : 1.0f, std::memory_order_relaxed);
}

// The vector loop of both modes, for a look-ahead of at least one sample: the steps of
// processEachChannel with the four channels of a frame in one Lanes, each lane operation the same
// IEEE single-precision operation in the same order, and larger / smaller in the operand order
// that reproduces the plain loop's comparisons (NaN included). In true-peak mode the detector
// values are the interpolator's peaks and the delay is longer by its delay; each frame's four
// channel peaks also go into truePeakRing beside the frame, so that the output's true peaks can be
// read with the frame.
//
// The work is done in chunks, in three passes. Only the second carries state from frame to frame;
// the first and the third work on four frames or four channels at once.
void LookaheadLimiter::processFourChannels (float* const* channels, int numSamples) noexcept
{
    assert (numChannels == kChannels && lookaheadSamples >= 1);
    const int n = lookaheadSamples;
    const int target = delayTarget();
    const float targetAsFloat = static_cast<float> (target);
    const int capacity = ringFrames;
    float* const lines = delayLines.get();
    float* const peaksRing = truePeakRing;
    float* const x[kChannels] = { channels[0], channels[1], channels[2], channels[3] };
    const float limit = ceiling;
    const Lanes upper = lanes::splat (limit), lower = lanes::splat (-limit);
    int writePos = delayWritePos;
    float delay = smoothedDelay;
    PeakWindow::Cursor window = peakWindow.begin();
    GainState state { gain, attackTarget, settleWeight };
    Lanes outputPeaks = lanes::splat (0.0f);

    alignas (16) float framePeaks[kChunkLength];
    float frameGains[kChunkLength];
    float frameFracs[kChunkLength];
    int frameDelays[kChunkLength];
    alignas (16) float frames[kChunkLength * kChannels];       // true-peak mode
    alignas (16) float channelPeaks[kChunkLength * kChannels]; // true-peak mode

    // The third pass's steps for frame k of a chunk: delay, interpolation, gain and clamp. Each
    // frame is written to the ring before it is read, as in the plain loop.
    const auto advance = [&] (int d) noexcept // returns the read position d frames back
    {
        if (++writePos >= capacity)
            writePos = 0;
        const int r = writePos - d;
        return r < 0 ? r + capacity : r;
    };
    const auto output = [&] (int older, int r, int k) noexcept
    {
        const float frac = frameFracs[k];
        const Lanes y = lanes::splat (frac) * lanes::load (lines + older * kChannels)
                        + lanes::splat (1.0f - frac) * lanes::load (lines + r * kChannels);
        // (y > ceiling ? ceiling : y), then (y < -ceiling ? -ceiling : y)
        return lanes::larger (lower, lanes::smaller (upper, y * lanes::splat (frameGains[k])));
    };
    const auto glidingFrame = [&] (int k, Lanes frame) noexcept
    {
        const int r = advance (frameDelays[k]);
        const int older = olderEntry (writePos, r, frameDelays[k]);
        lanes::store (lines + writePos * kChannels, frame);
        return output (older, r, k);
    };
    // For a chunk whose frames all read the delay at exactly N: frac * older + (1 - frac) * r is r
    // plus a zero with older's sign (the ring holds finite samples only). Older is the entry read
    // for the frame before (previous), or, at the largest look-ahead, the frame just written (see
    // olderEntry).
    const bool olderIsWritten = n + 1 == delayCapacity;
    Lanes previous = lanes::splat (0.0f);
    const auto steadyFrame = [&] (int k, Lanes frame) noexcept
    {
        const int r = advance (n);
        lanes::store (lines + writePos * kChannels, frame);
        const Lanes current = lanes::load (lines + r * kChannels);
        const Lanes older = olderIsWritten ? frame : previous;
        previous = current;
        const Lanes y = (lanes::signedZero (older) + current) * lanes::splat (frameGains[k]);
        return lanes::larger (lower, lanes::smaller (upper, y));
    };
    // In true-peak mode the peaks found for the frame that leaves the look-ahead now, N frames
    // back, times its gain, are its true peaks. The entry older than r is the frame before it:
    // this mode has no earlier ring length to keep to.
    const auto truePeakFrame = [&] (int k, Lanes frame) noexcept
    {
        const int r = advance (frameDelays[k]);
        const int older = r == 0 ? capacity - 1 : r - 1;
        const int leaving = writePos >= n ? writePos - n : writePos - n + capacity;
        lanes::store (lines + writePos * kChannels, frame);
        lanes::store (peaksRing + writePos * kChannels, lanes::load (channelPeaks + k * kChannels));
        const Lanes g = lanes::splat (frameGains[k]);
        outputPeaks =
            lanes::larger (outputPeaks, lanes::load (peaksRing + leaving * kChannels) * g);
        return output (older, r, k);
    };

    for (int start = 0; start < numSamples; start += kChunkLength)
    {
        const int count = std::min (kChunkLength, numSamples - start);

        // 1. The detector values.
        int firstAbove = 0;
        if (truePeak)
            truePeaks (interpolator, x, start, count, limit, frames, channelPeaks, framePeaks);
        else
            firstAbove = samplePeaks (x, start, count, limit, framePeaks);

        // 2. The window peak, the gain law and the delay glide, frame by frame. In sample-peak
        // mode, while the gain rests at exactly 1 with nothing to attack, release or settle, the
        // delay does not glide and the window holds nothing above the ceiling, every frame at the
        // ceiling leaves all of that as it is: the gain law returns 1 and only the window takes
        // the frames in.
        int i = 0;
        if (firstAbove > 0 && state.gain == 1.0f && state.attackTarget == 1.0f
            && ! (static_cast<double> (state.settleWeight) > 0.0001) && delay == targetAsFloat
            && limit > 0.0f && PeakWindow::nothingAbove (window, limit))
        {
            peakWindow.fill (window, limit, firstAbove);
            state.settleWeight = 0.0f;
            std::fill_n (frameGains, firstAbove, 1.0f);
            std::fill_n (frameDelays, firstAbove, target);
            std::fill_n (frameFracs, firstAbove, 0.0f);
            i = firstAbove;
        }
        bool glided = false;
        for (; i < count; ++i)
        {
            stepGain (state, peakWindow.push (window, framePeaks[i]));
            frameGains[i] = state.gain;

            // For a target of at least 1, |delay - target| > 1e-9 exactly when the floats differ.
            int d = target;
            float frac = 0.0f;
            if (delay != targetAsFloat)
            {
                glided = true;
                d = stepDelayGlide (delay, target, frac);
            }
            frameDelays[i] = d;
            frameFracs[i] = frac;
        }

        // 3. Delay, interpolation, gain and clamp (the frame steps above).
        if (truePeak)
            lanes::eachFrame (x, start, count, truePeakFrame);
        else if (glided)
            lanes::eachFrame (x, start, count, glidingFrame);
        else
        {
            const int firstWrite = writePos + 1 >= capacity ? 0 : writePos + 1;
            const int firstRead = firstWrite >= n ? firstWrite - n : firstWrite - n + capacity;
            previous =
                lanes::load (lines + (firstRead == 0 ? capacity - 1 : firstRead - 1) * kChannels);
            lanes::eachFrame (x, start, count, steadyFrame);
        }
    }

    delayWritePos = writePos;
    smoothedDelay = delay;
    peakWindow.end (window);
    gain = state.gain;
    attackTarget = state.attackTarget;
    settleWeight = state.settleWeight;
    if (truePeak)
        lanes::store (outputTruePeaks, outputPeaks);

    // The readout is gain when the outputs' running sum is non-zero, else 1.0: with the gain at
    // exactly 1.0 both give 1.0, so the sum is only needed below 1.
    const float readout = gain == 1.0f || ! outputsSumToZero (channels, numSamples) ? gain : 1.0f;
    gainReadout.store (readout, std::memory_order_relaxed);
}
