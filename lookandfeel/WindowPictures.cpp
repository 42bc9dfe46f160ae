#include "lookandfeel/WindowPictures.h"

#include "OrvalisResources.h"

#include <algorithm>
#include <array>
#include <vector>

namespace windowPictures
{
namespace
{
    constexpr int maxDensity = 3;
    const juce::Identifier pictureProperty ("orvalisWindowPicture");

    // Keeper's state: how many live, and what they keep decoded.
    int numKeepers = 0;
    std::vector<juce::Image> kept;

    void keep (const juce::Image& image)
    {
        if (numKeepers > 0 && std::find (kept.begin(), kept.end(), image) == kept.end())
            kept.push_back (image);
    }

    struct Resource
    {
        const char* data = nullptr;
        int size = 0;
    };

    /** One picture: its embedded data by density (index density - 1); 1x is always there. */
    struct Entry
    {
        std::array<Resource, maxDensity> byDensity;
        int largestDensity = 1;
    };

    /** name.png's file at a density: name@2x.png at 2x. */
    juce::String fileNameAt (const juce::String& name, int density)
    {
        return name.upToLastOccurrenceOf (".", false, false) + "@" + juce::String (density) + "x"
               + name.fromLastOccurrenceOf (".", true, false);
    }

    Resource resourceNamed (const juce::String& originalFileName)
    {
        for (int i = 0; i < OrvalisResources::namedResourceListSize; ++i)
            if (originalFileName == OrvalisResources::originalFilenames[i])
            {
                Resource r;
                r.data = OrvalisResources::getNamedResource (OrvalisResources::namedResourceList[i],
                                                             r.size);
                return r;
            }
        return {};
    }

    // Every embedded picture with its larger versions, found by file name: name@2x.png beside
    // name.png.
    const std::vector<Entry>& pictures()
    {
        static const std::vector<Entry> entries = []
        {
            std::vector<Entry> result;
            for (int i = 0; i < OrvalisResources::namedResourceListSize; ++i)
            {
                const juce::String name (OrvalisResources::originalFilenames[i]);
                if (name.containsChar ('@'))
                    continue;
                Entry entry;
                entry.byDensity[0] = resourceNamed (name);
                for (int density = 2; density <= maxDensity; ++density)
                {
                    const auto larger = resourceNamed (fileNameAt (name, density));
                    if (larger.data != nullptr)
                    {
                        entry.byDensity[static_cast<size_t> (density - 1)] = larger;
                        entry.largestDensity = density;
                    }
                }
                result.push_back (entry);
            }
            return result;
        }();
        return entries;
    }

    const Entry* entryOf (const juce::Image& picture)
    {
        const auto* properties = picture.getProperties();
        if (properties == nullptr)
            return nullptr;
        const auto* index = properties->getVarPointer (pictureProperty);
        if (index == nullptr)
            return nullptr;
        const auto& entries = pictures();
        const int i = static_cast<int> (*index);
        return i >= 0 && i < static_cast<int> (entries.size()) ? &entries[static_cast<size_t> (i)]
                                                               : nullptr;
    }
} // namespace

juce::Image load (const void* data, int size)
{
    auto image = juce::ImageCache::getFromMemory (data, size);
    if (auto* properties = image.getProperties())
    {
        const auto& entries = pictures();
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].byDensity[0].data == data)
                properties->set (pictureProperty, static_cast<int> (i));
    }
    return image;
}

int densityFor (float scale, int largestDensity) noexcept
{
    // A hair above 1 is still 100 %: the sums of transforms are not exact.
    if (! (scale > 1.001f))
        return 1;
    for (int density = 2; density < largestDensity; ++density)
        if (scale <= static_cast<float> (density) + 0.001f)
            return density;
    return largestDensity;
}

juce::Rectangle<int> Version::areaOf (juce::Rectangle<int> pictureArea) const
{
    if (framesAcross > 0)
    {
        // Frame k's rows k * size ... at 1x lie at columns k * size ... in image.
        const int frame = pictureArea.getY() / framesAcross;
        jassert (pictureArea.getBottom() <= (frame + 1) * framesAcross);
        pictureArea.setPosition (pictureArea.getX() + frame * framesAcross,
                                 pictureArea.getY() - frame * framesAcross);
    }
    return { pictureArea.getX() * density,
             pictureArea.getY() * density,
             pictureArea.getWidth() * density,
             pictureArea.getHeight() * density };
}

Version versionFor (const juce::Image& picture, float scale)
{
    JUCE_ASSERT_MESSAGE_THREAD
    const auto* entry = entryOf (picture);
    if (entry != nullptr)
    {
        const int w = picture.getWidth();
        const int h = picture.getHeight();
        // A density whose version is missing or malformed falls back to the next smaller one.
        for (int density = densityFor (scale, entry->largestDensity); density > 1; --density)
        {
            const auto& larger = entry->byDensity[static_cast<size_t> (density - 1)];
            if (larger.data == nullptr)
                continue;
            const auto image = juce::ImageCache::getFromMemory (larger.data, larger.size);
            const bool sameLayout =
                image.getWidth() == w * density && image.getHeight() == h * density;
            const bool framesSideBySide = w > 0 && h > w && h % w == 0
                                          && image.getWidth() == h * density
                                          && image.getHeight() == w * density;
            if (! sameLayout && ! framesSideBySide)
                continue;
            keep (image);
            return { image, density, framesSideBySide ? w : 0 };
        }
    }
    keep (picture);
    return { picture, 1, 0 };
}

float scaleOf (juce::Graphics& g)
{
    return g.getInternalContext().getPhysicalPixelScaleFactor();
}

void draw (juce::Graphics& g,
           const juce::Image& picture,
           int destX,
           int destY,
           int destWidth,
           int destHeight,
           int sourceX,
           int sourceY,
           int sourceWidth,
           int sourceHeight)
{
    const auto version = versionFor (picture, scaleOf (g));
    const auto source = version.areaOf ({ sourceX, sourceY, sourceWidth, sourceHeight });
    g.drawImage (version.image,
                 destX,
                 destY,
                 destWidth,
                 destHeight,
                 source.getX(),
                 source.getY(),
                 source.getWidth(),
                 source.getHeight());
}

Keeper::Keeper()
{
    JUCE_ASSERT_MESSAGE_THREAD
    ++numKeepers;
}

Keeper::~Keeper()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (--numKeepers == 0)
        kept.clear();
}
} // namespace windowPictures
