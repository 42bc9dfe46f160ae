#include "WindowTestSupport.h"

#include "OrvalisResources.h"
#include "editor/BlueLine.h"
#include "editor/OptionGUI.h"
#include "editor/VuMeter.h"
#include "editor/WelcomeGUI.h"
#include "lookandfeel/TarnwickLookAndFeel.h"

#include <gtest/gtest.h>

#include <map>

#include <memory>
#include <typeinfo>

using namespace windowTests;
using Kind = HostRecorder::Event::Kind;

namespace
{
std::unique_ptr<CorvaneAudioProcessor> makeProcessor()
{
    std::unique_ptr<juce::AudioProcessor> p (createPluginFilter());
    auto* typed = dynamic_cast<CorvaneAudioProcessor*> (p.get());
    if (typed == nullptr)
        return nullptr;
    p.release();
    return std::unique_ptr<CorvaneAudioProcessor> (typed);
}

void hostSets (juce::AudioProcessor& p, int index, float value)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

float parameter (juce::AudioProcessor& p, int index)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return p.getParameter (index);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

/** What the knob's value box shows. */
juce::String valueText (juce::Slider& s)
{
    for (auto* c : s.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (c))
            return label->getText();
    return "<no value box>";
}

juce::Point<int> knobCentre (juce::Slider& s)
{
    // The knob pictures sit at the slider's top-left corner (48 or 70 pixels); the fader's track
    // is 27 x 81 at x 10.
    if (s.getName() == "sliderThreshold")
        return s.getPosition() + juce::Point<int> (23, 40);
    if (s.getName() == "sliderGain")
        return s.getPosition() + juce::Point<int> (35, 35);
    return s.getPosition() + juce::Point<int> (24, 24);
}

class Window : public ::testing::Test
{
protected:
    std::unique_ptr<CorvaneAudioProcessor> processor = makeProcessor();
    HostRecorder host;
    std::unique_ptr<OpenWindow> window;

    void SetUp() override
    {
        ASSERT_NE (processor, nullptr);
        processor->addListener (&host);
    }

    void TearDown() override
    {
        window = nullptr;
        processor->removeListener (&host);
    }

    OpenWindow& open()
    {
        window = std::make_unique<OpenWindow> (*processor);
        return *window;
    }

    juce::Slider& knob (const char* name)
    {
        auto* s = window->child<juce::Slider> (name);
        EXPECT_NE (s, nullptr) << name;
        return *s;
    }

    BlueLine& line() { return *window->child<BlueLine> ("blueLine"); }
    OptionGUI& options() { return *window->childOfType<OptionGUI>(); }
    WelcomeGUI& welcome() { return *window->childOfType<WelcomeGUI>(); }
};
} // namespace

