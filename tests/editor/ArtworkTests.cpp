#include "OrvalisResources.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>

// The embedded pictures as the plug-in decodes them: sizes, frame layout and the colours the
// window's drawing relies on.
namespace
{
juce::Image load (const char* resourceName)
{
    int size = 0;
    const char* data = OrvalisResources::getNamedResource (resourceName, size);
    EXPECT_NE (data, nullptr) << resourceName;
    return data == nullptr ? juce::Image()
                           : juce::ImageFileFormat::loadFrom (data, static_cast<size_t> (size));
}

void expectColour (juce::Colour actual,
                   juce::Colour expected,
                   int tolerance,
                   const juce::String& where)
{
    EXPECT_NEAR (actual.getRed(), expected.getRed(), tolerance) << where;
    EXPECT_NEAR (actual.getGreen(), expected.getGreen(), tolerance) << where;
    EXPECT_NEAR (actual.getBlue(), expected.getBlue(), tolerance) << where;
    EXPECT_EQ (actual.getAlpha(), expected.getAlpha()) << where;
}

bool isCyan (juce::Colour c)
{
    return c.getAlpha() > 200 && c.getBlue() > 180 && c.getGreen() > 160 && c.getRed() < 140;
}

bool isYellow (juce::Colour c)
{
    return c.getAlpha() > 200 && c.getRed() > 200 && c.getGreen() > 150 && c.getBlue() < 110;
}

/** Mean position of the pixels of frame k that satisfy a test, relative to the frame. */
template <typename Test>
juce::Point<float> centroid (const juce::Image& strip, int frame, Test test, int& count)
{
    juce::Point<float> sum;
    count = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 70; ++x)
            if (test (strip.getPixelAt (x, frame * 70 + y)))
            {
                sum += { static_cast<float> (x) + 0.5f, static_cast<float> (y) + 0.5f };
                ++count;
            }
    return count > 0 ? sum / static_cast<float> (count) : sum;
}
} // namespace

TEST (Artwork, EveryPictureDecodesAtItsSize)
{
    struct Expected
    {
        const char* name;
        int width, height;
        bool alpha;
    };
    const Expected pictures[] = {
        { "bouton_AW_70x70_png", 70, 8890, true },
        { "bouton_G_70x70_png", 70, 8890, true },
        { "bandeBleue_png", 27, 250, true },
        { "Bouton_maxpeak_png", 43, 13, true },
        { "vuMeterVerticalGreen_png", 10, 143, false },
        { "vuMeterVerticalRedGreen_png", 10, 163, false },
        { "engrenage_png", 22, 22, true },
        { "captionAmbiX_png", 69, 9, true },
        { "captionFuMa_png", 69, 9, true },
        { "welcomeCard_png", 220, 280, true },
        { "background_jpg", 435, 373, false },
        { "backgroundHoa_jpg", 435, 373, false },
        { "vuMeterNarrowGreen_png", 6, 143, false },
        { "vuMeterNarrowRedGreen_png", 6, 163, false },
        { "captionOrders_png", 100, 63, true },
        { "captionOrderDigits_png", 72, 9, true },
    };
    for (const auto& p : pictures)
    {
        const auto image = load (p.name);
        ASSERT_TRUE (image.isValid()) << p.name;
        EXPECT_EQ (image.getWidth(), p.width) << p.name;
        EXPECT_EQ (image.getHeight(), p.height) << p.name;
        EXPECT_EQ (image.hasAlphaChannel(), p.alpha) << p.name;
    }
}

TEST (Artwork, EmbeddedFontIsRobotoRegular)
{
    const auto face = juce::Typeface::createSystemTypefaceFor (
        OrvalisResources::RobotoRegular_ttf,
        static_cast<size_t> (OrvalisResources::RobotoRegular_ttfSize));
    ASSERT_NE (face, nullptr);
    EXPECT_EQ (face->getName(), "Roboto");
    EXPECT_EQ (face->getStyle(), "Regular");
}

