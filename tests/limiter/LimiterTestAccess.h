#pragma once

#include "limiter/LookaheadLimiter.h"

/** The engine's test hooks, one definition for every test file of the engine. */
struct LookaheadLimiterTestAccess
{
    // The plain per-channel loop, the reference for the vector loop.
    static void
    processEachChannel (LookaheadLimiter& limiter, float* const* channels, int numSamples)
    {
        if (numSamples > 0 && limiter.getLookaheadSamples() > 0)
            limiter.processEachChannel (channels, numSamples);
        else
            limiter.process (channels, numSamples);
    }

    // The per-channel passes of the baseline processor, whatever this one runs.
    static void useBaselineLanes (LookaheadLimiter& limiter)
    {
        limiter.lanePasses = &channelPasses::baseline();
    }
};
