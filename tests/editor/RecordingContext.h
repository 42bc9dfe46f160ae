#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <optional>
#include <vector>

/**
    A graphics context that draws nothing and records what it is asked to draw, in the
    coordinates of the Graphics object that wraps it: images with their destination rectangles,
    filled paths, rectangles and rectangle lists with the fill in force.

    Clipping follows the software renderer closely enough for the code under test: a call whose
    area misses the clip, or is empty, is skipped by juce::Graphics before it reaches the context.
*/
class RecordingContext : public juce::LowLevelGraphicsContext
{
public:
    struct ImageCall
    {
        juce::Image image;                  // what juce::Graphics passed: a subsection or the whole
        juce::Rectangle<float> destination; // the image's bounds after the transform
        float opacity;
    };

    struct FillCall
    {
        enum class Kind
        {
            rect,
            path
        };
        Kind kind;
        juce::Rectangle<float> area; // rectangle, or the path's bounds after the transform
        juce::Path path;             // transformed into Graphics coordinates
        juce::FillType fill;
    };

    explicit RecordingContext (juce::Rectangle<int> clip = { 0, 0, 2000, 10000 });

    std::vector<ImageCall> images;
    std::vector<FillCall> fills;

    /** Where a drawn image lies within the whole picture it was clipped from, if it came from it. */
    static std::optional<juce::Rectangle<int>> sourceWithin (const juce::Image& part,
                                                             const juce::Image& whole);

    bool isVectorDevice() const override { return false; }
    void setOrigin (juce::Point<int>) override;
    void addTransform (const juce::AffineTransform&) override;
    float getPhysicalPixelScaleFactor() override { return 1.0f; }
    bool clipToRectangle (const juce::Rectangle<int>&) override;
    bool clipToRectangleList (const juce::RectangleList<int>&) override;
    void excludeClipRectangle (const juce::Rectangle<int>&) override {}
    void clipToPath (const juce::Path&, const juce::AffineTransform&) override {}
    void clipToImageAlpha (const juce::Image&, const juce::AffineTransform&) override {}
    bool clipRegionIntersects (const juce::Rectangle<int>&) override;
    juce::Rectangle<int> getClipBounds() const override;
    bool isClipEmpty() const override { return state.clip.isEmpty(); }
    void saveState() override { stack.push_back (state); }
    void restoreState() override;
    void beginTransparencyLayer (float) override { saveState(); }
    void endTransparencyLayer() override { restoreState(); }
    void setFill (const juce::FillType& f) override { state.fill = f; }
    void setOpacity (float o) override { state.fill.setOpacity (o); }
    void setInterpolationQuality (juce::Graphics::ResamplingQuality) override {}
    void fillRect (const juce::Rectangle<int>&, bool) override;
    void fillRect (const juce::Rectangle<float>&) override;
    void fillRectList (const juce::RectangleList<float>&) override;
    void fillPath (const juce::Path&, const juce::AffineTransform&) override;
    void drawImage (const juce::Image&, const juce::AffineTransform&) override;
    void drawLine (const juce::Line<float>&) override;
    void setFont (const juce::Font& f) override { state.font = f; }
    const juce::Font& getFont() override { return state.font; }
    void drawGlyph (int, const juce::AffineTransform&) override {}

private:
    struct State
    {
        juce::AffineTransform transform;
        juce::Rectangle<int> clip; // in device coordinates
        juce::FillType fill;
        juce::Font font;
    };

    State state;
    std::vector<State> stack;
};