TEST (Artwork, AttackKnobFramesAreCentredAndKeepToTheShownSquare)
{
    const auto strip = load ("bouton_AW_70x70_png");
    ASSERT_TRUE (strip.isValid());

    int previousCyan = -1;
    for (int k = 0; k < 127; ++k)
    {
        // The dark knob body sits in the middle of each 70-pixel frame.
        int count = 0;
        const auto body = centroid (
            strip,
            k,
            [] (juce::Colour c) { return c.getAlpha() == 255 && c.getBrightness() < 0.3f; },
            count);
        EXPECT_NEAR (body.x, 35.0f, 1.0f) << "frame " << k;
        EXPECT_NEAR (body.y, 35.5f, 1.5f) << "frame " << k; // its shadow falls below it

        // Only the inner 60 x 60 square is ever shown: nothing but faint glow outside it.
        int outsideAlpha = 0;
        for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 70; ++x)
                if (x < 5 || x >= 65 || y < 5 || y >= 65)
                    outsideAlpha =
                        std::max (outsideAlpha,
                                  static_cast<int> (strip.getPixelAt (x, k * 70 + y).getAlpha()));
        EXPECT_LE (outsideAlpha, 24) << "frame " << k;

        // The cyan arc grows from frame to frame (give or take an anti-aliased pixel or two at
        // its end) and ends up three quarters round.
        int cyan = 0;
        centroid (strip, k, isCyan, cyan);
        EXPECT_GE (cyan, previousCyan - 2) << "frame " << k;
        previousCyan = std::max (previousCyan, cyan);
    }
    int first = 0, middle = 0, last = 0;
    centroid (strip, 1, isCyan, first);
    centroid (strip, 63, isCyan, middle);
    centroid (strip, 126, isCyan, last);
    EXPECT_GT (middle, first + 60);
    EXPECT_GT (last, middle + 60);

    // Frame 0 alone shows the yellow dot, at the lower left where the scale starts.
    int yellow = 0;
    const auto dot = centroid (strip, 0, isYellow, yellow);
    EXPECT_GT (yellow, 4);
    EXPECT_LT (dot.x, 25.0f);
    EXPECT_GT (dot.y, 45.0f);
    for (int k = 1; k < 127; ++k)
    {
        centroid (strip, k, isYellow, yellow);
        EXPECT_EQ (yellow, 0) << "frame " << k;
    }
}

TEST (Artwork, GainKnobPointerSweepsClockwiseFromLowerLeftToLowerRight)
{
    const auto strip = load ("bouton_G_70x70_png");
    ASSERT_TRUE (strip.isValid());

    int count = 0;
    const auto start = centroid (strip, 0, isCyan, count);
    EXPECT_LT (start.x, 33.0f);
    EXPECT_GT (start.y, 37.0f);
    const auto middle = centroid (strip, 63, isCyan, count);
    EXPECT_NEAR (middle.x, 35.0f, 1.0f);
    EXPECT_LT (middle.y, 30.0f);
    const auto end = centroid (strip, 126, isCyan, count);
    EXPECT_GT (end.x, 37.0f);
    EXPECT_GT (end.y, 37.0f);

    // The pointer's angle rises steadily from frame to frame (clockwise from 12 o'clock).
    float previous = -10.0f;
    for (int k = 0; k < 127; ++k)
    {
        const auto p = centroid (strip, k, isCyan, count);
        ASSERT_GT (count, 10) << "frame " << k;
        const float angle = std::atan2 (p.x - 35.0f, 35.0f - p.y);
        EXPECT_GT (angle, previous) << "frame " << k;
        previous = angle;
    }

    // Only the middle frame shows the yellow marker, above the knob.
    for (int k = 0; k < 127; ++k)
    {
        int yellow = 0;
        const auto marker = centroid (strip, k, isYellow, yellow);
        if (k == 63)
        {
            EXPECT_GT (yellow, 2);
            EXPECT_NEAR (marker.x, 35.0f, 1.0f);
            EXPECT_LT (marker.y, 7.0f);
        }
        else
        {
            EXPECT_EQ (yellow, 0) << "frame " << k;
        }
    }
}

