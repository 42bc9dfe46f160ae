#include "limiter/LookaheadLimiter.h"

#include "limiter/Lanes.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <new>

#if defined(__GNUC__)
#define ORVALIS_ALWAYS_INLINE inline __attribute__ ((always_inline))
#else
#define ORVALIS_ALWAYS_INLINE inline
#endif

#if ORVALIS_LIMITER_SSE
#include <emmintrin.h>
#endif

namespace
{
constexpr int kChannels = 4;
constexpr int kMaxRate = 192000;
constexpr float kSettleMs = 75.0f;

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

// 0.1^(1/k): the distance to the target shrinks to a tenth after k steps.
float tenthAfter (double k) noexcept
{
    return static_cast<float> (std::pow (0.1, 1.0 / k));
}

float releaseCoefficient (int rate, float ms) noexcept
{
    return tenthAfter (static_cast<double> (static_cast<float> (rate) * ms / 1000.0f + 1.0f));
}

void layoutFor (int n, int& blockLength, int& numBlocks) noexcept
{
    const int window = n + 1;
    blockLength = static_cast<int> (std::sqrt (static_cast<float> (n) + 1.0f));
    numBlocks = window / blockLength;
    if (blockLength * numBlocks < window)
        ++numBlocks;
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
} // namespace

LookaheadLimiter::LookaheadLimiter (float maxLookaheadMsToUse, float ceilingToUse)
{
    const int largestN = std::max (1, samplesFor (kMaxRate, maxLookaheadMsToUse));
    // The constructor's look-ahead is the largest one, so its product needs no clamp beyond the int range.
    delayCapacity = largestN < std::numeric_limits<int>::max() ? largestN + 1 : largestN;
    layoutFor (largestN, blockLength, numBlocks);
    peakRingSize = blockLength * numBlocks;
    maxNumBlocks = numBlocks;

    peakRing.reset (new (std::nothrow) float[static_cast<size_t> (peakRingSize)]());
    blockPeaks.reset (new (std::nothrow) float[static_cast<size_t> (numBlocks)]());
    blockPeakPos.reset (new (std::nothrow) int[static_cast<size_t> (numBlocks)]());
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

    const bool complete =
        peakRing && blockPeaks && blockPeakPos && delayLines && interpolator.isAllocated();
    if (! complete)
    {
        releaseBuffers();
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

void LookaheadLimiter::releaseBuffers() noexcept
{
    peakRing.reset();
    blockPeaks.reset();
    blockPeakPos.reset();
    delayLines.reset();
    truePeakRing = nullptr;
}

void LookaheadLimiter::computeBlockLayout() noexcept
{
    layoutFor (lookaheadSamples, blockLength, numBlocks);
    assert (blockLength * numBlocks <= peakRingSize && numBlocks <= maxNumBlocks);
    attackCoeff = tenthAfter (static_cast<double> (lookaheadSamples + 1));
}

void LookaheadLimiter::clearPeakDetector() noexcept
{
    ringPos = blockIndex = blockStart = blockFill = otherBlocksPeakBlock = 0;
    otherBlocksPeak = currentBlockPeak = 0.0f;
    std::fill_n (peakRing.get(), blockLength * numBlocks, 0.0f);
    std::fill_n (blockPeaks.get(), numBlocks, 0.0f);
    std::fill_n (blockPeakPos.get(), numBlocks, 0);
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

    computeBlockLayout();
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
    computeBlockLayout();
    lookaheadMs = ms;

    if (releaseMs < kSettleMs)
    {
        settleWeight = 1.0f;
        settleCoeff = releaseCoefficient (sampleRate, kSettleMs);
    }

    clearPeakDetector();
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
    if (releaseMs < kSettleMs)
    {
        settleWeight = 1.0f;
        settleCoeff = releaseCoefficient (sampleRate, kSettleMs);
    }
    clearPeakDetector();
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

    ringPos = blockIndex = delayWritePos = blockStart = blockFill = otherBlocksPeakBlock = 0;
    attackTarget = gain = 1.0f;
    otherBlocksPeak = currentBlockPeak = 0.0f;
    std::fill_n (peakRing.get(), blockLength * numBlocks, 0.0f);
    std::fill_n (blockPeaks.get(), numBlocks, 0.0f);
    std::fill_n (blockPeakPos.get(), numBlocks, 0);
    std::fill_n (delayLines.get(), static_cast<size_t> (ringFrames) * kChannels, 0.0f);
    if (truePeak)
    {
        interpolator.reset();
        std::fill_n (truePeakRing, static_cast<size_t> (ringFrames) * kChannels, 0.0f);
    }
    return kOk;
}

// The detector's and the gain law's per-sample steps work on local copies of the state, so that
// the hot loops keep it in registers (stores to the channels could otherwise alias it).
struct LookaheadLimiter::WindowState
{
    int ringPos, blockIndex, blockStart, otherBlocksPeakBlock;
    float otherBlocksPeak, currentBlockPeak;
    int currentBlockPeakPos; // blockPeakPos[blockIndex], kept in a register
    int blockEnd;            // where the current block ends: min(blockStart + B, N + 1)
};

struct LookaheadLimiter::GainState
{
    float gain, attackTarget, settleWeight;
};

LookaheadLimiter::WindowState LookaheadLimiter::loadWindowState() const noexcept
{
    return { ringPos,
             blockIndex,
             blockStart,
             otherBlocksPeakBlock,
             otherBlocksPeak,
             currentBlockPeak,
             blockPeakPos[static_cast<size_t> (blockIndex)],
             std::min (blockStart + blockLength, lookaheadSamples + 1) };
}

void LookaheadLimiter::storeWindowState (const WindowState& w) noexcept
{
    ringPos = w.ringPos;
    blockIndex = w.blockIndex;
    blockStart = w.blockStart;
    blockFill = w.ringPos - w.blockStart;
    otherBlocksPeakBlock = w.otherBlocksPeakBlock;
    otherBlocksPeak = w.otherBlocksPeak;
    currentBlockPeak = w.currentBlockPeak;
}

// blockFill is always ringPos - blockStart, so "blockFill >= B or ringPos >= N + 1" is
// "ringPos >= blockEnd", and the ring can only wrap when a block completes.
ORVALIS_ALWAYS_INLINE float LookaheadLimiter::pushWindowPeak (WindowState& w, float v) noexcept
{
    const int b = blockLength;
    float* const ring = peakRing.get();
    int* const peakPos = blockPeakPos.get();

    ring[w.ringPos] = v;

    if (w.currentBlockPeakPos == w.ringPos)
    {
        // The entry just overwritten held this block's peak: find the block's new peak.
        float peak = ring[w.blockStart];
        int pos = w.blockStart;
        for (int j = 1; j < b; ++j)
        {
            if (ring[w.blockStart + j] > peak)
            {
                peak = ring[w.blockStart + j];
                pos = w.blockStart + j;
            }
        }
        w.currentBlockPeak = peak;
        w.currentBlockPeakPos = peakPos[w.blockIndex] = pos;
    }
    else if (v > w.currentBlockPeak)
    {
        w.currentBlockPeak = v;
        w.currentBlockPeakPos = peakPos[w.blockIndex] = w.ringPos;
    }

    const float windowPeak =
        w.currentBlockPeak > w.otherBlocksPeak ? w.currentBlockPeak : w.otherBlocksPeak;

    if (++w.ringPos >= w.blockEnd)
        completeBlock (w);

    return windowPeak;
}

ORVALIS_ALWAYS_INLINE void LookaheadLimiter::completeBlock (WindowState& w) noexcept
{
    const int b = blockLength;
    const int m = numBlocks;
    float* const peaks = blockPeaks.get();
    int* const peakPos = blockPeakPos.get();

    const int k = w.blockIndex;
    peaks[k] = w.currentBlockPeak;
    const float p = w.currentBlockPeak;
    w.blockIndex = k + 1 >= m ? 0 : k + 1;
    // The next block's entries stay in the window until overwritten, so it starts from
    // the peak it had on the previous pass.
    w.currentBlockPeak = peaks[w.blockIndex];
    w.currentBlockPeakPos = peakPos[w.blockIndex];
    peaks[w.blockIndex] = 0.0f;

    if (w.otherBlocksPeakBlock == k || w.otherBlocksPeakBlock == w.blockIndex)
    {
        float peak = 0.0f;
        int block = w.otherBlocksPeakBlock;
        for (int j = 0; j < m; ++j)
        {
            if (peaks[j] > peak)
            {
                peak = peaks[j];
                block = j;
            }
        }
        w.otherBlocksPeak = peak;
        w.otherBlocksPeakBlock = block;
    }
    else if (p > w.otherBlocksPeak)
    {
        w.otherBlocksPeak = p;
        w.otherBlocksPeakBlock = k;
    }

    const int window = lookaheadSamples + 1;
    w.blockStart += b;
    if (w.ringPos >= window)
    {
        w.ringPos = 0;
        w.blockStart = 0;
    }
    w.blockEnd = std::min (w.blockStart + b, window);
}

void LookaheadLimiter::fillWindow (WindowState& w, float v, int count) noexcept
{
    float* const ring = peakRing.get();
    int* const peakPos = blockPeakPos.get();

    while (count > 0)
    {
        const int k = std::min (count, w.blockEnd - w.ringPos);
        std::fill_n (ring + w.ringPos, k, v);
        // Nothing in the block is above v, and v is now at its last written entry. Which of equal
        // entries holds the peak only decides when the block is scanned again, not what is found.
        w.currentBlockPeak = v;
        w.currentBlockPeakPos = peakPos[w.blockIndex] = w.ringPos + k - 1;
        w.ringPos += k;
        count -= k;
        if (w.ringPos >= w.blockEnd)
            completeBlock (w);
    }
}

float LookaheadLimiter::pushWindowPeak (float v) noexcept
{
    WindowState w = loadWindowState();
    const float windowPeak = pushWindowPeak (w, v);
    storeWindowState (w);
    return windowPeak;
}

ORVALIS_ALWAYS_INLINE void LookaheadLimiter::stepGain (GainState& s,
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

int LookaheadLimiter::process (float* const* channels, int numSamples) noexcept
{
    if (numSamples <= 0 || ! isAllocated())
    {
        gainReadout.store (1.0f, std::memory_order_relaxed);
        return kOk;
    }

    if (lookaheadSamples < 1)
        return processWithoutDelay (channels, numSamples);

    if (truePeak)
    {
        processTruePeak (channels, numSamples);
        return kOk;
    }

#if ORVALIS_LIMITER_SSE
    processFourChannels (channels, numSamples);
#else
    processEachChannel (channels, numSamples);
#endif
    return kOk;
}

void LookaheadLimiter::processEachChannel (float* const* channels, int numSamples) noexcept
{
    const int n = lookaheadSamples;
    float* const lines = delayLines.get();
    float sum = 0.0f;
    WindowState window = loadWindowState();
    GainState state { gain, attackTarget, settleWeight };

    for (int i = 0; i < numSamples; ++i)
    {
        stepGain (state, pushWindowPeak (window, detectorValue (channels, i)));

        if (++delayWritePos >= ringFrames)
            delayWritePos = 0;

        float frac;
        const int d = stepDelayGlide (smoothedDelay, n, frac);
        int r = delayWritePos - d;
        if (r < 0)
            r += ringFrames;
        const int older = olderEntry (delayWritePos, r, d);

        for (int ch = 0; ch < numChannels; ++ch)
        {
            lines[delayWritePos * kChannels + ch] = finiteOrZero (channels[ch][i]);
            float y =
                (frac * lines[older * kChannels + ch] + (1.0f - frac) * lines[r * kChannels + ch])
                * state.gain;
            if (y > ceiling)
                y = ceiling;
            if (y < -ceiling)
                y = -ceiling;
            channels[ch][i] = y;
            sum += y;
        }
    }

    storeWindowState (window);
    gain = state.gain;
    attackTarget = state.attackTarget;
    settleWeight = state.settleWeight;
    gainReadout.store (sum != 0.0f ? gain : 1.0f, std::memory_order_relaxed);
}

#if ORVALIS_LIMITER_SSE
// The same steps as processEachChannel, with the four channels of a frame in one SSE register.
// Every lane operation is the same IEEE single-precision operation in the same order, and
// min/max are used in the operand order that reproduces the scalar comparisons (NaN included).
void LookaheadLimiter::processFourChannels (float* const* channels, int numSamples) noexcept
{
    assert (numChannels == kChannels);
    const int n = lookaheadSamples;
    const float nAsFloat = static_cast<float> (n);
    const int capacity = ringFrames;
    float* const lines = delayLines.get();
    float* const x[kChannels] = { channels[0], channels[1], channels[2], channels[3] };
    const float limit = ceiling;
    const __m128 upper = _mm_set1_ps (limit);
    const __m128 lower = _mm_set1_ps (-limit);
    const __m128 signMask = _mm_set1_ps (-0.0f);
    const __m128 largestFinite = _mm_set1_ps (std::numeric_limits<float>::max());
    int writePos = delayWritePos;
    float delay = smoothedDelay;
    WindowState window = loadWindowState();
    GainState state { gain, attackTarget, settleWeight };

    // The work is done in chunks, in three passes. Only the second carries state from sample to
    // sample; the first and the third work on four samples or four channels at once.
    constexpr int chunkLength = 64;
    alignas (16) float framePeaks[chunkLength];
    alignas (16) float frameGains[chunkLength];
    alignas (16) float frameFracs[chunkLength];
    int frameDelays[chunkLength];

    for (int start = 0; start < numSamples; start += chunkLength)
    {
        const int count = std::min (chunkLength, numSamples - start);

        // 1. Non-finite samples become 0 (in place: the output overwrites them anyway), and each
        // frame's detector value: the ceiling unless the largest magnitude is greater. With every
        // sample finite the order of the maximum does not matter.
        // Also found: the first frame whose detector value is above the ceiling.
        int firstAbove = count;
        int i = 0;
        for (; i + 4 <= count; i += 4)
        {
            __m128 largest = _mm_setzero_ps();
            for (int ch = 0; ch < kChannels; ++ch)
            {
                float* const p = x[ch] + start + i;
                const __m128 v = _mm_loadu_ps (p);
                const __m128 magnitude = _mm_andnot_ps (signMask, v);
                const __m128 finite = _mm_cmple_ps (magnitude, largestFinite);
                _mm_storeu_ps (p, _mm_and_ps (v, finite));
                largest = _mm_max_ps (largest, _mm_and_ps (magnitude, finite));
            }
            _mm_store_ps (framePeaks + i, _mm_max_ps (upper, largest));
            if (firstAbove == count)
                if (const int above = _mm_movemask_ps (_mm_cmpgt_ps (largest, upper)); above != 0)
                    firstAbove = i + __builtin_ctz (static_cast<unsigned> (above));
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

        // 2. The window peak, the gain law and the delay glide, sample by sample. While the gain
        // rests at exactly 1 with nothing to attack, release or settle, the delay does not glide
        // and the window holds nothing above the ceiling, every frame at the ceiling leaves all of
        // that as it is: the gain law returns 1 and only the window takes the frames in.
        i = 0;
        bool glided = false;
        if (state.gain == 1.0f && state.attackTarget == 1.0f
            && ! (static_cast<double> (state.settleWeight) > 0.0001) && delay == nAsFloat
            && limit > 0.0f && window.currentBlockPeak <= limit && window.otherBlocksPeak <= limit)
        {
            const int run = firstAbove;
            if (run > 0)
            {
                fillWindow (window, limit, run);
                state.settleWeight = 0.0f;
                std::fill_n (frameGains, run, 1.0f);
                std::fill_n (frameDelays, run, n);
                std::fill_n (frameFracs, run, 0.0f);
                i = run;
            }
        }
        for (; i < count; ++i)
        {
            stepGain (state, pushWindowPeak (window, framePeaks[i]));
            frameGains[i] = state.gain;

            // For N >= 1, |smoothedDelay - N| > 1e-9 exactly when the two floats differ.
            int d = n;
            float frac = 0.0f;
            if (delay != nAsFloat)
            {
                glided = true;
                d = stepDelayGlide (delay, n, frac);
            }
            frameDelays[i] = d;
            frameFracs[i] = frac;
        }

        // 3. Delay, interpolation, gain and clamp, a frame of four channels per SSE register; each
        // frame is written to the ring before it is read, as the plain loop does.
        auto outputFrame = [&] (int k, __m128 frame) noexcept
        {
            if (++writePos >= capacity)
                writePos = 0;
            int r = writePos - frameDelays[k];
            if (r < 0)
                r += capacity;
            const int older = olderEntry (writePos, r, frameDelays[k]);

            _mm_storeu_ps (lines + writePos * kChannels, frame);
            const float frac = frameFracs[k];
            const __m128 mixed = _mm_add_ps (
                _mm_mul_ps (_mm_set1_ps (frac), _mm_loadu_ps (lines + older * kChannels)),
                _mm_mul_ps (_mm_set1_ps (1.0f - frac), _mm_loadu_ps (lines + r * kChannels)));
            // (y > ceiling ? ceiling : y), then (y < -ceiling ? -ceiling : y)
            return _mm_max_ps (lower,
                               _mm_min_ps (upper, _mm_mul_ps (mixed, _mm_set1_ps (frameGains[k]))));
        };

        const auto outputChunk = [&] (auto&& output) noexcept
        {
            int k = 0;
            for (; k + 4 <= count; k += 4)
            {
                const int at = start + k;
                __m128 f0 = _mm_loadu_ps (x[0] + at), f1 = _mm_loadu_ps (x[1] + at);
                __m128 f2 = _mm_loadu_ps (x[2] + at), f3 = _mm_loadu_ps (x[3] + at);
                _MM_TRANSPOSE4_PS (f0, f1, f2, f3);
                __m128 y0 = output (k, f0);
                __m128 y1 = output (k + 1, f1);
                __m128 y2 = output (k + 2, f2);
                __m128 y3 = output (k + 3, f3);
                _MM_TRANSPOSE4_PS (y0, y1, y2, y3);
                _mm_storeu_ps (x[0] + at, y0);
                _mm_storeu_ps (x[1] + at, y1);
                _mm_storeu_ps (x[2] + at, y2);
                _mm_storeu_ps (x[3] + at, y3);
            }
            for (; k < count; ++k)
            {
                const int at = start + k;
                alignas (16) float y[kChannels];
                _mm_store_ps (y, output (k, _mm_set_ps (x[3][at], x[2][at], x[1][at], x[0][at])));
                for (int ch = 0; ch < kChannels; ++ch)
                    x[ch][at] = y[ch];
            }
        };

        if (glided)
        {
            outputChunk (outputFrame);
            continue;
        }

        // Every frame of this chunk reads the delay at exactly N: frac * older + (1 - frac) * r is
        // r plus a zero with older's sign (the ring holds finite samples only). Older is the entry
        // read for the frame before, or, at the largest look-ahead, the frame just written (see
        // olderEntry).
        const bool olderIsWritten = n + 1 == delayCapacity;
        __m128 previous = _mm_setzero_ps();
        {
            const int firstWrite = writePos + 1 >= capacity ? 0 : writePos + 1;
            int r = firstWrite - n;
            if (r < 0)
                r += capacity;
            previous = _mm_loadu_ps (lines + (r == 0 ? capacity - 1 : r - 1) * kChannels);
        }
        outputChunk (
            [&] (int k, __m128 frame) noexcept
            {
                if (++writePos >= capacity)
                    writePos = 0;
                int r = writePos - n;
                if (r < 0)
                    r += capacity;
                _mm_storeu_ps (lines + writePos * kChannels, frame);
                const __m128 current = _mm_loadu_ps (lines + r * kChannels);
                const __m128 older = olderIsWritten ? frame : previous;
                previous = current;
                const __m128 mixed = _mm_add_ps (_mm_and_ps (older, signMask), current);
                return _mm_max_ps (
                    lower, _mm_min_ps (upper, _mm_mul_ps (mixed, _mm_set1_ps (frameGains[k]))));
            });
    }

    delayWritePos = writePos;
    smoothedDelay = delay;
    storeWindowState (window);
    gain = state.gain;
    attackTarget = state.attackTarget;
    settleWeight = state.settleWeight;

    // The readout is gain when the outputs' running sum is non-zero, else 1.0: with the gain at
    // exactly 1.0 both give 1.0, so the sum is only needed below 1.
    const float readout = gain == 1.0f || ! outputsSumToZero (channels, numSamples) ? gain : 1.0f;
    gainReadout.store (readout, std::memory_order_relaxed);
}

bool LookaheadLimiter::outputsSumToZero (const float* const* channels, int numSamples) noexcept
{
    // The plain running sum (frame by frame, channel by channel, in single precision) has a
    // rounding error of at most (K - 1) * 2^-24 / (1 - (K - 1) * 2^-24) times the sum of the
    // absolute values, K the number of terms: under 0.00196 for K <= 4 * 8192. A sum in four
    // lanes that is larger than 0.004 times the absolute sum (its own error is under 0.0005)
    // proves the running sum non-zero without forming it.
    if (numSamples <= 8192)
    {
        const __m128 signMask = _mm_set1_ps (-0.0f);
        __m128 total = _mm_setzero_ps(), magnitude = _mm_setzero_ps();
        float tailTotal = 0.0f, tailMagnitude = 0.0f;
        const int vectorEnd = numSamples & ~3;
        for (int ch = 0; ch < kChannels; ++ch)
        {
            const float* x = channels[ch];
            for (int i = 0; i < vectorEnd; i += 4)
            {
                const __m128 y = _mm_loadu_ps (x + i);
                total = _mm_add_ps (total, y);
                magnitude = _mm_add_ps (magnitude, _mm_andnot_ps (signMask, y));
            }
            for (int i = vectorEnd; i < numSamples; ++i)
            {
                tailTotal += x[i];
                tailMagnitude += std::abs (x[i]);
            }
        }
        alignas (16) float t[4], m[4];
        _mm_store_ps (t, total);
        _mm_store_ps (m, magnitude);
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
#endif

// True-peak mode: the steps of processFourChannels with the interpolator's peaks as detector values
// and the delay longer by the interpolator's delay. Each frame's four channel peaks also go into
// truePeakRing beside the frame, so that the output's true peaks can be read with the frame.
void LookaheadLimiter::processTruePeak (float* const* channels, int numSamples) noexcept
{
    using lanes::Lanes;
    const int n = lookaheadSamples;
    const int target = delayTarget();
    const float targetAsFloat = static_cast<float> (target);
    const int capacity = ringFrames;
    float* const lines = delayLines.get();
    float* const peaksRing = truePeakRing;
    float* const x[kChannels] = { channels[0], channels[1], channels[2], channels[3] };
    const float limit = ceiling;
    const Lanes upper = lanes::splat (limit), lower = lanes::splat (-limit);
    const Lanes headroom = lanes::splat (truePeakHeadroom);
    int writePos = delayWritePos;
    float delay = smoothedDelay;
    WindowState window = loadWindowState();
    GainState state { gain, attackTarget, settleWeight };
    Lanes outputPeaks = lanes::splat (0.0f);

    constexpr int chunkLength = TruePeakInterpolator::maxFramesPerCall;
    alignas (16) float frames[chunkLength * kChannels];
    alignas (16) float channelPeaks[chunkLength * kChannels];
    alignas (16) float framePeaks[chunkLength];
    float frameGains[chunkLength];
    float frameFracs[chunkLength];
    int frameDelays[chunkLength];

    for (int start = 0; start < numSamples; start += chunkLength)
    {
        const int count = std::min (chunkLength, numSamples - start);

        // 1. Non-finite samples become 0 (in place: the output overwrites them anyway) and the
        // frames are laid side by side for the interpolator; then the detector values: the
        // ceiling unless the largest channel peak, with the headroom, is greater.
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
            const float v = (a > b ? a : b) * truePeakHeadroom;
            framePeaks[i] = v > limit ? v : limit;
        }

        // 2. The window peak, the gain law and the delay glide, sample by sample.
        for (i = 0; i < count; ++i)
        {
            stepGain (state, pushWindowPeak (window, framePeaks[i]));
            frameGains[i] = state.gain;

            int d = target;
            float frac = 0.0f;
            if (delay != targetAsFloat)
            {
                d = stepDelayGlide (delay, target, frac);
            }
            frameDelays[i] = d;
            frameFracs[i] = frac;
        }

        // 3. Delay, interpolation, gain and clamp, a frame at a time; the peaks found for the frame
        // that leaves the look-ahead now, N frames back, times its gain, are its true peaks.
        auto outputFrame = [&] (int k) noexcept
        {
            if (++writePos >= capacity)
                writePos = 0;
            int r = writePos - frameDelays[k];
            if (r < 0)
                r += capacity;
            // The frame before r itself: this mode has no earlier ring length to keep to.
            const int older = r == 0 ? capacity - 1 : r - 1;
            int leaving = writePos - n;
            if (leaving < 0)
                leaving += capacity;

            lanes::store (lines + writePos * kChannels, lanes::load (frames + k * kChannels));
            lanes::store (peaksRing + writePos * kChannels,
                          lanes::load (channelPeaks + k * kChannels));
            const float frac = frameFracs[k];
            const Lanes g = lanes::splat (frameGains[k]);
            const Lanes mixed = lanes::splat (frac) * lanes::load (lines + older * kChannels)
                                + lanes::splat (1.0f - frac) * lanes::load (lines + r * kChannels);
            outputPeaks =
                lanes::larger (outputPeaks, lanes::load (peaksRing + leaving * kChannels) * g);
            // (y > ceiling ? ceiling : y), then (y < -ceiling ? -ceiling : y)
            return lanes::larger (lower, lanes::smaller (upper, mixed * g));
        };

        for (i = 0; i + 4 <= count; i += 4)
        {
            Lanes y[4];
            for (int k = 0; k < 4; ++k)
                y[k] = outputFrame (i + k);
            lanes::transpose (y[0], y[1], y[2], y[3]);
            for (int ch = 0; ch < kChannels; ++ch)
                lanes::store (x[ch] + start + i, y[ch]);
        }
        for (; i < count; ++i)
        {
            alignas (16) float y[kChannels];
            lanes::store (y, outputFrame (i));
            for (int ch = 0; ch < kChannels; ++ch)
                x[ch][start + i] = y[ch];
        }
    }

    delayWritePos = writePos;
    smoothedDelay = delay;
    storeWindowState (window);
    gain = state.gain;
    attackTarget = state.attackTarget;
    settleWeight = state.settleWeight;
    lanes::store (outputTruePeaks, outputPeaks);

#if ORVALIS_LIMITER_SSE
    const bool silent = gain != 1.0f && outputsSumToZero (channels, numSamples);
#else
    float sum = 0.0f;
    for (int k = 0; k < numSamples; ++k)
        for (int ch = 0; ch < kChannels; ++ch)
            sum += channels[ch][k];
    const bool silent = sum == 0.0f;
#endif
    gainReadout.store (silent ? 1.0f : gain, std::memory_order_relaxed);
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

int LookaheadLimiter::processWithoutDelay (float* const* channels, int numSamples) noexcept
{
    // After a refused rate whose look-ahead is under one sample: no delay, the window is the
    // current sample, and the gain law and the clamp run as usual.
    float sum = 0.0f;
    GainState state { gain, attackTarget, settleWeight };

    for (int i = 0; i < numSamples; ++i)
    {
        stepGain (state, detectorValue (channels, i));

        for (int ch = 0; ch < numChannels; ++ch)
        {
            float y = finiteOrZero (channels[ch][i]) * state.gain;
            if (y > ceiling)
                y = ceiling;
            if (y < -ceiling)
                y = -ceiling;
            channels[ch][i] = y;
            sum += y;
        }
    }

    gain = state.gain;
    attackTarget = state.attackTarget;
    settleWeight = state.settleWeight;
    gainReadout.store (sum != 0.0f ? gain : 1.0f, std::memory_order_relaxed);
    return kOk;
}
