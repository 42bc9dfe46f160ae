#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

// Pictures, fonts and components need JUCE's GUI singletons, but no display.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI gui;
    return RUN_ALL_TESTS();
}