TEST (Artwork, MeterPicturesHaveTheirExactColours)
{
    const auto band = load ("bandeBleue_png");
    for (int y : { 0, 125, 249 })
        for (int x = 0; x < 27; ++x)
        {
            const auto c = band.getPixelAt (x, y);
            if (x % 2 == 0)
                expectColour (
                    c,
                    juce::Colour (62, 104, 194).withAlpha (static_cast<juce::uint8> (168)),
                    2,
                    "band " + juce::String (x) + "," + juce::String (y));
            else
                EXPECT_EQ (c.getAlpha(), 0) << x << "," << y;
        }

    const auto input = load ("vuMeterVerticalGreen_png");
    expectColour (input.getPixelAt (5, 70), juce::Colour (59, 240, 40), 0, "input inside");
    expectColour (input.getPixelAt (0, 70), juce::Colour (70, 209, 55), 0, "input left edge");
    expectColour (input.getPixelAt (5, 142), juce::Colour (70, 209, 55), 0, "input bottom edge");
    expectColour (input.getPixelAt (9, 0), juce::Colour (84, 194, 73), 0, "input corner");

    const auto output = load ("vuMeterVerticalRedGreen_png");
    for (int y = 0; y < 163; ++y)
        for (int x = 1; x < 10; ++x)
            ASSERT_EQ (output.getPixelAt (x, y), output.getPixelAt (0, y))
                << "row " << y << " is not uniform";
    expectColour (output.getPixelAt (0, 0), juce::Colour (255, 1, 1), 0, "row 0");
    expectColour (output.getPixelAt (0, 40), juce::Colour (255, 1, 1), 0, "row 40");
    expectColour (output.getPixelAt (0, 42), juce::Colour (253, 128, 50), 0, "row 42");
    expectColour (output.getPixelAt (0, 50), juce::Colour (252, 244, 95), 0, "row 50");
    expectColour (output.getPixelAt (0, 51), juce::Colour (251, 255, 99), 0, "row 51");
    expectColour (output.getPixelAt (0, 126), juce::Colour (59, 240, 40), 0, "row 126");
    expectColour (output.getPixelAt (0, 162), juce::Colour (59, 240, 40), 0, "row 162");
    for (int y = 52; y <= 126; ++y)
        EXPECT_LE (output.getPixelAt (0, y).getRed(), output.getPixelAt (0, y - 1).getRed())
            << "row " << y;
}

TEST (Artwork, MaxPeakHandleIsAnOpaqueBarInASoftShadow)
{
    const auto handle = load ("Bouton_maxpeak_png");
    // 35 x 5 opaque pixels from (4, 4), blue.
    for (int x = 4; x <= 38; ++x)
    {
        EXPECT_EQ (handle.getPixelAt (x, 6).getAlpha(), 255) << x;
        EXPECT_GT (handle.getPixelAt (x, 6).getBlue(), handle.getPixelAt (x, 6).getRed()) << x;
    }
    for (int y = 4; y <= 8; ++y)
        EXPECT_EQ (handle.getPixelAt (21, y).getAlpha(), 255) << y;
    EXPECT_LT (handle.getPixelAt (3, 6).getAlpha(), 255);
    EXPECT_LT (handle.getPixelAt (39, 6).getAlpha(), 255);
    EXPECT_LT (handle.getPixelAt (21, 3).getAlpha(), 255);
    EXPECT_LT (handle.getPixelAt (21, 9).getAlpha(), 255);
    // The shadow is dark, strongest next to the bar and fading towards the edges.
    const auto below = handle.getPixelAt (21, 10);
    EXPECT_GT (below.getAlpha(), 60);
    EXPECT_LT (below.getBrightness(), 0.3f);
    EXPECT_LT (handle.getPixelAt (0, 0).getAlpha(), below.getAlpha());
    EXPECT_LT (handle.getPixelAt (42, 12).getAlpha(), below.getAlpha());
}

