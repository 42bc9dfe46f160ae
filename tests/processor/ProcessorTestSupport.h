#pragma once

#include "processor/CorvaneAudioProcessor.h"

#include <cstdint>
#include <memory>

// Host-side helpers: the processor is created and driven the way a plug-in wrapper does it.
namespace hostCalls
{
std::unique_ptr<CorvaneAudioProcessor> createProcessor();

// The index-based parameter interface that the format wrappers drive.
int getNumParameters (juce::AudioProcessor& p);
juce::String getParameterName (juce::AudioProcessor& p, int index);
float getParameter (juce::AudioProcessor& p, int index);
juce::String getParameterText (juce::AudioProcessor& p, int index);
float getParameterDefaultValue (juce::AudioProcessor& p, int index);
void setParameter (juce::AudioProcessor& p, int index, float value);
juce::String getInputChannelName (const juce::AudioProcessor& p, int index);
juce::String getOutputChannelName (const juce::AudioProcessor& p, int index);
bool isInputChannelStereoPair (const juce::AudioProcessor& p, int index);
bool isOutputChannelStereoPair (const juce::AudioProcessor& p, int index);

juce::MemoryBlock saveState (juce::AudioProcessor& p);
void loadState (juce::AudioProcessor& p, const juce::MemoryBlock& block);
/** A state block around the given text: magic, length, the text and a zero byte. */
juce::MemoryBlock makeStateBlock (const juce::String& xmlText);

void process (juce::AudioProcessor& p, juce::AudioBuffer<float>& buffer);
void processBypassed (juce::AudioProcessor& p, juce::AudioBuffer<float>& buffer);
/** Uniform noise in -amplitude..amplitude from a fixed seed. */
void fillNoise (juce::AudioBuffer<float>& buffer, std::uint32_t seed, float amplitude);
bool identical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b);
} // namespace hostCalls
