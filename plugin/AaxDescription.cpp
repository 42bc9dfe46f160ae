#include "plugin/AaxDescription.h"

namespace
{
juce::String stemFormatName (int numChannels)
{
    switch (numChannels)
    {
        case 1:
            return "Mono";
        case 2:
            return "Stereo";
        case 3:
            return "LCR";
        case 4:
            return "Quad";
        case 6:
            return "5.1";
        case 8:
            return "7.1";
        default:
            return "None";
    }
}

juce::AudioChannelSet channelSetFor (int numChannels)
{
    return numChannels == 4 ? juce::AudioChannelSet::quadraphonic()
                            : juce::AudioChannelSet::canonicalChannelSet (numChannels);
}

juce::String hexCode (uint32_t code)
{
    juce::String text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += (juce::juce_wchar) ((code >> shift) & 0xff);
    return "'" + text + "' (0x" + juce::String::toHexString ((juce::int64) code) + ")";
}
} // namespace

AaxDescription AaxDescription::describe (juce::AudioProcessor& processor)
{
    AaxDescription d;
    d.effectIdentifier = JUCE_STRINGIFY (JucePlugin_AAXIdentifier);
    d.manufacturerName = JucePlugin_Manufacturer;
    d.packageNames.add (JucePlugin_Desc);
    d.packageNames.add (JucePlugin_Name);
    d.packageVersion = (uint32_t) JucePlugin_VersionCode;
    d.effectNames.add (JucePlugin_Desc);
    d.effectNames.add (JucePlugin_Name);
    d.category = (uint32_t) JucePlugin_AAXCategory;
    d.chunkType = fourCharCode ("juce");

    constexpr short configs[][2] = { JucePlugin_PreferredChannelConfigurations };
    for (int index = 0; index < (int) std::size (configs); ++index)
    {
        Component c;
        c.configIndex = index;
        c.numInputChannels = configs[index][0];
        c.numOutputChannels = configs[index][1];
        c.inputStemFormat = stemFormatName (c.numInputChannels);
        c.outputStemFormat = stemFormatName (c.numOutputChannels);

        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (channelSetFor (c.numInputChannels));
        layout.outputBuses.add (channelSetFor (c.numOutputChannels));
        c.inputArrangement = layout.inputBuses[0].getSpeakerArrangementAsString();
        c.outputArrangement = layout.outputBuses[0].getSpeakerArrangementAsString();
        c.layoutAccepted = processor.checkBusesLayoutSupported (layout);

        c.nativeTypeId = fourCharCode ("jcaa") + (uint32_t) index;
        c.audioSuiteTypeId = fourCharCode ("jyaa") + (uint32_t) index;
        c.manufacturerId = (uint32_t) JucePlugin_AAXManufacturerCode;
        c.productId = (uint32_t) JucePlugin_AAXProductId;
        c.canBypass = JucePlugin_AAXDisableBypass == 0;
        c.multiMono = JucePlugin_AAXDisableMultiMono == 0;
        if (JucePlugin_WantsMidiInput != 0)
        {
            c.midiInputNodeName = JucePlugin_Name;
            c.midiInputChannelMask = 0xffff;
        }
        c.hasMidiOutputNode = JucePlugin_ProducesMidiOutput != 0;
        d.components.push_back (c);
    }

    if (JucePlugin_AAXDisableBypass == 0)
    {
        d.bypassParameterId = "MasterBypassID";
        d.bypassParameterName = "Master Bypass";
    }

    // The index-based calls are what the wrapper reads; JUCE 7 marks them deprecated.
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (int i = 0; i < processor.getNumParameters(); ++i)
    {
        Parameter p;
        p.id = juce::String (i);
        p.name = processor.getParameterName (i, 31);
        p.shortName = processor.getParameterName (i, 4);
        p.defaultValue = processor.getParameterDefaultValue (i);
        p.numSteps = processor.getParameterNumSteps (i);
        p.automatable = processor.isParameterAutomatable (i);
        p.orientationInverted = processor.isParameterOrientationInverted (i);
        d.parameters.push_back (p);
    }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    return d;
}

std::vector<float> AaxDescription::restoreChunk (juce::AudioProcessor& processor,
                                                 uint32_t type,
                                                 const void* data,
                                                 int size)
{
    if (type != fourCharCode ("juce"))
        return {};

    processor.setStateInformation (data, size);

    std::vector<float> announced;
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (int i = 0; i < processor.getNumParameters(); ++i)
        announced.push_back (processor.getParameter (i));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    return announced;
}

juce::String AaxDescription::toText() const
{
    juce::String t;
    t << "effect identifier    " << effectIdentifier << "\n"
      << "manufacturer name    " << manufacturerName << "\n"
      << "package names        " << packageNames.joinIntoString (", ") << "\n"
      << "package version      0x" << juce::String::toHexString ((juce::int64) packageVersion)
      << "\n"
      << "effect names         " << effectNames.joinIntoString (", ") << "\n"
      << "category             " << (int) category << "\n";

    for (const auto& c : components)
    {
        t << "component " << c.configIndex << "\n"
          << "  stem formats       " << c.inputStemFormat << " in (" << c.numInputChannels << "), "
          << c.outputStemFormat << " out (" << c.numOutputChannels << ")\n"
          << "  arrangement        " << c.inputArrangement << " / " << c.outputArrangement
          << (c.layoutAccepted ? " (accepted)" : " (REFUSED by the processor)") << "\n"
          << "  native type ID     " << hexCode (c.nativeTypeId) << "\n"
          << "  AudioSuite type ID " << hexCode (c.audioSuiteTypeId) << "\n"
          << "  manufacturer ID    " << hexCode (c.manufacturerId) << "\n"
          << "  product ID         " << hexCode (c.productId) << "\n"
          << "  can bypass         " << (c.canBypass ? "yes" : "no") << "\n"
          << "  multi-mono         " << (c.multiMono ? "yes" : "no") << "\n"
          << "  MIDI input node    "
          << (c.midiInputNodeName.isEmpty()
                  ? juce::String ("none")
                  : "\"" + c.midiInputNodeName + "\", channel mask 0x"
                        + juce::String::toHexString ((juce::int64) c.midiInputChannelMask))
          << "\n"
          << "  MIDI output node   " << (c.hasMidiOutputNode ? "yes" : "none") << "\n";
    }

    if (bypassParameterId.isNotEmpty())
        t << "bypass parameter     \"" << bypassParameterId << "\" \"" << bypassParameterName
          << "\"\n";

    for (const auto& p : parameters)
        t << "parameter " << p.id << "          \"" << p.name << "\" short \"" << p.shortName
          << "\" default " << p.defaultValue << " steps " << p.numSteps
          << (p.automatable ? " automatable" : " not automatable")
          << (p.orientationInverted ? " inverted" : "") << "\n";

    t << "state chunk type     " << hexCode (chunkType) << "\n";
    return t;
}
