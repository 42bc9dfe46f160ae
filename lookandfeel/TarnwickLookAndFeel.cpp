#include "lookandfeel/TarnwickLookAndFeel.h"

CorvaneAudioProcessor::TarnwickLookAndFeel::TarnwickLookAndFeel()
{
    juce::Desktop::getInstance().setDefaultLookAndFeel (this);
}

CorvaneAudioProcessor::TarnwickLookAndFeel::~TarnwickLookAndFeel()
{
    // Also tells every desktop component, last to first, that its look-and-feel changed.
    juce::Desktop::getInstance().setDefaultLookAndFeel (nullptr);
}
