#pragma once

#include "processor/Parameters.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <memory>

/**
    The settings document Orvalis saves in a host's project, and the block that carries it.

    The document is <Root> holding <Gain>, <Attack>, <Release> and <Threshold> (the knobs'
    normalised values in default stream notation), <idxInputConfig> (0 ambiX, 1 FuMa), only
    while true-peak limiting is on <TruePeak>1</TruePeak> and, only while the window is not at
    100 %, its size in percent (<Size>150</Size>). The size is the window's: the audio and the
    renderer ignore it. The block is the layout of JUCE's
    copyXmlToBinary: a little-endian magic number, the text's length, the text and a zero byte,
    but without the XML declaration JUCE 7 puts in front.

    Reading is lenient as hosts expect of a saved project: tags in any case, elements in any order,
    a later element winning over an earlier one, unknown elements ignored. A block whose text JUCE's
    XML reader cannot read safely (see StateTextCheck) reads as no document at all.
*/
struct SettingsCodec
{
    static constexpr std::uint32_t magic = 0x21324356;
    static constexpr const char* rootTag = "Root";
    static constexpr const char* inputConfigTag = "idxInputConfig";
    static constexpr const char* truePeakTag = "TruePeak";
    static constexpr const char* sizeTag = "Size";

    /** The sizes the window offers, in percent of 435 x 373; the first is the default. */
    static constexpr std::array<int, 4> windowSizes { 100, 125, 150, 200 };
    static bool isWindowSize (int percent) noexcept;

    /** What the plug-in saves. */
    struct Settings
    {
        std::array<float, parameters::numKnobs> normalised {}; // by parameters::Index
        int inputConfig = 0;
        bool truePeak = false;
        int windowSizePercent = windowSizes[0];
    };

    /** The document's text for these settings, on one line. */
    static juce::String toText (const Settings& settings);

    /** The block for a document's text, as it stands. */
    static juce::MemoryBlock wrap (const juce::String& text);

    /** The block for these settings. */
    static juce::MemoryBlock encode (const Settings& settings) { return wrap (toText (settings)); }

    /** The document a block holds, or nullptr when it holds none or one that cannot be read
        safely; the root's tag is not checked. */
    static std::unique_ptr<juce::XmlElement> unwrap (const void* data, int sizeInBytes);

    /** Receives a document's settings in document order; a knob's value may be anything the
        text reads as (NaN, infinity, out of range), for the receiver to judge. */
    struct Receiver
    {
        virtual ~Receiver() = default;
        virtual void knob (parameters::Index index, float normalised) = 0;
        virtual void inputConfig (int value) = 0;
    };

    /** Hands every knob and input-convention element of the document to the receiver, in order. */
    static void read (const juce::XmlElement& root, Receiver& receiver);

    /** Whether the document selects true peaks: a <TruePeak> element whose text reads as a
        non-zero integer, the last such element deciding. */
    static bool selectsTruePeak (const juce::XmlElement& root);

    /** The window size the document selects: the last <Size> element's text as a decimal
        integer when it is one of windowSizes, otherwise (or without the element) 100. */
    static int windowSizeOf (const juce::XmlElement& root);

    /** Whether any element of the document is one of the settings of the sound (the window's size
        is none). */
    static bool holdsAnySetting (const juce::XmlElement& root);

    /** A normalised value as the document holds it: a double in default stream notation (6
        significant digits), which hosts also show as the parameter's text. */
    static juce::String formatNormalised (float value);

    /** Leading blanks, an optional sign, then decimal digits up to the first other character; 0
        when there are none. Saturates instead of overflowing. */
    static int parseDecimalInt (const juce::String& text);
};
