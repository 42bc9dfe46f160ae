#include "render/ReaderFrameSource.h"

#include <algorithm>

ReaderFrameSource::ReaderFrameSource (std::unique_ptr<juce::AudioFormatReader> r,
                                      std::function<bool()> failed) :
    reader (std::move (r)),
    streamFailed (std::move (failed))
{
}

int ReaderFrameSource::read (float* const* channels, int numFrames)
{
    const auto count = static_cast<int> (
        std::clamp<juce::int64> (reader->lengthInSamples - position, 0, numFrames));
    if (count == 0)
        return 0;
    if (! reader->read (channels, getNumChannels(), position, count))
        return -1;
    if (streamFailed && streamFailed())
        return -1;
    position += count;
    return count;
}
