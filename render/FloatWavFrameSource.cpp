#include "render/FloatWavFrameSource.h"

#include <algorithm>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace
{
constexpr size_t pieceBytes = 1 << 18;
}

FloatWavFrameSource::FloatWavFrameSource (const juce::File& file,
                                          juce::int64 start,
                                          juce::int64 frames,
                                          int channels,
                                          double sampleRate) :
    dataStart (start),
    totalFrames (frames),
    channelCount (channels),
    rate (sampleRate)
{
    input = std::make_unique<Platform::ReadOnlyFile> (file);
    const auto pieceFrames =
        std::max<size_t> (1, pieceBytes / (sizeof (float) * size_t (channels)));
    interleaved.resize (pieceFrames * static_cast<size_t> (channels));
}

FloatWavFrameSource::~FloatWavFrameSource() = default;

int FloatWavFrameSource::read (float* const* channels, int numFrames)
{
    const auto wanted =
        static_cast<int> (std::clamp<juce::int64> (totalFrames - position, 0, numFrames));
    const auto stride = static_cast<size_t> (channelCount);
    for (int done = 0; done < wanted;)
    {
        if (position >= bufferStart + bufferFrames)
        {
            // The next piece, whole: a read may return less only at the end of the file.
            const auto frames = std::min<juce::int64> (
                totalFrames - position, static_cast<juce::int64> (interleaved.size() / stride));
            const auto bytes = static_cast<size_t> (frames) * stride * sizeof (float);
            size_t got = 0;
            while (got < bytes)
            {
                const auto n = input->readAt (
                    reinterpret_cast<char*> (interleaved.data()) + got,
                    bytes - got,
                    dataStart + position * static_cast<juce::int64> (stride * sizeof (float))
                        + static_cast<juce::int64> (got));
                if (n <= 0)
                    return -1;
                got += static_cast<size_t> (n);
            }
            bufferStart = position;
            bufferFrames = frames;
        }
        const auto offset = static_cast<size_t> (position - bufferStart);
        const int count = static_cast<int> (
            std::min<juce::int64> (wanted - done, bufferStart + bufferFrames - position));
        const float* in = interleaved.data() + offset * stride;
        int i = 0;
#if defined(__SSE2__)
        if (channelCount == 4)
            for (; i + 4 <= count; i += 4, in += 16)
            {
                __m128 a = _mm_loadu_ps (in), b = _mm_loadu_ps (in + 4), c = _mm_loadu_ps (in + 8),
                       d = _mm_loadu_ps (in + 12);
                _MM_TRANSPOSE4_PS (a, b, c, d);
                _mm_storeu_ps (channels[0] + done + i, a);
                _mm_storeu_ps (channels[1] + done + i, b);
                _mm_storeu_ps (channels[2] + done + i, c);
                _mm_storeu_ps (channels[3] + done + i, d);
            }
#endif
        for (; i < count; ++i)
            for (size_t ch = 0; ch < stride; ++ch)
                channels[ch][done + i] = *in++;
        done += count;
        position += count;
    }
    return wanted;
}
