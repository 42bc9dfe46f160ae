#include "RecordingContext.h"

#include "OrvalisResources.h"
#include "editor/BlueLine.h"
#include "editor/VuMeter.h"
#include "processor/CorvaneAudioProcessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace
{
/** A gain-reduction meter fed a chosen limiter readout instead of the limiter's own. */
class MeterWithReadout : public VuMeter
{
public:
    using VuMeter::VuMeter;
    float readout = 1.0f;

protected:
    float readGainReductionDb() const override
    {
        // The limiter's definition: -20 log10 of its gain, +inf for a gain of 0.
        return -20.0f * std::log10 (readout);
    }
};

struct Blit
{
    juce::Rectangle<int> source, destination;
};

std::vector<Blit> paintMeter (VuMeter& meter)
{
    RecordingContext context;
    {
        juce::Graphics g (context);
        meter.paint (g);
    }
    std::vector<Blit> blits;
    for (const auto& call : context.images)
    {
        const auto source = RecordingContext::sourceWithin (call.image, meter.meterImage);
        EXPECT_TRUE (source.has_value());
        blits.push_back (
            { source.value_or (juce::Rectangle<int>()), call.destination.toNearestInt() });
    }
    return blits;
}

class Meters : public ::testing::Test
{
protected:
    CorvaneAudioProcessor processor;
    juce::Image green = juce::ImageCache::getFromMemory (
        OrvalisResources::vuMeterVerticalGreen_png, OrvalisResources::vuMeterVerticalGreen_pngSize);
    juce::Image stripes = juce::ImageCache::getFromMemory (OrvalisResources::bandeBleue_png,
                                                           OrvalisResources::bandeBleue_pngSize);
};
} // namespace

TEST_F (Meters, StartWithTheInputPictureAtTheirInitialSize)
{
    VuMeter meter (processor, 3);
    EXPECT_EQ (meter.getBounds(), juce::Rectangle<int> (0, 0, 4, 35));
    EXPECT_EQ (meter.meterImage.getBounds(), juce::Rectangle<int> (0, 0, 10, 143));
    EXPECT_FALSE (meter.showsGainReduction);
}

TEST_F (Meters, LevelModeRevealsTheBottomShareOfThePicture)
{
    VuMeter meter (processor, 5);
    meter.setSize (10, 162);

    struct Case
    {
        float level;
        std::vector<Blit> expected;
    };
    // Worked by hand for a 162-pixel meter and the 143-pixel picture:
    //  0.00001: 162 x 0.99999 = 161.998 -> 161, 143 x 0.99999 = 142.998 -> 142;
    //  0.5: 81 and 71.5 -> 71; 1.00001: 1 - level is slightly negative and truncates to 0.
    const Case cases[] = {
        { 0.0f, {} },
        { 0.00001f, { { { 0, 142, 10, 1 }, { 0, 161, 10, 1 } } } },
        { 0.5f, { { { 0, 71, 10, 72 }, { 0, 81, 10, 81 } } } },
        { 1.0f, { { { 0, 0, 10, 143 }, { 0, 0, 10, 162 } } } },
        { 1.00001f, { { { 0, 0, 10, 143 }, { 0, 0, 10, 162 } } } },
        { std::numeric_limits<float>::quiet_NaN(), {} },
    };
    for (const auto& c : cases)
    {
        processor.meterLevels[5].store (c.level);
        const auto blits = paintMeter (meter);
        ASSERT_EQ (blits.size(), c.expected.size()) << c.level;
        for (size_t i = 0; i < blits.size(); ++i)
        {
            EXPECT_EQ (blits[i].source, c.expected[i].source) << c.level;
            EXPECT_EQ (blits[i].destination, c.expected[i].destination) << c.level;
        }
    }

    // Each meter reads its own slot only.
    processor.meterLevels[5].store (0.0f);
    processor.meterLevels[4].store (1.0f);
    processor.meterLevels[6].store (1.0f);
    EXPECT_TRUE (paintMeter (meter).empty());
}

TEST_F (Meters, LevelModeStretchesAnyPictureOverTheMeter)
{
    // The output meters' 163-pixel picture on the same 162-pixel track.
    VuMeter meter (processor, 7);
    meter.setSize (10, 162);
    meter.meterImage =
        juce::ImageCache::getFromMemory (OrvalisResources::vuMeterVerticalRedGreen_png,
                                         OrvalisResources::vuMeterVerticalRedGreen_pngSize);
    processor.meterLevels[7].store (0.25f);
    const auto blits = paintMeter (meter);
    ASSERT_EQ (blits.size(), 1u);
    // 162 x 0.75 = 121.5 -> 121; 163 x 0.75 = 122.25 -> 122.
    EXPECT_EQ (blits[0].destination, juce::Rectangle<int> (0, 121, 10, 41));
    EXPECT_EQ (blits[0].source, juce::Rectangle<int> (0, 122, 10, 41));
}

