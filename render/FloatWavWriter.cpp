#include "render/FloatWavWriter.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace
{
constexpr size_t bufferBytes = 1 << 20;
constexpr int headerBytes = 104; // the same for RIFF (with its JUNK padding) and RF64

int chunkName (const char* name)
{
    return static_cast<int> (juce::ByteOrder::littleEndianInt (name));
}
} // namespace

FloatWavWriter::FloatWavWriter (juce::OutputStream* stream,
                                double rate,
                                int channels,
                                std::uint32_t mask) :
    AudioFormatWriter (
        stream, "WAV file", rate, juce::AudioChannelSet::discreteChannels (channels), 32),
    channelMask (mask)
{
    usesFloatingPointData = true;
    bufferFrames = std::max<size_t> (1, bufferBytes / (sizeof (float) * numChannels));
    buffer.resize (bufferFrames * numChannels);
    writeHeader();
}

FloatWavWriter::~FloatWavWriter()
{
    if (! writeFailed)
        flushBuffer();
    writeHeader();
}

bool FloatWavWriter::write (const int** data, int numSamples)
{
    if (writeFailed)
        return false;
    const auto channels = static_cast<size_t> (numChannels);
    const auto samples = reinterpret_cast<const float* const*> (data);
    for (size_t done = 0; done < static_cast<size_t> (numSamples);)
    {
        const size_t count =
            std::min (static_cast<size_t> (numSamples) - done, bufferFrames - bufferedFrames);
        float* out = buffer.data() + bufferedFrames * channels;
        size_t i = 0;
#if defined(__SSE2__)
        if (channels == 4)
            for (; i + 4 <= count; i += 4, out += 16)
            {
                __m128 a = _mm_loadu_ps (samples[0] + done + i),
                       b = _mm_loadu_ps (samples[1] + done + i),
                       c = _mm_loadu_ps (samples[2] + done + i),
                       d = _mm_loadu_ps (samples[3] + done + i);
                _MM_TRANSPOSE4_PS (a, b, c, d);
                _mm_storeu_ps (out, a);
                _mm_storeu_ps (out + 4, b);
                _mm_storeu_ps (out + 8, c);
                _mm_storeu_ps (out + 12, d);
            }
#endif
        for (; i < count; ++i)
            for (size_t ch = 0; ch < channels; ++ch)
                *out++ = samples[ch][done + i];
        bufferedFrames += count;
        done += count;
        if (bufferedFrames == bufferFrames && ! flushBuffer())
            return false;
    }
    return true;
}

bool FloatWavWriter::flushBuffer()
{
    const size_t bytes = bufferedFrames * numChannels * sizeof (float);
    bufferedFrames = 0;
    if (bytes == 0)
        return true;
    if (! output->write (buffer.data(), bytes))
    {
        // As JUCE's writer does: a header for what made it to the disk, then no more writes.
        writeHeader();
        writeFailed = true;
        return false;
    }
    bytesWritten += bytes;
    return true;
}

void FloatWavWriter::writeHeader()
{
    if (output->getPosition() != 0 && ! output->setPosition (0))
        return;
    const juce::uint64 bytesPerFrame = numChannels * 4u;
    const juce::uint64 dataBytes = bytesPerFrame * (bytesWritten / bytesPerFrame);
    const bool rf64 = bytesWritten >= 0x100000000ull;
    const bool extensible = rf64 || channelMask != 0;
    const auto riffSize = static_cast<juce::int64> (4 + 8 + 40 + 8 + dataBytes + (8 + 28));

    output->writeInt (chunkName (rf64 ? "RF64" : "RIFF"));
    output->writeInt (rf64 ? -1 : static_cast<int> (riffSize));
    output->writeInt (chunkName ("WAVE"));
    if (rf64)
    {
        output->writeInt (chunkName ("ds64"));
        output->writeInt (28);
        output->writeInt64 (riffSize);
        output->writeInt64 (static_cast<juce::int64> (dataBytes));
        output->writeRepeatedByte (0, 12);
    }
    else
    {
        output->writeInt (chunkName ("JUNK"));
        output->writeInt (extensible ? 28 : 52);
        output->writeRepeatedByte (0, extensible ? 28 : 52);
    }
    output->writeInt (chunkName ("fmt "));
    if (extensible)
    {
        output->writeInt (40);
        output->writeShort (static_cast<short> (0xfffe)); // WAVE_FORMAT_EXTENSIBLE
    }
    else
    {
        output->writeInt (16);
        output->writeShort (3); // WAVE_FORMAT_IEEE_FLOAT
    }
    output->writeShort (static_cast<short> (numChannels));
    output->writeInt (static_cast<int> (sampleRate));
    output->writeInt (static_cast<int> (static_cast<double> (bytesPerFrame) * sampleRate));
    output->writeShort (static_cast<short> (bytesPerFrame));
    output->writeShort (32);
    if (extensible)
    {
        static const std::uint8_t floatSubFormat[16] = { 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                         0x10, 0x00, 0x80, 0x00, 0x00, 0xaa,
                                                         0x00, 0x38, 0x9b, 0x71 };
        output->writeShort (22);
        output->writeShort (32);
        output->writeInt (static_cast<int> (channelMask)); // 0: discrete channels
        output->write (floatSubFormat, sizeof (floatSubFormat));
    }
    output->writeInt (chunkName ("data"));
    output->writeInt (rf64 ? -1 : static_cast<int> (dataBytes));
    jassert (output->getPosition() == headerBytes);
    juce::ignoreUnused (headerBytes);
}
