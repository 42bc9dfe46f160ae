#include "limiter/LookaheadLimiter.h"

#include "limiter/ChannelPasses.h"
#include "limiter/TruePeakTaps.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <new>

namespace
{
constexpr int kMaxRate = 192000;
constexpr int kChunkLength = TruePeakInterpolator::maxFramesPerCall;
static_assert (kChunkLength == channelPasses::chunkLength);

struct ChannelOrder
{
    int channels[LookaheadLimiter::largestChannelCount];
    constexpr ChannelOrder() : channels()
    {
        for (int ch = 0; ch < LookaheadLimiter::largestChannelCount; ++ch)
            channels[ch] = ch;
    }
};
constexpr ChannelOrder everyChannel;

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

// True when the running sum of the outputs (frame by frame, channel by channel, in single
// precision) is 0, found without forming that sum of K = frames x channels terms in the common
// case. Each of its additions errs by at most u = 2^-24 times its result, so with M the largest
// exact partial sum it ends within ((1 + 2u)^K - 1) M of the exact sum E. The frames' sums over
// the channels (one frame per lane, each within N u' of exact, u' = N u / (1 - N u)) and their
// cumulative sum in double precision give an estimate of E and a bound on M: every partial sum
// within a group of frames is at most the cumulative sum before the group plus the group's
// absolute sum. An estimate larger than both errors proves the running sum non-zero; only when it
// does not is the running sum formed.
bool outputsSumToZero (const channelPasses::FrameSums& sums,
                       const float* const* channels,
                       int numChannels,
                       int numSamples) noexcept
{
    const auto [total, absolute, largestPartial] = sums;
    const double u = 0x1p-24;
    const double terms = static_cast<double> (numChannels) * numSamples;
    const double perFrame = numChannels * u / (1.0 - numChannels * u);
    const double running = std::expm1 (terms * std::log1p (2.0 * u));
    // The frames' sums' errors, and the double-precision sums' own (far smaller) ones, doubled.
    const double estimateError =
        2.0 * (perFrame * absolute * (1.0 + perFrame) + (numSamples + 8.0) * 0x1p-52 * absolute);
    const double runningError = 2.0 * running * (largestPartial * (1.0 + perFrame) + estimateError);
    if (running < 0.5 && std::abs (total) > runningError + estimateError)
        return false;

    float sum = 0.0f;
    for (int i = 0; i < numSamples; ++i)
        for (int ch = 0; ch < numChannels; ++ch)
            sum += channels[ch][i];
    return sum == 0.0f;
}
} // namespace

