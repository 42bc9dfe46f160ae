// Parameters, programs, host queries and the saved settings document.

#include "ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

using namespace hostCalls;

namespace
{
constexpr int attack = CorvaneAudioProcessor::paramAttackTime;
constexpr int release = CorvaneAudioProcessor::paramReleaseTime;
constexpr int ceiling = CorvaneAudioProcessor::paramMaxPeakLevel;
constexpr int gain = CorvaneAudioProcessor::paramInputGain;

const char* const freshDocument =
    "<Root><Gain>0</Gain><Attack>0.025</Attack><Release>0.02</Release>"
    "<Threshold>0.5</Threshold><idxInputConfig>0</idxInputConfig></Root>";

int latencyAt48k (CorvaneAudioProcessor& p)
{
    p.prepareToPlay (48000.0, 512);
    return p.getLatencySamples();
}
} // namespace

TEST (ProcessorQueries, NamesChannelsMidiAndPrograms)
{
    auto p = createProcessor();
    ASSERT_NE (p, nullptr);

    EXPECT_EQ (p->getName(), "Orvalis");
    EXPECT_TRUE (p->acceptsMidi());
    EXPECT_FALSE (p->producesMidi());
    EXPECT_FALSE (p->silenceInProducesSilenceOut());
    EXPECT_EQ (p->getTailLengthSeconds(), 0.0);
    EXPECT_EQ (p->getTotalNumInputChannels(), 4);
    EXPECT_EQ (p->getTotalNumOutputChannels(), 4);

    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ (getInputChannelName (*p, i), juce::String (i + 1));
        EXPECT_EQ (getOutputChannelName (*p, i), juce::String (i + 1));
        EXPECT_TRUE (isInputChannelStereoPair (*p, i));
        EXPECT_TRUE (isOutputChannelStereoPair (*p, i));
    }

    EXPECT_EQ (p->getNumPrograms(), 1);
    EXPECT_EQ (p->getCurrentProgram(), 0);
    for (int index : { 0, 1, 7, -1 })
        EXPECT_EQ (p->getProgramName (index), "Default") << index;

    setParameter (*p, release, 0.3f);
    p->uiRefreshNeeded = false;
    p->setCurrentProgram (3);
    p->changeProgramName (0, "Mine");
    EXPECT_EQ (p->getCurrentProgram(), 0);
    EXPECT_EQ (p->getProgramName (0), "Default");
    EXPECT_EQ (getParameter (*p, release), 0.3f);
    EXPECT_FALSE (p->uiRefreshNeeded.load());
}

TEST (ProcessorQueries, OnlyFourInFourOutLayoutsAreAccepted)
{
    auto p = createProcessor();
    const auto layout = [] (const juce::AudioChannelSet& in, const juce::AudioChannelSet& out)
    {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add (in);
        l.outputBuses.add (out);
        return l;
    };
    using Set = juce::AudioChannelSet;

    EXPECT_TRUE (p->checkBusesLayoutSupported (
        layout (Set::discreteChannels (4), Set::discreteChannels (4))));
    EXPECT_TRUE (p->checkBusesLayoutSupported (layout (Set::ambisonic (1), Set::ambisonic (1))));
    EXPECT_TRUE (
        p->checkBusesLayoutSupported (layout (Set::quadraphonic(), Set::discreteChannels (4))));
    EXPECT_FALSE (p->checkBusesLayoutSupported (layout (Set::stereo(), Set::stereo())));
    EXPECT_FALSE (p->checkBusesLayoutSupported (layout (Set::discreteChannels (4), Set::stereo())));
    EXPECT_FALSE (p->checkBusesLayoutSupported (layout (Set::mono(), Set::discreteChannels (4))));
    EXPECT_FALSE (p->checkBusesLayoutSupported (layout (Set::ambisonic (2), Set::ambisonic (2))));
    EXPECT_FALSE (p->checkBusesLayoutSupported (
        layout (Set::discreteChannels (4), Set::discreteChannels (6))));
}

