#include "editor/OptionGUI.h"

#include "processor/CorvaneAudioProcessor.h"

namespace
{
constexpr int allEdges = juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight
                         | juce::Button::ConnectedOnTop | juce::Button::ConnectedOnBottom;
} // namespace

OptionGUI::OptionGUI (CorvaneAudioProcessor* p)
{
    closeButton = std::make_unique<juce::TextButton> ("closeButton");
    addAndMakeVisible (closeButton.get());
    closeButton->setButtonText (juce::String());
    closeButton->setConnectedEdges (allEdges);
    closeButton->addListener (this);
    closeButton->setColour (juce::TextButton::buttonColourId, juce::Colour (0x00ffffff));
    closeButton->setColour (juce::TextButton::buttonOnColourId, juce::Colour (0x00ffffff));
    closeButton->setColour (juce::TextButton::textColourOnId, juce::Colour (0x00000000));
    closeButton->setColour (juce::TextButton::textColourOffId, juce::Colour (0x00000000));

    presetList = std::make_unique<juce::ComboBox> ("presetList");
    addAndMakeVisible (presetList.get());
    presetList->setEditableText (false);
    presetList->setJustificationType (juce::Justification::centredLeft);
    presetList->setTextWhenNothingSelected (juce::String());
    presetList->setTextWhenNoChoicesAvailable (TRANS ("(no choices)"));
    presetList->addListener (this);

    label_InputConfig = std::make_unique<juce::Label> ("label_InputConfig", TRANS ("I/O config"));
    addAndMakeVisible (label_InputConfig.get());
    label_InputConfig->setFont (juce::Font (15.0f, juce::Font::plain));
    label_InputConfig->setJustificationType (juce::Justification::centred);
    label_InputConfig->setEditable (false, false, false);
    label_InputConfig->setColour (juce::Label::textColourId, juce::Colour (0xfffcfcfc));
    label_InputConfig->setColour (juce::TextEditor::textColourId, juce::Colour (0xff000000));
    label_InputConfig->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));

    // The second choice, placed and set like the first one, 58 pixels lower.
    peakList = std::make_unique<juce::ComboBox> ("peakList");
    addAndMakeVisible (peakList.get());
    peakList->setEditableText (false);
    peakList->setJustificationType (juce::Justification::centredLeft);
    peakList->setTextWhenNothingSelected (juce::String());
    peakList->setTextWhenNoChoicesAvailable (TRANS ("(no choices)"));
    peakList->addListener (this);

    label_Peak = std::make_unique<juce::Label> ("label_Peak", TRANS ("Peak"));
    addAndMakeVisible (label_Peak.get());
    label_Peak->setFont (juce::Font (15.0f, juce::Font::plain));
    label_Peak->setJustificationType (juce::Justification::centred);
    label_Peak->setEditable (false, false, false);
    label_Peak->setColour (juce::Label::textColourId, juce::Colour (0xfffcfcfc));
    label_Peak->setColour (juce::TextEditor::textColourId, juce::Colour (0xff000000));
    label_Peak->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));

    setSize (435, 373);

    closeButton->setLookAndFeel (&transparentButtonLookAndFeel);

    processor = p;

    presetList->addItem (TRANS ("ambiX"), 1);
    presetList->addItem (TRANS ("FuMa"), 2);
    presetList->setSelectedItemIndex (processor->idxInputConfig.load (std::memory_order_relaxed),
                                      juce::dontSendNotification);
    indexInBox = presetList->getSelectedItemIndex();

    peakList->addItem (TRANS ("Sample"), 1);
    peakList->addItem (TRANS ("True peak"), 2);
    peakList->setSelectedItemIndex (processor->isTruePeakMode() ? 1 : 0,
                                    juce::dontSendNotification);
    peakIndexInBox = peakList->getSelectedItemIndex();

    startTimer (pollIntervalMs);
}

OptionGUI::~OptionGUI()
{
    closeButton = nullptr;
    presetList = nullptr;
    label_InputConfig = nullptr;
    peakList = nullptr;
    label_Peak = nullptr;
}

void OptionGUI::paint (juce::Graphics& g)
{
    g.setColour (juce::Colour (0xd0000000));
    g.fillRect (332, 30, 103, 247);
    g.setColour (juce::Colour (0xffb9ac9a));
    g.fillRect (331, 30, 1, 246);
}

void OptionGUI::resized()
{
    closeButton->setBounds (0, 0, 435, 373);
    presetList->setBounds (345, 70, 78, 19);
    label_InputConfig->setBounds (343, 42, 80, 24);
    peakList->setBounds (345, 128, 78, 19);
    label_Peak->setBounds (343, 100, 80, 24);
}

void OptionGUI::timerCallback()
{
    // A box whose pick still has its change message on its way is left alone.
    if (presetList->getSelectedItemIndex() == indexInBox)
    {
        presetList->setSelectedItemIndex (
            processor->idxInputConfig.load (std::memory_order_relaxed), juce::dontSendNotification);
        indexInBox = presetList->getSelectedItemIndex();
    }
    if (peakList->getSelectedItemIndex() == peakIndexInBox)
    {
        peakList->setSelectedItemIndex (processor->isTruePeakMode() ? 1 : 0,
                                        juce::dontSendNotification);
        peakIndexInBox = peakList->getSelectedItemIndex();
    }
}

void OptionGUI::comboBoxChanged (juce::ComboBox* box)
{
    if (box == peakList.get())
    {
        // The processor raises uiRefreshNeeded and tells the host the new latency.
        peakIndexInBox = peakList->getSelectedItemIndex();
        processor->setTruePeakMode (peakIndexInBox == 1);
        return;
    }
    if (box != presetList.get())
        return;

    // Stored before the flag goes up, so that a refresh triggered by the flag reads the new value.
    indexInBox = presetList->getSelectedItemIndex();
    processor->idxInputConfig.store (indexInBox, std::memory_order_relaxed);
    processor->uiRefreshNeeded.store (true, std::memory_order_release);
}

void OptionGUI::buttonClicked (juce::Button* button)
{
    if (button == closeButton.get())
        setVisible (false);
}
