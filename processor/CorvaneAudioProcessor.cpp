#include "processor/CorvaneAudioProcessor.h"

#include "lookandfeel/TarnwickLookAndFeel.h"

CorvaneAudioProcessor::CorvaneAudioProcessor() :
    AudioProcessor (BusesProperties()
                        .withInput ("Input", juce::AudioChannelSet::discreteChannels (4), true)
                        .withOutput ("Output", juce::AudioChannelSet::discreteChannels (4), true)),
    limiter (std::make_unique<LookaheadLimiter> (40.0f, 0.0f))
{
}

CorvaneAudioProcessor::~CorvaneAudioProcessor() = default;

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new CorvaneAudioProcessor();
}