TEST (ProcessorParameters, NamesDefaultsAndTextsIncludingIndicesOutOfRange)
{
    auto p = createProcessor();

    EXPECT_EQ (getNumParameters (*p), 4);
    EXPECT_EQ (getParameterName (*p, 0), "Attack Time");
    EXPECT_EQ (getParameterName (*p, 1), "Release Time");
    EXPECT_EQ (getParameterName (*p, 2), "Max Peak Level");
    EXPECT_EQ (getParameterName (*p, 3), "Input Gain");
    EXPECT_EQ (getParameterName (*p, 4), "");
    EXPECT_EQ (getParameterName (*p, -1), "");

    EXPECT_EQ (getParameterDefaultValue (*p, 0), 0.025f);
    EXPECT_EQ (getParameterDefaultValue (*p, 1), 0.02f);
    EXPECT_EQ (getParameterDefaultValue (*p, 2), 0.5f);
    EXPECT_EQ (getParameterDefaultValue (*p, 3), 0.0f);
    EXPECT_EQ (getParameterDefaultValue (*p, 4), 0.0f);

    // The normalised values, not milliseconds or decibels.
    EXPECT_EQ (getParameterText (*p, 0), "0.025");
    EXPECT_EQ (getParameterText (*p, 1), "0.02");
    EXPECT_EQ (getParameterText (*p, 2), "0.5");
    EXPECT_EQ (getParameterText (*p, 3), "0");
    EXPECT_EQ (getParameterText (*p, 4), "");
    EXPECT_EQ (getParameterText (*p, -1), "");
    EXPECT_EQ (getParameter (*p, 4), 0.0f);
    EXPECT_EQ (getParameter (*p, -1), 0.0f);

    // An unknown index changes nothing at all, not even the refresh flag.
    p->uiRefreshNeeded = false;
    setParameter (*p, 4, 0.9f);
    setParameter (*p, -1, 0.9f);
    EXPECT_FALSE (p->uiRefreshNeeded.load());
    EXPECT_EQ (saveState (*p), makeStateBlock (freshDocument));

    setParameter (*p, gain, 0.1f);
    EXPECT_TRUE (p->uiRefreshNeeded.load());
}

TEST (ProcessorParameters, TextsUseSixSignificantDigits)
{
    auto p = createProcessor();
    const std::pair<float, const char*> cases[] = {
        { 0.123456789f, "0.123457" },
        { 1.0f, "1" },
        { 2.5f, "2.5" },
        { 1.0e-7f, "1e-07" },
        { 1.234567e-5f, "1.23457e-05" },
        { 100000.0f, "100000" },
        { 1234567.0f, "1.23457e+06" },
        { -0.75f, "-0.75" },
        { 0.999999f, "0.999999" },
        { 0.9999996f, "1" },
    };
    for (const auto& [value, text] : cases)
    {
        setParameter (*p, release, value);
        EXPECT_EQ (getParameterText (*p, release), text) << value;
    }
}

TEST (ProcessorParameters, AttackAboveRangeKeepsTheLookahead)
{
    auto p = createProcessor();
    setParameter (*p, attack, 1.0f);
    EXPECT_EQ (latencyAt48k (*p), 1920);

    setParameter (*p, attack, 1.5f);
    EXPECT_EQ (getParameter (*p, attack), 1.5f);
    EXPECT_EQ (getParameterText (*p, attack), "1.5");
    EXPECT_EQ (latencyAt48k (*p), 1920);
}

TEST (ProcessorState, FreshProcessorSavesTheDocumentByteForByte)
{
    auto p = createProcessor();
    const auto block = saveState (*p);
    const auto textLength = std::strlen (freshDocument);

    ASSERT_EQ (block.getSize(), 8 + textLength + 1);
    const auto* bytes = static_cast<const unsigned char*> (block.getData());
    EXPECT_EQ (bytes[0], 0x56);
    EXPECT_EQ (bytes[1], 0x43);
    EXPECT_EQ (bytes[2], 0x32);
    EXPECT_EQ (bytes[3], 0x21);
    EXPECT_EQ (bytes[4], textLength & 0xff);
    EXPECT_EQ (bytes[5], 0);
    EXPECT_EQ (bytes[6], 0);
    EXPECT_EQ (bytes[7], 0);
    EXPECT_EQ (std::string (reinterpret_cast<const char*> (bytes + 8), textLength), freshDocument);
    EXPECT_EQ (bytes[8 + textLength], 0);

    // Restoring it into another processor gives back the same values and the same bytes.
    auto q = createProcessor();
    setParameter (*q, attack, 0.7f);
    setParameter (*q, gain, 0.3f);
    q->idxInputConfig = 1;
    loadState (*q, block);
    EXPECT_EQ (getParameter (*q, attack), 0.025f);
    EXPECT_EQ (getParameter (*q, release), 0.02f);
    EXPECT_EQ (getParameter (*q, ceiling), 0.5f);
    EXPECT_EQ (getParameter (*q, gain), 0.0f);
    EXPECT_EQ (q->idxInputConfig.load(), 0);
    EXPECT_EQ (saveState (*q), block);
}

