#pragma once

// What an AAX host learns about Orvalis, without Avid's SDK: the description JUCE's AAX wrapper
// registers (built from the JucePlugin_* settings and a live processor) and the order in which it
// restores a saved chunk. A build with the SDK uses JUCE's wrapper itself; this stand-in lets the
// values be checked and printed on machines without it.

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>
#include <vector>

struct AaxDescription
{
    struct Parameter
    {
        juce::String id;        // the parameter index in decimal
        juce::String name;      // at most 31 characters
        juce::String shortName; // at most 4 characters
        float defaultValue = 0.0f;
        int numSteps = 0;
        bool automatable = false;
        bool orientationInverted = false;
    };

    struct Component
    {
        int configIndex = 0;
        int numInputChannels = 0, numOutputChannels = 0;
        juce::String inputStemFormat, outputStemFormat;   // "Quad" for four channels
        juce::String inputArrangement, outputArrangement; // what the processor is told
        bool layoutAccepted = false;                      // the processor's answer to it
        uint32_t nativeTypeId = 0, audioSuiteTypeId = 0;
        uint32_t manufacturerId = 0, productId = 0;
        bool canBypass = false;
        bool multiMono = false;
        juce::String midiInputNodeName; // empty: no MIDI input node
        uint32_t midiInputChannelMask = 0;
        bool hasMidiOutputNode = false;
    };

    juce::String effectIdentifier;
    juce::String manufacturerName;
    juce::StringArray packageNames; // in the order they are added
    uint32_t packageVersion = 0;
    juce::StringArray effectNames;
    uint32_t category = 0;
    std::vector<Component> components;
    juce::String bypassParameterId, bypassParameterName; // empty when bypass is not offered
    std::vector<Parameter> parameters;
    uint32_t chunkType = 0;

    /** Builds the description from the build's settings and the processor's answers. */
    static AaxDescription describe (juce::AudioProcessor& processor);

    /** Restores a chunk the way the AAX wrapper does (only chunks of type chunkType) and returns
        the parameter values it then announces to the host, one per processor parameter. */
    static std::vector<float>
    restoreChunk (juce::AudioProcessor& processor, uint32_t type, const void* data, int size);

    /** The whole description as readable lines, for tools and test messages. */
    juce::String toText() const;
};

/** A four-character code packed big-endian ("jcaa" -> 0x6a636161). */
constexpr uint32_t fourCharCode (const char (&code)[5])
{
    return ((uint32_t) (unsigned char) code[0] << 24) | ((uint32_t) (unsigned char) code[1] << 16)
           | ((uint32_t) (unsigned char) code[2] << 8) | (uint32_t) (unsigned char) code[3];
}