TEST_F (Window, ChildrenLieInCreationOrderWithTheirNamesAndBounds)
{
    auto& w = open();
    EXPECT_EQ (w.editor().getBounds(), juce::Rectangle<int> (0, 0, 435, 373));
    EXPECT_FALSE (w.editor().isResizable());

    struct Expected
    {
        const char* name;
        const std::type_info& type;
        juce::Rectangle<int> bounds;
        bool visible;
    };
    // clang-format off
    const Expected children[] = {
        { "engrenage",            typeid (juce::ImageButton), { 407, 5, 18, 18 },    true },
        { "vuMeter",              typeid (VuMeter),           { 50, 76, 10, 162 },   true },
        { "vuMeter",              typeid (VuMeter),           { 69, 76, 10, 162 },   true },
        { "vuMeter",              typeid (VuMeter),           { 89, 76, 10, 162 },   true },
        { "vuMeter",              typeid (VuMeter),           { 108, 76, 10, 162 },  true },
        { "vuMeter",              typeid (VuMeter),           { 218, 76, 10, 162 },  true },
        { "vuMeter",              typeid (VuMeter),           { 237, 76, 10, 162 },  true },
        { "sliderGain",           typeid (juce::Slider),      { 10, 298, 114, 70 },  true },
        { "new button",           typeid (juce::TextButton),  { 0, 0, 208, 28 },     true },
        { "vuMeter",              typeid (VuMeter),           { 257, 76, 10, 162 },  true },
        { "vuMeter",              typeid (VuMeter),           { 276, 76, 10, 162 },  true },
        { "sliderAttack",         typeid (juce::Slider),      { 153, 310, 113, 56 }, true },
        { "sliderRelease",        typeid (juce::Slider),      { 312, 310, 113, 56 }, true },
        { "sliderThreshold",      typeid (juce::Slider),      { 367, 71, 64, 137 },  true },
        { "vuMeterGainReduction", typeid (VuMeter),           { 155, 30, 27, 250 },  true },
        { "blueLine",             typeid (BlueLine),          { 202, 115, 99, 3 },   true },
        { "",                     typeid (OptionGUI),         { 0, 0, 435, 373 },    false },
        { "",                     typeid (WelcomeGUI),        { 0, 0, 435, 373 },    false },
    };
    // clang-format on

    ASSERT_EQ (w.editor().getNumChildComponents(), static_cast<int> (std::size (children)));
    for (int i = 0; i < w.editor().getNumChildComponents(); ++i)
    {
        SCOPED_TRACE ("child " + std::to_string (i));
        const auto* c = w.editor().getChildComponent (i);
        const auto& expected = children[i];
        EXPECT_EQ (c->getName(), juce::String (expected.name));
        EXPECT_EQ (typeid (*c), expected.type);
        EXPECT_EQ (c->getBounds(), expected.bounds);
        EXPECT_EQ (c->isVisible(), expected.visible);
    }

    // Each meter shows its own slot: input slots in green, output slots in red to green, each
    // lit to its own height (162 - trunc (162 * (1 - level)) pixels, worked out by hand).
    const auto green = resourcePicture (OrvalisResources::vuMeterVerticalGreen_png,
                                        OrvalisResources::vuMeterVerticalGreen_pngSize);
    const auto redGreen = resourcePicture (OrvalisResources::vuMeterVerticalRedGreen_png,
                                           OrvalisResources::vuMeterVerticalRedGreen_pngSize);
    for (size_t slot = 0; slot < 8; ++slot)
        processor->meterLevels[slot] = 0.1f * static_cast<float> (slot + 1);
    const int meterX[] = { 50, 69, 89, 108, 218, 237, 257, 276 };
    const int litHeight[] = { 17, 33, 49, 65, 81, 98, 114, 130 };

    const auto drawn = w.paintRecorded();
    for (int slot = 0; slot < 8; ++slot)
    {
        const juce::Rectangle<int> expected (
            meterX[slot], 238 - litHeight[slot], 10, litHeight[slot]);
        int found = 0;
        for (const auto& call : drawn.images)
            if (call.destination.toNearestInt() == expected
                && RecordingContext::sourceWithin (call.image, slot < 4 ? green : redGreen))
                ++found;
        EXPECT_EQ (found, 1) << "meter slot " << slot;
    }
    EXPECT_TRUE (w.child<VuMeter> ("vuMeterGainReduction")->showsGainReduction);

    auto& timer = dynamic_cast<juce::Timer&> (w.editor());
    EXPECT_TRUE (timer.isTimerRunning());
    EXPECT_EQ (timer.getTimerInterval(), 50);
}

