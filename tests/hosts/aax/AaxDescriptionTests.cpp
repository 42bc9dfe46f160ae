// The AAX host's view, through the stand-in for JUCE's AAX wrapper: every value of the effect
// description, and the restore order of a saved chunk.

#include "plugin/AaxDescription.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{
class AaxHost : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI juce;
    std::unique_ptr<juce::AudioProcessor> processor { createPluginFilter() };
};
} // namespace

TEST_F (AaxHost, EffectDescriptionCarriesTheIdentity)
{
    const auto d = AaxDescription::describe (*processor);
    SCOPED_TRACE (d.toText().toStdString());

    EXPECT_EQ (d.effectIdentifier, "com.Tarnwick.Orvalis");
    EXPECT_EQ (d.manufacturerName, "Tarnwick");
    EXPECT_EQ (d.packageNames, juce::StringArray ("Orvalis", "Orvalis"));
    EXPECT_EQ (d.packageVersion, 0x10000u);
    EXPECT_EQ (d.effectNames, juce::StringArray ("Orvalis", "Orvalis"));
    EXPECT_EQ (d.category, 512u); // sound field
    EXPECT_EQ (d.bypassParameterId, "MasterBypassID");
    EXPECT_EQ (d.bypassParameterName, "Master Bypass");
    EXPECT_EQ (d.chunkType, 0x6a756365u); // 'juce'

    ASSERT_EQ (d.components.size(), 1u);
    const auto& c = d.components[0];
    EXPECT_EQ (c.configIndex, 0);
    EXPECT_EQ (c.numInputChannels, 4);
    EXPECT_EQ (c.numOutputChannels, 4);
    EXPECT_EQ (c.inputStemFormat, "Quad");
    EXPECT_EQ (c.outputStemFormat, "Quad");
    EXPECT_EQ (c.inputArrangement, "L R Ls Rs");
    EXPECT_EQ (c.outputArrangement, "L R Ls Rs");
    EXPECT_TRUE (c.layoutAccepted);
    EXPECT_EQ (c.nativeTypeId, 0x6a636161u);     // 'jcaa' + 0
    EXPECT_EQ (c.audioSuiteTypeId, 0x6a796161u); // 'jyaa' + 0
    EXPECT_EQ (c.manufacturerId, 0x5461726eu);   // 'Tarn'
    EXPECT_EQ (c.productId, 0x546b4f72u);        // 'TkOr'
    EXPECT_TRUE (c.canBypass);
    EXPECT_TRUE (c.multiMono);
    EXPECT_EQ (c.midiInputNodeName, "Orvalis");
    EXPECT_EQ (c.midiInputChannelMask, 0xffffu);
    EXPECT_FALSE (c.hasMidiOutputNode);
}

TEST_F (AaxHost, ParametersAreRegisteredByIndexWithCutNames)
{
    const auto d = AaxDescription::describe (*processor);
    ASSERT_EQ (d.parameters.size(), 4u);

    struct Expected
    {
        const char* name;
        const char* shortName;
        float defaultValue;
    };
    const Expected expected[] = { { "Attack Time", "Atta", 0.025f },
                                  { "Release Time", "Rele", 0.02f },
                                  { "Max Peak Level", "Max ", 0.5f },
                                  { "Input Gain", "Inpu", 0.0f } };

    for (size_t i = 0; i < 4; ++i)
    {
        const auto& p = d.parameters[i];
        SCOPED_TRACE (expected[i].name);
        EXPECT_EQ (p.id, juce::String ((int) i));
        EXPECT_EQ (p.name, expected[i].name);
        EXPECT_EQ (p.shortName, expected[i].shortName);
        EXPECT_LE (p.name.length(), 31);
        EXPECT_LE (p.shortName.length(), 4);
        EXPECT_EQ (p.defaultValue, expected[i].defaultValue);
        EXPECT_EQ (p.numSteps, 0x7fffffff); // continuous
        EXPECT_TRUE (p.automatable);
        EXPECT_FALSE (p.orientationInverted);
    }
}

TEST_F (AaxHost, OnlyTheFourChannelLayoutIsAccepted)
{
    auto layout = [] (juce::AudioChannelSet in, juce::AudioChannelSet out)
    {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add (in);
        l.outputBuses.add (out);
        return l;
    };
    using Set = juce::AudioChannelSet;
    EXPECT_TRUE (
        processor->checkBusesLayoutSupported (layout (Set::quadraphonic(), Set::quadraphonic())));
    EXPECT_TRUE (processor->checkBusesLayoutSupported (
        layout (Set::discreteChannels (4), Set::discreteChannels (4))));
    EXPECT_FALSE (processor->checkBusesLayoutSupported (layout (Set::stereo(), Set::stereo())));
    EXPECT_FALSE (
        processor->checkBusesLayoutSupported (layout (Set::create5point1(), Set::create5point1())));
    EXPECT_FALSE (
        processor->checkBusesLayoutSupported (layout (Set::quadraphonic(), Set::stereo())));
    EXPECT_FALSE (processor->checkBusesLayoutSupported (layout (Set::mono(), Set::quadraphonic())));
}

TEST_F (AaxHost, RestoredChunkIsAnnouncedParameterByParameter)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    const float values[] = { 0.25f, 0.125f, 0.75f, 0.5f };
    for (int i = 0; i < 4; ++i)
        processor->setParameter (i, values[i]);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    juce::MemoryBlock chunk;
    processor->getStateInformation (chunk);
    ASSERT_GT (chunk.getSize(), 9u);

    std::unique_ptr<juce::AudioProcessor> other (createPluginFilter());
    const auto juceType = fourCharCode ("juce");

    // A chunk of another type is not the wrapper's: nothing is restored or announced.
    EXPECT_TRUE (AaxDescription::restoreChunk (
                     *other, fourCharCode ("abcd"), chunk.getData(), (int) chunk.getSize())
                     .empty());
    const auto untouched = AaxDescription::restoreChunk (*other, juceType, nullptr, 0);
    EXPECT_EQ (untouched, (std::vector<float> { 0.025f, 0.02f, 0.5f, 0.0f }));

    const auto announced =
        AaxDescription::restoreChunk (*other, juceType, chunk.getData(), (int) chunk.getSize());
    EXPECT_EQ (announced, (std::vector<float> (values, values + 4)));

    juce::MemoryBlock again;
    other->getStateInformation (again);
    EXPECT_EQ (again, chunk);
}
