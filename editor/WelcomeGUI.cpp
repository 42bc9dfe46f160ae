#include "editor/WelcomeGUI.h"

#include "OrvalisResources.h"

namespace
{
constexpr int allEdges = juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight
                         | juce::Button::ConnectedOnTop | juce::Button::ConnectedOnBottom;
} // namespace

WelcomeGUI::WelcomeGUI()
{
    labelTitle = std::make_unique<juce::Label> ("labelTitle", TRANS ("Orvalis v1.0"));
    addAndMakeVisible (labelTitle.get());
    labelTitle->setFont (juce::Font (18.0f, juce::Font::plain));
    labelTitle->setJustificationType (juce::Justification::centred);
    labelTitle->setEditable (false, false, false);
    labelTitle->setColour (juce::Label::textColourId, juce::Colour (0xfffcfcfc));
    labelTitle->setColour (juce::TextEditor::textColourId, juce::Colour (0xff000000));
    labelTitle->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));

    closeButton = std::make_unique<juce::TextButton> ("closeButton");
    addAndMakeVisible (closeButton.get());
    closeButton->setButtonText (juce::String());
    closeButton->setConnectedEdges (allEdges);
    closeButton->addListener (this);
    closeButton->setColour (juce::TextButton::buttonColourId, juce::Colour (0x00ffffff));
    closeButton->setColour (juce::TextButton::buttonOnColourId, juce::Colour (0x00ffffff));
    closeButton->setColour (juce::TextButton::textColourOnId, juce::Colour (0x00000000));
    closeButton->setColour (juce::TextButton::textColourOffId, juce::Colour (0x00000000));

    hyperlinkButton =
        std::make_unique<juce::HyperlinkButton> (TRANS (siteHost), juce::URL (siteAddress));
    addAndMakeVisible (hyperlinkButton.get());
    hyperlinkButton->setTooltip (TRANS (siteAddress));
    hyperlinkButton->setButtonText (TRANS (siteHost));
    hyperlinkButton->setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffe10035));

    cardImage = juce::ImageCache::getFromMemory (OrvalisResources::welcomeCard_png,
                                                 OrvalisResources::welcomeCard_pngSize);

    setSize (435, 373);

    closeButton->setLookAndFeel (&transparentButtonLookAndFeel);

    hyperlinkButton->setFont (
        juce::Font (14.0f, juce::Font::plain), true, juce::Justification::horizontallyCentred);
}

WelcomeGUI::~WelcomeGUI()
{
    labelTitle = nullptr;
    closeButton = nullptr;
    hyperlinkButton = nullptr;
    cardImage = juce::Image();
}

void WelcomeGUI::paint (juce::Graphics& g)
{
    g.setColour (juce::Colours::black.withAlpha (0.8f));
    g.drawImage (cardImage, 99, 30, 220, 280, 0, 0, cardImage.getWidth(), cardImage.getHeight());
}

void WelcomeGUI::resized()
{
    labelTitle->setBounds (121, 83, 175, 52);
    closeButton->setBounds (0, 0, 435, 373);
    hyperlinkButton->setBounds (125, 268, 168, 22);
}

void WelcomeGUI::buttonClicked (juce::Button* button)
{
    if (button == closeButton.get())
        setVisible (false);
}