TEST_F (Window, HostAutomationMovesTheKnobsWithinOneTickWithoutWritingBack)
{
    auto& w = open();
    w.tick(); // the refresh the editor asks for when it opens
    host.events.clear();

    hostSets (*processor, CorvaneAudioProcessor::paramAttackTime, 0.25f);
    hostSets (*processor, CorvaneAudioProcessor::paramReleaseTime, 0.25f);
    hostSets (*processor, CorvaneAudioProcessor::paramMaxPeakLevel, 0.75f);
    hostSets (*processor, CorvaneAudioProcessor::paramInputGain, 0.5f);
    EXPECT_EQ (valueText (knob ("sliderAttack")), "1.0 ms"); // not before the tick

    w.tick();
    EXPECT_EQ (valueText (knob ("sliderAttack")), "10.0 ms");
    EXPECT_EQ (valueText (knob ("sliderRelease")), "250 ms");
    EXPECT_EQ (valueText (knob ("sliderThreshold")), "5 dB");
    EXPECT_EQ (valueText (knob ("sliderGain")), "30 dB");
    EXPECT_FALSE (processor->uiRefreshNeeded.load());

    // Values between steps snap to the knob's interval; the parameter keeps the host's value.
    hostSets (*processor, CorvaneAudioProcessor::paramAttackTime, 0.2513f);  // 10.052 ms
    hostSets (*processor, CorvaneAudioProcessor::paramReleaseTime, 0.0206f); // 20.6 ms
    w.tick();
    EXPECT_EQ (valueText (knob ("sliderAttack")), "10.1 ms");
    EXPECT_EQ (valueText (knob ("sliderRelease")), "21 ms");
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramAttackTime), 0.2513f);
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramReleaseTime), 0.0206f);

    EXPECT_TRUE (host.events.empty()) << "the window wrote a parameter back to the host";
}

TEST_F (Window, KnobsWriteTheirParametersThroughTheHost)
{
    auto& w = open();
    w.tick();
    host.events.clear();

    struct Case
    {
        const char* knob;
        double value;
        int index;
        float normalised;
    };
    const Case cases[] = {
        { "sliderGain", 30.0, CorvaneAudioProcessor::paramInputGain, 0.5f },
        { "sliderGain", 12.0, CorvaneAudioProcessor::paramInputGain, 0.2f },
        { "sliderAttack", 10.0, CorvaneAudioProcessor::paramAttackTime, 0.25f },
        { "sliderAttack", 0.1, CorvaneAudioProcessor::paramAttackTime, 0.0025f },
        { "sliderRelease", 250.0, CorvaneAudioProcessor::paramReleaseTime, 0.25f },
        { "sliderThreshold", -5.0, CorvaneAudioProcessor::paramMaxPeakLevel, 0.25f },
        { "sliderThreshold", 3.0, CorvaneAudioProcessor::paramMaxPeakLevel, 0.65f },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.knob);
        host.events.clear();
        knob (c.knob).setValue (c.value, juce::sendNotificationSync);
        EXPECT_EQ (parameter (*processor, c.index), c.normalised);
        ASSERT_EQ (host.events.size(), 1u);
        EXPECT_EQ (host.events[0].kind, Kind::change);
        EXPECT_EQ (host.events[0].index, c.index);
        EXPECT_EQ (host.events[0].value, c.normalised);
    }

    // Typed values outside the range are clamped before they are written.
    auto typeInto = [] (juce::Slider& s, const juce::String& text)
    {
        for (auto* c : s.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (c))
            {
                label->showEditor();
                ASSERT_NE (label->getCurrentTextEditor(), nullptr);
                label->getCurrentTextEditor()->setText (text);
                label->hideEditor (false);
            }
    };
    typeInto (knob ("sliderGain"), "99");
    EXPECT_EQ (valueText (knob ("sliderGain")), "60 dB");
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramInputGain), 1.0f);
    typeInto (knob ("sliderThreshold"), "-3 dB");
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramMaxPeakLevel), 0.35f);
    typeInto (knob ("sliderAttack"), "12.34");
    EXPECT_EQ (valueText (knob ("sliderAttack")), "12.3 ms");
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramAttackTime),
               static_cast<float> (12.3 / 40.0));
}

