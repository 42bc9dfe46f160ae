#include "RecordingContext.h"

#include "OrvalisResources.h"
#include "lookandfeel/AltLookAndFeel_Gain.h"
#include "lookandfeel/AltLookAndFeel_MaxPeak.h"
#include "lookandfeel/AltLookAndFeel_transparentButton.h"
#include "lookandfeel/TarnwickLookAndFeel.h"

#include <gtest/gtest.h>

namespace
{
juce::Image picture (const void* data, int size)
{
    return juce::ImageCache::getFromMemory (data, size);
}

/** One recorded image call, as source rectangle within a known picture and destination. */
struct Blit
{
    juce::Rectangle<int> source;
    juce::Rectangle<int> destination;
};

Blit blitOf (const RecordingContext::ImageCall& call, const juce::Image& whole)
{
    const auto source = RecordingContext::sourceWithin (call.image, whole);
    EXPECT_TRUE (source.has_value()) << "the image drawn is not part of the expected picture";
    return { source.value_or (juce::Rectangle<int>()), call.destination.toNearestInt() };
}

class LookAndFeelDrawing : public ::testing::Test
{
protected:
    // Held for the whole test so that the image cache hands the look-and-feel the same pixels.
    juce::Image attackStrip =
        picture (OrvalisResources::bouton_AW_70x70_png, OrvalisResources::bouton_AW_70x70_pngSize);
    juce::Image gainStrip =
        picture (OrvalisResources::bouton_G_70x70_png, OrvalisResources::bouton_G_70x70_pngSize);
    juce::Image band =
        picture (OrvalisResources::bandeBleue_png, OrvalisResources::bandeBleue_pngSize);
    juce::Image handle =
        picture (OrvalisResources::Bouton_maxpeak_png, OrvalisResources::Bouton_maxpeak_pngSize);
    juce::Slider slider { juce::Slider::RotaryVerticalDrag, juce::Slider::TextBoxRight };

    template <typename LookAndFeel>
    RecordingContext drawRotary (LookAndFeel& lf, int width, int height, float position)
    {
        RecordingContext context;
        juce::Graphics g (context);
        lf.drawRotarySlider (g, 3, 4, width, height, position, 1.0f, 5.0f, slider);
        return context;
    }
};
} // namespace

TEST_F (LookAndFeelDrawing, AttackKnobRoundsFramesUpAndScalesTheInnerSquare)
{
    AltLookAndFeel lf;
    // Frame k's inner square starts at y 70k + 5; any position above zero shows at least frame 1.
    const std::pair<float, int> cases[] = {
        { 0.0f, 5 }, { 0.001f, 75 }, { 0.5f, 63 * 70 + 5 }, { 1.0f, 8825 }
    };
    for (const auto& [position, sourceY] : cases)
    {
        auto context = drawRotary (lf, 113, 56, position);
        ASSERT_EQ (context.images.size(), 1u) << position;
        const auto blit = blitOf (context.images[0], attackStrip);
        EXPECT_EQ (blit.source, juce::Rectangle<int> (5, sourceY, 60, 60)) << position;
        EXPECT_EQ (blit.destination, juce::Rectangle<int> (0, 0, 48, 48)) << position;
    }
}

TEST_F (LookAndFeelDrawing, GainKnobRoundsFramesDownAndDrawsWholeFramesAtTheGivenWidth)
{
    AltLookAndFeel_Gain lf;
    const std::pair<float, int> cases[] = { { 0.0f, 0 }, { 0.999f, 125 * 70 }, { 1.0f, 8820 } };
    for (const auto& [position, sourceY] : cases)
    {
        auto context = drawRotary (lf, 70, 70, position);
        ASSERT_EQ (context.images.size(), 1u) << position;
        const auto blit = blitOf (context.images[0], gainStrip);
        EXPECT_EQ (blit.source, juce::Rectangle<int> (0, sourceY, 70, 70)) << position;
        EXPECT_EQ (blit.destination, juce::Rectangle<int> (0, 0, 70, 70)) << position;
    }

    auto wide = drawRotary (lf, 114, 30, 0.0f);
    ASSERT_EQ (wide.images.size(), 1u);
    EXPECT_EQ (blitOf (wide.images[0], gainStrip).destination,
               juce::Rectangle<int> (0, 0, 114, 70));
}

