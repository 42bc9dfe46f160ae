#include "processor/SettingsHandover.h"

#include <cstring>

namespace
{
std::uint32_t bitsOf (float value) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, sizeof bits);
    return bits;
}

float floatFrom (std::uint32_t bits) noexcept
{
    float value;
    std::memcpy (&value, &bits, sizeof value);
    return value;
}
} // namespace

void SettingsHandover::startFrom (const LookaheadLimiter& limiter) noexcept
{
    lookahead.store (0, std::memory_order_relaxed);
    releaseMs.store (limiter.getReleaseMs(), std::memory_order_relaxed);
    ceiling.store (limiter.getCeiling(), std::memory_order_relaxed);
}

void SettingsHandover::requestLookaheadMs (float ms, float maxLookaheadMs) noexcept
{
    if (ms > maxLookaheadMs)
        return;

    // Decided now, from the release in force at this moment, as the limiter would decide it.
    const bool settle =
        releaseMs.load (std::memory_order_relaxed) < LookaheadLimiter::settleReleaseLimitMs;

    auto expected = lookahead.load (std::memory_order_relaxed);
    for (;;)
    {
        const bool settleEarlier = (expected & pendingBit) != 0 && (expected & settleBit) != 0;
        const auto desired =
            std::uint64_t { bitsOf (ms) } | pendingBit | (settle || settleEarlier ? settleBit : 0);
        // Release: the audio thread that takes this word also sees the release stored before it.
        if (lookahead.compare_exchange_weak (
                expected, desired, std::memory_order_release, std::memory_order_relaxed))
            break;
    }
}

void SettingsHandover::requestReleaseMs (float ms) noexcept
{
    releaseMs.store (ms, std::memory_order_relaxed);
}

void SettingsHandover::requestCeiling (float linear) noexcept
{
    ceiling.store (linear, std::memory_order_relaxed);
}

bool SettingsHandover::requestTruePeak (bool on) noexcept
{
    return truePeak.exchange (on, std::memory_order_relaxed) != on;
}

void SettingsHandover::applyTo (LookaheadLimiter& limiter) noexcept
{
    const auto pending = lookahead.exchange (0, std::memory_order_acquire);
    const float release = releaseMs.load (std::memory_order_relaxed);

    if ((pending & pendingBit) != 0)
    {
        // setLookaheadMs starts the settle phase from the release it finds, so give it one on the
        // side the host's release was on when the change was made; the real release follows.
        limiter.setReleaseMs ((pending & settleBit) != 0 ? 0.0f
                                                         : LookaheadLimiter::settleReleaseLimitMs);
        limiter.setLookaheadMs (floatFrom (static_cast<std::uint32_t> (pending)));
        limiter.setReleaseMs (release);
    }
    else if (bitsOf (limiter.getReleaseMs()) != bitsOf (release))
    {
        limiter.setReleaseMs (release);
    }

    limiter.setCeiling (ceiling.load (std::memory_order_relaxed));

    // After the release is in force: like a look-ahead change, the switch starts the limiter's
    // settle phase when the release is short.
    const bool on = truePeak.load (std::memory_order_relaxed);
    if (on != limiter.isTruePeak())
        limiter.setTruePeak (on);
}