TEST_F (Window, DoubleClickReturnsEachKnobToItsDefault)
{
    hostSets (*processor, CorvaneAudioProcessor::paramAttackTime, 0.5f);
    hostSets (*processor, CorvaneAudioProcessor::paramReleaseTime, 0.5f);
    hostSets (*processor, CorvaneAudioProcessor::paramMaxPeakLevel, 0.9f);
    hostSets (*processor, CorvaneAudioProcessor::paramInputGain, 0.5f);
    auto& w = open();

    struct Case
    {
        const char* knob;
        int index;
        const char* text;
        float normalised;
    };
    const Case cases[] = {
        { "sliderRelease", CorvaneAudioProcessor::paramReleaseTime, "20 ms", 0.02f },
        { "sliderAttack", CorvaneAudioProcessor::paramAttackTime, "1.0 ms", 0.025f },
        { "sliderThreshold", CorvaneAudioProcessor::paramMaxPeakLevel, "0 dB", 0.5f },
        { "sliderGain", CorvaneAudioProcessor::paramInputGain, "0 dB", 0.0f },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.knob);
        host.events.clear();
        w.doubleClick (knobCentre (knob (c.knob)));
        EXPECT_EQ (valueText (knob (c.knob)), c.text);
        EXPECT_EQ (parameter (*processor, c.index), c.normalised);

        // Every write the host sees lies inside a gesture on the same parameter.
        const auto changes = host.changes();
        ASSERT_FALSE (changes.empty());
        EXPECT_EQ (changes.back().value, c.normalised);
        int open = 0;
        for (const auto& e : host.events)
        {
            EXPECT_EQ (e.index, c.index);
            if (e.kind == Kind::begin)
                ++open;
            else if (e.kind == Kind::end)
                --open;
            else
                EXPECT_EQ (open, 1) << "a write outside a gesture";
        }
        EXPECT_EQ (open, 0);
    }
}

TEST_F (Window, DraggingAKnobIsOneGestureAroundItsWrites)
{
    hostSets (*processor, CorvaneAudioProcessor::paramMaxPeakLevel, 0.0f);
    auto& w = open();
    host.events.clear();

    // 100 pixels up sweep the max-peak control from -10 dB to +10 dB.
    const auto start = knobCentre (knob ("sliderThreshold"));
    w.drag (start, start - juce::Point<int> (0, 100));
    EXPECT_EQ (valueText (knob ("sliderThreshold")), "10 dB");
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramMaxPeakLevel), 1.0f);

    ASSERT_GE (host.events.size(), 3u);
    EXPECT_EQ (host.events.front().kind, Kind::begin);
    EXPECT_EQ (host.events.back().kind, Kind::end);
    float previous = 0.0f;
    for (size_t i = 0; i < host.events.size(); ++i)
    {
        EXPECT_EQ (host.events[i].index, CorvaneAudioProcessor::paramMaxPeakLevel);
        if (i > 0 && i + 1 < host.events.size())
        {
            EXPECT_EQ (host.events[i].kind, Kind::change);
            EXPECT_GT (host.events[i].value, previous); // rising in whole decibels
            previous = host.events[i].value;
        }
    }
    EXPECT_EQ (host.changes().size(), 20u); // one write per decibel step

    // The other knobs take 250 pixels for their range; the skew 0.5 puts half the travel at a
    // quarter of the range: 125 pixels up from 0 dB give 60 * 0.5^2 = 15 dB.
    host.events.clear();
    const auto gainStart = knobCentre (knob ("sliderGain"));
    w.drag (gainStart, gainStart - juce::Point<int> (0, 125));
    EXPECT_EQ (valueText (knob ("sliderGain")), "15 dB");
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramInputGain), 0.25f);
    EXPECT_EQ (host.events.front().kind, Kind::begin);
    EXPECT_EQ (host.events.back().kind, Kind::end);

    // The full 250 pixels reach the top; further dragging stays there.
    host.events.clear();
    const auto releaseStart = knobCentre (knob ("sliderRelease"));
    w.drag (releaseStart, releaseStart - juce::Point<int> (0, 300));
    EXPECT_EQ (valueText (knob ("sliderRelease")), "1000 ms");
    EXPECT_EQ (parameter (*processor, CorvaneAudioProcessor::paramReleaseTime), 1.0f);
    EXPECT_EQ (host.events.front().kind, Kind::begin);
    EXPECT_EQ (host.events.back().kind, Kind::end);
}

