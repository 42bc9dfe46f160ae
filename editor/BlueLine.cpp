#include "editor/BlueLine.h"

BlueLine::BlueLine()
{
    setSize (99, 1);
}

void BlueLine::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0x800b72f2));
}

void BlueLine::resized()
{
}
