#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The controls the overlay panels (options, welcome) are made of. Each is added to the panel as
    its next child, so the order of the calls is the order the controls lie in, bottom to top. */
namespace panelWidgets
{
/** The panel-wide invisible button that hides the panel: no background, frame or caption. */
std::unique_ptr<juce::TextButton> addCloseButton (juce::Component& panel,
                                                  juce::Button::Listener& listener,
                                                  juce::LookAndFeel& transparentLookAndFeel);

/** A light caption, centred, in the plain font of the given height. */
std::unique_ptr<juce::Label> addCaption (juce::Component& panel,
                                         const juce::String& name,
                                         const juce::String& text,
                                         float fontHeight);

/** A box of choices that shows nothing while none is chosen. */
std::unique_ptr<juce::ComboBox>
addChoiceBox (juce::Component& panel, const juce::String& name, juce::ComboBox::Listener& listener);
} // namespace panelWidgets
