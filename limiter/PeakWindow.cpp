#include "limiter/PeakWindow.h"

#include <cassert>
#include <cmath>
#include <new>

namespace
{
void layoutFor (int size, int& blockLength, int& numBlocks) noexcept
{
    blockLength = static_cast<int> (std::sqrt (static_cast<float> (size)));
    numBlocks = size / blockLength;
    if (blockLength * numBlocks < size)
        ++numBlocks;
}
} // namespace

PeakWindow::PeakWindow (int maxSize) : size (std::max (maxSize, 1))
{
    layoutFor (size, blockLength, numBlocks);
    ringCapacity = blockLength * numBlocks;
    maxNumBlocks = numBlocks;
    ring.reset (new (std::nothrow) float[static_cast<size_t> (ringCapacity)]());
    blockPeaks.reset (new (std::nothrow) float[static_cast<size_t> (numBlocks)]());
    blockPeakPos.reset (new (std::nothrow) int[static_cast<size_t> (numBlocks)]());
    if (! (ring && blockPeaks && blockPeakPos))
    {
        ring.reset();
        blockPeaks.reset();
        blockPeakPos.reset();
        return;
    }
    clear();
}

PeakWindow::~PeakWindow() = default;

void PeakWindow::setSize (int numValues) noexcept
{
    size = numValues;
    layoutFor (size, blockLength, numBlocks);
    assert (blockLength * numBlocks <= ringCapacity && numBlocks <= maxNumBlocks);
    clear();
}

void PeakWindow::clear() noexcept
{
    std::fill_n (ring.get(), blockLength * numBlocks, 0.0f);
    std::fill_n (blockPeaks.get(), numBlocks, 0.0f);
    std::fill_n (blockPeakPos.get(), numBlocks, 0);
    state = Cursor {};
    state.blockEnd = std::min (blockLength, size);
}

int PeakWindow::firstLargest (const float* p, int count) noexcept
{
    if (! (p[0] == p[0]))
        return 0;
    // larger (v, m) is v > m ? v : m in every lane, so NaN values leave m as it is.
    lanes::Lanes m = lanes::splat (p[0]);
    int j = 0;
    for (; j + 4 <= count; j += 4)
        m = lanes::larger (lanes::load (p + j), m);
    float l[4];
    lanes::store (l, m);
    float largest = l[0];
    for (int k = 1; k < 4; ++k)
        largest = l[k] > largest ? l[k] : largest;
    for (; j < count; ++j)
        largest = p[j] > largest ? p[j] : largest;
    int pos = 0;
    while (! (p[pos] == largest))
        ++pos;
    return pos;
}

float PeakWindow::push (float v) noexcept
{
    Cursor c = begin();
    const float peak = push (c, v);
    end (c);
    return peak;
}
