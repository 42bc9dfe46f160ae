// Ten minutes of 192 kHz audio through one processor while a second thread plays the host and
// the window: every parameter changed at random (in range, out of range, NaN, infinity), settings
// documents saved, restored and damaged, meters polled. The audio thread prepares the processor
// at random rates between blocks, as a host restarting playback does.
//
// ORVALIS_SOAK_SECONDS (default 600) sets the seconds of 192 kHz audio, ORVALIS_SOAK_SEED (default
// below) the seed; both are printed.

#include "tests/common/AllocationCounter.h"
#include "tests/processor/ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace hostCalls;

namespace
{
constexpr std::uint32_t defaultSeed = 20240607;
constexpr double defaultSeconds = 600.0;
constexpr float lowestCeiling = 0.31622776f, highestCeiling = 3.1622777f; // -10, +10 dB
constexpr float highestMeter = 1.00001f;

double environmentNumber (const char* name, double fallback)
{
    const char* text = std::getenv (name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char* end = nullptr;
    const double value = std::strtod (text, &end);
    return end != text && std::isfinite (value) && value > 0.0 ? value : fallback;
}

// Loud and quiet material to draw blocks from: noise bursts, sines and near-silence, each
// channel different, peaks up to about +18 dBFS once a block's gain is applied.
std::vector<std::vector<float>> makeSourcePool (std::mt19937& rng, int numFrames)
{
    std::vector<std::vector<float>> pool (4, std::vector<float> (static_cast<size_t> (numFrames)));
    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    for (int ch = 0; ch < 4; ++ch)
    {
        auto& samples = pool[static_cast<size_t> (ch)];
        for (int i = 0; i < numFrames; ++i)
        {
            const int section = (i / 4096 + ch) % 4;
            const float t = static_cast<float> (i);
            switch (section)
            {
                case 0:
                    samples[static_cast<size_t> (i)] = noise (rng);
                    break;
                case 1:
                    samples[static_cast<size_t> (i)] =
                        std::sin (t * 0.013f * (1.0f + static_cast<float> (ch)));
                    break;
                case 2:
                    samples[static_cast<size_t> (i)] = (i % 512 == 0 ? 1.0f : 0.001f) * noise (rng);
                    break;
                default:
                    samples[static_cast<size_t> (i)] = 1.0e-6f * noise (rng);
                    break;
            }
        }
    }
    return pool;
}

// The host and the window on their own thread, doing at random what they may do at any time.
class HostThread
{
public:
    HostThread (CorvaneAudioProcessor& p, std::uint32_t seed) :
        processor (p),
        rng (seed),
        thread ([this] { run(); })
    {
    }

    ~HostThread() { stop(); }

    void stop()
    {
        stopping.store (true);
        if (thread.joinable())
            thread.join();
    }

    long parameterChanges = 0, restores = 0, saves = 0;
    float polled = 0.0f; // what the window would show, kept so the reads are not optimised away

private:
    float randomValue()
    {
        const auto kind = rng() % 100;
        std::uniform_real_distribution<float> inRange (0.0f, 1.0f), outOfRange (-2.0f, 3.0f);
        if (kind < 80)
            return inRange (rng);
        if (kind < 90)
            return outOfRange (rng);
        if (kind < 95)
            return (kind % 2 == 0) ? 0.0f : 1.0f;
        const float nonFinite[] = { std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity() };
        return nonFinite[rng() % 3];
    }

    juce::String randomText()
    {
        const float value = randomValue();
        if (std::isnan (value))
            return "nan";
        if (std::isinf (value))
            return value > 0 ? "inf" : "-inf";
        return juce::String (value);
    }

    juce::MemoryBlock randomDocument()
    {
        juce::String xml ("<Root>");
        const char* const tags[] = { "Gain", "Attack", "Release", "Threshold" };
        for (const char* tag : tags)
            if (rng() % 4 != 0)
                xml << "<" << tag << ">" << randomText() << "</" << tag << ">";
        xml << "<idxInputConfig>" << static_cast<int> (rng() % 3) - 1 << "</idxInputConfig></Root>";
        auto block = makeStateBlock (xml);
        if (rng() % 8 == 0) // damaged on the way: one byte changed
            static_cast<char*> (block.getData())[rng() % block.getSize()] ^=
                static_cast<char> (1 + rng() % 255);
        return block;
    }

    void run()
    {
        juce::MemoryBlock saved;
        while (! stopping.load())
        {
            const auto action = rng() % 100;
            if (action < 70)
            {
                // Mostly the four parameters; now and then an index no parameter has.
                const int index = rng() % 50 == 0 ? static_cast<int> (rng() % 3) * 3 - 2
                                                  : static_cast<int> (rng() % 4);
                setParameter (processor, index, randomValue());
                ++parameterChanges;
            }
            else if (action < 80)
            {
                saved = saveState (processor);
                ++saves;
            }
            else if (action < 95)
            {
                loadState (processor,
                           saved.getSize() > 0 && rng() % 2 == 0 ? saved : randomDocument());
                ++restores;
            }
            else
            {
                for (auto& level : processor.meterLevels)
                    polled += level.load (std::memory_order_relaxed);
                polled += processor.limiter->getGainReductionDb();
                if (processor.uiRefreshNeeded.exchange (false))
                    for (int index = 0; index < 4; ++index)
                        polled += getParameter (processor, index);
            }
            std::this_thread::sleep_for (std::chrono::microseconds (rng() % 50));
        }
    }

    CorvaneAudioProcessor& processor;
    std::mt19937 rng;
    std::atomic<bool> stopping { false };
    std::thread thread;
};

// The first sample of a block that is not finite or beyond the ceiling, or -1.
int firstUnsoundSample (const juce::AudioBuffer<float>& buffer, int numSamples, float ceiling)
{
    for (int ch = 0; ch < 4; ++ch)
    {
        const float* samples = buffer.getReadPointer (ch);
        bool bad = false;
        for (int i = 0; i < numSamples; ++i)
            bad |= ! (std::abs (samples[i]) <= ceiling); // NaN fails the comparison
        if (bad)
            for (int i = 0; i < numSamples; ++i)
                if (! (std::abs (samples[i]) <= ceiling))
                    return ch * numSamples + i;
    }
    return -1;
}
} // namespace

TEST (Soak, TenMinutesAt192kWhileEverythingChangesAtRandom)
{
    const auto seed =
        static_cast<std::uint32_t> (environmentNumber ("ORVALIS_SOAK_SEED", defaultSeed));
    const double secondsAt192k = environmentNumber ("ORVALIS_SOAK_SECONDS", defaultSeconds);
    std::cout << "soak: seed " << seed << ", " << secondsAt192k << " s of audio at 192 kHz"
              << std::endl;
    RecordProperty ("seed", static_cast<int> (seed));

    std::mt19937 rng (seed);
    constexpr int poolFrames = 1 << 16;
    const auto pool = makeSourcePool (rng, poolFrames);

    auto p = createProcessor();
    int rate = 192000;
    p->prepareToPlay (rate, 512);
    HostThread host (*p, seed + 1);

    const std::array<int, 7> otherRates { 22050, 44100, 48000, 88200, 96000, 176400, 192000 };
    juce::AudioBuffer<float> buffer (4, CorvaneAudioProcessor::maxBlockSamples);
    juce::MidiBuffer midi;
    std::uniform_real_distribution<float> blockGain (0.0f, 8.0f);

    const auto cpuStart = std::clock();
    const auto wallStart = std::chrono::steady_clock::now();
    juce::int64 framesAt192k = 0, framesTotal = 0;
    long blocks = 0, prepares = 0, nonFiniteBlocks = 0;
    std::size_t allocations = 0;
    long firstAllocatingBlock = -1;

    while (static_cast<double> (framesAt192k) < secondsAt192k * 192000.0)
    {
        // Between blocks, as a host does when it restarts playback: a new rate, half the time 192 kHz.
        if (rng() % 1000 == 0)
        {
            rate = rng() % 2 == 0 ? 192000 : otherRates[rng() % otherRates.size()];
            p->prepareToPlay (rate, 512);
            ++prepares;
            const float lookaheadMs = p->limiter->getLookaheadMs();
            ASSERT_GE (lookaheadMs, 0.0f);
            ASSERT_LE (lookaheadMs, 40.0f);
            const int samples =
                static_cast<int> (static_cast<float> (rate) * lookaheadMs / 1000.0f);
            ASSERT_EQ (p->getLatencySamples(), samples >= 1 ? samples : 0)
                << "after prepareToPlay at " << rate << " Hz with a look-ahead of " << lookaheadMs
                << " ms, block " << blocks;
        }

        // Mostly ordinary host block sizes, sometimes tiny or the largest.
        const auto sizeKind = rng() % 100;
        const int numSamples = sizeKind < 2   ? 1 + static_cast<int> (rng() % 16)
                               : sizeKind < 5 ? CorvaneAudioProcessor::maxBlockSamples
                                              : 32 + static_cast<int> (rng() % 2017);
        buffer.setSize (4, numSamples, false, false, true);
        const float gain = blockGain (rng);
        for (int ch = 0; ch < 4; ++ch)
        {
            const int offset =
                static_cast<int> (rng() % static_cast<std::uint32_t> (poolFrames - numSamples + 1));
            juce::FloatVectorOperations::multiply (buffer.getWritePointer (ch),
                                                   pool[static_cast<size_t> (ch)].data() + offset,
                                                   gain,
                                                   numSamples);
        }
        if (rng() % 500 == 0)
        {
            const float nonFinite[] = { std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity() };
            buffer.setSample (static_cast<int> (rng() % 4),
                              static_cast<int> (rng() % static_cast<std::uint32_t> (numSamples)),
                              nonFinite[rng() % 3]);
            ++nonFiniteBlocks;
        }

        {
            ScopedAllocationCount counter;
            p->processBlock (buffer, midi);
            if (counter.count() > 0 && firstAllocatingBlock < 0)
                firstAllocatingBlock = blocks;
            allocations += counter.count();
        }

        // The processor hands the settings to the limiter at the start of the block, and only
        // this thread touches the limiter: its ceiling now is the one the block was limited to.
        const float ceiling = p->limiter->getCeiling();
        ASSERT_GE (ceiling, lowestCeiling) << "block " << blocks;
        ASSERT_LE (ceiling, highestCeiling) << "block " << blocks;
        const int bad = firstUnsoundSample (buffer, numSamples, ceiling);
        ASSERT_EQ (bad, -1) << "block " << blocks << " of " << numSamples << " at " << rate
                            << " Hz: sample "
                            << buffer.getSample (bad / numSamples, bad % numSamples)
                            << " on channel " << bad / numSamples << " at " << bad % numSamples
                            << ", ceiling " << ceiling;
        for (int slot = 0; slot < CorvaneAudioProcessor::numMeters; ++slot)
        {
            const float level = p->meterLevels[static_cast<size_t> (slot)].load();
            ASSERT_TRUE (std::isfinite (level) && level >= 0.0f && level <= highestMeter)
                << "meter " << slot << " reads " << level << " after block " << blocks;
        }

        ++blocks;
        framesTotal += numSamples;
        if (rate == 192000)
            framesAt192k += numSamples;
    }
    host.stop();

    const double cpuSeconds = static_cast<double> (std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double wallSeconds =
        std::chrono::duration<double> (std::chrono::steady_clock::now() - wallStart).count();
    std::cout << "soak: " << blocks << " blocks, " << static_cast<double> (framesAt192k) / 192000.0
              << " s at 192 kHz (" << framesTotal << " frames at all rates), " << prepares
              << " prepares, " << nonFiniteBlocks
              << " blocks with a non-finite sample; host: " << host.parameterChanges
              << " parameter changes, " << host.saves << " saves, " << host.restores
              << " restores; " << wallSeconds << " s wall, " << cpuSeconds
              << " s CPU (both threads)" << std::endl;

    EXPECT_EQ (allocations, 0u) << "first in block " << firstAllocatingBlock;
    // However fast the machine: a prepare every thousand blocks or so, and host calls between
    // blocks in numbers (the host thread sleeps up to 50 us after each).
    EXPECT_GE (prepares, blocks / 4000);
    EXPECT_GE (host.parameterChanges, blocks / 100);
    EXPECT_GE (host.restores, blocks / 1000);
    EXPECT_TRUE (std::isfinite (host.polled));
}
