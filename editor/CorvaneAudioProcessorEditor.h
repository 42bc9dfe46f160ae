#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/BlueLine.h"
#include "editor/HoaMeterLayout.h"
#include "editor/OptionGUI.h"
#include "editor/VuMeter.h"
#include "editor/WelcomeGUI.h"
#include "lookandfeel/AltLookAndFeel.h"
#include "lookandfeel/AltLookAndFeel_Gain.h"
#include "lookandfeel/AltLookAndFeel_MaxPeak.h"
#include "lookandfeel/AltLookAndFeel_transparentButton.h"
#include "lookandfeel/WindowPictures.h"
#include "processor/Parameters.h"
#include "processor/Product.h"

#include <array>
#include <memory>

class CorvaneAudioProcessor;

/**
    The plug-in's fixed 435 x 373 window: four knobs bound to the host parameters, eight level
    meters, the gain-reduction meter, the max-peak line, the gear that opens the options panel and
    the invisible title button that opens the welcome panel.

    It never listens to the processor: a 50 ms timer repaints the meters and, when the processor
    raises uiRefreshNeeded, re-reads the parameters, the channel convention, the peak mode (in
    true-peak mode "TRUE PEAK" stands under the output meters and the ceiling reads in dBTP) and
    the window's Size.

    Orvalis HOA's window is the same with one meter per ambisonic order instead of one per channel:
    eight numbered tracks a side (orders 0 to 7), lit for the orders the signal has, the others
    dimmed, and the order and channel count under the input meters; the refresh also follows a
    change of the host's layout.

    The window keeps its 435 x 373 layout at every scale: it is scaled as a whole by its transform
    (AudioProcessorEditor::setScaleFactor), by the host's scale (VST3's content scale, the VST 2.4
    hosts' scale call, LV2's ui:scaleFactor) or, where the host gives none, the Linux desktop's,
    times its Size; each format's wrapper resizes the host's window to the scaled size.
*/
class CorvaneAudioProcessorEditor : public juce::AudioProcessorEditor,
                                    public juce::Timer,
                                    public juce::Button::Listener,
                                    public juce::Slider::Listener
{
public:
    explicit CorvaneAudioProcessorEditor (CorvaneAudioProcessor&);
    ~CorvaneAudioProcessorEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;
    void buttonClicked (juce::Button*) override;
    void sliderValueChanged (juce::Slider*) override;
    void sliderDragStarted (juce::Slider*) override;
    void sliderDragEnded (juce::Slider*) override;

    /** The host's scale; 1 means none, and the desktop's applies. The Size multiplies either. */
    void setScaleFactor (float newScale) override;

    static constexpr int windowWidth = 435;
    static constexpr int windowHeight = 373;
    static constexpr int timerIntervalMs = 50;

private:
    CorvaneAudioProcessor& owner() const noexcept;

    /** The parameter a knob writes, or -1 for a slider that is not one of the four. */
    int parameterIndexOf (const juce::Slider*) const noexcept;
    juce::Slider* sliderFor (parameters::Index) const noexcept;

    void refreshFromProcessor();
    void setKnobsFromParameters();
    void placeThresholdLine();
    void loadCaptions (int inputConfig);
    void showPeakMode (bool truePeak);
    void applyScale();
    void addMeters (int firstSlot, int endSlot);
    void showOrders (int numOrders);
    void paintOrderMeters (juce::Graphics&);

    const bool metersPerOrder;
    int shownOrders = 0; // the orders lit (Orvalis HOA)

    // The pictures drawn stay decoded while the window is open.
    windowPictures::Keeper pictureKeeper;

    std::unique_ptr<OptionGUI> optionGUI;
    std::unique_ptr<WelcomeGUI> welcomeGUI;

    AltLookAndFeel altLookAndFeel;
    AltLookAndFeel_transparentButton transparentButtonLookAndFeel;
    AltLookAndFeel_Gain gainLookAndFeel;
    AltLookAndFeel_MaxPeak maxPeakLookAndFeel;

    int shownInputConfig = 0;
    bool shownTruePeak = false;
    int shownSize = 100;             // percent
    float hostScale = 1.0f;          // 1: none given
    float desktopScaleFactor = 1.0f; // what the desktop asks beyond JUCE (Linux)

    std::unique_ptr<juce::ImageButton> engrenage;
    // By meterLevels slot; Orvalis has the first eight, Orvalis HOA all of them.
    std::array<std::unique_ptr<VuMeter>, 2 * product::maxMetersPerSide> vuMeters;
    std::unique_ptr<juce::Slider> sliderGain;
    std::unique_ptr<juce::Slider> sliderAttack;
    std::unique_ptr<juce::Slider> sliderRelease;
    std::unique_ptr<juce::Slider> sliderThreshold;
    std::unique_ptr<juce::TextButton> titleButton;
    std::unique_ptr<VuMeter> vuMeterGainReduction;
    std::unique_ptr<BlueLine> blueLine;

    juce::Image backgroundImage;
    juce::Image inputOrderImage;
    juce::Image outputOrderImage;
    juce::Image truePeakImage;
    juce::Image orderCaptionsImage;
    juce::Image orderDigitsImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CorvaneAudioProcessorEditor)
};