TEST_F (Meters, GainReductionModeGrowsDownFromTheTopAndFillsAt31Db)
{
    MeterWithReadout meter (processor, -1);
    meter.setSize (27, 250);
    meter.meterImage = stripes;
    meter.showsGainReduction = true;

    struct Case
    {
        float readout;
        int rows; // of 250, destination and source alike (the picture is 250 pixels tall too)
    };
    // 0.5 is 6.0206 dB: 250 x 6.0206 / 31 = 48.55 -> 48. 0.0282 is 30.995 dB, just short of
    // 31 dB: 249.96 -> 249. 0.0281 is beyond 31 dB, and 0 is +inf dB: both clamp to the full column.
    const Case cases[] = { { 1.0f, 0 },
                           { 0.5f, 48 },
                           { 0.0282f, 249 },
                           { 0.0281f, 250 },
                           { 0.0f, 250 },
                           { 1.2f, 0 },
                           { std::numeric_limits<float>::quiet_NaN(), 0 } };
    for (const auto& c : cases)
    {
        meter.readout = c.readout;
        const auto blits = paintMeter (meter);
        if (c.rows == 0)
        {
            EXPECT_TRUE (blits.empty()) << c.readout;
            continue;
        }
        ASSERT_EQ (blits.size(), 1u) << c.readout;
        EXPECT_EQ (blits[0].source, juce::Rectangle<int> (0, 0, 27, c.rows)) << c.readout;
        EXPECT_EQ (blits[0].destination, juce::Rectangle<int> (0, 0, 27, c.rows)) << c.readout;
    }
}

TEST_F (Meters, GainReductionModeReadsTheProcessorsLimiter)
{
    VuMeter meter (processor, -1);
    meter.setSize (27, 250);
    meter.meterImage = stripes;
    meter.showsGainReduction = true;

    // A limiter that has not reduced anything reads a gain of 1: nothing drawn.
    ASSERT_FLOAT_EQ (processor.limiter->getGainReadout(), 1.0f);
    EXPECT_TRUE (paintMeter (meter).empty());

    // Limit a full-scale square wave to 0.01 (40 dB of reduction): the column fills.
    auto& limiter = *processor.limiter;
    ASSERT_EQ (limiter.setSampleRate (48000), LookaheadLimiter::kOk);
    ASSERT_EQ (limiter.setLookaheadMs (1.0f), LookaheadLimiter::kOk);
    ASSERT_EQ (limiter.setReleaseMs (20.0f), LookaheadLimiter::kOk);
    ASSERT_EQ (limiter.setCeiling (0.01f), LookaheadLimiter::kOk);
    std::vector<std::vector<float>> audio (4, std::vector<float> (4800));
    for (auto& channel : audio)
        for (size_t i = 0; i < channel.size(); ++i)
            channel[i] = (i / 24) % 2 == 0 ? 1.0f : -1.0f;
    float* channels[] = { audio[0].data(), audio[1].data(), audio[2].data(), audio[3].data() };
    ASSERT_EQ (limiter.process (channels, 4800), LookaheadLimiter::kOk);
    ASSERT_GT (limiter.getGainReductionDb(), 31.0f);

    const auto blits = paintMeter (meter);
    ASSERT_EQ (blits.size(), 1u);
    EXPECT_EQ (blits[0].destination, juce::Rectangle<int> (0, 0, 27, 250));
}

TEST_F (Meters, NullPicturesAndMissingSlotsDrawNothing)
{
    VuMeter level (processor, 0);
    level.setSize (10, 162);
    level.meterImage = juce::Image();
    processor.meterLevels[0].store (1.0f);
    EXPECT_TRUE (paintMeter (level).empty());

    MeterWithReadout reduction (processor, -1);
    reduction.setSize (27, 250);
    reduction.meterImage = juce::Image();
    reduction.showsGainReduction = true;
    reduction.readout = 0.0f;
    EXPECT_TRUE (paintMeter (reduction).empty());

    // The gain-reduction meter before it is switched to its mode has no slot to read.
    VuMeter unswitched (processor, -1);
    unswitched.setSize (27, 250);
    EXPECT_TRUE (paintMeter (unswitched).empty());
}

TEST_F (Meters, RenderedMeterLightsOnlyItsLowerPart)
{
    VuMeter meter (processor, 2);
    meter.setSize (10, 162);
    processor.meterLevels[2].store (0.5f);

    const auto image = meter.createComponentSnapshot (meter.getLocalBounds(), false);
    // Rows 0-80 stay transparent; rows 81-161 show the green picture (its inside colour away
    // from the frame, allowing for the stretch's blending).
    EXPECT_EQ (image.getPixelAt (5, 40).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (5, 80).getAlpha(), 0);
    const auto lit = image.getPixelAt (5, 120);
    EXPECT_EQ (lit.getAlpha(), 255);
    EXPECT_NEAR (lit.getRed(), 59, 3);
    EXPECT_NEAR (lit.getGreen(), 240, 3);
    EXPECT_NEAR (lit.getBlue(), 40, 3);
}

