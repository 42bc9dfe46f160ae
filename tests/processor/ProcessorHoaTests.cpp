// Orvalis HOA's processor: the layouts it takes, one gain over every channel (bit for bit the
// four-channel law where a signal has only first-order content), a layout change taken over at
// prepareToPlay, meters per order and the same settings document as Orvalis.

#include "ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace
{
using Layout = juce::AudioProcessor::BusesLayout;

Layout layoutOf (int inputs, int outputs)
{
    Layout layout;
    layout.inputBuses.add (juce::AudioChannelSet::discreteChannels (inputs));
    layout.outputBuses.add (juce::AudioChannelSet::discreteChannels (outputs));
    return layout;
}

std::unique_ptr<CorvaneAudioProcessor> makeHoa (int order, double rate = 48000.0)
{
    auto p = std::make_unique<CorvaneAudioProcessor> (
        product::orvalisHoa,
        juce::AudioChannelSet::discreteChannels (product::channelsOfOrder (order)));
    p->prepareToPlay (rate, 512);
    return p;
}

// A loud burst on one channel only, the others quiet noise.
void fillScene (juce::AudioBuffer<float>& buffer, int loudChannel, std::uint32_t seed)
{
    hostCalls::fillNoise (buffer, seed, 0.05f);
    for (int i = 100; i < 400; ++i)
        buffer.setSample (loudChannel, i, 3.0f * std::sin (0.05f * static_cast<float> (i)));
}
} // namespace

TEST (HoaProcessor, TakesEveryFullOrderOneToSevenAsManyInAsOutAndRefusesTheRest)
{
    const auto hoa = makeHoa (7);
    const auto orvalis = hostCalls::createProcessor();
    for (int channels = 0; channels <= 66; ++channels)
    {
        const bool fullOrder = channels == 4 || channels == 9 || channels == 16 || channels == 25
                               || channels == 36 || channels == 49 || channels == 64;
        EXPECT_EQ (hoa->checkBusesLayoutSupported (layoutOf (channels, channels)), fullOrder)
            << channels;
        EXPECT_EQ (orvalis->checkBusesLayoutSupported (layoutOf (channels, channels)),
                   channels == 4)
            << channels;
    }
    EXPECT_FALSE (hoa->checkBusesLayoutSupported (layoutOf (16, 9)));
    EXPECT_FALSE (hoa->checkBusesLayoutSupported (layoutOf (64, 16)));
    auto twoBuses = layoutOf (16, 16);
    twoBuses.inputBuses.add (juce::AudioChannelSet::discreteChannels (16));
    EXPECT_FALSE (hoa->checkBusesLayoutSupported (twoBuses));

    // A refused request leaves the layout as it was.
    EXPECT_FALSE (hoa->setBusesLayout (layoutOf (10, 10)));
    EXPECT_EQ (hoa->getTotalNumInputChannels(), 64);
    EXPECT_EQ (hoa->getNumLayoutChannels(), 64);
    EXPECT_EQ (hoa->getName(), "Orvalis HOA");
    EXPECT_EQ (orvalis->getName(), "Orvalis");
}

TEST (HoaProcessor, OneGainOnEveryChannelAndTheFourChannelLawBitForBit)
{
    // The loud channel is the last one: only a detector that looks at every channel sees it.
    for (int order : { 3, 7 })
    {
        const int channels = product::channelsOfOrder (order);
        auto p = makeHoa (order);
        hostCalls::setParameter (*p, CorvaneAudioProcessor::paramAttackTime, 0.125f); // 5 ms
        p->prepareToPlay (48000.0, 512);
        const int delay = p->getLatencySamples();

        juce::AudioBuffer<float> in (channels, 2048);
        fillScene (in, channels - 1, 7);
        auto out = in;
        hostCalls::process (*p, out);

        bool limited = false;
        for (int i = delay; i < 2048; ++i)
        {
            const float loud = in.getSample (channels - 1, i - delay);
            if (std::abs (loud) < 0.5f)
                continue;
            const float gain = out.getSample (channels - 1, i) / loud;
            limited = limited || gain < 0.5f;
            for (int ch = 0; ch < channels - 1; ++ch)
            {
                if (in.getSample (ch, i - delay) == 0.0f)
                    continue;
                ASSERT_NEAR (out.getSample (ch, i) / in.getSample (ch, i - delay), gain, 1e-4f)
                    << "order " << order << ", channel " << ch << ", frame " << i;
            }
        }
        EXPECT_TRUE (limited) << order;
        EXPECT_LE (out.getMagnitude (0, 2048), 1.0f);
    }

    // First-order content in a third-order signal comes out as Orvalis makes it, in both modes.
    for (bool truePeak : { false, true })
    {
        // Both with the same history: created, set, then prepared once.
        auto hoa = std::make_unique<CorvaneAudioProcessor> (product::orvalisHoa,
                                                            juce::AudioChannelSet::ambisonic (3));
        auto orvalis = hostCalls::createProcessor();
        for (auto* p : { static_cast<CorvaneAudioProcessor*> (hoa.get()), orvalis.get() })
        {
            hostCalls::setParameter (*p, CorvaneAudioProcessor::paramInputGain, 0.2f); // +12 dB
            p->setTruePeakMode (truePeak);
            p->prepareToPlay (44100.0, 512);
        }
        for (int block = 0; block < 8; ++block)
        {
            juce::AudioBuffer<float> four (4, 700), sixteen (16, 700);
            hostCalls::fillNoise (four, 100u + static_cast<std::uint32_t> (block), 0.9f);
            sixteen.clear();
            for (int ch = 0; ch < 4; ++ch)
                sixteen.copyFrom (ch, 0, four, ch, 0, 700);
            hostCalls::process (*orvalis, four);
            hostCalls::process (*hoa, sixteen);
            juce::AudioBuffer<float> firstOrder (4, 700);
            for (int ch = 0; ch < 4; ++ch)
                firstOrder.copyFrom (ch, 0, sixteen, ch, 0, 700);
            ASSERT_TRUE (hostCalls::identical (firstOrder, four))
                << (truePeak ? "true peak" : "sample peak") << ", block " << block;
            EXPECT_EQ (sixteen.getMagnitude (4, 0, 700), 0.0f);
        }
    }
}

