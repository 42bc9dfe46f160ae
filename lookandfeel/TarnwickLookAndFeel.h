#pragma once

#include "lookandfeel/AltLookAndFeel.h"
#include "processor/CorvaneAudioProcessor.h"

/**
    The process-wide default look-and-feel, shared by every processor of the module through
    juce::SharedResourcePointer: the first processor creates it, the last one deletes it. While it
    exists every component without a look-and-feel of its own, and every font lookup, follows
    AltLookAndFeel.
*/
struct CorvaneAudioProcessor::TarnwickLookAndFeel : public AltLookAndFeel
{
    TarnwickLookAndFeel();
    ~TarnwickLookAndFeel() override;
};
