#include "ArtworkCommon.h"

#include <png.h>

#include <cmath>
#include <vector>

namespace artwork
{
namespace
{
    juce::Typeface::Ptr loadFace (const juce::File& file)
    {
        juce::MemoryBlock data;
        if (! file.loadFileAsData (data) || data.getSize() == 0)
            return nullptr;
        return juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());
    }

    float smooth (float t)
    {
        return t * t * (3.0f - 2.0f * t);
    }

    int currentDensity = 1;
} // namespace

int drawingDensity()
{
    return currentDensity;
}

ScopedDensity::ScopedDensity (int density) : previous (currentDensity)
{
    jassert (density >= 1 && density <= 3);
    currentDensity = density;
}

ScopedDensity::~ScopedDensity()
{
    currentDensity = previous;
}

Fonts::Fonts (const juce::File& folder) :
    regular (loadFace (folder.getChildFile ("Roboto-Regular.ttf"))),
    medium (loadFace (folder.getChildFile ("Roboto-Medium.ttf"))),
    light (loadFace (folder.getChildFile ("Roboto-Light.ttf"))),
    bold (loadFace (folder.getChildFile ("Roboto-Bold.ttf")))
{
}

bool Fonts::isComplete() const
{
    return regular != nullptr && medium != nullptr && light != nullptr && bold != nullptr;
}

juce::Font fontWithCapHeight (juce::Typeface::Ptr face, float capHeight)
{
    // Measure the capital H of a 100-pixel font; outlines scale linearly with the height.
    juce::Font probe (face);
    probe.setHeight (100.0f);
    juce::GlyphArrangement glyphs;
    glyphs.addLineOfText (probe, "H", 0.0f, 0.0f);
    juce::Path outline;
    glyphs.createPath (outline);
    const float capAt100 = outline.getBounds().getHeight();

    juce::Font font (face);
    font.setHeight (100.0f * capHeight / capAt100);
    return font;
}

juce::Path textPath (const juce::Font& font, const juce::String& text, float tracking)
{
    juce::GlyphArrangement glyphs;
    glyphs.addLineOfText (font, text, 0.0f, 0.0f);
    for (int i = 0; i < glyphs.getNumGlyphs(); ++i)
        glyphs.getGlyph (i).moveBy (tracking * static_cast<float> (i), 0.0f);

    juce::Path path;
    glyphs.createPath (path);
    return path;
}

juce::Path placeText (juce::Path path, float x, float baseline, juce::Justification justification)
{
    const auto bounds = path.getBounds();
    float dx = x - bounds.getX();
    if (justification.testFlags (juce::Justification::horizontallyCentred))
        dx = x - bounds.getCentreX();
    else if (justification.testFlags (juce::Justification::right))
        dx = x - bounds.getRight();

    path.applyTransform (juce::AffineTransform::translation (dx, baseline));
    return path;
}

Canvas::Canvas (int w, int h, int s) :
    width (w),
    height (h),
    scale (s),
    density (drawingDensity()),
    image (juce::Image::ARGB, w * s * density, h * s * density, true, juce::SoftwareImageType()),
    context (std::make_unique<juce::Graphics> (image))
{
    context->addTransform (juce::AffineTransform::scale (static_cast<float> (s * density)));
    context->setImageResamplingQuality (juce::Graphics::highResamplingQuality);
}

void Canvas::drawCanvas (Canvas& other, float opacity, int dx, int dy)
{
    jassert (other.scale == scale && other.density == density);
    juce::Graphics g (image);
    g.setOpacity (opacity);
    g.drawImageAt (other.image, dx * scale * density, dy * scale * density);
}

void Canvas::shade (const std::function<juce::Colour (float, float, juce::Colour)>& shader)
{
    juce::Image::BitmapData data (image, juce::Image::BitmapData::readWrite);
    const float inv = 1.0f / static_cast<float> (scale * density);
    for (int y = 0; y < data.height; ++y)
        for (int x = 0; x < data.width; ++x)
        {
            const auto c = data.getPixelColour (x, y);
            data.setPixelColour (x,
                                 y,
                                 shader ((static_cast<float> (x) + 0.5f) * inv,
                                         (static_cast<float> (y) + 0.5f) * inv,
                                         c));
        }
}

