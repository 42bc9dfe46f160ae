#include "WindowTestSupport.h"

#include <gtest/gtest.h>

namespace juce
{
// The message loop's single step on Linux (juce_linux_Messaging.cpp); JUCE builds without modal
// loops, so there is no public way to run the queue for a while.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace windowTests
{
void dispatchPendingMessages()
{
    for (int i = 0; i < 1000 && juce::dispatchNextMessageOnSystemQueue (true); ++i)
    {
    }
}

void HostRecorder::audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value)
{
    events.push_back ({ Event::Kind::change, index, value });
}

void HostRecorder::audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index)
{
    events.push_back ({ Event::Kind::begin, index, 0.0f });
}

void HostRecorder::audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index)
{
    events.push_back ({ Event::Kind::end, index, 0.0f });
}

std::vector<HostRecorder::Event> HostRecorder::changes() const
{
    std::vector<Event> result;
    for (const auto& e : events)
        if (e.kind == Event::Kind::change)
            result.push_back (e);
    return result;
}

OpenWindow::OpenWindow (CorvaneAudioProcessor& processor, juce::Point<int> screenPosition) :
    window (processor.createEditor()),
    eventTime (juce::Time::currentTimeMillis())
{
    window->setTopLeftPosition (screenPosition);
    window->addToDesktop (0);
    window->setVisible (true);
    dispatchPendingMessages();
}

OpenWindow::~OpenWindow()
{
    window = nullptr;
    dispatchPendingMessages();
}

void OpenWindow::tick()
{
    dynamic_cast<juce::Timer&> (*window).timerCallback();
}

void OpenWindow::send (juce::Point<int> at, bool buttonDown)
{
    auto* peer = window->getPeer();
    ASSERT_NE (peer, nullptr);
    eventTime += 20;
    peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse,
                            at.toFloat(),
                            buttonDown ? juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier)
                                       : juce::ModifierKeys(),
                            juce::MouseInputSource::defaultPressure,
                            juce::MouseInputSource::defaultOrientation,
                            eventTime);
}

void OpenWindow::mouseMove (juce::Point<int> to)
{
    send (to, false);
}

void OpenWindow::mouseDown (juce::Point<int> at)
{
    send (at, false); // move there first, as a real pointer does
    send (at, true);
}

void OpenWindow::mouseDragTo (juce::Point<int> at)
{
    send (at, true);
}

void OpenWindow::mouseUp (juce::Point<int> at)
{
    send (at, false);
    eventTime += 1000; // so that the next press starts a new click, not a double-click
}

void OpenWindow::click (juce::Point<int> at)
{
    mouseDown (at);
    mouseUp (at);
}

void OpenWindow::doubleClick (juce::Point<int> at)
{
    mouseDown (at);
    send (at, false);
    send (at, true);
    mouseUp (at);
}

void OpenWindow::drag (juce::Point<int> from, juce::Point<int> to)
{
    mouseDown (from);
    const int steps = 20;
    for (int i = 1; i <= steps; ++i)
        mouseDragTo (from + (to - from) * i / steps);
    mouseUp (to);
}

RecordingContext OpenWindow::paintRecorded()
{
    RecordingContext context;
    {
        juce::Graphics g (context);
        window->paintEntireComponent (g, false);
    }
    return context;
}

juce::Image resourcePicture (const char* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}
} // namespace windowTests