TEST_F (LookAndFeelDrawing, MaxPeakFaderHangsTheBandDownToTheHandle)
{
    AltLookAndFeel_MaxPeak lf;

    // Top of the range: no band at all, the handle at the top.
    auto top = drawRotary (lf, 27, 81, 1.0f);
    ASSERT_EQ (top.images.size(), 1u);
    EXPECT_EQ (blitOf (top.images[0], handle).source, juce::Rectangle<int> (0, 0, 43, 13));
    EXPECT_EQ (blitOf (top.images[0], handle).destination, juce::Rectangle<int> (0, 0, 43, 13));

    // Bottom: the whole band stretched over 81 rows from y 6, the handle at y 81.
    auto bottom = drawRotary (lf, 27, 81, 0.0f);
    ASSERT_EQ (bottom.images.size(), 2u);
    EXPECT_EQ (blitOf (bottom.images[0], band).source, juce::Rectangle<int> (0, 0, 27, 250));
    EXPECT_EQ (blitOf (bottom.images[0], band).destination, juce::Rectangle<int> (8, 6, 27, 81));
    EXPECT_EQ (blitOf (bottom.images[1], handle).destination, juce::Rectangle<int> (0, 81, 43, 13));

    // Half way: (1 - 0.5) x 81 = 40.5, truncated to 40.
    auto middle = drawRotary (lf, 27, 81, 0.5f);
    ASSERT_EQ (middle.images.size(), 2u);
    EXPECT_EQ (blitOf (middle.images[0], band).destination, juce::Rectangle<int> (8, 6, 27, 40));
    EXPECT_EQ (blitOf (middle.images[1], handle).destination, juce::Rectangle<int> (0, 40, 43, 13));

    // The linear style takes the thumb's pixel position directly.
    RecordingContext linear;
    {
        juce::Graphics g (linear);
        lf.drawLinearSlider (
            g, 10, 0, 27, 81, 33.7f, 0.0f, 81.0f, juce::Slider::LinearVertical, slider);
    }
    ASSERT_EQ (linear.images.size(), 2u);
    EXPECT_EQ (blitOf (linear.images[0], band).destination, juce::Rectangle<int> (8, 6, 27, 33));
    EXPECT_EQ (blitOf (linear.images[1], handle).destination, juce::Rectangle<int> (0, 33, 43, 13));
}

TEST_F (LookAndFeelDrawing, SliderLayoutsAreFixedWhateverTheSliderAndItsTextBox)
{
    AltLookAndFeel alt;
    AltLookAndFeel_Gain gain;
    AltLookAndFeel_MaxPeak maxPeak;
    AltLookAndFeel_transparentButton transparent;

    struct Case
    {
        juce::LookAndFeel_V3& lf;
        juce::Rectangle<int> sliderBounds, textBoxBounds;
    };
    Case cases[] = { { alt, { 0, 0, 48, 48 }, { 56, 6, 55, 15 } },
                     { transparent, { 0, 0, 48, 48 }, { 56, 6, 55, 15 } },
                     { gain, { 0, 0, 70, 70 }, { 73, 7, 41, 15 } },
                     { maxPeak, { 10, 0, 27, 81 }, { 0, 122, 41, 15 } } };

    for (auto& c : cases)
        for (auto [w, h, position] : { std::tuple (113, 56, juce::Slider::TextBoxRight),
                                       std::tuple (64, 137, juce::Slider::TextBoxBelow),
                                       std::tuple (300, 20, juce::Slider::NoTextBox) })
        {
            juce::Slider s (juce::Slider::RotaryVerticalDrag, position);
            s.setSize (w, h);
            const auto layout = c.lf.getSliderLayout (s);
            EXPECT_EQ (layout.sliderBounds, c.sliderBounds);
            EXPECT_EQ (layout.textBoxBounds, c.textBoxBounds);
        }

    // Through a real slider: the value box lands on the fixed rectangle and the knob is drawn
    // from the slider's corner, whatever the slider's size.
    juce::Slider attack (juce::Slider::RotaryVerticalDrag, juce::Slider::TextBoxRight);
    attack.setTextBoxStyle (juce::Slider::TextBoxRight, false, 55, 15);
    attack.setLookAndFeel (&alt);
    attack.setBounds (153, 310, 113, 56);
    ASSERT_EQ (attack.getNumChildComponents(), 1);
    EXPECT_EQ (attack.getChildComponent (0)->getBounds(), juce::Rectangle<int> (56, 6, 55, 15));

    RecordingContext context;
    {
        juce::Graphics g (context);
        attack.paint (g);
    }
    ASSERT_EQ (context.images.size(), 1u);
    EXPECT_EQ (context.images[0].destination.toNearestInt(), juce::Rectangle<int> (0, 0, 48, 48));
    attack.setLookAndFeel (nullptr);
}

