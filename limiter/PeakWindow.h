#pragma once

#include "limiter/Lanes.h"

#include <algorithm>
#include <memory>

/**
    The largest of the last values pushed (a sliding-window maximum): the limiter's peak detector.
    Values must be 0 or more and not NaN, as the detector's are; an empty window holds zeros.

    The ring of the window's entries is cut into M blocks of B entries, B = trunc(sqrt(size)) and
    M = ceil(size / B), the last block shorter when B does not divide the size. The window keeps
    each block's peak and the largest of the other blocks' peaks; a push rescans the current block
    only when it overwrites the entry holding that block's peak, and the block peaks only when a
    block completes while it or the next one holds the largest of them. So a push costs O(1) mostly
    and O(sqrt(size)) at worst.

    The buffers are allocated in the constructor for the largest size; no other method allocates.
    A pass over many values keeps the running state in a Cursor, a local copy that the caller's
    loop can hold in registers (stores to audio buffers could otherwise alias it).
*/
class PeakWindow
{
public:
    /** The running state of a pass: taken with begin(), advanced by push and fill, and put back
        with end(). */
    struct Cursor
    {
        int ringPos;              // the next entry to write
        int blockIndex;           // its block
        int blockStart;           // that block's first entry
        int blockEnd;             // one past its last: min(blockStart + B, size)
        int currentBlockPeakPos;  // where the current block's peak is
        int otherBlocksPeakBlock; // the block holding otherBlocksPeak
        float currentBlockPeak;   // the current block's peak (old and new entries)
        float otherBlocksPeak;    // the largest peak of the other blocks as last completed
    };

    /** Allocates for windows of up to maxSize values and sets the size to maxSize; isAllocated()
        is false when the allocation fails. */
    explicit PeakWindow (int maxSize);
    ~PeakWindow();

    PeakWindow (const PeakWindow&) = delete;
    PeakWindow& operator= (const PeakWindow&) = delete;

    /** False when the constructor could not allocate; such a window must not be used. */
    bool isAllocated() const noexcept { return ring != nullptr; }

    /** Sets how many of the last values the window holds (1 to the constructor's maxSize) and
        clears it. */
    void setSize (int numValues) noexcept;
    /** Clears the window: it holds zeros. */
    void clear() noexcept;

    /** The window's state, to start a pass. */
    Cursor begin() const noexcept { return state; }
    /** Keeps the state a pass ends with. */
    void end (const Cursor& cursor) noexcept { state = cursor; }
    /** True when no value in the window, as the cursor has it, is above v. */
    static bool nothingAbove (const Cursor& c, float v) noexcept
    {
        return c.currentBlockPeak <= v && c.otherBlocksPeak <= v;
    }

    /** Takes v into the window in place of the oldest value and returns the largest it holds. */
    [[gnu::always_inline]] inline float push (Cursor& c, float v) noexcept;
    /** Takes count values v into the window; only while nothing in it is above v (nothingAbove). */
    inline void fill (Cursor& c, float v, int count) noexcept;
    /** The push of one value outside a pass. */
    float push (float v) noexcept;

private:
    [[gnu::always_inline]] inline void completeBlock (Cursor& c) noexcept;
    /** Blocks at least this long are scanned by firstLargest. */
    static constexpr int longBlock = 32;
    /** Where the first of count values from p that no later one is above is, as a scan keeping
        the first value above all before it finds it: a NaN first value, else the first of the
        largest of the values that are not NaN. The largest value is taken first, four values at a
        time (no comparison order changes its value), and then looked for. */
    static int firstLargest (const float* p, int count) noexcept;

    // The ring (size entries in use, in blocks of B), each block's peak as last completed (0 for
    // the current block) and where in the ring each block's peak is.
    std::unique_ptr<float[]> ring;
    std::unique_ptr<float[]> blockPeaks;
    std::unique_ptr<int[]> blockPeakPos;
    int size = 1;
    int blockLength = 1;
    int numBlocks = 1;
    int ringCapacity = 0; // B * M of the largest size: the allocation
    int maxNumBlocks = 0;
    Cursor state {};
};

