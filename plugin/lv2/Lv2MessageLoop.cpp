#include "plugin/lv2/Lv2MessageLoop.h"

#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <mutex>

namespace juce
{
// One step of JUCE's Linux message loop (juce_linux_Messaging.cpp); JUCE's plug-in wrappers
// declare it the same way.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
// Runs JUCE's message loop while no window is open.
class LoopThread : public juce::Thread
{
public:
    LoopThread() : Thread ("Orvalis LV2 messages") {}

    ~LoopThread() override { stop(); }

    bool start()
    {
        running.reset();
        if (! startThread())
            return false;
        return running.wait (10000);
    }

    void stop()
    {
        // No stopDispatchLoop here: JUCE's quit message would refuse every later post.
        signalThreadShouldExit();
        stopThread (10000);
    }

    void run() override
    {
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
        running.signal();
        while (! threadShouldExit())
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                sleep (1);
    }

private:
    juce::WaitableEvent running;
};

struct Runtime
{
    std::mutex lock; // held by every transition and by onMessageThread
    int users = 0;
    int hostDriven = 0;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juce;
    std::unique_ptr<LoopThread> loop;

    // At exit or unload: a host that exits with instances alive must not have JUCE shut down
    // from an exit handler under its feet, so whatever is still up is left as it is. With no
    // instance and no window alive, nothing is.
    ~Runtime()
    {
        (void) loop.release();
        (void) juce.release();
    }

    void startLoop()
    {
        loop = std::make_unique<LoopThread>();
        if (! loop->start())
            loop.reset();
    }

    void stopLoopHere()
    {
        loop.reset();
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
    }
};

Runtime& runtime()
{
    static Runtime instance;
    return instance;
}
} // namespace

Lv2MessageLoop::User::User()
{
    auto& r = runtime();
    const std::lock_guard<std::mutex> guard (r.lock);
    if (r.users++ == 0)
    {
        r.juce = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        if (r.hostDriven == 0)
            r.startLoop();
    }
}

Lv2MessageLoop::User::~User()
{
    auto& r = runtime();
    const std::lock_guard<std::mutex> guard (r.lock);
    if (--r.users == 0)
    {
        r.stopLoopHere();
        r.juce.reset();
    }
}

Lv2MessageLoop::HostDriven::HostDriven()
{
    auto& r = runtime();
    const std::lock_guard<std::mutex> guard (r.lock);
    if (r.hostDriven++ == 0 && r.loop != nullptr)
        r.stopLoopHere();
    juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
}

Lv2MessageLoop::HostDriven::~HostDriven()
{
    auto& r = runtime();
    const std::lock_guard<std::mutex> guard (r.lock);
    if (--r.hostDriven == 0 && r.users > 0)
        r.startLoop();
}

void Lv2MessageLoop::onMessageThread (const std::function<void()>& fn)
{
    auto& r = runtime();
    const std::lock_guard<std::mutex> guard (r.lock);
    auto* messages = juce::MessageManager::getInstance();
    if (r.loop == nullptr || messages->isThisTheMessageThread())
    {
        fn();
        return;
    }

    // The function's non-null answer tells that it ran; JUCE gives null when it could not post.
    auto* ran = messages->callFunctionOnMessageThread (
        [] (void* f) -> void*
        {
            (*static_cast<const std::function<void()>*> (f))();
            return f;
        },
        const_cast<std::function<void()>*> (&fn));
    if (ran == nullptr)
        fn();
}

void Lv2MessageLoop::dispatchPending()
{
    // A host may call its UIs from more than one thread over time; the one calling is the UI's.
    juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
    while (juce::dispatchNextMessageOnSystemQueue (true))
    {
    }
}