namespace
{
bool coversCorner (const juce::Path& outline, float x, float y)
{
    return outline.contains (x, y);
}

juce::Colour colourOf (const juce::FillType& fill)
{
    return fill.isGradient() ? fill.gradient->getColour (0) : fill.colour;
}
} // namespace

TEST (ButtonDrawing, CornersAreSquareOnConnectedEdgesAndRoundElsewhere)
{
    AltLookAndFeel lf;
    using B = juce::Button;
    struct Case
    {
        int edges;
        bool topLeft, topRight, bottomLeft, bottomRight; // true: square corner
    };
    const Case cases[] = {
        { 0, false, false, false, false },
        { B::ConnectedOnLeft, true, false, true, false },
        { B::ConnectedOnRight, false, true, false, true },
        { B::ConnectedOnTop, true, true, false, false },
        { B::ConnectedOnBottom, false, false, true, true },
        { B::ConnectedOnLeft | B::ConnectedOnBottom, true, false, true, true },
        { 15, true, true, true, true },
    };

    for (const auto& c : cases)
    {
        juce::TextButton button;
        button.setSize (60, 24);
        button.setConnectedEdges (c.edges);
        RecordingContext context;
        {
            juce::Graphics g (context);
            lf.drawButtonBackground (g, button, juce::Colours::grey, false, false);
        }
        // A filled outline, a faint inner highlight and the opaque white outline.
        ASSERT_EQ (context.fills.size(), 3u) << c.edges;
        const auto& outline = context.fills[0].path;
        EXPECT_EQ (context.fills[0].area, juce::Rectangle<float> (0.5f, 0.5f, 59.0f, 23.0f));
        EXPECT_EQ (coversCorner (outline, 1.0f, 1.0f), c.topLeft) << c.edges;
        EXPECT_EQ (coversCorner (outline, 59.0f, 1.0f), c.topRight) << c.edges;
        EXPECT_EQ (coversCorner (outline, 1.0f, 23.0f), c.bottomLeft) << c.edges;
        EXPECT_EQ (coversCorner (outline, 59.0f, 23.0f), c.bottomRight) << c.edges;
        EXPECT_EQ (context.fills[2].fill.colour, juce::Colour (0xffffffff));
        EXPECT_TRUE (context.fills[2].fill.isColour());
    }
}

TEST (ButtonDrawing, ToggledButtonsGetARedFrameEvenWhenTooSmallForAShape)
{
    AltLookAndFeel lf;
    auto redFrame = [] (const RecordingContext& context, juce::Rectangle<float> bounds)
    {
        juce::RectangleList<float> frame;
        for (const auto& f : context.fills)
            if (f.kind == RecordingContext::FillCall::Kind::rect
                && f.fill.colour == juce::Colour (0xe6ff0000))
                frame.add (f.area);
        // A one-pixel outline: it covers the edges and leaves the inside alone.
        return frame.getBounds() == bounds
               && (bounds.getWidth() < 3 || bounds.getHeight() < 3
                   || ! frame.containsPoint (bounds.getCentre()));
    };

    for (auto [w, h] : { std::pair (60, 24), std::pair (1, 24), std::pair (60, 1) })
        for (bool toggled : { false, true })
        {
            juce::TextButton button;
            button.setSize (w, h);
            button.setToggleState (toggled, juce::dontSendNotification);
            RecordingContext context;
            {
                juce::Graphics g (context);
                lf.drawButtonBackground (g, button, juce::Colours::white, false, false);
            }
            const bool hasShape = std::any_of (
                context.fills.begin(),
                context.fills.end(),
                [] (const auto& f) { return f.kind == RecordingContext::FillCall::Kind::path; });
            EXPECT_EQ (hasShape, w > 1 && h > 1) << w << " x " << h;
            EXPECT_EQ (
                redFrame (context, juce::Rectangle<float> (0.0f, 0.0f, (float) w, (float) h)),
                toggled)
                << w << " x " << h << (toggled ? " toggled" : "");
        }
}

