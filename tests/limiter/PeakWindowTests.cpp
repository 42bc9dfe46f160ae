#include "limiter/PeakWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

namespace
{
// The window against a brute-force maximum of the last size values, over long random input of
// every shape the detector sees: noise, falling ramps (every overwritten entry is its block's
// peak: the rescan path), rising ramps, constant runs, sparse spikes, and runs taken in by fill
// where nothing in the window is above them.
void checkAgainstBruteForce (PeakWindow& window, int size, size_t length, unsigned seed)
{
    window.setSize (size);
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    std::uniform_int_distribution<int> shapeOf (0, 5), runOf (1, 3 * size);
    std::deque<float> last (static_cast<size_t> (size), 0.0f);

    size_t i = 0;
    while (i < length)
    {
        const int shape = shapeOf (rng);
        const int runLength = std::min (runOf (rng), static_cast<int> (length - i));
        float value = unit (rng);
        const float largest = *std::max_element (last.begin(), last.end());
        if (shape == 5 && largest <= value + 0.5f)
        {
            value += 0.5f;
            PeakWindow::Cursor cursor = window.begin();
            window.fill (cursor, value, runLength);
            window.end (cursor);
            for (int k = 0; k < runLength; ++k)
            {
                last.pop_front();
                last.push_back (value);
            }
            i += static_cast<size_t> (runLength);
            continue;
        }
        for (int k = 0; k < runLength; ++k, ++i)
        {
            switch (shape)
            {
                case 0:
                    value = unit (rng);
                    break;
                case 1:
                    value = std::max (0.0f, value - 0.001f);
                    break;
                case 2:
                    value = std::min (1.0f, value + 0.001f);
                    break;
                case 3:
                    break;
                default:
                    value = (k % 7 == 0) ? unit (rng) * 4.0f : 0.0f;
                    break;
            }
            last.pop_front();
            last.push_back (value);
            const float expected = *std::max_element (last.begin(), last.end());
            ASSERT_EQ (window.push (value), expected) << "size " << size << ", value " << i;
        }
    }
}
} // namespace

TEST (PeakWindow, MatchesBruteForceAtEverySmallSize)
{
    PeakWindow window (1000);
    ASSERT_TRUE (window.isAllocated());
    for (int size = 1; size <= 301; ++size)
        checkAgainstBruteForce (window,
                                size,
                                static_cast<size_t> (12 * size + 500),
                                1000u + static_cast<unsigned> (size));
}

// Where the block length changes (size = k * k), and where a last block is one entry short or
// holds a single entry (k * k - 1, k * (k + 1) + 1), up to the largest size; from the largest
// down, so that a shorter last block has entries of a larger size beyond its end.
TEST (PeakWindow, MatchesBruteForceWhereTheBlockLayoutChanges)
{
    PeakWindow window (7681);
    ASSERT_TRUE (window.isAllocated());
    for (int size : { 7681, 7570, 7569, 1025, 1024 })
        checkAgainstBruteForce (window, size, static_cast<size_t> (4 * size), 78u);
    for (int k : { 31, 23, 18 })
        for (int size : { k * (k + 1) + 1, k * (k + 1), k * k + 1, k * k, k * k - 1 })
            checkAgainstBruteForce (window, size, static_cast<size_t> (8 * size), 77u);
}

// A value stays exactly size pushes, across the ring's wrap, at every size the allocation takes;
// a smaller size after a larger one starts empty.
TEST (PeakWindow, HoldsAValueForExactlyItsSizeAtEverySize)
{
    PeakWindow window (7681);
    ASSERT_TRUE (window.isAllocated());
    for (int size = 7681; size >= 1; --size)
    {
        window.setSize (size);
        for (int k = 0; k < size / 2; ++k)
            ASSERT_EQ (window.push (0.0f), 0.0f) << size;
        int held = window.push (1.0f) == 1.0f ? 1 : 0;
        for (int k = 0; k < size; ++k)
            held += window.push (0.0f) == 1.0f ? 1 : 0;
        ASSERT_EQ (held, size);
        window.push (3.0f); // left in the window: setSize must clear it
    }
}
