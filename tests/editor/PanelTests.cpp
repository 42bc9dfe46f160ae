#include "WindowTestSupport.h"

#include "editor/OptionGUI.h"
#include "editor/WelcomeGUI.h"
#include "lookandfeel/TarnwickLookAndFeel.h"

#include <gtest/gtest.h>

#include <memory>

using namespace windowTests;

namespace
{
std::unique_ptr<CorvaneAudioProcessor> makeProcessor()
{
    std::unique_ptr<juce::AudioProcessor> p (createPluginFilter());
    auto* typed = dynamic_cast<CorvaneAudioProcessor*> (p.get());
    if (typed == nullptr)
        return nullptr;
    p.release();
    return std::unique_ptr<CorvaneAudioProcessor> (typed);
}

template <typename Type>
Type* childNamed (juce::Component& parent, const juce::String& name)
{
    for (auto* c : parent.getChildren())
        if (c->getName() == name)
            if (auto* typed = dynamic_cast<Type*> (c))
                return typed;
    return nullptr;
}

// Places in window coordinates.
const juce::Point<int> gear { 416, 14 };
const juce::Point<int> titleStrip { 100, 14 };
const juce::Point<int> darkColumn { 380, 235 };   // options column, below the boxes
const juce::Point<int> optionsLabel { 383, 54 };  // "I/O config"
const juce::Point<int> optionsBox { 384, 79 };    // the choice box
const juce::Point<int> welcomeTitle { 208, 108 }; // "Orvalis v1.0"
const juce::Point<int> welcomeLink { 209, 279 };
const juce::Point<int> outsideTheCard { 40, 200 };

class Panels : public ::testing::Test
{
protected:
    std::unique_ptr<CorvaneAudioProcessor> processor = makeProcessor();
    std::unique_ptr<OpenWindow> window;

    void SetUp() override
    {
        ASSERT_NE (processor, nullptr);
        window = std::make_unique<OpenWindow> (*processor);
    }

    OptionGUI& options() { return *window->childOfType<OptionGUI>(); }
    WelcomeGUI& welcome() { return *window->childOfType<WelcomeGUI>(); }
    juce::ComboBox& box() { return *childNamed<juce::ComboBox> (options(), "presetList"); }
    void poll() { options().timerCallback(); }
};
} // namespace

TEST_F (Panels, GearAndTitleToggleTheirPanels)
{
    auto& w = *window;

    // The gear acts as soon as the button goes down.
    w.mouseDown (gear);
    EXPECT_TRUE (options().isVisible());
    w.mouseUp (gear);
    EXPECT_TRUE (options().isVisible());
    EXPECT_FALSE (welcome().isVisible());
    w.click (gear); // now on the panel, which covers the gear
    EXPECT_FALSE (options().isVisible());

    w.click (titleStrip);
    EXPECT_TRUE (welcome().isVisible());
    EXPECT_FALSE (options().isVisible());
    w.click (titleStrip);
    EXPECT_FALSE (welcome().isVisible());

    // The buttons themselves toggle: showing a panel does not hide the other, and the welcome
    // panel lies above the options panel.
    auto& editor = dynamic_cast<juce::Button::Listener&> (w.editor());
    auto* gearButton = w.child<juce::Button> ("engrenage");
    auto* titleButton = w.child<juce::Button> ("new button");
    editor.buttonClicked (gearButton);
    editor.buttonClicked (titleButton);
    EXPECT_TRUE (options().isVisible());
    EXPECT_TRUE (welcome().isVisible());
    EXPECT_GT (w.editor().getIndexOfChildComponent (&welcome()),
               w.editor().getIndexOfChildComponent (&options()));
    editor.buttonClicked (gearButton);
    EXPECT_FALSE (options().isVisible());
    EXPECT_TRUE (welcome().isVisible());
    editor.buttonClicked (titleButton);
    EXPECT_FALSE (welcome().isVisible());

    // Buttons that are not the window's own change nothing.
    juce::TextButton stranger ("stranger");
    editor.buttonClicked (&stranger);
    EXPECT_FALSE (options().isVisible());
    EXPECT_FALSE (welcome().isVisible());
}

TEST_F (Panels, AShownPanelCatchesClicksMeantForTheOtherButton)
{
    auto& w = *window;

    w.click (gear);
    ASSERT_TRUE (options().isVisible());
    w.click (titleStrip); // lands on the options panel's close area
    EXPECT_FALSE (options().isVisible());
    EXPECT_FALSE (welcome().isVisible());

    w.click (titleStrip);
    ASSERT_TRUE (welcome().isVisible());
    w.click (gear); // lands on the welcome panel's close area
    EXPECT_FALSE (welcome().isVisible());
    EXPECT_FALSE (options().isVisible());
}

TEST_F (Panels, OptionsPanelHidesOnClicksOutsideItsControls)
{
    auto& w = *window;

    w.click (gear);
    w.click (optionsLabel);
    EXPECT_TRUE (options().isVisible());

    w.click (optionsBox);
    dispatchPendingMessages(); // the box opens its menu through a message
    EXPECT_TRUE (box().isPopupActive());
    EXPECT_TRUE (options().isVisible());
    juce::PopupMenu::dismissAllActiveMenus();
    dispatchPendingMessages();

    w.click (darkColumn);
    EXPECT_FALSE (options().isVisible());

    w.click (gear);
    w.click ({ 60, 300 }); // far from the column: the panel covers the whole window
    EXPECT_FALSE (options().isVisible());
}