TEST (Artwork, GearIsAWhiteCogWithEightTeethAndAHole)
{
    const auto gear = load ("engrenage_png");
    EXPECT_LT (gear.getPixelAt (11, 11).getAlpha(), 40); // the hole
    EXPECT_LT (gear.getPixelAt (0, 0).getAlpha(), 40);
    const auto ring = gear.getPixelAt (11, 5);
    EXPECT_GT (ring.getAlpha(), 220);
    EXPECT_GT (ring.getBrightness(), 0.8f);
    EXPECT_LT (ring.getSaturation(), 0.1f);

    // Around the teeth's ring, opaque and clear alternate eight times each.
    int transitions = 0;
    bool previous = false;
    for (int i = 0; i <= 720; ++i)
    {
        const float a = juce::MathConstants<float>::twoPi * static_cast<float> (i) / 720.0f;
        const int x = static_cast<int> (11.0f + 9.0f * std::sin (a));
        const int y = static_cast<int> (11.0f - 9.0f * std::cos (a));
        const bool opaque = gear.getPixelAt (x, y).getAlpha() > 128;
        if (i > 0 && opaque != previous)
            ++transitions;
        previous = opaque;
    }
    EXPECT_EQ (transitions, 16);
}

TEST (Artwork, CaptionLettersSitUnderTheirMeters)
{
    const auto ambiX = load ("captionAmbiX_png");
    const auto fuMa = load ("captionFuMa_png");

    auto whiteColumns = [] (const juce::Image& image)
    {
        juce::Array<int> columns;
        for (int x = 0; x < image.getWidth(); ++x)
            for (int y = 0; y < image.getHeight(); ++y)
                if (image.getPixelAt (x, y).getAlpha() > 160
                    && image.getPixelAt (x, y).getBrightness() > 0.9f)
                {
                    columns.add (x);
                    break;
                }
        return columns;
    };

    // Meters lie at caption x 1-11, 20-30, 40-50 and 59-69 (input and output groups together).
    for (const auto* image : { &ambiX, &fuMa })
    {
        const auto columns = whiteColumns (*image);
        for (int x : columns)
            EXPECT_TRUE ((x >= 1 && x <= 11) || (x >= 20 && x <= 30) || (x >= 40 && x <= 50)
                         || (x >= 59 && x <= 68))
                << "white at column " << x;
        for (int centre : { 6, 25, 45, 64 })
            EXPECT_TRUE (columns.contains (centre)) << "no letter at " << centre;
    }

    // Same W, different letters after it.
    auto region = [] (const juce::Image& image, int from, int to)
    {
        juce::String s;
        for (int x = from; x < to; ++x)
            for (int y = 0; y < 9; ++y)
                s << juce::String::toHexString (
                    static_cast<int> (image.getPixelAt (x, y).getARGB()));
        return s;
    };
    EXPECT_EQ (region (ambiX, 0, 15), region (fuMa, 0, 15));
    EXPECT_NE (region (ambiX, 17, 34), region (fuMa, 17, 34));
}

