#pragma once

#include "RecordingContext.h"

#include "processor/CorvaneAudioProcessor.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <vector>

namespace windowTests
{
/** Runs the message queue until it is empty: async updates, change messages, callAsync. */
void dispatchPendingMessages();

/** The host's view of the processor: every parameter change and gesture, in order. */
struct HostRecorder : public juce::AudioProcessorListener
{
    struct Event
    {
        enum class Kind
        {
            change,
            begin,
            end
        };
        Kind kind;
        int index;
        float value;
    };

    std::vector<Event> events;

    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override;
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override;
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override;

    std::vector<Event> changes() const;
};

/**
    A plug-in window open on the (virtual) screen, driven by mouse events that enter through its
    window peer exactly as the system's events do, so hit-testing and stacking order decide which
    control gets each click.
*/
class OpenWindow
{
public:
    /** Windows that overlap on the screen hide each other's controls from the mouse. */
    explicit OpenWindow (CorvaneAudioProcessor&, juce::Point<int> screenPosition = {});
    ~OpenWindow();

    juce::AudioProcessorEditor& editor() { return *window; }

    /** The editor's direct child with this name and type, or nullptr. */
    template <typename Type>
    Type* child (const juce::String& name) const
    {
        for (auto* c : window->getChildren())
            if (c->getName() == name)
                if (auto* typed = dynamic_cast<Type*> (c))
                    return typed;
        return nullptr;
    }

    /** The editor's only direct child of this type. */
    template <typename Type>
    Type* childOfType() const
    {
        Type* found = nullptr;
        for (auto* c : window->getChildren())
            if (auto* typed = dynamic_cast<Type*> (c))
                found = typed;
        return found;
    }

    /** One timer tick of the editor, run now. */
    void tick();

    void mouseMove (juce::Point<int> to);
    void mouseDown (juce::Point<int> at);
    void mouseDragTo (juce::Point<int> at);
    void mouseUp (juce::Point<int> at);
    void click (juce::Point<int> at);
    void doubleClick (juce::Point<int> at);
    /** Press at `from`, move to `to` in small steps, release there. */
    void drag (juce::Point<int> from, juce::Point<int> to);

    /** Everything the window draws, children included, in window coordinates. */
    RecordingContext paintRecorded();

private:
    void send (juce::Point<int> at, bool buttonDown);

    std::unique_ptr<juce::AudioProcessorEditor> window;
    juce::int64 eventTime;
};

/** The picture a resource decodes to, through the cache the window uses. */
juce::Image resourcePicture (const char* data, int size);
} // namespace windowTests
