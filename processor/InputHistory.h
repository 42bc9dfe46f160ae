#pragma once

#include <memory>

/**
    The most recent input frames of each channel exactly as the host handed them over: the delay
    line of the time-keeping bypass.

    Holds up to `capacity` frames (more than the 7680 samples of the largest look-ahead) of up to
    maxChannels channels, allocated once in the constructor. Nothing else allocates, locks or calls
    the system.
*/
class InputHistory
{
public:
    static constexpr int capacity = 8192;

    explicit InputHistory (int maxChannels);

    /** Forgets every stored frame: what is read back afterwards starts with silence. */
    void clear() noexcept;
    /** Keeps numChannels channels from now on (1 to maxChannels) and forgets every stored frame. */
    void setNumChannels (int numChannels) noexcept;
    int getNumChannels() const noexcept { return numChannels; }

    /** Stores a block without reading anything back; only the frames a later delay of
        delaySamples can still reach are copied. */
    void record (const float* const* channels, int numSamples, int delaySamples) noexcept;

    /** Stores a block and writes it delayed by delaySamples into out, which may be the input. */
    void
    delay (const float* const* in, float* const* out, int numSamples, int delaySamples) noexcept;

private:
    static void copyIntoRing (float* line, int pos, const float* source, int count) noexcept;
    static void copyOutOfRing (const float* line, int pos, float* destination, int count) noexcept;

    static constexpr int mask = capacity - 1;
    static_assert ((capacity & mask) == 0, "the ring is indexed with a mask");

    int maxChannels;
    int numChannels;
    std::unique_ptr<float[]> ring; // channel ch at ch * capacity
    int writePos = 0;              // where the next frame goes
};
