#include "editor/PanelWidgets.h"

namespace panelWidgets
{
std::unique_ptr<juce::TextButton> addCloseButton (juce::Component& panel,
                                                  juce::Button::Listener& listener,
                                                  juce::LookAndFeel& transparentLookAndFeel)
{
    auto button = std::make_unique<juce::TextButton> ("closeButton");
    panel.addAndMakeVisible (button.get());
    button->setButtonText (juce::String());
    button->setConnectedEdges (juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight
                               | juce::Button::ConnectedOnTop | juce::Button::ConnectedOnBottom);
    button->addListener (&listener);
    button->setColour (juce::TextButton::buttonColourId, juce::Colour (0x00ffffff));
    button->setColour (juce::TextButton::buttonOnColourId, juce::Colour (0x00ffffff));
    button->setColour (juce::TextButton::textColourOnId, juce::Colour (0x00000000));
    button->setColour (juce::TextButton::textColourOffId, juce::Colour (0x00000000));
    button->setLookAndFeel (&transparentLookAndFeel);
    return button;
}

std::unique_ptr<juce::Label> addCaption (juce::Component& panel,
                                         const juce::String& name,
                                         const juce::String& text,
                                         float fontHeight)
{
    auto label = std::make_unique<juce::Label> (name, text);
    panel.addAndMakeVisible (label.get());
    label->setFont (juce::Font (fontHeight, juce::Font::plain));
    label->setJustificationType (juce::Justification::centred);
    label->setEditable (false, false, false);
    label->setColour (juce::Label::textColourId, juce::Colour (0xfffcfcfc));
    label->setColour (juce::TextEditor::textColourId, juce::Colour (0xff000000));
    label->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
    return label;
}

std::unique_ptr<juce::ComboBox>
addChoiceBox (juce::Component& panel, const juce::String& name, juce::ComboBox::Listener& listener)
{
    auto box = std::make_unique<juce::ComboBox> (name);
    panel.addAndMakeVisible (box.get());
    box->setEditableText (false);
    box->setJustificationType (juce::Justification::centredLeft);
    box->setTextWhenNothingSelected (juce::String());
    box->setTextWhenNoChoicesAvailable (TRANS ("(no choices)"));
    box->addListener (&listener);
    return box;
}
} // namespace panelWidgets
