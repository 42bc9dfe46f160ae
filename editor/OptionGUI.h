#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "lookandfeel/AltLookAndFeel_transparentButton.h"

#include <memory>

class CorvaneAudioProcessor;

/**
    The options panel: a window-sized overlay that darkens the right-hand column and offers the
    ambisonic channel convention of the input, "ambiX" (0) or "FuMa" (1), under it the peaks the
    limiter holds at the ceiling, "Sample" or "True peak", and the window's Size (100 to 200 %,
    for hosts that do not scale their plug-ins' windows). A click anywhere on it outside the
    labels and the boxes hides it.

    The boxes follow the processor's idxInputConfig, true-peak mode and window size on a 100 ms
    poll, so a restored state shows up while the panel is open.
*/
class OptionGUI : public juce::Component,
                  public juce::Timer,
                  public juce::Button::Listener,
                  public juce::ComboBox::Listener
{
public:
    /** The processor must outlive the panel. */
    explicit OptionGUI (CorvaneAudioProcessor*);
    ~OptionGUI() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;
    void buttonClicked (juce::Button*) override;
    void comboBoxChanged (juce::ComboBox*) override;

    static constexpr int pollIntervalMs = 100;

private:
    CorvaneAudioProcessor* processor = nullptr;

    AltLookAndFeel_transparentButton transparentButtonLookAndFeel;

    std::unique_ptr<juce::TextButton> closeButton;
    std::unique_ptr<juce::ComboBox> presetList;
    std::unique_ptr<juce::Label> label_InputConfig;
    std::unique_ptr<juce::ComboBox> peakList;
    std::unique_ptr<juce::Label> label_Peak;
    std::unique_ptr<juce::ComboBox> sizeList;
    std::unique_ptr<juce::Label> label_Size;

    // The box tells its listener about a pick only through a later message. Until that message
    // arrives the box shows something other than what the panel last put there or handed on, and
    // the poll must leave it alone, or the pick would be undone before anyone read it.
    int indexInBox = -1;
    int peakIndexInBox = -1;
    int sizeIndexInBox = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OptionGUI)
};
