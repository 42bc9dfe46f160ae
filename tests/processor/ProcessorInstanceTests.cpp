// Many instances in one process, as in a host's project with a limiter on every ambisonic bus:
// sixteen at a time, created and destroyed over and over, on one thread and on two. They share
// one look-and-feel, installed as the desktop's default while any processor lives and removed
// with the last. Leaks show in JUCE's leak detector and LeakSanitizer (scripts/sanitizers.sh);
// the races ThreadSanitizer looks for (scripts/tsan.sh). Inside a plug-in wrapper on Linux the
// default look-and-feel changes only between two messages of JUCE's message thread.

#include "ProcessorTestSupport.h"
#include "lookandfeel/TarnwickLookAndFeel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <thread>
#include <vector>

using namespace hostCalls;

namespace juce
{
// JUCE's own single step of the message loop (modal loops are off in this build).
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
constexpr int numInstances = 16;

// The desktop's default look-and-feel, if it is the processors' shared one. Asking creates a
// plain default when none is installed, so ask only while no other thread creates or
// destroys processors, or while this thread holds a processor.
const CorvaneAudioProcessor::TarnwickLookAndFeel* installedLookAndFeel()
{
    return dynamic_cast<const CorvaneAudioProcessor::TarnwickLookAndFeel*> (
        &juce::Desktop::getInstance().getDefaultLookAndFeel());
}

const CorvaneAudioProcessor::TarnwickLookAndFeel* lookAndFeelOf (CorvaneAudioProcessor& p)
{
    return &p.sharedLookAndFeel.get();
}

// Each instance prepared and given a loud block: its limiter works, and only on its own audio.
void processOneBlockEach (std::vector<std::unique_ptr<CorvaneAudioProcessor>>& processors,
                          std::uint32_t seed)
{
    juce::AudioBuffer<float> buffer (4, 64);
    for (auto& p : processors)
    {
        p->prepareToPlay (48000.0, 64);
        fillNoise (buffer, seed++, 4.0f);
        process (*p, buffer);
        for (int ch = 0; ch < 4; ++ch)
            ASSERT_LE (buffer.getMagnitude (ch, 0, 64), 1.0f);
    }
}

// JUCE's message loop on a thread of its own, as JUCE's plug-in wrappers run it on Linux, and the
// type of wrapper the processor is told it lives in; both undone at the end.
class PluginWrapperOnLinux : private juce::Thread
{
public:
    explicit PluginWrapperOnLinux (juce::AudioProcessor::WrapperType type) :
        Thread ("message thread"),
        previousType (juce::PluginHostType::jucePlugInClientCurrentWrapperType)
    {
        juce::PluginHostType::jucePlugInClientCurrentWrapperType = type;
        startThread();
        started.wait (10000);
    }

    ~PluginWrapperOnLinux() override
    {
        stopThread (10000);
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
        juce::PluginHostType::jucePlugInClientCurrentWrapperType = previousType;
    }

    /** Runs hostAction on this thread while the message thread is inside one message (for at
        most 300 ms); true when the desktop's default look-and-feel changed within that message. */
    bool defaultChangedWithinOneMessage (const std::function<void()>& hostAction)
    {
        std::atomic<bool> inMessage { false }, hostDone { false }, changed { false };
        juce::WaitableEvent messageDone;
        juce::MessageManager::callAsync (
            [&]
            {
                const auto* before = &juce::Desktop::getInstance().getDefaultLookAndFeel();
                inMessage = true;
                const auto until = juce::Time::getMillisecondCounter() + 300;
                while (! hostDone && juce::Time::getMillisecondCounter() < until)
                    std::this_thread::yield();
                changed = &juce::Desktop::getInstance().getDefaultLookAndFeel() != before;
                messageDone.signal();
            });
        while (! inMessage)
            std::this_thread::yield();
        hostAction();
        hostDone = true;
        messageDone.wait (10000);
        return changed;
    }

    /** installedLookAndFeel(), asked on the message thread. */
    const CorvaneAudioProcessor::TarnwickLookAndFeel* installedOnMessageThread()
    {
        const CorvaneAudioProcessor::TarnwickLookAndFeel* result = nullptr;
        juce::WaitableEvent done;
        juce::MessageManager::callAsync (
            [&]
            {
                result = installedLookAndFeel();
                done.signal();
            });
        done.wait (10000);
        return result;
    }

private:
    void run() override
    {
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
        started.signal();
        while (! threadShouldExit())
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);
    }

    juce::AudioProcessor::WrapperType previousType;
    juce::WaitableEvent started;
};
} // namespace

