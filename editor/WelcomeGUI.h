#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "lookandfeel/AltLookAndFeel_transparentButton.h"

#include <memory>

/**
    The welcome panel: a window-sized overlay showing a card with the product's name, version and a
    link to the maker's web site. A click anywhere on it except on the link hides it. It reads and
    changes nothing in the processor.
*/
class WelcomeGUI : public juce::Component, public juce::Button::Listener
{
public:
    /** The card names the product (Orvalis or Orvalis HOA) and its version. */
    explicit WelcomeGUI (const juce::String& productName = "Orvalis");
    ~WelcomeGUI() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;

    static constexpr const char* siteHost = "tarnwick.example";
    static constexpr const char* siteAddress = "https://tarnwick.example/orvalis";

private:
    AltLookAndFeel_transparentButton transparentButtonLookAndFeel;

    std::unique_ptr<juce::Label> labelTitle;
    std::unique_ptr<juce::TextButton> closeButton;
    std::unique_ptr<juce::HyperlinkButton> hyperlinkButton;

    juce::Image cardImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WelcomeGUI)
};