TEST (BlueLineDrawing, FillsItsWholeAreaWithTranslucentBlue)
{
    BlueLine line;
    EXPECT_EQ (line.getBounds(), juce::Rectangle<int> (0, 0, 99, 1));
    line.setBounds (202, 115, 99, 3);

    RecordingContext context ({ 0, 0, 99, 3 });
    {
        juce::Graphics g (context);
        line.paint (g);
    }
    ASSERT_EQ (context.fills.size(), 1u);
    EXPECT_EQ (context.fills[0].area, juce::Rectangle<float> (0.0f, 0.0f, 99.0f, 3.0f));
    EXPECT_EQ (context.fills[0].fill.colour, juce::Colour (0x800b72f2));

    // Over a meter's green, half of each shows.
    juce::Image image (juce::Image::ARGB, 99, 3, true);
    {
        juce::Graphics g (image);
        g.fillAll (juce::Colour (59, 240, 40));
        line.paintEntireComponent (g, false);
    }
    const auto mixed = image.getPixelAt (50, 1);
    EXPECT_NEAR (mixed.getRed(), (59 + 11) / 2, 2);
    EXPECT_NEAR (mixed.getGreen(), (240 + 114) / 2, 2);
    EXPECT_NEAR (mixed.getBlue(), (40 + 242) / 2, 2);
}

TEST (HoaWindow, LightsOneMeterPerOrderTheSignalHasAndFollowsTheLayout)
{
    CorvaneAudioProcessor processor (product::orvalisHoa,
                                     juce::AudioChannelSet::discreteChannels (16));
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
    dynamic_cast<juce::Timer&> (*editor).timerCallback();

    std::vector<VuMeter*> meters;
    for (auto* child : editor->getChildren())
        if (auto* meter = dynamic_cast<VuMeter*> (child);
            meter != nullptr && ! meter->showsGainReduction)
            meters.push_back (meter);
    ASSERT_EQ (meters.size(), 16u);
    const auto visibleMeters = [&meters]
    {
        int n = 0;
        for (auto* m : meters)
            n += m->isVisible() ? 1 : 0;
        return n;
    };
    EXPECT_EQ (visibleMeters(), 8); // orders 0 to 3, in and out

    // Input meters of orders 3 and 4 at full scale: the third-order signal lights only the first.
    // The tracks are 6 pixels wide at x 50 + 9 x order.
    processor.meterLevels[static_cast<size_t> (processor.meterSlot (false, 3))].store (1.0f);
    processor.meterLevels[static_cast<size_t> (processor.meterSlot (false, 4))].store (1.0f);
    const auto isGreen = [] (juce::Colour c)
    { return c.getGreen() > 200 && c.getRed() < 120 && c.getBlue() < 120; };
    auto image = editor->createComponentSnapshot (editor->getLocalBounds());
    EXPECT_TRUE (isGreen (image.getPixelAt (50 + 27 + 3, 150)));
    EXPECT_FALSE (isGreen (image.getPixelAt (50 + 36 + 3, 150)));
    const float captionBrightness = image.getPixelAt (84, 266).getBrightness();

    // The host chooses 7th order: at the next refresh all eight tracks a side light up.
    ASSERT_TRUE (processor.setBusesLayout ({ { juce::AudioChannelSet::discreteChannels (64) },
                                             { juce::AudioChannelSet::discreteChannels (64) } }));
    dynamic_cast<juce::Timer&> (*editor).timerCallback();
    EXPECT_EQ (visibleMeters(), 16);
    image = editor->createComponentSnapshot (editor->getLocalBounds());
    EXPECT_TRUE (isGreen (image.getPixelAt (50 + 36 + 3, 150)));
    // The order caption under the input meters is drawn, and changed with the order.
    EXPECT_GT (std::max (captionBrightness, image.getPixelAt (84, 266).getBrightness()), 0.3f);
    bool captionChanged = false;
    const auto before = editor->createComponentSnapshot ({ 35, 262, 100, 9 });
    ASSERT_TRUE (processor.setBusesLayout ({ { juce::AudioChannelSet::discreteChannels (9) },
                                             { juce::AudioChannelSet::discreteChannels (9) } }));
    dynamic_cast<juce::Timer&> (*editor).timerCallback();
    const auto after = editor->createComponentSnapshot ({ 35, 262, 100, 9 });
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 100; ++x)
            captionChanged = captionChanged || before.getPixelAt (x, y) != after.getPixelAt (x, y);
    EXPECT_TRUE (captionChanged);
    EXPECT_EQ (visibleMeters(), 6);
}