TEST_F (Panels, WelcomePanelHidesOnAnyClickButTheLink)
{
    auto& w = *window;

    juce::HyperlinkButton* link = nullptr;
    for (auto* c : welcome().getChildren())
        if (auto* l = dynamic_cast<juce::HyperlinkButton*> (c))
            link = l;
    ASSERT_NE (link, nullptr);
    EXPECT_EQ (link->getButtonText(), "tarnwick.example");
    EXPECT_EQ (link->getURL().toString (false), "https://tarnwick.example/orvalis");
    EXPECT_EQ (link->getTooltip(), "https://tarnwick.example/orvalis");
    link->setURL (juce::URL()); // keep the test from starting a web browser

    w.click (titleStrip);
    w.click (welcomeLink);
    EXPECT_TRUE (welcome().isVisible());

    w.click (welcomeTitle); // the close area lies above the title
    EXPECT_FALSE (welcome().isVisible());

    w.click (titleStrip);
    w.click (outsideTheCard);
    EXPECT_FALSE (welcome().isVisible());
}

TEST_F (Panels, PickWinsOverAPollThatComesBeforeItsChangeMessage)
{
    auto& w = *window;
    w.tick();

    // A pick from the menu changes the box at once but tells the panel through a later message;
    // a poll in between must not put the old value back.
    box().setSelectedId (2);
    poll();
    EXPECT_EQ (box().getText(), "FuMa");
    dispatchPendingMessages();
    EXPECT_EQ (processor->idxInputConfig.load(), 1);
    EXPECT_TRUE (processor->uiRefreshNeeded.load());
    poll();
    EXPECT_EQ (box().getText(), "FuMa");

    box().setSelectedId (1);
    poll();
    poll();
    dispatchPendingMessages();
    EXPECT_EQ (processor->idxInputConfig.load(), 0);
    EXPECT_EQ (box().getText(), "ambiX");
}

TEST_F (Panels, SizeChoiceScalesTheWindowAtItsNextRefresh)
{
    auto& w = *window;
    auto& size = *childNamed<juce::ComboBox> (options(), "sizeList");
    ASSERT_EQ (size.getNumItems(), 4);
    EXPECT_EQ (size.getText(), "100 %");

    size.setSelectedId (3);
    dispatchPendingMessages();
    EXPECT_EQ (processor->getWindowSize(), 150);
    w.tick();
    EXPECT_EQ (w.editor().getBoundsInParent().getWidth(), 653);
    EXPECT_EQ (w.editor().getBoundsInParent().getHeight(), 560);
    EXPECT_EQ (w.editor().getWidth(), 435); // laid out as ever, scaled as a whole

    processor->setWindowSize (100); // a restored state
    w.tick();
    poll();
    EXPECT_EQ (size.getText(), "100 %");
    EXPECT_EQ (w.editor().getBoundsInParent().getWidth(), 435);
}

TEST_F (Panels, BoxFollowsARestoredStateWithoutWritingBack)
{
    auto saved = makeProcessor();
    saved->idxInputConfig = 1;
    juce::MemoryBlock state;
    saved->getStateInformation (state);

    window->click (gear);
    ASSERT_EQ (box().getText(), "ambiX");
    processor->setStateInformation (state.getData(), static_cast<int> (state.getSize()));
    window->tick();
    processor->uiRefreshNeeded = false;

    poll();
    EXPECT_EQ (box().getText(), "FuMa");
    dispatchPendingMessages();
    EXPECT_FALSE (processor->uiRefreshNeeded.load()) << "the panel wrote the restored value back";
    EXPECT_EQ (processor->idxInputConfig.load(), 1);

    // Values that name no choice leave the box empty, with both choices still offered.
    for (int invalid : { 2, -1 })
    {
        processor->idxInputConfig = invalid;
        poll();
        EXPECT_EQ (box().getSelectedItemIndex(), -1) << invalid;
        EXPECT_EQ (box().getText(), "") << invalid;
        EXPECT_EQ (box().getNumItems(), 2);
        dispatchPendingMessages();
        EXPECT_EQ (processor->idxInputConfig.load(), invalid);
    }

    const auto* timer = dynamic_cast<juce::Timer*> (&options());
    EXPECT_EQ (timer->getTimerInterval(), 100);
}

TEST (WindowLifetime, OpensAndClosesRepeatedlyBesideASecondProcessor)
{
    auto first = makeProcessor();
    auto second = makeProcessor();
    auto* shared = &juce::Desktop::getInstance().getDefaultLookAndFeel();
    ASSERT_NE (dynamic_cast<CorvaneAudioProcessor::TarnwickLookAndFeel*> (shared), nullptr);

    for (int round = 0; round < 10; ++round)
    {
        OpenWindow a (*first);
        OpenWindow b (*second, { 500, 0 });
        a.tick();
        b.tick();
        a.click (gear);
        b.click (titleStrip);
        EXPECT_TRUE (a.childOfType<OptionGUI>()->isVisible());
        EXPECT_FALSE (b.childOfType<OptionGUI>()->isVisible());
        EXPECT_TRUE (b.childOfType<WelcomeGUI>()->isVisible());
    }

    // A reopened window starts with both panels hidden.
    {
        OpenWindow again (*first);
        EXPECT_FALSE (again.childOfType<OptionGUI>()->isVisible());
        EXPECT_FALSE (again.childOfType<WelcomeGUI>()->isVisible());
    }

    // The first processor goes while the second one's window is open; that window keeps working
    // with the shared look-and-feel.
    {
        OpenWindow b (*second);
        first = nullptr;
        EXPECT_EQ (&juce::Desktop::getInstance().getDefaultLookAndFeel(), shared);
        b.tick();
        const auto snapshot = b.editor().createComponentSnapshot (b.editor().getLocalBounds());
        EXPECT_EQ (snapshot.getWidth(), 435);
        b.click (gear);
        EXPECT_TRUE (b.childOfType<OptionGUI>()->isVisible());
    }
    second = nullptr;
}
