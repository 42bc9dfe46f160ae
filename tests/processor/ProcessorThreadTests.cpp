// Host calls from other threads while the audio thread processes. Run under ThreadSanitizer by
// scripts/tsan.sh; in the normal build it still checks that the audio stays sound throughout.

#include "ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

using namespace hostCalls;

TEST (ProcessorThreads, ParameterAndStateCallsWhileAudioRuns)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 256);

    std::atomic<bool> stop { false };
    std::atomic<int> parameterCalls { 0 };
    std::atomic<int> stateCalls { 0 };

    // A host automating parameters, and the window polling what it shows.
    std::thread automation (
        [&]
        {
            std::mt19937 rng (11);
            std::uniform_real_distribution<float> value (-0.1f, 1.2f);
            float shown = 0.0f;
            while (! stop.load())
            {
                setParameter (*p, static_cast<int> (rng() % 5), value (rng));
                for (int slot = 0; slot < CorvaneAudioProcessor::numMeters; ++slot)
                    shown +=
                        p->meterLevels[static_cast<size_t> (slot)].load (std::memory_order_relaxed);
                shown += p->limiter->getGainReductionDb();
                if (p->uiRefreshNeeded.exchange (false))
                    shown += getParameter (*p, static_cast<int> (rng() % 4))
                             + static_cast<float> (p->idxInputConfig.load());
                parameterCalls.fetch_add (1);
            }
            EXPECT_FALSE (std::isnan (shown));
        });

    // A host saving and restoring the project.
    std::thread project (
        [&]
        {
            std::mt19937 rng (12);
            std::uniform_real_distribution<float> value (0.0f, 1.0f);
            while (! stop.load())
            {
                const auto saved = saveState (*p);
                loadState (
                    *p,
                    makeStateBlock ("<Root><Gain>" + juce::String (value (rng)) + "</Gain><Attack>"
                                    + juce::String (value (rng)) + "</Attack><Release>"
                                    + juce::String (value (rng)) + "</Release><Threshold>"
                                    + juce::String (value (rng)) + "</Threshold><idxInputConfig>"
                                    + juce::String (rng() % 2) + "</idxInputConfig></Root>"));
                loadState (*p, saved);
                p->idxInputConfig.store (static_cast<int> (rng() % 2));
                stateCalls.fetch_add (1);
            }
        });

    // The audio thread: the output never exceeds the highest ceiling, +10 dB, except on the way
    // back from a bypass (the bypassed input is heard until the limiter's 40 ms at most and the
    // fade have passed).
    juce::AudioBuffer<float> buffer (4, 256);
    std::thread audio (
        [&]
        {
            const int comingBack = 1920 + p->getBypassFadeSamples();
            for (int block = 0; block < 3000; ++block)
            {
                fillNoise (buffer, static_cast<std::uint32_t> (block), 4.0f);
                process (*p, buffer);
                if ((block % 100) * 256 >= comingBack)
                {
                    for (int ch = 0; ch < 4; ++ch)
                        for (int i = 0; i < buffer.getNumSamples(); ++i)
                            ASSERT_LE (std::abs (buffer.getSample (ch, i)), 3.1622777f) << block;
                }
                if (block % 100 == 99)
                    processBypassed (*p, buffer);
            }
        });

    audio.join();
    stop.store (true);
    automation.join();
    project.join();

    EXPECT_GT (parameterCalls.load(), 100);
    EXPECT_GT (stateCalls.load(), 10);

    // Once quiet, the processor ends where the last changes put it.
    loadState (
        *p,
        makeStateBlock (
            "<Root><Attack>0.5</Attack><Release>0.1</Release><Threshold>0.5</Threshold></Root>"));
    process (*p, buffer);
    EXPECT_EQ (p->limiter->getLookaheadMs(), 20.0f);
    EXPECT_EQ (p->limiter->getReleaseMs(), 100.0f);
    EXPECT_EQ (p->limiter->getCeiling(), 1.0f);
    p->prepareToPlay (48000.0, 256);
    EXPECT_EQ (p->getLatencySamples(), 960);
}
