// The processor JUCE's format wrappers create for Orvalis: four channels, first order.

#include "processor/CorvaneAudioProcessor.h"

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new CorvaneAudioProcessor();
}
