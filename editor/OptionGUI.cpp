#include "editor/OptionGUI.h"

#include "editor/PanelWidgets.h"
#include "processor/CorvaneAudioProcessor.h"

#include <algorithm>

namespace
{
int sizeIndexOf (int percent)
{
    const auto& sizes = SettingsCodec::windowSizes;
    const auto* found = std::find (sizes.begin(), sizes.end(), percent);
    return found != sizes.end() ? static_cast<int> (found - sizes.begin()) : -1;
}
} // namespace

OptionGUI::OptionGUI (CorvaneAudioProcessor* p)
{
    closeButton = panelWidgets::addCloseButton (*this, *this, transparentButtonLookAndFeel);
    presetList = panelWidgets::addChoiceBox (*this, "presetList", *this);
    label_InputConfig =
        panelWidgets::addCaption (*this, "label_InputConfig", TRANS ("I/O config"), 15.0f);
    // The second choice, placed and set like the first one, 58 pixels lower.
    peakList = panelWidgets::addChoiceBox (*this, "peakList", *this);
    label_Peak = panelWidgets::addCaption (*this, "label_Peak", TRANS ("Peak"), 15.0f);
    sizeList = panelWidgets::addChoiceBox (*this, "sizeList", *this);
    label_Size = panelWidgets::addCaption (*this, "label_Size", TRANS ("Size"), 15.0f);

    setSize (435, 373);

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

    for (size_t i = 0; i < SettingsCodec::windowSizes.size(); ++i)
        sizeList->addItem (juce::String (SettingsCodec::windowSizes[i]) + " %",
                           static_cast<int> (i) + 1);
    sizeList->setSelectedItemIndex (sizeIndexOf (processor->getWindowSize()),
                                    juce::dontSendNotification);
    sizeIndexInBox = sizeList->getSelectedItemIndex();

    startTimer (pollIntervalMs);
}

OptionGUI::~OptionGUI()
{
    closeButton = nullptr;
    presetList = nullptr;
    label_InputConfig = nullptr;
    peakList = nullptr;
    label_Peak = nullptr;
    sizeList = nullptr;
    label_Size = nullptr;
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
    sizeList->setBounds (345, 186, 78, 19);
    label_Size->setBounds (343, 158, 80, 24);
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
    if (sizeList->getSelectedItemIndex() == sizeIndexInBox)
    {
        sizeList->setSelectedItemIndex (sizeIndexOf (processor->getWindowSize()),
                                        juce::dontSendNotification);
        sizeIndexInBox = sizeList->getSelectedItemIndex();
    }
}

void OptionGUI::comboBoxChanged (juce::ComboBox* box)
{
    if (box == sizeList.get())
    {
        // The window follows at its next refresh, which the processor flags.
        sizeIndexInBox = sizeList->getSelectedItemIndex();
        if (sizeIndexInBox >= 0)
            processor->setWindowSize (
                SettingsCodec::windowSizes[static_cast<size_t> (sizeIndexInBox)]);
        return;
    }
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