LookaheadLimiter::LookaheadLimiter (float maxLookaheadMsToUse,
                                    float ceilingToUse,
                                    int maxChannelsToUse) :
    peakWindow (capacityFor (maxLookaheadMsToUse) + 2 * truePeakHoldSamples),
    interpolator (maxChannelsToUse)
{
    const int largestN = largestLookahead (maxLookaheadMsToUse);
    delayCapacity = capacityFor (maxLookaheadMsToUse);
    ringFrames = delayCapacity <= std::numeric_limits<int>::max() - truePeakDelaySamples
                     ? delayCapacity + truePeakDelaySamples
                     : delayCapacity;
    // Every channel's delay ring, then every channel's true-peak ring, then the interpolator's
    // output for one chunk, in one block. (As several blocks, an owner that creates and deletes
    // limiters one after another made the C library return the memory to the system and fault it
    // in again every time.)
    const bool channelsAllowed = maxChannelsToUse >= 1 && maxChannelsToUse <= largestChannelCount;
    const size_t rings = static_cast<size_t> (ringFrames) * static_cast<size_t> (maxChannelsToUse);
    if (channelsAllowed)
        delayLines.reset (new (std::nothrow) float[2 * rings
                                                   + static_cast<size_t> (maxChannelsToUse)
                                                         * static_cast<size_t> (kChunkLength)]());

    if (! (delayLines && peakWindow.isAllocated() && interpolator.isAllocated()))
    {
        delayLines.reset();
        maxChannels = 0;
        numChannels = 0;
        return;
    }
    truePeakRing = delayLines.get() + rings;
    channelPeaks = truePeakRing + rings;
    std::fill_n (silentFrames, largestChannelCount, ringFrames); // the rings start as +0

    lookaheadSamples = largestN;
    lookaheadMs = maxLookaheadMs = maxLookaheadMsToUse;
    attackCoeff = tenthAfter (static_cast<double> (largestN + 1));
    ceiling = ceilingToUse;
    maxChannels = maxChannelsToUse;
    numChannels = std::min (4, maxChannels);
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

// The window of N + 1 frames, cleared, and the attack that takes N + 1 steps. In true-peak mode the
// window is longer by 2 H frames (see truePeakHoldSamples) and the delay by H, and the attack takes
// N + 1 + 3 H / 4 steps: a peak's gain is reached H / 4 samples before the peak leaves the delay
// and held until H samples after it, and even without a look-ahead the gain falls over 3 H / 4 + 1
// samples, not in one step (a fast fall of the gain on a loud high-frequency signal puts peaks
// between the samples of its own).
void LookaheadLimiter::resizeWindow() noexcept
{
    peakWindow.setSize (lookaheadSamples + 1 + (truePeak ? 2 * truePeakHoldSamples : 0));
    attackCoeff = tenthAfter (
        static_cast<double> (lookaheadSamples + 1 + (truePeak ? truePeakHoldSamples * 3 / 4 : 0)));
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

    // Without a look-ahead, sample-peak mode has no delay and keeps the previous rate's settings;
    // true-peak mode still delays by the detector, so it takes the rate (the result stays the
    // refusal: the look-ahead is still under one sample).
    if (n < 1 && ! truePeak)
        return kRefused;

    resizeWindow();
    releaseCoeff = releaseCoefficient (rate, releaseMs);
    sampleRate = rate;
    smoothedDelay = static_cast<float> (delayTarget());
    reset();
    return n < 1 ? kRefused : kOk;
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

int LookaheadLimiter::setNumChannels (int count)
{
    if (count < 1 || count > maxChannels)
        return kRefused;

    numChannels = count;
    std::fill_n (outputTruePeaks, largestChannelCount, 0.0f);
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
    resizeWindow();
    interpolator.reset();
    std::fill_n (truePeakRing, ringEntries(), 0.0f);
    truePeakRingStale = false;
    std::fill_n (outputTruePeaks, largestChannelCount, 0.0f);
    return kOk;
}

int LookaheadLimiter::delayTarget() const noexcept
{
    return truePeak ? lookaheadSamples + truePeakDelaySamples : lookaheadSamples;
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
    std::fill_n (delayLines.get(), ringEntries(), 0.0f);
    std::fill_n (silentFrames, largestChannelCount, ringFrames);
    if (truePeak)
    {
        interpolator.reset();
        std::fill_n (truePeakRing, ringEntries(), 0.0f);
        truePeakRingStale = false;
    }
    return kOk;
}

void LookaheadLimiter::rebuildTruePeakRing() noexcept
{
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const size_t offset = static_cast<size_t> (ch) * static_cast<size_t> (ringFrames);
        const float* const line = delayLines.get() + offset;
        float* const peaks = truePeakRing + offset;
        for (int p = 0; p < ringFrames; ++p)
        {
            int q = p - TruePeakInterpolator::delaySamples;
            if (q < 0)
                q += ringFrames;
            const float a = std::abs (line[q]);
            peaks[p] = a >= 1.0e-20f ? a : 0.0f;
        }
    }
    truePeakRingStale = false;
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

// True-peak mode's gain law: the same, with the gain's rise from one sample to the next bounded
// (truePeakRiseLimit), for a faster rise puts peaks between the samples of its own.
[[gnu::always_inline]] inline void
LookaheadLimiter::stepTruePeakGain (GainState& s, float windowPeak) const noexcept
{
    const float highest = s.gain * truePeakRiseLimit;
    stepGain (s, windowPeak);
    if (s.gain > highest)
        s.gain = highest;
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

    if (lookaheadSamples < 1 && ! truePeak)
        processEachChannel (channels, numSamples);
    else
        processChannels (channels, numSamples);
    return kOk;
}

// The plain loop, a frame and then a channel at a time, in sample-peak mode: the reference that
// processChannels is checked against, and the engine itself after a refused rate whose look-ahead
// is under one sample (then there is no delay and the window is the current frame).
void LookaheadLimiter::processEachChannel (float* const* channels, int numSamples) noexcept
{
    const int n = lookaheadSamples;
    float* const lines = delayLines.get();
    float sum = 0.0f;
    PeakWindow::Cursor window = peakWindow.begin();
    GainState state { gain, attackTarget, settleWeight };
    if (n >= 1)
        std::fill_n (silentFrames, numChannels, 0);

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
                float* const line =
                    lines + static_cast<size_t> (ch) * static_cast<size_t> (ringFrames);
                line[delayWritePos] = y;
                y = frac * line[older] + (1.0f - frac) * line[r];
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
// processEachChannel, each value the same sequence of IEEE single-precision operations, with
// larger / smaller in the operand order that reproduces the plain loop's comparisons (NaN
// included). In true-peak mode the detector values are the interpolator's peaks and the delay is
// longer by its delay; each frame's channel peaks also go into truePeakRing beside the frame, so
// that the output's true peaks can be read with the frame.
//
// The work is done in chunks, in three passes. Only the second carries state from frame to frame,
// and it does the same for any channel count; the first and the third work on one channel at a
// time, several frames at once (ChannelPasses).
void LookaheadLimiter::processChannels (float* const* channels, int numSamples) noexcept
{
    assert (numChannels >= 1 && (lookaheadSamples >= 1 || truePeak));
    const int numCh = numChannels;
    const int n = lookaheadSamples;
    const int target = delayTarget();
    const float targetAsFloat = static_cast<float> (target);
    const int capacity = ringFrames;
    const size_t lineStride = static_cast<size_t> (capacity);
    float* const lines = delayLines.get();
    float* const peaksRing = truePeakRing;
    float* const chunkPeaks = channelPeaks;
    const float limit = ceiling;
    const bool measureTruePeaks = truePeak;
    const int leavingDelay = n + truePeakHoldSamples; // true-peak mode: the frame leaving now
    int writePos = delayWritePos;
    float delay = smoothedDelay;
    const channelPasses::Passes& passes = *lanePasses;
    PeakWindow::Cursor window = peakWindow.begin();
    GainState state { gain, attackTarget, settleWeight };
    if (measureTruePeaks)
        std::fill_n (outputTruePeaks, numCh, 0.0f);
    // While the readouts are not measured the true-peak ring is left as it is, and they are the
    // output samples' magnitudes; measured again, the ring is first rebuilt from the delay rings
    // (each frame's entry the magnitude of the sample the interpolator's delay before it, which
    // is what the interpolator gives where it skips), so that the frames still in the delay read
    // their samples.
    const int readouts = ! measureTruePeaks        ? channelPasses::noReadouts
                         : outputTruePeaksMeasured ? channelPasses::fromRing
                                                   : channelPasses::fromOutput;
    if (readouts == channelPasses::fromRing && truePeakRingStale)
        rebuildTruePeakRing();
    truePeakRingStale = readouts == channelPasses::fromOutput;
    channelPasses::FrameSums sums;
    int summedFrames = 0;
    // A channel whose peaks cannot reach the ceiling with the headroom (nor, while the output
    // true peaks are measured, their floor outputTruePeakFloor) is not interpolated in a chunk,
    // and the output is the same bit for bit: with every input magnitude the chunk's peaks take
    // at most skipUpTo, each interpolated point is at most largestPointGain * skipUpTo (every
    // point is a sum of taps times inputs, and largestPointGain bounds the sum of the taps'
    // magnitudes), which is under ceiling / headroom by the factor 1 - 1e-4, far more than the
    // rounding of the interpolator's sums and of the product with the headroom. So each of the
    // chunk's frame values, the larger of the ceiling and the largest peak times the headroom, is
    // the ceiling with the interpolated peaks, and also with the centre samples' magnitudes
    // (at most skipUpTo) the interpolator gives instead: the window peaks, and so the gains and
    // every output sample, do not change. Only what the readouts read from the skipped peaks
    // does: under the floor, or anywhere while they are not measured.
    const double largestGain = static_cast<double> (truePeakTaps::largestPointGain);
    // (A huge ceiling is taken as 1e30, so that no sum of skipped inputs could overflow.)
    const double ceilingBound =
        std::min (static_cast<double> (limit), 1.0e30) / static_cast<double> (truePeakHeadroom);
    const float skipUpTo = static_cast<float> (
        (outputTruePeaksMeasured
             ? std::min (ceilingBound, static_cast<double> (outputTruePeakFloor))
             : ceilingBound)
        / largestGain * (1.0 - 1.0e-4));

    alignas (16) float framePeaks[kChunkLength];
    alignas (16) float frameGains[kChunkLength];
    alignas (16) float frameFracs[kChunkLength];
    alignas (16) float frameRests[kChunkLength]; // 1 - frac
    int frameDelays[kChunkLength];
    alignas (16) float frameSums[kChunkLength];
    alignas (16) float frameMagnitudes[kChunkLength];
    // A channel whose delay ring holds nothing but +0 (its last ring's worth of frames were all
    // +0) and whose chunk is all +0 again is left out of the delay runs, and the output is the
    // same bit for bit: each of its outputs would be a sum of products of +0 with non-negative
    // weights, +0, times a gain that is positive while the ceiling is (the window peak is then
    // greater than the ceiling where the target is under 1), +0, clamped to the ceiling, +0:
    // which is its input, already in place; its ring would be written with the +0 it holds. Its
    // outputs are not added to the frames' sums either, which changes at most the sign of a
    // zero sum there, and that only where the readout's proof does not decide (outputsSumToZero
    // then forms the sum from the outputs). So a host's unused channels of a wide bus cost only
    // the look at their samples. True-peak mode takes every channel.
    bool chunkSilent[largestChannelCount];
    int awake[largestChannelCount];
    const int* runChannels = everyChannel.channels;
    int numRunChannels = numCh;
    if (measureTruePeaks)
        std::fill_n (silentFrames, numCh, 0);

    for (int start = 0; start < numSamples; start += kChunkLength)
    {
        const int count = std::min (kChunkLength, numSamples - start);

        // 1. The detector values.
        int firstAbove = 0;
        if (measureTruePeaks)
        {
            // Non-finite samples become 0 in place; the interpolator writes each channel's peaks
            // for the frames to chunkPeaks.
            passes.finiteOnly (channels, numCh, start, count);
            const float* from[largestChannelCount];
            for (int ch = 0; ch < numCh; ++ch)
                from[ch] = channels[ch] + start;
            interpolator.process (from, numCh, count, chunkPeaks, skipUpTo, passes);
            passes.truePeakFramePeaks (
                chunkPeaks, numCh, count, limit, truePeakHeadroom, framePeaks);
            firstAbove = count;
            for (int i = 0; i < count; ++i)
                if (framePeaks[i] > limit)
                {
                    firstAbove = i;
                    break;
                }
        }
        else
        {
            firstAbove =
                passes.samplePeaks (channels, numCh, start, count, limit, framePeaks, chunkSilent);
            numRunChannels = 0;
            for (int ch = 0; ch < numCh; ++ch)
            {
                if (! (chunkSilent[ch] && silentFrames[ch] >= capacity && limit > 0.0f))
                    awake[numRunChannels++] = ch;
                silentFrames[ch] =
                    chunkSilent[ch] ? std::min (capacity, silentFrames[ch] + count) : 0;
            }
            runChannels = awake;
        }

        // The next chunk's samples are asked for while the frame-by-frame pass runs: with many
        // channels their streams are more than the processor follows by itself.
        if (numRunChannels > 4)
            for (int c = 0; c < numRunChannels; ++c)
                for (int at = start + kChunkLength;
                     at < std::min (start + 2 * kChunkLength, numSamples);
                     at += 16)
                    __builtin_prefetch (channels[runChannels[c]] + at);

        // 2. The window peak, the gain law and the delay glide, frame by frame. While the gain
        // rests at exactly 1 with nothing to attack, release or settle, the delay does not glide
        // and the window holds nothing above the ceiling, every frame at the ceiling leaves all of
        // that as it is: the gain law returns 1 (in true-peak mode too, whose rise limit is then
        // above 1) and only the window takes the frames in.
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
            if (measureTruePeaks)
                stepTruePeakGain (state, peakWindow.push (window, framePeaks[i]));
            else
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
        // Without a glide the delayed frame is taken as it is, the zero added taking older's sign
        // as 0 * older + 1 * current would (older and current are finite).
        const bool interpolate = glided;
        if (interpolate)
            for (int k = 0; k < count; ++k)
                frameRests[k] = 1.0f - frameFracs[k];

        // 3. Delay, interpolation, gain and clamp, in runs of frames over which the delay is
        // constant and no ring position wraps; each run channel by channel. A frame is written
        // to the ring before the delayed one is read, as in the plain loop; a run reads first
        // when its delay is at least a vector long, for then a read can only meet the writes of
        // later frames (a delay of nearly the whole ring), never of earlier ones. The entry
        // older than the delayed one is the frame just written where the ring was that long
        // (see olderEntry; in true-peak mode the ring is ringFrames long).
        // The readout needs the outputs' sums only when the block ends with the gain below 1,
        // and so does every chunk that ends so: such a chunk's runs sum its frames as they give
        // them out, after the frames of the chunks before it that were not summed.
        const bool summed = state.gain != 1.0f;
        if (summed)
        {
            if (summedFrames < start)
                passes.addFrameSums (sums, channels, numCh, summedFrames, start - summedFrames);
            std::fill_n (frameSums, count, 0.0f);
            std::fill_n (frameMagnitudes, count, 0.0f);
        }
        float* io[largestChannelCount];
        for (int ch = 0; ch < numCh; ++ch)
            io[ch] = channels[ch] + start;
        int w = writePos + 1 >= capacity ? 0 : writePos + 1; // where frame k is written
        for (int k = 0; k < count;)
        {
            const int d = frameDelays[k];
            int r = w - d;
            if (r < 0)
                r += capacity;
            const bool olderIsWritten =
                d + 1 == capacity || (! measureTruePeaks && d + 1 == delayCapacity);
            const int older = r == 0 ? capacity - 1 : r - 1;
            int leaving = w - leavingDelay;
            if (leaving < 0)
                leaving += capacity;
            int run = std::min ({ count - k, capacity - w, capacity - r });
            if (! olderIsWritten)
                run = std::min (run, capacity - older);
            if (measureTruePeaks)
                run = std::min (run, capacity - leaving);
            if (glided)
            {
                int same = 1;
                while (same < run && frameDelays[k + same] == d)
                    ++same;
                run = same;
            }
            const bool readFirst = d >= passes.lanes;
            const int options = ((summed ? 8 : 0) + (interpolate ? 4 : 0) + (readFirst ? 2 : 0)
                                 + (olderIsWritten ? 1 : 0))
                                    * 3
                                + readouts;
            passes.delayRun[options](channelPasses::DelayRun { io,
                                                               runChannels,
                                                               lines,
                                                               peaksRing,
                                                               chunkPeaks,
                                                               frameGains,
                                                               frameFracs,
                                                               frameRests,
                                                               outputTruePeaks,
                                                               frameSums,
                                                               frameMagnitudes,
                                                               lineStride,
                                                               numRunChannels,
                                                               k,
                                                               run,
                                                               w,
                                                               r,
                                                               older,
                                                               leaving,
                                                               limit });

            k += run;
            w += run;
            if (w >= capacity)
                w -= capacity;
        }
        writePos = w == 0 ? capacity - 1 : w - 1;

        if (summed)
        {
            passes.addChunkSums (sums, frameSums, frameMagnitudes, count);
            summedFrames = start + count;
        }
    }

    delayWritePos = writePos;
    smoothedDelay = delay;
    peakWindow.end (window);
    gain = state.gain;
    attackTarget = state.attackTarget;
    settleWeight = state.settleWeight;

    // The readout is gain when the outputs' running sum is non-zero, else 1.0: with the gain at
    // exactly 1.0 both give 1.0, so the sum is only needed below 1.
    const float readout =
        gain == 1.0f || ! outputsSumToZero (sums, channels, numCh, numSamples) ? gain : 1.0f;
    gainReadout.store (readout, std::memory_order_relaxed);
}
