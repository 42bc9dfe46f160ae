// Host calls from other threads while the audio thread processes. Run under ThreadSanitizer by
// scripts/tsan.sh; in the normal build it still checks that the audio stays sound throughout.

#include "ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <string>
#include <thread>

using namespace hostCalls;

TEST (ProcessorThreads, ParameterAndStateCallsWhileAudioRuns)
{
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 256);

    // A fixed number of host calls on each thread, all made while the audio thread processes: the
    // host threads begin after its first block, and it goes on until both are done.
    constexpr int parameterCalls = 5000, stateCalls = 100, leastBlocks = 3000;
    std::atomic<bool> audioRuns { false };
    std::atomic<int> hostsDone { 0 };
    const auto waitForAudio = [&audioRuns]
    {
        while (! audioRuns.load())
            std::this_thread::yield();
    };

    // A host automating parameters, and the window polling what it shows: every meter on its
    // scale, the gain reduction a finite number of decibels, never below 0.
    int offScale = 0;
    std::string firstOffScale;
    std::thread automation (
        [&]
        {
            waitForAudio();
            std::mt19937 rng (11);
            std::uniform_real_distribution<float> value (-0.1f, 1.2f);
            for (int call = 0; call < parameterCalls; ++call)
            {
                setParameter (*p, static_cast<int> (rng() % 5), value (rng));
                for (int slot = 0; slot < CorvaneAudioProcessor::numMeters; ++slot)
                {
                    const float level =
                        p->meterLevels[static_cast<size_t> (slot)].load (std::memory_order_relaxed);
                    if (! (std::isfinite (level) && level >= 0.0f && level <= 1.00001f)
                        && offScale++ == 0)
                        firstOffScale =
                            "meter " + std::to_string (slot) + " at " + std::to_string (level);
                }
                const float reduction = p->limiter->getGainReductionDb();
                if (! (std::isfinite (reduction) && reduction >= 0.0f) && offScale++ == 0)
                    firstOffScale = "gain reduction " + std::to_string (reduction) + " dB";
                if (p->uiRefreshNeeded.exchange (false))
                    (void) getParameter (*p, static_cast<int> (rng() % 4));
            }
            hostsDone.fetch_add (1);
        });

    // A host saving and restoring the project.
    std::thread project (
        [&]
        {
            waitForAudio();
            std::mt19937 rng (12);
            std::uniform_real_distribution<float> value (0.0f, 1.0f);
            for (int call = 0; call < stateCalls; ++call)
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
            }
            hostsDone.fetch_add (1);
        });

    // The audio thread: the output never exceeds the highest ceiling, +10 dB, except on the way
    // back from a bypass (the bypassed input is heard until the limiter's 40 ms at most and the
    // fade have passed).
    juce::AudioBuffer<float> buffer (4, 256);
    std::thread audio (
        [&]
        {
            const int comingBack = 1920 + p->getBypassFadeSamples();
            for (int block = 0; block < leastBlocks || hostsDone.load() < 2; ++block)
            {
                fillNoise (buffer, static_cast<std::uint32_t> (block), 4.0f);
                process (*p, buffer);
                audioRuns.store (true);
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
    automation.join();
    project.join();
    EXPECT_EQ (offScale, 0) << "the window read " << firstOffScale;

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
