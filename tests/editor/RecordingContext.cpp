#include "RecordingContext.h"

RecordingContext::RecordingContext (juce::Rectangle<int> clip)
{
    state.clip = clip;
    state.fill = juce::FillType (juce::Colours::black);
}

std::optional<juce::Rectangle<int>> RecordingContext::sourceWithin (const juce::Image& part,
                                                                    const juce::Image& whole)
{
    if (! part.isValid() || ! whole.isValid())
        return std::nullopt;

    // A clipped image shares its parent's pixels, so its first pixel's address gives its origin.
    const juce::Image::BitmapData p (part, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData w (whole, juce::Image::BitmapData::readOnly);
    const auto offset = p.data - w.data;
    if (offset < 0 || offset >= static_cast<std::ptrdiff_t> (w.lineStride) * w.height)
        return std::nullopt;

    const int y = static_cast<int> (offset / w.lineStride);
    const int x = static_cast<int> (offset % w.lineStride) / w.pixelStride;
    return juce::Rectangle<int> (x, y, part.getWidth(), part.getHeight());
}

void RecordingContext::setOrigin (juce::Point<int> o)
{
    state.transform = juce::AffineTransform::translation (o.toFloat()).followedBy (state.transform);
}

void RecordingContext::addTransform (const juce::AffineTransform& t)
{
    state.transform = t.followedBy (state.transform);
}

bool RecordingContext::clipToRectangle (const juce::Rectangle<int>& r)
{
    state.clip = state.clip.getIntersection (
        r.toFloat().transformedBy (state.transform).getSmallestIntegerContainer());
    return ! state.clip.isEmpty();
}

bool RecordingContext::clipToRectangleList (const juce::RectangleList<int>& list)
{
    return clipToRectangle (list.getBounds());
}

bool RecordingContext::clipRegionIntersects (const juce::Rectangle<int>& r)
{
    if (r.isEmpty())
        return false;
    return state.clip.intersects (
        r.toFloat().transformedBy (state.transform).getSmallestIntegerContainer());
}

juce::Rectangle<int> RecordingContext::getClipBounds() const
{
    return state.clip.toFloat()
        .transformedBy (state.transform.inverted())
        .getSmallestIntegerContainer();
}

void RecordingContext::restoreState()
{
    if (! stack.empty())
    {
        state = stack.back();
        stack.pop_back();
    }
}

void RecordingContext::fillRect (const juce::Rectangle<int>& r, bool)
{
    fillRect (r.toFloat());
}

void RecordingContext::fillRect (const juce::Rectangle<float>& r)
{
    fills.push_back ({ FillCall::Kind::rect, r.transformedBy (state.transform), {}, state.fill });
}

void RecordingContext::fillRectList (const juce::RectangleList<float>& list)
{
    for (const auto& r : list)
        fillRect (r);
}

void RecordingContext::fillPath (const juce::Path& p, const juce::AffineTransform& t)
{
    juce::Path transformed (p);
    transformed.applyTransform (t.followedBy (state.transform));
    fills.push_back ({ FillCall::Kind::path, transformed.getBounds(), transformed, state.fill });
}

void RecordingContext::drawImage (const juce::Image& image, const juce::AffineTransform& t)
{
    images.push_back ({ image,
                        image.getBounds().toFloat().transformedBy (t.followedBy (state.transform)),
                        state.fill.getOpacity() });
}

void RecordingContext::drawLine (const juce::Line<float>& line)
{
    juce::Path p;
    p.addLineSegment (line, 1.0f);
    fillPath (p, {});
}