// The hot path of a push is inline, so that the engine's loops keep the cursor in registers.
// The entries of the current block before ringPos are this pass's, so "the block is full or the
// window is" is "ringPos >= blockEnd"; the ring can wrap only when a block completes.
inline float PeakWindow::push (Cursor& c, float v) noexcept
{
    float* const entries = ring.get();
    int* const peakPos = blockPeakPos.get();
    entries[c.ringPos] = v;

    if (c.currentBlockPeakPos == c.ringPos)
    {
        // The entry just overwritten held this block's peak: find the block's new peak, the
        // first entry above all before it (long blocks: see firstLargest).
        float peak = entries[c.blockStart];
        int pos = c.blockStart;
        if (blockLength >= longBlock)
        {
            pos = firstLargest (entries + pos, blockLength) + pos;
            peak = entries[pos];
        }
        else
            for (int j = c.blockStart + 1; j < c.blockStart + blockLength; ++j)
            {
                if (entries[j] > peak)
                {
                    peak = entries[j];
                    pos = j;
                }
            }
        c.currentBlockPeak = peak;
        c.currentBlockPeakPos = peakPos[c.blockIndex] = pos;
    }
    else if (v > c.currentBlockPeak)
    {
        c.currentBlockPeak = v;
        c.currentBlockPeakPos = peakPos[c.blockIndex] = c.ringPos;
    }

    const float largest =
        c.currentBlockPeak > c.otherBlocksPeak ? c.currentBlockPeak : c.otherBlocksPeak;

    if (++c.ringPos >= c.blockEnd)
        completeBlock (c);

    return largest;
}

inline void PeakWindow::completeBlock (Cursor& c) noexcept
{
    float* const peaks = blockPeaks.get();
    int* const peakPos = blockPeakPos.get();
    const int k = c.blockIndex;
    const float p = c.currentBlockPeak;
    peaks[k] = p;
    c.blockIndex = k + 1 >= numBlocks ? 0 : k + 1;
    // The next block's entries stay in the window until overwritten, so it starts from the peak
    // it had on the previous pass.
    c.currentBlockPeak = peaks[c.blockIndex];
    c.currentBlockPeakPos = peakPos[c.blockIndex];
    peaks[c.blockIndex] = 0.0f;

    if (c.otherBlocksPeakBlock == k || c.otherBlocksPeakBlock == c.blockIndex)
    {
        float peak = 0.0f;
        int block = c.otherBlocksPeakBlock;
        for (int j = 0; j < numBlocks; ++j)
        {
            if (peaks[j] > peak)
            {
                peak = peaks[j];
                block = j;
            }
        }
        c.otherBlocksPeak = peak;
        c.otherBlocksPeakBlock = block;
    }
    else if (p > c.otherBlocksPeak)
    {
        c.otherBlocksPeak = p;
        c.otherBlocksPeakBlock = k;
    }

    c.blockStart += blockLength;
    if (c.ringPos >= size)
        c.ringPos = c.blockStart = 0;
    c.blockEnd = std::min (c.blockStart + blockLength, size);
}

inline void PeakWindow::fill (Cursor& c, float v, int count) noexcept
{
    int* const peakPos = blockPeakPos.get();
    while (count > 0)
    {
        const int k = std::min (count, c.blockEnd - c.ringPos);
        std::fill_n (ring.get() + c.ringPos, k, v);
        // Nothing in the block is above v, and v is now at its last written entry. Which of equal
        // entries holds the peak only decides when the block is scanned again, not what is found.
        c.currentBlockPeak = v;
        c.currentBlockPeakPos = peakPos[c.blockIndex] = c.ringPos + k - 1;
        c.ringPos += k;
        count -= k;
        if (c.ringPos >= c.blockEnd)
            completeBlock (c);
    }
}