TEST (ProcessorState, RoundTripKeepsSixSignificantDigits)
{
    auto p = createProcessor();
    setParameter (*p, attack, 0.123456789f);
    setParameter (*p, release, 0.987654321f);
    setParameter (*p, ceiling, 0.333333333f);
    setParameter (*p, gain, 0.0000123456789f);
    p->idxInputConfig = 1;

    const auto block = saveState (*p);
    EXPECT_EQ (
        block,
        makeStateBlock (
            "<Root><Gain>1.23457e-05</Gain><Attack>0.123457</Attack><Release>0.987654</Release>"
            "<Threshold>0.333333</Threshold><idxInputConfig>1</idxInputConfig></Root>"));

    // Saving into a block that held a longer state leaves exactly the new one.
    auto q = createProcessor();
    juce::MemoryBlock reused = block;
    q->getStateInformation (reused);
    EXPECT_EQ (reused, makeStateBlock (freshDocument));

    loadState (*q, block);
    EXPECT_EQ (getParameter (*q, attack), 0.123457f);
    EXPECT_EQ (getParameter (*q, release), 0.987654f);
    EXPECT_EQ (getParameter (*q, ceiling), 0.333333f);
    EXPECT_EQ (getParameter (*q, gain), 1.23457e-05f);
    EXPECT_EQ (q->idxInputConfig.load(), 1);
    EXPECT_EQ (saveState (*q), block);
}

TEST (ProcessorState, TagsIgnoreCaseRootNameIsFreeAndOtherContentIsSkipped)
{
    auto p = createProcessor();
    loadState (
        *p,
        makeStateBlock (
            "<Anything version=\"2\">stray text<GAIN>0.25</GAIN><attack>0.5</attack>"
            "<Unknown>0.9</Unknown><rElEaSe> 0.1 </rElEaSe><THRESHOLD>0.<b>7</b>5</THRESHOLD>"
            "<IDXINPUTCONFIG>1</IDXINPUTCONFIG><Gainx>0.8</Gainx></Anything>"));
    EXPECT_EQ (getParameter (*p, gain), 0.25f);
    EXPECT_EQ (getParameter (*p, attack), 0.5f);
    EXPECT_EQ (getParameter (*p, release), 0.1f);
    EXPECT_EQ (getParameter (*p, ceiling), 0.75f); // all the element's text, nested parts included
    EXPECT_EQ (p->idxInputConfig.load(), 1);
    EXPECT_EQ (latencyAt48k (*p), 960);

    // A document as JUCE's own copyXmlToBinary writes it, declaration and all.
    juce::XmlElement root ("Root");
    root.createNewChildElement ("Release")->addTextElement ("0.4");
    juce::MemoryBlock withDeclaration;
    juce::AudioProcessor::copyXmlToBinary (root, withDeclaration);
    loadState (*p, withDeclaration);
    EXPECT_EQ (getParameter (*p, release), 0.4f);
}

TEST (ProcessorState, MissingElementsKeepValuesAndRepeatedOnesApplyInTurn)
{
    auto p = createProcessor();
    setParameter (*p, gain, 0.3f);
    setParameter (*p, ceiling, 0.6f);
    p->idxInputConfig = 1;

    loadState (*p, makeStateBlock ("<Root><Release>0.4</Release><Release>0.45</Release></Root>"));
    EXPECT_EQ (getParameter (*p, gain), 0.3f);
    EXPECT_EQ (getParameter (*p, ceiling), 0.6f);
    EXPECT_EQ (getParameter (*p, attack), 0.025f);
    EXPECT_EQ (getParameter (*p, release), 0.45f);
    EXPECT_EQ (p->idxInputConfig.load(), 1);

    // Both Attack elements reach the limiter: 0.5 sets 20 ms, then 1.5 is refused and 20 ms stays.
    loadState (*p, makeStateBlock ("<Root><Attack>0.5</Attack><Attack>1.5</Attack></Root>"));
    EXPECT_EQ (getParameter (*p, attack), 1.5f);
    EXPECT_EQ (latencyAt48k (*p), 960);
}