namespace
{
/** A processor on which "another thread" changes a parameter while the window reads them. */
class ChangedDuringRefresh : public CorvaneAudioProcessor
{
public:
    bool armed = false;

    float getParameter (int index) override
    {
        if (armed && index == paramAttackTime)
        {
            armed = false;
            hostSets (*this, paramReleaseTime, 0.5f);
        }
        return CorvaneAudioProcessor::getParameter (index);
    }
};
} // namespace

TEST (WindowRefresh, AChangeFlaggedWhileTheWindowRefreshesIsShownOnTheNextTick)
{
    ChangedDuringRefresh p;
    OpenWindow w (p);
    w.tick();

    // The release change is flagged while the window reads the parameters; the flag must still be
    // up after this tick, so that the next one shows the change whatever order the reads take.
    hostSets (p, CorvaneAudioProcessor::paramAttackTime, 0.25f);
    p.armed = true;
    w.tick();
    EXPECT_TRUE (p.uiRefreshNeeded.load()) << "the change made during the refresh was lost";
    w.tick();
    auto* release = w.child<juce::Slider> ("sliderRelease");
    EXPECT_EQ (valueText (*release), "500 ms");
    EXPECT_FALSE (p.uiRefreshNeeded.load());
}

TEST_F (Window, CeilingLineMarksTheMaxPeakLevelAtFourPixelsPerDecibel)
{
    auto& w = open();
    struct Case
    {
        float normalised;
        int y;
    };
    // +10 dB at y 75, 0 dB at 115, -10 dB at 155; 0.26 gives 134.2, truncated. Values beyond the
    // range limit at its ends, as the ceiling in force does.
    const Case cases[] = { { 1.0f, 75 },   { 0.5f, 115 },   { 0.0f, 155 },
                           { 0.26f, 134 }, { 1.0e30f, 75 }, { -1.0e30f, 155 } };
    for (const auto& c : cases)
    {
        hostSets (*processor, CorvaneAudioProcessor::paramMaxPeakLevel, c.normalised);
        w.tick();
        EXPECT_EQ (line().getBounds(), juce::Rectangle<int> (202, c.y, 99, 3)) << c.normalised;
        EXPECT_TRUE (line().isVisible());
    }

    // A layout pass puts the line at its resting place; the next flagged change moves it back.
    w.editor().resized();
    EXPECT_EQ (line().getY(), 76);
    hostSets (*processor, CorvaneAudioProcessor::paramMaxPeakLevel, 0.26f);
    w.tick();
    EXPECT_EQ (line().getY(), 134);
}

namespace
{
/** Which caption picture the window drew under the input and under the output meters. */
struct Captions
{
    juce::String input, output;
};

Captions captionsDrawn (OpenWindow& w)
{
    const auto ambiX = resourcePicture (OrvalisResources::captionAmbiX_png,
                                        OrvalisResources::captionAmbiX_pngSize);
    const auto fuMa =
        resourcePicture (OrvalisResources::captionFuMa_png, OrvalisResources::captionFuMa_pngSize);
    Captions result;
    for (const auto& call : w.paintRecorded().images)
    {
        const auto name = call.image == ambiX  ? juce::String ("WYZX")
                          : call.image == fuMa ? juce::String ("WXYZ")
                                               : juce::String();
        if (name.isEmpty())
            continue;
        if (call.destination.toNearestInt() == juce::Rectangle<int> (48, 248, 69, 9))
            result.input += name;
        else if (call.destination.toNearestInt() == juce::Rectangle<int> (217, 248, 69, 9))
            result.output += name;
        else
            ADD_FAILURE() << "caption drawn at " << call.destination.toString();
    }
    return result;
}
} // namespace

