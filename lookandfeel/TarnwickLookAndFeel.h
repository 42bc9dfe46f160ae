#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "processor/CorvaneAudioProcessor.h"

// Installs itself as the desktop's default look-and-feel for as long as any processor lives.
struct CorvaneAudioProcessor::TarnwickLookAndFeel : public juce::LookAndFeel_V3
{
    TarnwickLookAndFeel() { juce::Desktop::getInstance().setDefaultLookAndFeel (this); }
    ~TarnwickLookAndFeel() override
    {
        juce::Desktop::getInstance().setDefaultLookAndFeel (nullptr);
    }
};