TEST (ProcessorState, InputConfigurationIsReadAsALeadingDecimalInteger)
{
    const std::pair<const char*, int> cases[] = {
        { "1", 1 },
        { " \t+7xyz", 7 },
        { "-2", -2 },
        { "abc", 0 },
        { "", 0 },
        { "1.9", 1 },
        { "0x10", 0 },
        { "99999999999", INT_MAX },
        { "-99999999999", INT_MIN },
    };
    auto p = createProcessor();
    for (const auto& [text, expected] : cases)
    {
        p->idxInputConfig = 5;
        p->uiRefreshNeeded = false;
        loadState (*p,
                   makeStateBlock (juce::String ("<Root><idxInputConfig>") + text
                                   + "</idxInputConfig></Root>"));
        EXPECT_EQ (p->idxInputConfig.load(), expected) << '"' << text << '"';
        EXPECT_TRUE (p->uiRefreshNeeded.load());
    }
}

TEST (ProcessorState, BadBlocksAreIgnoredWithoutRaisingTheRefreshFlag)
{
    auto p = createProcessor();
    setParameter (*p, gain, 0.2f);
    setParameter (*p, release, 0.3f);
    p->idxInputConfig = 1;
    const auto before = saveState (*p);

    const auto good = makeStateBlock (freshDocument);
    const auto withByte = [&good] (size_t offset, unsigned char value)
    {
        auto block = good;
        static_cast<unsigned char*> (block.getData())[offset] = value;
        return block;
    };
    const auto truncatedTo = [&good] (size_t size)
    { return juce::MemoryBlock (good.getData(), size); };

    const juce::MemoryBlock badBlocks[] = {
        truncatedTo (8),      // header only
        truncatedTo (5),      // shorter than the header
        withByte (0, 0x57),   // wrong magic number
        withByte (4, 0),      // zero length
        withByte (7, 0x80),   // negative length
        truncatedTo (8 + 30), // document cut in the middle of a value
        makeStateBlock ("not a document at all"),
        makeStateBlock ("<Root><Gain>0.9</Gain>"), // unclosed root
        juce::MemoryBlock(),
    };
    for (const auto& block : badBlocks)
    {
        p->uiRefreshNeeded = false;
        loadState (*p, block);
        EXPECT_FALSE (p->uiRefreshNeeded.load()) << block.toBase64Encoding();
        EXPECT_EQ (saveState (*p), before) << block.toBase64Encoding();
    }

    p->setStateInformation (nullptr, 200);
    EXPECT_EQ (saveState (*p), before);

    // A length word larger than the block reads what is there.
    loadState (*p, withByte (5, 0x10));
    EXPECT_EQ (getParameter (*p, gain), 0.0f);
    EXPECT_TRUE (p->uiRefreshNeeded.load());
}

TEST (ProcessorState, OutOfRangeValuesAreKeptButTheAudioStaysBounded)
{
    auto p = createProcessor();
    loadState (*p,
               makeStateBlock ("<Root><Gain>20</Gain><Attack>-1</Attack><Release>-0.5</Release>"
                               "<Threshold>nan</Threshold></Root>"));
    EXPECT_EQ (getParameter (*p, gain), 20.0f);
    EXPECT_EQ (getParameter (*p, attack), -1.0f);
    EXPECT_EQ (getParameter (*p, release), -0.5f);
    EXPECT_TRUE (std::isnan (getParameter (*p, ceiling)));
    EXPECT_EQ (getParameterText (*p, gain), "20");

    p->prepareToPlay (48000.0, 256);
    EXPECT_EQ (p->getLatencySamples(), 0); // a negative look-ahead is no look-ahead

    // At most +60 dB of gain, the -10 dB ceiling, a 0 ms release: finite and under the ceiling.
    const float lowestCeiling = 0.31622777f;
    juce::AudioBuffer<float> buffer (4, 256);
    for (int block = 0; block < 50; ++block)
    {
        fillNoise (buffer, static_cast<std::uint32_t> (block), block % 2 == 0 ? 1.0f : 1.0e-4f);
        process (*p, buffer);
        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                ASSERT_LE (std::abs (buffer.getSample (ch, i)), lowestCeiling)
                    << block << ' ' << ch << ' ' << i;
    }
}

TEST (ProcessorState, InputConfigurationDoesNotChangeTheAudio)
{
    auto ambix = createProcessor();
    auto fuma = createProcessor();
    loadState (*fuma, makeStateBlock ("<Root><idxInputConfig>1</idxInputConfig></Root>"));
    ASSERT_EQ (fuma->idxInputConfig.load(), 1);

    ambix->prepareToPlay (48000.0, 512);
    fuma->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> a (4, 512), b (4, 512);
    for (std::uint32_t block = 0; block < 8; ++block)
    {
        fillNoise (a, block, 3.0f);
        b.makeCopyOf (a);
        process (*ambix, a);
        process (*fuma, b);
        ASSERT_TRUE (identical (a, b)) << block;
    }
}