TEST_F (Window, ChannelOrderCaptionsFollowTheInputConvention)
{
    auto& w = open();
    auto drawn = captionsDrawn (w);
    EXPECT_EQ (drawn.input, "WYZX");
    EXPECT_EQ (drawn.output, "WYZX");

    struct Case
    {
        int inputConfig;
        const char* order;
    };
    const Case cases[] = { { 1, "WXYZ" }, { 0, "WYZX" },  { 1, "WXYZ" },
                           { 2, "WYZX" }, { -1, "WYZX" }, { 1, "WXYZ" } };
    for (const auto& c : cases)
    {
        processor->idxInputConfig = c.inputConfig;
        processor->uiRefreshNeeded = true;
        w.tick();
        drawn = captionsDrawn (w);
        EXPECT_EQ (drawn.input, c.order) << c.inputConfig;
        EXPECT_EQ (drawn.output, c.order) << c.inputConfig;
    }
}

TEST_F (Window, OpenedWhileFuMaIsChosenItShowsFuMaFromTheFirstPaint)
{
    processor->idxInputConfig = 1;
    auto& w = open();
    const auto drawn = captionsDrawn (w);
    EXPECT_EQ (drawn.input, "WXYZ");
    EXPECT_EQ (drawn.output, "WXYZ");

    w.click (w.child<juce::ImageButton> ("engrenage")->getBounds().getCentre());
    ASSERT_TRUE (options().isVisible());
    std::map<juce::String, juce::String> boxes;
    for (auto* c : options().getChildren())
        if (auto* box = dynamic_cast<juce::ComboBox*> (c))
            boxes[box->getName()] = box->getText();
    EXPECT_EQ (boxes,
               (std::map<juce::String, juce::String> {
                   { "presetList", "FuMa" }, { "peakList", "Sample" }, { "sizeList", "100 %" } }));
}

TEST_F (Window, KnobPicturesShowTheSkewedPositions)
{
    // Input gain +12 dB: (12/60)^0.5 of the sweep, frame floor (0.447 * 126) = 56. Attack 1 ms:
    // (1/40)^0.54 = 0.136, frame ceil (17.2) = 18. Release 20 ms: (20/1000)^0.4 = 0.209, frame
    // ceil (26.3) = 27. Max peak 0 dB: handle 40 pixels down its 81-pixel track.
    hostSets (*processor, CorvaneAudioProcessor::paramInputGain, 0.2f);
    auto& w = open();

    const auto gainStrip = resourcePicture (OrvalisResources::bouton_G_70x70_png,
                                            OrvalisResources::bouton_G_70x70_pngSize);
    const auto timeStrip = resourcePicture (OrvalisResources::bouton_AW_70x70_png,
                                            OrvalisResources::bouton_AW_70x70_pngSize);
    const auto handle = resourcePicture (OrvalisResources::Bouton_maxpeak_png,
                                         OrvalisResources::Bouton_maxpeak_pngSize);

    std::vector<std::pair<juce::Rectangle<int>, juce::Rectangle<int>>> knobs; // source, dest
    bool handleAt111 = false;
    for (const auto& call : w.paintRecorded().images)
    {
        if (auto s = RecordingContext::sourceWithin (call.image, gainStrip))
            knobs.push_back ({ *s, call.destination.toNearestInt() });
        if (auto s = RecordingContext::sourceWithin (call.image, timeStrip))
            knobs.push_back ({ *s, call.destination.toNearestInt() });
        if (call.image == handle)
            handleAt111 =
                call.destination.toNearestInt() == juce::Rectangle<int> (367, 111, 43, 13);
    }
    ASSERT_EQ (knobs.size(), 3u);
    EXPECT_EQ (knobs[0].first, juce::Rectangle<int> (0, 56 * 70, 70, 70));
    EXPECT_EQ (knobs[0].second, juce::Rectangle<int> (10, 298, 70, 70));
    EXPECT_EQ (knobs[1].first, juce::Rectangle<int> (5, 18 * 70 + 5, 60, 60));
    EXPECT_EQ (knobs[1].second, juce::Rectangle<int> (153, 310, 48, 48));
    EXPECT_EQ (knobs[2].first, juce::Rectangle<int> (5, 27 * 70 + 5, 60, 60));
    EXPECT_EQ (knobs[2].second, juce::Rectangle<int> (312, 310, 48, 48));
    EXPECT_TRUE (handleAt111);
}

