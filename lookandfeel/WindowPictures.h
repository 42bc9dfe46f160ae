#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    The window's embedded pictures at the density that suits the display.

    Each picture is embedded at 1x (name.png) and at 2x and 3x (name@2x.png, name@3x.png: two and
    three times the pixels along each side, drawn from the same artwork). A picture loaded here is
    the 1x image, as juce::ImageCache::getFromMemory gives it, marked with its larger versions;
    drawn through draw(), it paints from the version that suits the scale the graphics context
    paints at (the host's, the system's and the window's own Size together): the 1x picture at
    100 %, above that the smallest version at least as large as the scale, drawn smaller (the
    largest beyond 300 %). Sizes and source rectangles stay in the 1x picture's pixels, so callers
    lay pictures out as before. Any other image is drawn as it is.

    A film strip (square frames stacked top to bottom at 1x) holds its frames side by side, left
    to right, in its larger versions, which makes their files a tenth of the size; a source
    rectangle within one frame finds the same part of that frame in them.

    Larger versions are decoded on first use, so a window never painted scaled never decodes them.
    While a Keeper lives (the window holds one) every version drawn stays decoded: the image cache
    lets a picture go a few seconds after its last use, and a 3x knob strip takes a fifth of a
    second to decode again when its knob is next touched.

    Message thread only.
*/
namespace windowPictures
{
/** The embedded picture whose 1x data this is, marked with its larger versions. */
juce::Image load (const void* data, int size);

/** What to paint for a picture at a scale. */
struct Version
{
    juce::Image image;
    int density = 1;      // pixels of image per pixel of the 1x picture, along each side
    int framesAcross = 0; // a film strip's frame size at 1x when its frames lie side by side
    /** Where a part of the 1x picture lies in image. */
    juce::Rectangle<int> areaOf (juce::Rectangle<int> pictureArea) const;
};
Version versionFor (const juce::Image& picture, float scale);

/** The scale the context paints at, in device pixels per window pixel. */
float scaleOf (juce::Graphics&);

/** Graphics::drawImage from the version of picture that suits g; the source rectangle is in the
    1x picture's pixels (within one frame for a film strip). */
void draw (juce::Graphics& g,
           const juce::Image& picture,
           int destX,
           int destY,
           int destWidth,
           int destHeight,
           int sourceX,
           int sourceY,
           int sourceWidth,
           int sourceHeight);

/** The density to paint at a scale with versions up to largestDensity: 1 up to 100 %, then the
    smallest density at least as large as the scale, the largest beyond. */
int densityFor (float scale, int largestDensity) noexcept;

/** Keeps every version drawn decoded while it lives. */
class Keeper
{
public:
    Keeper();
    ~Keeper();

    Keeper (const Keeper&) = delete;
    Keeper& operator= (const Keeper&) = delete;
};
} // namespace windowPictures