TEST (HoaProcessor, ALayoutChangeIsTakenOverAtPrepareToPlay)
{
    auto p = makeHoa (7);
    ASSERT_TRUE (p->setBusesLayout (layoutOf (16, 16)));
    EXPECT_EQ (p->getNumLayoutChannels(), 16);
    EXPECT_EQ (p->getNumMeterGroups(), 4);

    // Still prepared for 64 channels: a 16-channel block is not limited but silenced.
    juce::AudioBuffer<float> buffer (16, 512);
    fillScene (buffer, 15, 3);
    hostCalls::process (*p, buffer);
    EXPECT_EQ (buffer.getMagnitude (0, 512), 0.0f);

    // Prepared: the 16 channels are limited with one gain (the burst on channel 15 lowers 0).
    p->prepareToPlay (48000.0, 512);
    juce::AudioBuffer<float> in (16, 512);
    fillScene (in, 15, 3);
    auto out = in;
    hostCalls::process (*p, out);
    const int delay = p->getLatencySamples();
    EXPECT_LE (out.getMagnitude (0, 512), 1.0f);
    EXPECT_LT (std::abs (out.getSample (0, 300 + delay) / in.getSample (0, 300)), 0.5f);
}

TEST (HoaProcessor, MetersShowTheLargestPeakOfEachOrderWhileAWindowShowsThem)
{
    auto p = makeHoa (3);
    juce::AudioBuffer<float> buffer (16, 512);
    const auto fill = [&buffer]
    {
        buffer.clear();
        for (int i = 0; i < 512; ++i)
        {
            buffer.setSample (10, i, i == 200 ? 0.5f : 0.0f); // order 3 (channels 9 to 15): -6 dBFS
            buffer.setSample (2, i, i == 300 ? 0.25f : 0.0f); // order 1: -12 dBFS
            buffer.setSample (3, i, i == 301 ? -0.1f : 0.0f); // order 1, smaller
        }
    };

    // No window: the meters rest.
    fill();
    hostCalls::process (*p, buffer);
    for (const auto& level : p->meterLevels)
        EXPECT_EQ (level.load(), 0.0f);

    p->addMeterViewer();
    fill();
    hostCalls::process (*p, buffer);

    // Level = (dB - 10) / 40 + 1 + 0.00001 (the meters' scale, -30..+10 dBFS onto 0..1).
    const auto expected = [] (float linear)
    { return (20.0f * std::log10 (linear) - 10.0f) / 40.0f + 1.00001f; };
    const auto input = [&p] (int order)
    { return p->meterLevels[static_cast<size_t> (p->meterSlot (false, order))].load(); };
    const auto output = [&p] (int order)
    { return p->meterLevels[static_cast<size_t> (p->meterSlot (true, order))].load(); };
    EXPECT_EQ (input (0), 0.0f);
    EXPECT_NEAR (input (1), expected (0.25f), 1e-5f);
    EXPECT_EQ (input (2), 0.0f);
    EXPECT_NEAR (input (3), expected (0.5f), 1e-5f);
    // The output lags by the look-ahead (48 samples): both peaks are out within the block.
    EXPECT_NEAR (output (1), expected (0.25f), 1e-5f);
    EXPECT_NEAR (output (3), expected (0.5f), 1e-5f);
    EXPECT_EQ (output (0), 0.0f);
    for (int order = 4; order < product::maxMetersPerSide; ++order)
        EXPECT_EQ (input (order), 0.0f) << order;
    p->removeMeterViewer();
}

TEST (HoaProcessor, SavesTheDocumentOrvalisSaves)
{
    auto hoa = makeHoa (5);
    auto orvalis = hostCalls::createProcessor();
    for (auto* p : { static_cast<CorvaneAudioProcessor*> (hoa.get()), orvalis.get() })
    {
        hostCalls::setParameter (*p, CorvaneAudioProcessor::paramReleaseTime, 0.3f);
        hostCalls::setParameter (*p, CorvaneAudioProcessor::paramMaxPeakLevel, 0.45f);
        p->setTruePeakMode (true);
    }
    const auto saved = hostCalls::saveState (*orvalis);
    EXPECT_EQ (hostCalls::saveState (*hoa), saved);

    auto other = makeHoa (1);
    hostCalls::loadState (*other, saved);
    EXPECT_EQ (hostCalls::saveState (*other), saved);
}