TEST_F (Window, PaintsTheBackgroundAndAGearThatLightsUnderThePointer)
{
    auto& w = open();
    const auto background =
        resourcePicture (OrvalisResources::background_jpg, OrvalisResources::background_jpgSize);
    const auto gear =
        resourcePicture (OrvalisResources::engrenage_png, OrvalisResources::engrenage_pngSize);

    auto gearOpacity = [&]
    {
        float opacity = -1.0f;
        for (const auto& call : w.paintRecorded().images)
            if (call.image == gear)
            {
                EXPECT_EQ (call.destination.toNearestInt(), juce::Rectangle<int> (407, 5, 18, 18));
                opacity = call.opacity;
            }
        return opacity;
    };

    const auto drawn = w.paintRecorded();
    ASSERT_FALSE (drawn.images.empty());
    EXPECT_TRUE (drawn.images.front().image == background);
    EXPECT_EQ (drawn.images.front().destination.toNearestInt(),
               juce::Rectangle<int> (0, 0, 435, 373));
    EXPECT_FLOAT_EQ (drawn.images.front().opacity, 1.0f);

    EXPECT_NEAR (gearOpacity(), 0.85f, 0.005f);
    w.mouseMove ({ 300, 200 });
    w.mouseMove ({ 416, 14 });
    EXPECT_NEAR (gearOpacity(), 1.0f, 0.005f);
    w.mouseDown ({ 416, 14 });
    EXPECT_NEAR (gearOpacity(), 0.5f, 0.005f);
    w.mouseUp ({ 416, 14 });
}

TEST_F (Window, GainReductionMeterGrowsFromTheTopWhileTheLimiterWorks)
{
    auto& w = open();
    const auto stripes =
        resourcePicture (OrvalisResources::bandeBleue_png, OrvalisResources::bandeBleue_pngSize);
    auto reductionDrawn = [&]
    {
        juce::Rectangle<int> area;
        for (const auto& call : w.paintRecorded().images)
            if (RecordingContext::sourceWithin (call.image, stripes)
                && call.destination.getX() < 300) // not the max-peak fader's band
                area = call.destination.toNearestInt();
        return area;
    };
    EXPECT_TRUE (reductionDrawn().isEmpty());

    // Full scale with +12 dB of input gain against the 0 dB ceiling: 12 dB of reduction once the
    // gain has settled, 250/31 pixels per decibel, so about 97 pixels from the top. (A block whose
    // outputs cancel reads as no reduction, so the test signal has a non-zero sum.)
    hostSets (*processor, CorvaneAudioProcessor::paramInputGain, 0.2f);
    processor->prepareToPlay (48000.0, 480);
    juce::AudioBuffer<float> buffer (4, 480);
    juce::MidiBuffer midi;
    for (int block = 0; block < 50; ++block)
    {
        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < 480; ++i)
                buffer.setSample (ch, i, (i / 24) % 3 == 0 ? -1.0f : 1.0f);
        processor->processBlock (buffer, midi);
    }
    w.tick();
    const auto area = reductionDrawn();
    EXPECT_EQ (area.getPosition(), juce::Point<int> (155, 30));
    EXPECT_EQ (area.getWidth(), 27);
    EXPECT_NEAR (area.getHeight(), 97, 3);
}
