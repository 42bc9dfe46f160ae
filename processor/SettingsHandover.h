#pragma once

#include "limiter/LookaheadLimiter.h"

#include <atomic>
#include <cstdint>

/**
    Limiter settings on their way from the threads that set them (host, window, state restore) to
    the audio thread, which alone changes the limiter.

    Setters store atomics and may run on any thread at any time; applyTo, on the audio thread (or
    while no block runs), gives the limiter every change made since the last call, in an order that
    gives exactly the limiter that applying each change at once would have given. In particular a
    look-ahead change starts the limiter's settle phase when the release in force at the moment of
    the change was short, whatever the release is by the time the audio thread takes it over.
*/
class SettingsHandover
{
public:
    /** Takes the limiter's release and ceiling as the values in force; nothing is pending. */
    void startFrom (const LookaheadLimiter& limiter) noexcept;

    /** A new look-ahead in ms; one above maxLookaheadMs is refused (the limiter would refuse it). */
    void requestLookaheadMs (float ms, float maxLookaheadMs) noexcept;
    void requestReleaseMs (float ms) noexcept;
    void requestCeiling (float linear) noexcept;
    /** Returns whether the mode changes. */
    bool requestTruePeak (bool on) noexcept;

    /** The peak mode as last requested: what the limiter runs or will run from the next block. */
    bool isTruePeakRequested() const noexcept { return truePeak.load (std::memory_order_relaxed); }

    /** Hands every pending change to the limiter. */
    void applyTo (LookaheadLimiter& limiter) noexcept;

private:
    // A look-ahead change packs the requested ms (low 32 bits), whether any change since the last
    // hand-over was made while the release in force was short enough to start the limiter's
    // settle phase, and a pending flag into one word.
    static constexpr std::uint64_t pendingBit = std::uint64_t { 1 } << 33;
    static constexpr std::uint64_t settleBit = std::uint64_t { 1 } << 32;

    std::atomic<std::uint64_t> lookahead { 0 };
    std::atomic<float> releaseMs { 0.0f }; // what the limiter's release is or will be
    std::atomic<float> ceiling { 0.0f };
    std::atomic<bool> truePeak { false };

    static_assert (std::atomic<float>::is_always_lock_free);
    static_assert (std::atomic<bool>::is_always_lock_free);
    static_assert (std::atomic<std::uint64_t>::is_always_lock_free);
};
