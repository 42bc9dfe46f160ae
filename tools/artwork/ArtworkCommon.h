#pragma once

#include <juce_graphics/juce_graphics.h>

#include <functional>
#include <memory>
#include <vector>

// Drawing helpers shared by the artwork painters: supersampled canvases, blur, noise and text
// set as paths with tracking and pixel-aligned baselines.
namespace artwork
{
/** The Roboto faces the artwork is set in. */
struct Fonts
{
    /** Loads Regular, Medium, Light and Bold from a folder of Roboto TrueType files. */
    explicit Fonts (const juce::File& folder);

    bool isComplete() const;

    juce::Typeface::Ptr regular, medium, light, bold;
};

/**
        The density pictures are drawn at: stored pixels per window pixel along each side. 1 gives
        the pictures the window shows on a display of ordinary density; 2 and 3 their larger
        versions for displays scaled to 200 and 300 %. Every painter draws in window pixels, so the
        same code draws each version.
    */
int drawingDensity();

/** Draws the pictures painted while it lives at a density (1, 2 or 3). */
class ScopedDensity
{
public:
    explicit ScopedDensity (int density);
    ~ScopedDensity();

    ScopedDensity (const ScopedDensity&) = delete;
    ScopedDensity& operator= (const ScopedDensity&) = delete;

private:
    int previous;
};

/**
        A finished picture: 8-bit colour channels, not premultiplied, so that translucent pixels keep
        their exact colour in the file (juce::Image stores premultiplied values and loses it).

        Its size is in window pixels; it stores density x density pixels for each of them, at the
        density drawn at when it was made. getPixel and setPixel address window pixels (setPixel
        colours all the stored pixels of one, so pixel-by-pixel painters serve every density);
        the stored pixels are what is written and decoded.
    */
struct Picture
{
    Picture (int width, int height, bool hasAlpha);

    juce::Colour getPixel (int x, int y) const;
    void setPixel (int x, int y, juce::Colour);

    int storedWidth() const { return width * density; }
    int storedHeight() const { return height * density; }
    juce::Colour getStoredPixel (int x, int y) const;
    void setStoredPixel (int x, int y, juce::Colour);

    /** The stored pixels as a juce::Image, as the plug-in sees them after decoding. */
    juce::Image toImage() const;

    int width, height; // window pixels
    int density;
    bool hasAlpha;
    std::vector<juce::uint8> rgba; // stored pixels, row by row
};

/** A font of the given face whose capital letters are capHeight pixels tall. */
juce::Font fontWithCapHeight (juce::Typeface::Ptr, float capHeight);

/** Text as a path, baseline at y 0, left edge at x 0, with extra space between letters. */
juce::Path textPath (const juce::Font&, const juce::String&, float tracking = 0.0f);

/** Moves a text path so that its baseline lies at y and it is aligned left, centred or right on x. */
juce::Path placeText (juce::Path, float x, float baseline, juce::Justification);

/**
        A picture drawn at scale times its stored size and reduced with a box filter, which gives
        area-exact anti-aliasing for paths and per-pixel textures alike. The graphics context works
        in the picture's window pixels whatever the density drawn at (drawingDensity, taken when
        the canvas is made).
    */
class Canvas
{
public:
    Canvas (int width, int height, int scale = 4);

    juce::Graphics& graphics() { return *context; }
    juce::Image& hiRes() { return image; }
    int getScale() const { return scale; }
    int getDensity() const { return density; }
    int getWidth() const { return width; }
    int getHeight() const { return height; }

    /** Draws another canvas of the same scale over this one at a pixel offset. */
    void drawCanvas (Canvas& other, float opacity = 1.0f, int dx = 0, int dy = 0);

    /**
            Calls shade for every high-resolution pixel with its centre in picture coordinates and
            its current colour; the result replaces the pixel (non-premultiplied colours).
        */
    void shade (const std::function<juce::Colour (float x, float y, juce::Colour current)>& shader);

    /** Blurs the high-resolution image; sigma is in window pixels. */
    void blur (float sigma);

    /** The finished picture at its size and density; without alpha it is made opaque. */
    Picture reduce (bool hasAlpha = true) const;

private:
    int width, height, scale, density;
    juce::Image image;
    std::unique_ptr<juce::Graphics> context;
};

/** A soft shadow of a shape: the path filled in colour, blurred, drawn at an offset. */
void drawShadow (Canvas&, const juce::Path&, juce::Colour, float sigma, juce::Point<float> offset);

/** Repeatable white noise in [-1, 1] for integer lattice points. */
float hashNoise (int x, int y, int seed);

/** Smooth value noise in [-1, 1], features about one unit apart. */
float valueNoise (float x, float y, int seed);

/** Mixes two colours, t 0 giving a and 1 giving b. */
juce::Colour mix (juce::Colour a, juce::Colour b, float t);

/** Brightens (amount > 0) or darkens a colour by a fraction of full scale, keeping alpha. */
juce::Colour shift (juce::Colour c, float amount);

/** An order meter's number as Orvalis HOA's window sets it: 6-pixel capitals centred on x with a
    whole-pixel left edge, baseline at y. */
juce::Path hoaMeterLabel (const Fonts&, const juce::String& text, float x, float baseline);

/** Writes a picture as 8-bit PNG, or as JPEG when the file name ends in .jpg; false on failure. */
bool writePicture (const Picture&, const juce::File&, float jpegQuality = 0.95f);
} // namespace artwork