TEST (ButtonDrawing, DisabledButtonsAndButtonsInDisabledParentsAreFainter)
{
    AltLookAndFeel lf;
    auto gradientTopAlpha = [&lf] (juce::Button& button)
    {
        RecordingContext context;
        juce::Graphics g (context);
        lf.drawButtonBackground (g, button, juce::Colours::white, false, false);
        return context.fills.empty()
                   ? -1
                   : static_cast<int> (colourOf (context.fills[0].fill).getAlpha());
    };

    juce::Component parent;
    juce::TextButton button;
    parent.addAndMakeVisible (button);
    button.setSize (40, 20);
    // 0.9 and 0.5 of full opacity.
    EXPECT_NEAR (gradientTopAlpha (button), 230, 1);
    parent.setEnabled (false);
    EXPECT_NEAR (gradientTopAlpha (button), 128, 1);
    parent.setEnabled (true);
    button.setEnabled (false);
    EXPECT_NEAR (gradientTopAlpha (button), 128, 1);
}

TEST (ButtonDrawing, TransparentButtonDrawsNoBackgroundOrFrameButItsWhiteText)
{
    AltLookAndFeel_transparentButton lf;
    juce::TextButton button ("About");
    button.setSize (208, 28);
    button.setConnectedEdges (15);
    button.setLookAndFeel (&lf);
    for (bool toggled : { false, true })
        for (bool down : { false, true })
        {
            button.setToggleState (toggled, juce::dontSendNotification);
            RecordingContext context;
            {
                juce::Graphics g (context);
                lf.drawButtonBackground (g, button, juce::Colours::white, ! down, down);
            }
            EXPECT_TRUE (context.fills.empty());
            EXPECT_TRUE (context.images.empty());
        }

    // The caption is the base's text drawing, white, in the 14-pixel font.
    EXPECT_EQ (button.findColour (juce::TextButton::textColourOffId), juce::Colour (0xffffffff));
    EXPECT_EQ (button.findColour (juce::TextButton::textColourOnId), juce::Colour (0xffffffff));
    EXPECT_FLOAT_EQ (lf.getTextButtonFont (button, 28).getHeight(), 14.0f);
    EXPECT_EQ (lf.getTextButtonFont (button, 28).getTypefaceName(),
               juce::Font::getDefaultSansSerifFontName());
    button.setLookAndFeel (nullptr);
}