void Canvas::blur (float sigma)
{
    const float s = sigma * static_cast<float> (scale * density);
    const int radius = juce::jmax (1, static_cast<int> (std::ceil (s * 3.0f)));
    std::vector<float> kernel (static_cast<size_t> (2 * radius + 1));
    float sum = 0.0f;
    for (int i = -radius; i <= radius; ++i)
    {
        const float v = std::exp (-0.5f * static_cast<float> (i * i) / (s * s));
        kernel[static_cast<size_t> (i + radius)] = v;
        sum += v;
    }
    for (auto& v : kernel)
        v /= sum;

    const int w = image.getWidth();
    const int h = image.getHeight();
    std::vector<float> plane (static_cast<size_t> (w * h * 4));
    std::vector<float> tmp (plane.size());

    {
        juce::Image::BitmapData data (image, juce::Image::BitmapData::readOnly);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
            {
                const auto* p =
                    reinterpret_cast<const juce::PixelARGB*> (data.getPixelPointer (x, y));
                auto* d = &plane[static_cast<size_t> ((y * w + x) * 4)];
                d[0] = p->getAlpha();
                d[1] = p->getRed();
                d[2] = p->getGreen();
                d[3] = p->getBlue();
            }
    }

    auto pass = [&] (const std::vector<float>& src, std::vector<float>& dst, bool horizontal)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
            {
                float acc[4] = { 0, 0, 0, 0 };
                for (int k = -radius; k <= radius; ++k)
                {
                    const int sx = horizontal ? juce::jlimit (0, w - 1, x + k) : x;
                    const int sy = horizontal ? y : juce::jlimit (0, h - 1, y + k);
                    const float weight = kernel[static_cast<size_t> (k + radius)];
                    const auto* p = &src[static_cast<size_t> ((sy * w + sx) * 4)];
                    for (int c = 0; c < 4; ++c)
                        acc[c] += weight * p[c];
                }
                auto* d = &dst[static_cast<size_t> ((y * w + x) * 4)];
                for (int c = 0; c < 4; ++c)
                    d[c] = acc[c];
            }
    };
    pass (plane, tmp, true);
    pass (tmp, plane, false);

    juce::Image::BitmapData data (image, juce::Image::BitmapData::writeOnly);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const auto* s4 = &plane[static_cast<size_t> ((y * w + x) * 4)];
            auto toByte = [] (float v)
            { return static_cast<juce::uint8> (juce::jlimit (0, 255, juce::roundToInt (v))); };
            const auto a = toByte (s4[0]);
            auto* p = reinterpret_cast<juce::PixelARGB*> (data.getPixelPointer (x, y));
            p->setARGB (a,
                        juce::jmin (a, toByte (s4[1])),
                        juce::jmin (a, toByte (s4[2])),
                        juce::jmin (a, toByte (s4[3])));
        }
}

Picture Canvas::reduce (bool hasAlpha) const
{
    const ScopedDensity drawnAt (density);
    Picture out (width, height, hasAlpha);
    juce::Image::BitmapData src (const_cast<juce::Image&> (image),
                                 juce::Image::BitmapData::readOnly);
    const float n = static_cast<float> (scale * scale);

    for (int y = 0; y < out.storedHeight(); ++y)
        for (int x = 0; x < out.storedWidth(); ++x)
        {
            float acc[4] = { 0, 0, 0, 0 };
            for (int j = 0; j < scale; ++j)
                for (int i = 0; i < scale; ++i)
                {
                    const auto* p = reinterpret_cast<const juce::PixelARGB*> (
                        src.getPixelPointer (x * scale + i, y * scale + j));
                    acc[0] += p->getAlpha();
                    acc[1] += p->getRed();
                    acc[2] += p->getGreen();
                    acc[3] += p->getBlue();
                }

            const float a = acc[0] / n;
            if (a <= 0.0f)
            {
                out.setStoredPixel (x, y, juce::Colours::transparentBlack);
                continue;
            }
            // Without alpha the pixel is composed over black, as a premultiplied value is.
            const float divisor = hasAlpha ? a : 255.0f;
            auto channel = [&] (float premultiplied)
            {
                return static_cast<juce::uint8> (juce::jlimit (
                    0, 255, juce::roundToInt (255.0f * (premultiplied / n) / divisor)));
            };
            out.setStoredPixel (
                x,
                y,
                juce::Colour (channel (acc[1]),
                              channel (acc[2]),
                              channel (acc[3]),
                              static_cast<juce::uint8> (
                                  hasAlpha ? juce::jlimit (0, 255, juce::roundToInt (a)) : 255)));
        }
    return out;
}

void drawShadow (Canvas& canvas,
                 const juce::Path& shape,
                 juce::Colour colour,
                 float sigma,
                 juce::Point<float> offset)
{
    Canvas layer (canvas.getWidth(), canvas.getHeight(), canvas.getScale());
    layer.graphics().setColour (colour);
    layer.graphics().fillPath (shape, juce::AffineTransform::translation (offset));
    layer.blur (sigma);
    canvas.drawCanvas (layer);
}