TEST (Artwork, WelcomeCardHasItsCardRedBlockLineAndShadow)
{
    const auto card = load ("welcomeCard_png");
    const auto white = juce::Colour (0xffffffff);
    const auto red = juce::Colour (223, 12, 59);

    expectColour (card.getPixelAt (15, 15), white, 0, "card top left");
    expectColour (card.getPixelAt (204, 264), white, 0, "card bottom right");
    expectColour (card.getPixelAt (22, 100), white, 0, "left margin");
    expectColour (card.getPixelAt (197, 100), white, 0, "right margin");
    expectColour (card.getPixelAt (100, 22), white, 0, "top margin");
    expectColour (card.getPixelAt (100, 250), white, 0, "link strip");
    expectColour (card.getPixelAt (23, 23), red, 0, "red top left");
    expectColour (card.getPixelAt (196, 233), red, 0, "red bottom right");
    expectColour (card.getPixelAt (100, 234), white, 0, "below red");

    // The line: two rows from x 54 to 165, red around it.
    for (auto [x, y] : { std::pair (54, 107), std::pair (165, 108), std::pair (110, 107) })
    {
        const auto c = card.getPixelAt (x, y);
        EXPECT_GT (c.getGreen(), 180) << x << "," << y;
        EXPECT_GT (c.getRed(), 230) << x << "," << y;
    }
    for (auto [x, y] :
         { std::pair (53, 107), std::pair (166, 108), std::pair (110, 106), std::pair (110, 109) })
        expectColour (card.getPixelAt (x, y), red, 0, "around the line");

    // The maker's mark: white pixels between y 166 and 211 on the red block.
    int whiteInMark = 0;
    for (int y = 166; y <= 211; ++y)
        for (int x = 23; x < 197; ++x)
            if (card.getPixelAt (x, y).getGreen() > 200)
                ++whiteInMark;
    EXPECT_GT (whiteInMark, 200);

    // Shadow: at most about 95/255 next to the card, fading out within 12 pixels.
    for (auto [x, y] : { std::pair (14, 140), std::pair (205, 140), std::pair (110, 265) })
    {
        const auto c = card.getPixelAt (x, y);
        EXPECT_GE (c.getAlpha(), 60) << x << "," << y;
        EXPECT_LE (c.getAlpha(), 100) << x << "," << y;
        EXPECT_LT (c.getBrightness(), 0.05f) << x << "," << y;
    }
    EXPECT_LT (card.getPixelAt (8, 140).getAlpha(), card.getPixelAt (14, 140).getAlpha());
    for (auto [x, y] : { std::pair (2, 140),
                         std::pair (217, 140),
                         std::pair (110, 278),
                         std::pair (0, 0),
                         std::pair (219, 279) })
        EXPECT_EQ (card.getPixelAt (x, y).getAlpha(), 0) << x << "," << y;
}

TEST (Artwork, BackgroundPrintsItsFeaturesWhereTheWindowPlacesItsControls)
{
    const auto background = load ("background_jpg");
    auto brightness = [&background] (int x, int y)
    { return background.getPixelAt (x, y).getBrightness(); };

    // Title strip near black, the panel below it charcoal.
    EXPECT_LT (brightness (215, 6), 0.09f);
    EXPECT_GT (brightness (215, 50), brightness (215, 6));
    // Captions in light grey over the title strip's left part.
    float brightest = 0.0f;
    for (int x = 10; x < 200; ++x)
        brightest = std::max (brightest, brightness (x, 15));
    EXPECT_GT (brightest, 0.7f);

    // Unlit meter tracks under every meter, darker than the panel around them.
    for (int x : { 50, 69, 89, 108, 218, 237, 257, 276 })
        for (int y : { 80, 157, 234 })
            EXPECT_LT (brightness (x + 5, y), 0.09f) << x << "," << y;
    // Orvalis HOA's: eight narrow tracks a side, at x 50 + 9 k and 218 + 9 k.
    const auto hoa = load ("backgroundHoa_jpg");
    for (int order = 0; order < 8; ++order)
        for (int x : { 50 + 9 * order, 218 + 9 * order })
        {
            EXPECT_LT (hoa.getPixelAt (x + 3, 157).getBrightness(), 0.09f) << x;
            EXPECT_GT (hoa.getPixelAt (x + 7, 157).getBrightness(),
                       hoa.getPixelAt (x + 3, 157).getBrightness())
                << x;
        }

    // Gain-reduction column darker than the panel beside it.
    EXPECT_LT (brightness (168, 60), brightness (140, 60));

    // The raised max-peak panel is light, with a dark slot for the fader in its middle.
    EXPECT_GT (brightness (420, 150), 0.45f);
    EXPECT_LT (brightness (388, 120), 0.2f);

    // A gold disc behind the gain knob at the lower left.
    const auto gold = background.getPixelAt (12, 368);
    EXPECT_GT (gold.getRed(), gold.getBlue() + 40);
    EXPECT_GT (gold.getHue(), 0.06f);
    EXPECT_LT (gold.getHue(), 0.17f);
}