TEST (ComboBoxDrawing, FlatBoxWithOutlineAndTwoTranslucentArrows)
{
    AltLookAndFeel lf;
    juce::ComboBox box;
    box.setLookAndFeel (&lf);
    box.setSize (78, 19);

    RecordingContext context ({ 0, 0, 78, 19 });
    {
        juce::Graphics g (context);
        lf.drawComboBox (g, 78, 19, false, 58, 0, 20, 20, box);
    }

    // Black fill over the whole box, then the light one-pixel outline, then the arrows.
    ASSERT_GE (context.fills.size(), 6u);
    EXPECT_EQ (context.fills[0].area, juce::Rectangle<float> (0.0f, 0.0f, 78.0f, 19.0f));
    EXPECT_EQ (context.fills[0].fill.colour, juce::Colour (0xff000000));
    juce::RectangleList<float> outline;
    for (size_t i = 1; i + 1 < context.fills.size(); ++i)
    {
        EXPECT_EQ (context.fills[i].fill.colour, juce::Colour (0xfff5f5f5));
        outline.add (context.fills[i].area);
    }
    EXPECT_EQ (outline.getBounds(), juce::Rectangle<float> (0.0f, 0.0f, 78.0f, 19.0f));
    EXPECT_FALSE (outline.containsPoint ({ 39.0f, 9.5f }));

    const auto& arrows = context.fills.back();
    ASSERT_EQ (arrows.kind, RecordingContext::FillCall::Kind::path);
    // White at 70 %: alpha 0.7 x 255 = 178.5.
    EXPECT_EQ (arrows.fill.colour.withAlpha (1.0f), juce::Colours::white);
    EXPECT_NEAR (arrows.fill.colour.getAlpha(), 179, 1);
    // Apexes at 25 % and 75 % of the button's height, bases 60 % of its width apart.
    EXPECT_EQ (arrows.area, juce::Rectangle<float> (64.0f, 5.0f, 8.0f, 10.0f));
    EXPECT_TRUE (arrows.path.contains (68.0f, 7.5f));   // inside the upper triangle
    EXPECT_TRUE (arrows.path.contains (68.0f, 12.5f));  // inside the lower one
    EXPECT_FALSE (arrows.path.contains (68.0f, 10.0f)); // the gap between them
    EXPECT_FALSE (arrows.path.contains (65.0f, 5.5f));  // beside the upper apex

    // A disabled box draws its arrows just the same.
    box.setEnabled (false);
    RecordingContext disabled ({ 0, 0, 78, 19 });
    {
        juce::Graphics g (disabled);
        lf.drawComboBox (g, 78, 19, false, 58, 0, 20, 20, box);
    }
    ASSERT_EQ (disabled.fills.size(), context.fills.size());
    EXPECT_EQ (disabled.fills.back().fill.colour, arrows.fill.colour);
    box.setLookAndFeel (nullptr);
}

TEST (Typefaces, DefaultSansSerifMapsToTheEmbeddedRobotoAndOtherNamesToSystemFonts)
{
    AltLookAndFeel lf;

    for (int style : { 0, 1, 3 }) // plain, bold, bold italic
    {
        const auto face = lf.getTypefaceForFont (juce::Font (14.0f, style));
        ASSERT_NE (face, nullptr);
        EXPECT_EQ (face->getName(), "Roboto") << style;
        EXPECT_EQ (face->getStyle(), "Regular") << style;
    }

    const auto system =
        lf.getTypefaceForFont (juce::Font ("DejaVu Sans", 14.0f, juce::Font::plain));
    ASSERT_NE (system, nullptr);
    EXPECT_EQ (system->getName(), "DejaVu Sans");

    EXPECT_FLOAT_EQ (lf.getComboBoxFont (*std::make_unique<juce::ComboBox>()).getHeight(), 14.0f);
}

TEST (SharedLookAndFeel, InstalledWhileAnyProcessorExistsAndRemovedWithTheLast)
{
    using Tarnwick = CorvaneAudioProcessor::TarnwickLookAndFeel;
    auto installed = []
    { return dynamic_cast<Tarnwick*> (&juce::Desktop::getInstance().getDefaultLookAndFeel()); };
    juce::Label unstyled;

    ASSERT_EQ (installed(), nullptr);

    auto first = std::make_unique<CorvaneAudioProcessor>();
    Tarnwick* shared = installed();
    ASSERT_NE (shared, nullptr);
    EXPECT_EQ (&first->sharedLookAndFeel.get(), shared);
    EXPECT_EQ (&unstyled.getLookAndFeel(), shared);

    auto second = std::make_unique<CorvaneAudioProcessor>();
    EXPECT_EQ (&second->sharedLookAndFeel.get(), shared);
    EXPECT_EQ (second->sharedLookAndFeel.getReferenceCount(), 2);

    first.reset();
    EXPECT_EQ (installed(), shared);
    EXPECT_EQ (second->sharedLookAndFeel.getReferenceCount(), 1);

    // Components without a look-and-feel of their own follow it, fonts included.
    juce::Typeface::clearTypefaceCache();
    EXPECT_EQ (juce::Font (15.0f).getTypefacePtr()->getName(), "Roboto");

    second.reset();
    EXPECT_EQ (installed(), nullptr);
    EXPECT_EQ (dynamic_cast<Tarnwick*> (&unstyled.getLookAndFeel()), nullptr);

    // A new processor after the last one has gone makes a fresh instance.
    auto third = std::make_unique<CorvaneAudioProcessor>();
    EXPECT_NE (installed(), nullptr);
    EXPECT_EQ (third->sharedLookAndFeel.getReferenceCount(), 1);
}
