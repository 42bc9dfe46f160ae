// The processor JUCE's format wrappers create for Orvalis HOA. Its buses start at the layout each
// format's hosts can take without asking: VST3 hosts see the third-order ambisonic arrangement
// (JUCE maps orders 1 to 3 to VST3's ambisonic speakers), VST 2.4 hosts 64 channels, the most the
// plug-in takes; either may ask for another order through its format's negotiation.

#include "processor/CorvaneAudioProcessor.h"

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    const bool vst3 =
        juce::PluginHostType::getPluginLoadedAs() == juce::AudioProcessor::wrapperType_VST3;
    return new CorvaneAudioProcessor (product::orvalisHoa,
                                      vst3 ? juce::AudioChannelSet::ambisonic (3)
                                           : juce::AudioChannelSet::discreteChannels (64));
}
