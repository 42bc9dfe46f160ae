#include "ProcessorTestSupport.h"

#include <cstring>
#include <random>

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")

namespace hostCalls
{
std::unique_ptr<CorvaneAudioProcessor> createProcessor()
{
    std::unique_ptr<juce::AudioProcessor> p (createPluginFilter());
    auto* processor = dynamic_cast<CorvaneAudioProcessor*> (p.get());
    if (processor == nullptr)
        return nullptr;
    p.release();
    return std::unique_ptr<CorvaneAudioProcessor> (processor);
}

int getNumParameters (juce::AudioProcessor& p)
{
    return p.getNumParameters();
}

juce::String getParameterName (juce::AudioProcessor& p, int index)
{
    return p.getParameterName (index);
}

float getParameter (juce::AudioProcessor& p, int index)
{
    return p.getParameter (index);
}

juce::String getParameterText (juce::AudioProcessor& p, int index)
{
    return p.getParameterText (index);
}

float getParameterDefaultValue (juce::AudioProcessor& p, int index)
{
    return p.getParameterDefaultValue (index);
}

void setParameter (juce::AudioProcessor& p, int index, float value)
{
    p.setParameter (index, value);
}

juce::String getInputChannelName (const juce::AudioProcessor& p, int index)
{
    return p.getInputChannelName (index);
}

juce::String getOutputChannelName (const juce::AudioProcessor& p, int index)
{
    return p.getOutputChannelName (index);
}

bool isInputChannelStereoPair (const juce::AudioProcessor& p, int index)
{
    return p.isInputChannelStereoPair (index);
}

bool isOutputChannelStereoPair (const juce::AudioProcessor& p, int index)
{
    return p.isOutputChannelStereoPair (index);
}

juce::MemoryBlock saveState (juce::AudioProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

void loadState (juce::AudioProcessor& p, const juce::MemoryBlock& block)
{
    p.setStateInformation (block.getData(), static_cast<int> (block.getSize()));
}

juce::MemoryBlock makeStateBlock (const juce::String& xmlText)
{
    const auto utf8 = xmlText.toStdString();
    juce::MemoryBlock block;
    const unsigned char header[] = { 0x56, 0x43, 0x32, 0x21 };
    block.append (header, sizeof header);
    const auto length = static_cast<std::uint32_t> (utf8.size());
    const unsigned char lengthBytes[] = { static_cast<unsigned char> (length & 0xff),
                                          static_cast<unsigned char> ((length >> 8) & 0xff),
                                          static_cast<unsigned char> ((length >> 16) & 0xff),
                                          static_cast<unsigned char> (length >> 24) };
    block.append (lengthBytes, sizeof lengthBytes);
    block.append (utf8.data(), utf8.size());
    const char zero = 0;
    block.append (&zero, 1);
    return block;
}

void process (juce::AudioProcessor& p, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi);
}

void processBypassed (juce::AudioProcessor& p, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    p.processBlockBypassed (buffer, midi);
}

void fillNoise (juce::AudioBuffer<float>& buffer, std::uint32_t seed, float amplitude)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-amplitude, amplitude);
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (ch, i, dist (rng));
}

bool identical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int ch = 0; ch < a.getNumChannels(); ++ch)
        if (std::memcmp (a.getReadPointer (ch),
                         b.getReadPointer (ch),
                         sizeof (float) * static_cast<size_t> (a.getNumSamples()))
            != 0)
            return false;
    return true;
}
} // namespace hostCalls

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