float hashNoise (int x, int y, int seed)
{
    auto h = static_cast<juce::uint32> (x) * 374761393u + static_cast<juce::uint32> (y) * 668265263u
             + static_cast<juce::uint32> (seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return static_cast<float> (h & 0xffffu) / 32767.5f - 1.0f;
}

float valueNoise (float x, float y, int seed)
{
    const float fx = std::floor (x);
    const float fy = std::floor (y);
    const int ix = static_cast<int> (fx);
    const int iy = static_cast<int> (fy);
    const float tx = smooth (x - fx);
    const float ty = smooth (y - fy);
    const float a = hashNoise (ix, iy, seed);
    const float b = hashNoise (ix + 1, iy, seed);
    const float c = hashNoise (ix, iy + 1, seed);
    const float d = hashNoise (ix + 1, iy + 1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

juce::Colour mix (juce::Colour a, juce::Colour b, float t)
{
    return a.interpolatedWith (b, juce::jlimit (0.0f, 1.0f, t));
}

juce::Colour shift (juce::Colour c, float amount)
{
    auto channel = [amount] (juce::uint8 v)
    {
        return static_cast<juce::uint8> (
            juce::jlimit (0, 255, juce::roundToInt (static_cast<float> (v) + amount * 255.0f)));
    };
    return juce::Colour (
        channel (c.getRed()), channel (c.getGreen()), channel (c.getBlue()), c.getAlpha());
}

Picture::Picture (int w, int h, bool alpha) :
    width (w),
    height (h),
    density (drawingDensity()),
    hasAlpha (alpha),
    rgba (static_cast<size_t> (w * h * density * density * 4), 0)
{
}

juce::Colour Picture::getPixel (int x, int y) const
{
    return getStoredPixel (x * density, y * density);
}

void Picture::setPixel (int x, int y, juce::Colour c)
{
    for (int j = 0; j < density; ++j)
        for (int i = 0; i < density; ++i)
            setStoredPixel (x * density + i, y * density + j, c);
}

juce::Colour Picture::getStoredPixel (int x, int y) const
{
    const auto* p = &rgba[static_cast<size_t> ((y * storedWidth() + x) * 4)];
    return juce::Colour (p[0], p[1], p[2], p[3]);
}

void Picture::setStoredPixel (int x, int y, juce::Colour c)
{
    auto* p = &rgba[static_cast<size_t> ((y * storedWidth() + x) * 4)];
    p[0] = c.getRed();
    p[1] = c.getGreen();
    p[2] = c.getBlue();
    p[3] = hasAlpha ? c.getAlpha() : 255;
}

juce::Image Picture::toImage() const
{
    juce::Image image (hasAlpha ? juce::Image::ARGB : juce::Image::RGB,
                       storedWidth(),
                       storedHeight(),
                       true,
                       juce::SoftwareImageType());
    for (int y = 0; y < storedHeight(); ++y)
        for (int x = 0; x < storedWidth(); ++x)
            image.setPixelAt (x, y, getStoredPixel (x, y));
    return image;
}

bool writePicture (const Picture& picture, const juce::File& file, float jpegQuality)
{
    file.deleteFile();

    if (file.hasFileExtension ("jpg;jpeg"))
    {
        juce::JPEGImageFormat jpeg;
        jpeg.setQuality (jpegQuality);
        juce::FileOutputStream out (file);
        if (! out.openedOk() || ! jpeg.writeImageToStream (picture.toImage(), out))
            return false;
        out.flush();
        return out.getStatus().wasOk();
    }

    std::vector<juce::uint8> rows;
    const int channels = picture.hasAlpha ? 4 : 3;
    rows.reserve (static_cast<size_t> (picture.storedWidth() * picture.storedHeight() * channels));
    for (size_t i = 0; i < picture.rgba.size(); i += 4)
        for (int c = 0; c < channels; ++c)
            rows.push_back (picture.rgba[i + static_cast<size_t> (c)]);

    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32> (picture.storedWidth());
    png.height = static_cast<png_uint_32> (picture.storedHeight());
    png.format = picture.hasAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const bool ok = png_image_write_to_file (
                        &png, file.getFullPathName().toRawUTF8(), 0, rows.data(), 0, nullptr)
                    != 0;
    png_image_free (&png);
    return ok;
}
juce::Path hoaMeterLabel (const Fonts& fonts, const juce::String& text, float x, float baseline)
{
    auto label = placeText (textPath (fontWithCapHeight (fonts.medium, 6.0f), text),
                            x,
                            baseline,
                            juce::Justification::horizontallyCentred);
    const float left = label.getBounds().getX();
    label.applyTransform (juce::AffineTransform::translation (std::round (left) - left, 0.0f));
    return label;
}
} // namespace artwork
