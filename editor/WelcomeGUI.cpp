#include "editor/WelcomeGUI.h"

#include "OrvalisResources.h"
#include "editor/PanelWidgets.h"
#include "lookandfeel/WindowPictures.h"

WelcomeGUI::WelcomeGUI (const juce::String& productName)
{
    labelTitle = panelWidgets::addCaption (
        *this, "labelTitle", juce::translate (productName + " v1.0"), 18.0f);
    closeButton = panelWidgets::addCloseButton (*this, *this, transparentButtonLookAndFeel);

    hyperlinkButton =
        std::make_unique<juce::HyperlinkButton> (TRANS (siteHost), juce::URL (siteAddress));
    addAndMakeVisible (hyperlinkButton.get());
    hyperlinkButton->setTooltip (TRANS (siteAddress));
    hyperlinkButton->setButtonText (TRANS (siteHost));
    hyperlinkButton->setColour (juce::HyperlinkButton::textColourId, juce::Colour (0xffe10035));

    cardImage = windowPictures::load (OrvalisResources::welcomeCard_png,
                                      OrvalisResources::welcomeCard_pngSize);

    setSize (435, 373);

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
    windowPictures::draw (
        g, cardImage, 99, 30, 220, 280, 0, 0, cardImage.getWidth(), cardImage.getHeight());
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