TEST (ProcessorInstances, SixteenAtATimeShareOneLookAndFeelInstalledWhileAnyLives)
{
    ASSERT_EQ (installedLookAndFeel(), nullptr) << "a processor outlived an earlier test";

    std::mt19937 rng (5);
    for (int round = 0; round < 20; ++round)
    {
        std::vector<std::unique_ptr<CorvaneAudioProcessor>> processors;
        for (int i = 0; i < numInstances; ++i)
        {
            processors.push_back (createProcessor());
            const auto* shared = lookAndFeelOf (*processors.front());
            ASSERT_EQ (lookAndFeelOf (*processors.back()), shared);
            ASSERT_EQ (processors.back()->sharedLookAndFeel.getReferenceCount(), i + 1);
            ASSERT_EQ (installedLookAndFeel(), shared);
        }
        processOneBlockEach (processors, static_cast<std::uint32_t> (round * numInstances));

        // Closed in any order: the look-and-feel stays until the last one goes.
        std::shuffle (processors.begin(), processors.end(), rng);
        const auto* shared = lookAndFeelOf (*processors.front());
        while (processors.size() > 1)
        {
            processors.pop_back();
            ASSERT_EQ (processors.front()->sharedLookAndFeel.getReferenceCount(),
                       static_cast<int> (processors.size()));
            ASSERT_EQ (installedLookAndFeel(), shared);
        }
        processors.clear();
        ASSERT_EQ (installedLookAndFeel(), nullptr) << "round " << round;
    }
}

TEST (ProcessorInstances, TwoThreadsCreatingAndDestroyingAgreeOnTheCount)
{
    const auto work = [] (std::uint32_t seed)
    {
        std::mt19937 rng (seed);
        for (int round = 0; round < 25; ++round)
        {
            std::vector<std::unique_ptr<CorvaneAudioProcessor>> processors;
            for (int i = 0; i < numInstances; ++i)
                processors.push_back (createProcessor());

            // (JUCE reads the count without its lock: it is checked only once both threads are done.)
            for (auto& p : processors)
                EXPECT_EQ (lookAndFeelOf (*p), lookAndFeelOf (*processors.front()));
            EXPECT_EQ (installedLookAndFeel(), lookAndFeelOf (*processors.front()));

            processOneBlockEach (processors, seed + static_cast<std::uint32_t> (round));
            std::shuffle (processors.begin(), processors.end(), rng);
            processors.clear();
        }
    };

    std::thread first (work, 100u), second (work, 200u);
    first.join();
    second.join();

    // Both threads done: nobody holds the look-and-feel, and the default was removed with it.
    EXPECT_EQ (installedLookAndFeel(), nullptr);
    auto p = createProcessor();
    EXPECT_EQ (p->sharedLookAndFeel.getReferenceCount(), 1);
    EXPECT_EQ (installedLookAndFeel(), lookAndFeelOf (*p));
    p.reset();
    EXPECT_EQ (installedLookAndFeel(), nullptr);
}

// Editors: each of sixteen processors opens a window and closes it again, several open at once and
// closed in another order; the shared look-and-feel stays until the last processor goes.
TEST (ProcessorInstances, EditorsOpenAndCloseOnSixteenProcessors)
{
    std::mt19937 rng (9);
    for (int round = 0; round < 4; ++round)
    {
        std::vector<std::unique_ptr<CorvaneAudioProcessor>> processors;
        std::vector<std::unique_ptr<juce::AudioProcessorEditor>> editors;
        for (int i = 0; i < numInstances; ++i)
        {
            processors.push_back (createProcessor());
            editors.emplace_back (processors.back()->createEditorIfNeeded());
            ASSERT_NE (editors.back(), nullptr);
            ASSERT_EQ (processors.back()->getActiveEditor(), editors.back().get());
        }
        const auto* shared = lookAndFeelOf (*processors.front());
        EXPECT_EQ (installedLookAndFeel(), shared);
        processOneBlockEach (processors, static_cast<std::uint32_t> (round));

        // Half the windows closed and opened again, then all closed before their processors go.
        for (int i = 0; i < numInstances; i += 2)
        {
            editors[static_cast<size_t> (i)].reset();
            editors[static_cast<size_t> (i)].reset (
                processors[static_cast<size_t> (i)]->createEditorIfNeeded());
        }
        std::shuffle (editors.begin(), editors.end(), rng);
        editors.clear();
        EXPECT_EQ (processors.front()->sharedLookAndFeel.getReferenceCount(), numInstances);
        processors.clear();
        EXPECT_EQ (installedLookAndFeel(), nullptr);
    }
}

// JUCE's VST3 and LV2 wrappers on Linux create (LV2 also destroy) instances on the host's threads
// while their message thread runs, and the first and the last instance change the desktop's
// default look-and-feel, which JUCE allows only under the message manager's lock. Without it the
// change lands in the middle of whatever the message thread is doing (and ThreadSanitizer reports
// the race).
TEST (ProcessorInstances, DefaultLookAndFeelChangesOnlyBetweenMessagesInsideAPluginWrapper)
{
    PluginWrapperOnLinux wrapper (juce::AudioProcessor::wrapperType_LV2);
    std::unique_ptr<CorvaneAudioProcessor> first, second;
    EXPECT_FALSE (wrapper.defaultChangedWithinOneMessage ([&] { first = createProcessor(); }))
        << "the first instance installed its look-and-feel inside a message";
    ASSERT_NE (wrapper.installedOnMessageThread(), nullptr);
    EXPECT_EQ (wrapper.installedOnMessageThread(), lookAndFeelOf (*first));

    second = createProcessor();
    first.reset();
    EXPECT_EQ (wrapper.installedOnMessageThread(), lookAndFeelOf (*second));
    EXPECT_FALSE (wrapper.defaultChangedWithinOneMessage ([&] { second.reset(); }))
        << "the last instance removed its look-and-feel inside a message";
    EXPECT_EQ (wrapper.installedOnMessageThread(), nullptr);
}
