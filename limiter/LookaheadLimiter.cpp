#include "limiter/LookaheadLimiter.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <new>

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
    delayLines.reset (new (std::nothrow) std::unique_ptr<float[]>[kChannels]);

    bool complete = peakRing && blockPeaks && blockPeakPos && delayLines;
    for (int ch = 0; complete && ch < kChannels; ++ch)
    {
        auto& line = delayLines[static_cast<size_t> (ch)];
        line.reset (new (std::nothrow) float[static_cast<size_t> (delayCapacity)]());
        complete = line != nullptr;
    }

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
    for (int ch = 0; ch < maxChannels; ++ch)
        std::fill_n (delayLine (ch), delayCapacity, 0.0f);
    return kOk;
}

float LookaheadLimiter::pushWindowPeak (float v) noexcept
{
    const int window = lookaheadSamples + 1;
    const int b = blockLength;
    const int m = numBlocks;
    float* const ring = peakRing.get();
    float* const peaks = blockPeaks.get();
    int* const peakPos = blockPeakPos.get();

    ring[ringPos] = v;

    if (peakPos[blockIndex] == ringPos)
    {
        // The entry just overwritten held this block's peak: find the block's new peak.
        currentBlockPeak = ring[blockStart];
        peakPos[blockIndex] = blockStart;
        for (int j = 1; j < b; ++j)
        {
            if (ring[blockStart + j] > currentBlockPeak)
            {
                currentBlockPeak = ring[blockStart + j];
                peakPos[blockIndex] = blockStart + j;
            }
        }
    }
    else if (v > currentBlockPeak)
    {
        currentBlockPeak = v;
        peakPos[blockIndex] = ringPos;
    }

    const float windowPeak =
        currentBlockPeak > otherBlocksPeak ? currentBlockPeak : otherBlocksPeak;

    ++blockFill;
    ++ringPos;

    if (blockFill >= b || ringPos >= window)
    {
        blockFill = 0;
        const int k = blockIndex;
        peaks[k] = currentBlockPeak;
        const float p = peaks[k];
        blockIndex = k + 1 >= m ? 0 : k + 1;
        // The next block's entries stay in the window until overwritten, so it starts from
        // the peak it had on the previous pass.
        currentBlockPeak = peaks[blockIndex];
        peaks[blockIndex] = 0.0f;

        if (otherBlocksPeakBlock == k || otherBlocksPeakBlock == blockIndex)
        {
            otherBlocksPeak = 0.0f;
            for (int j = 0; j < m; ++j)
            {
                if (peaks[j] > otherBlocksPeak)
                {
                    otherBlocksPeak = peaks[j];
                    otherBlocksPeakBlock = j;
                }
            }
        }
        else if (p > otherBlocksPeak)
        {
            otherBlocksPeak = p;
            otherBlocksPeakBlock = k;
        }

        blockStart += b;
    }

    if (ringPos >= window)
    {
        ringPos = 0;
        blockStart = 0;
    }

    return windowPeak;
}

inline void LookaheadLimiter::stepGain (float windowPeak) noexcept
{
    const float target = windowPeak > ceiling ? ceiling / windowPeak : 1.0f;

    if (gain > target)
    {
        // Pre-compensated so that N + 1 attack steps from here end exactly at the target.
        const float candidate = (target - 0.1f * gain) * 1.1111112f;
        if (! (attackTarget < candidate))
            attackTarget = candidate;
    }
    else
    {
        attackTarget = target;
    }

    float releaseStep;
    if (static_cast<double> (settleWeight) > 0.0001)
    {
        settleWeight = settleWeight * settleCoeff;
        releaseStep = settleCoeff;
    }
    else
    {
        settleWeight = 0.0f;
        releaseStep = releaseCoeff;
    }

    if (gain > attackTarget)
    {
        gain = attackTarget + (gain - attackTarget) * attackCoeff;
        // The gain never falls below the current target.
        if (target > gain)
            gain = target;
    }
    else
    {
        gain = attackTarget + (gain - attackTarget) * releaseStep;
    }
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

    const int n = lookaheadSamples;
    const float nAsFloat = static_cast<float> (n);
    float sum = 0.0f;

    for (int i = 0; i < numSamples; ++i)
    {
        // Peak window
        float v = ceiling;
        for (int ch = 0; ch < numChannels; ++ch)
        {
            const float a = std::abs (channels[ch][i]);
            if (! (v > a))
                v = a;
        }
        const float windowPeak = pushWindowPeak (v);
        stepGain (windowPeak);

        // Delay and output
        if (++delayWritePos >= delayCapacity)
            delayWritePos = 0;

        if (std::abs (static_cast<double> (smoothedDelay) - static_cast<double> (n)) > 1e-9)
            smoothedDelay = static_cast<float> (static_cast<double> (smoothedDelay) * 0.9999
                                                + static_cast<double> (n) * 0.0001);
        else
            smoothedDelay = nAsFloat;

        const int d = static_cast<int> (std::floor (smoothedDelay));
        const float frac = smoothedDelay - static_cast<float> (d);
        int r = delayWritePos - d;
        if (r < 0)
            r += delayCapacity;
        const int older = r == 0 ? delayCapacity - 1 : r - 1;

        for (int ch = 0; ch < numChannels; ++ch)
        {
            float* const line = delayLine (ch);
            line[delayWritePos] = channels[ch][i];
            float y = (frac * line[older] + (1.0f - frac) * line[r]) * gain;
            if (y > ceiling)
                y = ceiling;
            if (y < -ceiling)
                y = -ceiling;
            channels[ch][i] = y;
            sum += y;
        }
    }

    gainReadout.store (sum != 0.0f ? gain : 1.0f, std::memory_order_relaxed);
    return kOk;
}

int LookaheadLimiter::processWithoutDelay (float* const* channels, int numSamples) noexcept
{
    // After a refused rate whose look-ahead is under one sample: no delay, the window is the
    // current sample, and the gain law and the clamp run as usual.
    float sum = 0.0f;

    for (int i = 0; i < numSamples; ++i)
    {
        float v = ceiling;
        for (int ch = 0; ch < numChannels; ++ch)
        {
            const float a = std::abs (channels[ch][i]);
            if (! (v > a))
                v = a;
        }

        stepGain (v);

        for (int ch = 0; ch < numChannels; ++ch)
        {
            float y = channels[ch][i] * gain;
            if (y > ceiling)
                y = ceiling;
            if (y < -ceiling)
                y = -ceiling;
            channels[ch][i] = y;
            sum += y;
        }
    }

    gainReadout.store (sum != 0.0f ? gain : 1.0f, std::memory_order_relaxed);
    return kOk;
}
