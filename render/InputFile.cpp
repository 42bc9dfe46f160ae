#include "render/InputFile.h"

#include "render/ChannelLayout.h"

#include "render/FlacFrameSource.h"
#include "render/FloatWavFrameSource.h"
#include "render/ReaderFrameSource.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
constexpr std::uint32_t noLength32 = 0xffffffffu;

/** Bytes to put in place of the file's own at an offset. */
struct Patch
{
    juce::int64 offset;
    std::vector<std::uint8_t> bytes;
};

/** What a header check found: corrections to the header, and the lengths. */
struct HeaderCheck
{
    std::vector<Patch> patches;
    juce::int64 declaredFrames = -1;
    juce::int64 presentFrames = -1;
    juce::String note;
    juce::int64 dataStart = -1; // where the frames begin (WAV)
    std::uint32_t channelMask = 0;
};

Patch littleEndian (juce::int64 offset, std::uint64_t value, int numBytes)
{
    Patch patch { offset, {} };
    for (int i = 0; i < numBytes; ++i)
        patch.bytes.push_back (static_cast<std::uint8_t> (value >> (8 * i)));
    return patch;
}

Patch bigEndian (juce::int64 offset, std::uint64_t value, int numBytes)
{
    Patch patch { offset, {} };
    for (int i = numBytes; --i >= 0;)
        patch.bytes.push_back (static_cast<std::uint8_t> (value >> (8 * i)));
    return patch;
}

/** Reads header fields by offset; a field beyond the end of the file reads as absent. */
class HeaderBytes
{
public:
    explicit HeaderBytes (juce::InputStream& s) : stream (s), size (s.getTotalLength()) {}

    juce::int64 fileSize() const { return size; }

    bool get (juce::int64 offset, void* dest, int numBytes)
    {
        if (offset < 0 || offset + numBytes > size || ! stream.setPosition (offset))
            return false;
        return stream.read (dest, numBytes) == numBytes;
    }

    std::optional<std::uint64_t> le (juce::int64 offset, int numBytes)
    {
        std::array<std::uint8_t, 8> b {};
        if (! get (offset, b.data(), numBytes))
            return std::nullopt;
        std::uint64_t v = 0;
        for (int i = numBytes; --i >= 0;)
            v = (v << 8) | b[static_cast<size_t> (i)];
        return v;
    }

    std::optional<std::uint64_t> be (juce::int64 offset, int numBytes)
    {
        std::array<std::uint8_t, 8> b {};
        if (! get (offset, b.data(), numBytes))
            return std::nullopt;
        std::uint64_t v = 0;
        for (int i = 0; i < numBytes; ++i)
            v = (v << 8) | b[static_cast<size_t> (i)];
        return v;
    }

    bool idIs (juce::int64 offset, const char* id)
    {
        char b[4] {};
        return get (offset, b, 4) && std::memcmp (b, id, 4) == 0;
    }

private:
    juce::InputStream& stream;
    juce::int64 size;
};

juce::String frameCount (juce::int64 frames)
{
    return juce::String (frames) + (frames == 1 ? " frame" : " frames");
}

/**
    The data length to read, given what the header declares and what the file holds; fills the
    check's lengths and note. A placeholder (0 or all ones) reads to the end of the file.
*/
juce::int64 usableDataBytes (HeaderCheck& check,
                             std::uint64_t declared,
                             bool placeholder,
                             juce::int64 available,
                             int bytesPerFrame,
                             const char* what)
{
    juce::int64 bytes = 0;
    if (placeholder)
    {
        bytes = available;
        check.declaredFrames = -1;
        check.note = juce::String ("the header gives no length (") + what + " "
                     + juce::String::toHexString (static_cast<juce::int64> (declared))
                     + "), so the file was read to its end";
    }
    else if (declared > static_cast<std::uint64_t> (available))
    {
        bytes = available;
        check.declaredFrames =
            static_cast<juce::int64> (declared / static_cast<unsigned> (bytesPerFrame));
    }
    else
    {
        bytes = static_cast<juce::int64> (declared);
        check.declaredFrames = bytes / bytesPerFrame;
    }
    bytes -= bytes % bytesPerFrame;
    check.presentFrames = bytes / bytesPerFrame;
    if (check.declaredFrames > check.presentFrames)
        check.note = "truncated: the header promises " + frameCount (check.declaredFrames)
                     + ", the file holds " + frameCount (check.presentFrames);
    return bytes;
}

/** RIFF or RF64 WAV: the data chunk's size (RF64: ds64's) and the RIFF size, checked. */
std::optional<HeaderCheck> checkWav (HeaderBytes& h)
{
    const bool rf64 = h.idIs (0, "RF64");
    const auto size = h.fileSize();
    std::optional<juce::int64> ds64At;
    int bytesPerFrame = 0;
    std::uint32_t channelMask = 0;
    for (juce::int64 pos = 12; pos + 8 <= size;)
    {
        const auto length = *h.le (pos + 4, 4);
        if (h.idIs (pos, "ds64"))
            ds64At = pos + 8;
        else if (h.idIs (pos, "fmt "))
        {
            // JUCE's reader counts a frame as channels times bits / 8.
            const auto channels = h.le (pos + 10, 2), bits = h.le (pos + 22, 2);
            if (channels && bits)
                bytesPerFrame = static_cast<int> (*channels * *bits / 8);
            // WAVE_FORMAT_EXTENSIBLE names the speakers in its mask; a plain two-channel WAV is
            // left and right.
            const auto tag = h.le (pos + 8, 2);
            if (tag == 0xfffeu && length >= 40)
                channelMask = static_cast<std::uint32_t> (h.le (pos + 28, 4).value_or (0));
            else if (channels == 2u)
                channelMask = 0x3u;
        }
        else if (h.idIs (pos, "data"))
        {
            if (bytesPerFrame <= 0 || (rf64 && ! ds64At))
                return std::nullopt;
            HeaderCheck check;
            const juce::int64 dataStart = pos + 8;
            check.dataStart = dataStart;
            check.channelMask = channelMask;
            const juce::int64 available = size - dataStart;
            std::uint64_t declared = length;
            bool placeholder = length == 0 || length == noLength32;
            if (rf64 && length == noLength32)
            {
                declared = h.le (*ds64At + 8, 8).value_or (0);
                placeholder = declared == 0 || declared == ~std::uint64_t { 0 };
            }
            auto bytes = usableDataBytes (
                check, declared, placeholder, available, bytesPerFrame, "data size");
            if (! rf64 && bytes > noLength32 - 1)
            {
                // A plain WAV header cannot count beyond 4 GiB: read what it can describe.
                bytes = (noLength32 - 1) - (noLength32 - 1) % static_cast<unsigned> (bytesPerFrame);
                check.presentFrames = bytes / bytesPerFrame;
                check.note
                    << (check.note.isEmpty() ? "" : "; ")
                    << "only the first 4 GiB of audio can be read from a WAV (not RF64) file";
            }

            if (static_cast<std::uint64_t> (bytes) != declared)
            {
                if (rf64 && length == noLength32)
                    check.patches.push_back (
                        littleEndian (*ds64At + 8, static_cast<std::uint64_t> (bytes), 8));
                else
                    check.patches.push_back (
                        littleEndian (pos + 4, static_cast<std::uint64_t> (bytes), 4));
            }

            // JUCE walks the chunks up to the end the RIFF size gives: it must reach the data.
            const auto riffSize = rf64 ? h.le (*ds64At, 8).value_or (0) : *h.le (4, 4);
            const auto riffEnd = static_cast<juce::int64> (std::min<std::uint64_t> (
                                     riffSize, static_cast<std::uint64_t> (size)))
                                 + 8;
            if (riffEnd < dataStart + bytes)
            {
                const auto wanted = static_cast<std::uint64_t> (size - 8);
                if (rf64)
                    check.patches.push_back (littleEndian (*ds64At, wanted, 8));
                else
                    check.patches.push_back (
                        littleEndian (4, std::min<std::uint64_t> (wanted, noLength32 - 1), 4));
            }
            return check;
        }
        const auto next =
            pos + 8 + static_cast<juce::int64> (length) + static_cast<juce::int64> (length & 1);
        if (next <= pos)
            break;
        pos = next;
    }
    return std::nullopt;
}

/** The channel count a WAV's fmt chunk or an AIFF's COMM chunk gives, if there is one. */
std::optional<int> headerChannelCount (HeaderBytes& h, bool wav)
{
    for (juce::int64 pos = 12; pos + 8 <= h.fileSize();)
    {
        const auto length = wav ? h.le (pos + 4, 4) : h.be (pos + 4, 4);
        if (! length)
            break;
        if (h.idIs (pos, wav ? "fmt " : "COMM"))
        {
            const auto channels = wav ? h.le (pos + 10, 2) : h.be (pos + 8, 2);
            return channels ? std::optional<int> (static_cast<int> (*channels)) : std::nullopt;
        }
        const auto next =
            pos + 8 + static_cast<juce::int64> (*length) + static_cast<juce::int64> (*length & 1);
        if (next <= pos)
            break;
        pos = next;
    }
    return std::nullopt;
}

/** AIFF or AIFC: COMM's frame count and SSND's size, checked. */
std::optional<HeaderCheck> checkAiff (HeaderBytes& h)
{
    const auto size = h.fileSize();
    std::optional<juce::int64> commAt, ssndAt;
    int bytesPerFrame = 0;
    for (juce::int64 pos = 12; pos + 8 <= size && ! (commAt && ssndAt);)
    {
        const auto length = *h.be (pos + 4, 4);
        if (h.idIs (pos, "COMM"))
        {
            commAt = pos;
            const auto channels = h.be (pos + 8, 2), bits = h.be (pos + 14, 2);
            if (channels && bits)
                bytesPerFrame = static_cast<int> ((*channels * *bits) >> 3);
        }
        else if (h.idIs (pos, "SSND"))
            ssndAt = pos;
        const auto next =
            pos + 8 + static_cast<juce::int64> (length) + static_cast<juce::int64> (length & 1);
        if (next <= pos || (h.idIs (pos, "SSND") && (length == 0 || length == noLength32)))
            break;
        pos = next;
    }
    if (! commAt || ! ssndAt || bytesPerFrame <= 0)
        return std::nullopt;

    const auto ssndLength = *h.be (*ssndAt + 4, 4);
    const auto offset = h.be (*ssndAt + 8, 4).value_or (0);
    const juce::int64 dataStart = *ssndAt + 16 + static_cast<juce::int64> (offset);
    const juce::int64 available = std::max<juce::int64> (0, size - dataStart);
    const bool ssndPlaceholder = ssndLength == 0 || ssndLength == noLength32;
    const juce::int64 ssndData =
        ssndPlaceholder ? available
                        : std::min<juce::int64> (available,
                                                 static_cast<juce::int64> (ssndLength) - 8
                                                     - static_cast<juce::int64> (offset));

    const auto commFrames = h.be (*commAt + 10, 4).value_or (0);
    HeaderCheck check;
    const bool placeholder = commFrames == 0 || commFrames == noLength32;
    const auto declaredBytes = commFrames * static_cast<std::uint64_t> (bytesPerFrame);
    const auto bytes = usableDataBytes (check,
                                        placeholder ? std::uint64_t (0) : declaredBytes,
                                        placeholder && ssndData > 0,
                                        std::max<juce::int64> (0, ssndData),
                                        bytesPerFrame,
                                        "frame count");
    if (placeholder && ssndData <= 0)
        check.declaredFrames = 0;
    const auto frames = static_cast<std::uint64_t> (bytes / bytesPerFrame);
    if (frames != commFrames)
        check.patches.push_back (bigEndian (*commAt + 10, frames, 4));
    // JUCE takes the smaller of COMM's count and what SSND's size holds.
    const auto wantedSsnd = static_cast<std::uint64_t> (bytes) + 8 + offset;
    if (ssndPlaceholder || ssndLength < wantedSsnd)
        check.patches.push_back (
            bigEndian (*ssndAt + 4, std::min<std::uint64_t> (wantedSsnd, noLength32 - 1), 4));
    const auto formSize = *h.be (4, 4);
    if (static_cast<juce::int64> (formSize) + 8 < dataStart + bytes)
        check.patches.push_back (bigEndian (
            4, std::min<std::uint64_t> (static_cast<std::uint64_t> (size - 8), noLength32 - 1), 4));
    return check;
}

/**
    A file as a stream with some header bytes replaced, read through a large buffer. It knows the
    file's length when it was opened, and remembers a read that came up short of it.
*/
class PatchedInputStream : public juce::InputStream
{
public:
    PatchedInputStream (const juce::File& file, std::vector<Patch> p) :
        input (file),
        buffered (&input, 1 << 18, false),
        length (input.getTotalLength()),
        patches (std::move (p))
    {
    }

    bool openedOk() const { return input.openedOk(); }
    bool hadShortRead() const { return shortRead; }

    juce::int64 getTotalLength() override { return length; }
    bool isExhausted() override { return position >= length; }
    juce::int64 getPosition() override { return position; }

    bool setPosition (juce::int64 newPosition) override
    {
        position = std::clamp<juce::int64> (newPosition, 0, length);
        return buffered.setPosition (position);
    }

    int read (void* dest, int numBytes) override
    {
        const auto wanted =
            static_cast<int> (std::clamp<juce::int64> (length - position, 0, numBytes));
        const int got = wanted > 0 ? buffered.read (dest, wanted) : 0;
        if (got < wanted)
            shortRead = true;
        auto* bytes = static_cast<std::uint8_t*> (dest);
        for (const auto& patch : patches)
            for (size_t i = 0; i < patch.bytes.size(); ++i)
            {
                const auto at = patch.offset + static_cast<juce::int64> (i) - position;
                if (at >= 0 && at < got)
                    bytes[at] = patch.bytes[i];
            }
        position += std::max (got, 0);
        return std::max (got, 0);
    }

private:
    juce::FileInputStream input;
    juce::BufferedInputStream buffered;
    juce::int64 length;
    juce::int64 position = 0;
    std::vector<Patch> patches;
    bool shortRead = false;
};

const char* const unreadable = "not an audio file this program can read (WAV, AIFF or FLAC)";

void describe (InputFile& result, const juce::AudioFormatReader& reader, const juce::String& name)
{
    result.formatName = name;
    result.sampleRate = reader.sampleRate;
    result.numChannels = static_cast<int> (reader.numChannels);
    result.bitsPerSample = static_cast<int> (reader.bitsPerSample);
    result.floatingPoint = reader.usesFloatingPointData;
    result.presentFrames = reader.lengthInSamples;
}
} // namespace

juce::String InputFile::channelCountProblem (int numChannels)
{
    return (numChannels < 1 ? juce::String ("has no channels")
                            : "has " + juce::String (numChannels) + " channels")
           + "; orvalis-render limits 1 to " + juce::String (ChannelLayout::largestChannelCount)
           + " channels";
}

InputFile InputFile::open (const juce::File& file)
{
    InputFile result;
    juce::FileInputStream probe (file);
    if (! probe.openedOk())
    {
        result.problem = "cannot be opened: " + probe.getStatus().getErrorMessage();
        return result;
    }
    HeaderBytes header (probe);
    const bool wav =
        (header.idIs (0, "RIFF") || header.idIs (0, "RF64")) && header.idIs (8, "WAVE");
    const bool aiff =
        header.idIs (0, "FORM") && (header.idIs (8, "AIFF") || header.idIs (8, "AIFC"));
    char tag[3] {};
    const bool id3 = header.get (0, tag, 3) && std::memcmp (tag, "ID3", 3) == 0; // FLAC or MP3
    const bool flac = header.idIs (0, "fLaC") || id3;

    if (wav || aiff)
    {
        if (const auto channels = headerChannelCount (header, wav);
            channels && (*channels < 1 || *channels > ChannelLayout::largestChannelCount))
        {
            result.numChannels = *channels;
            result.channelCountRefused = true;
            result.problem = channelCountProblem (*channels);
            return result;
        }
        const auto check = wav ? checkWav (header) : checkAiff (header);
        auto stream = std::make_unique<PatchedInputStream> (
            file, check ? check->patches : std::vector<Patch> {});
        auto* streamView = stream.get();
        std::unique_ptr<juce::AudioFormatReader> reader;
        if (wav)
            reader.reset (juce::WavAudioFormat().createReaderFor (stream.release(), true));
        else
            reader.reset (juce::AiffAudioFormat().createReaderFor (stream.release(), true));
        if (reader == nullptr)
        {
            result.problem = unreadable;
            return result;
        }
        describe (result, *reader, wav ? "WAV" : "AIFF");
        if (check)
        {
            result.declaredFrames = check->declaredFrames;
            result.headerNote = check->note;
            result.channelMask = check->channelMask;
        }
        else
            result.declaredFrames = reader->lengthInSamples;
        if (aiff && result.numChannels == 2)
            result.channelMask = 0x3u; // AIFF's stereo is left, right
        if (wav && check && check->dataStart > 0 && reader->usesFloatingPointData
            && reader->bitsPerSample == 32 && reader->lengthInSamples == check->presentFrames)
        {
            // 32-bit float frames are read as they lie in the file, without JUCE's layers.
            result.source = std::make_unique<FloatWavFrameSource> (file,
                                                                   check->dataStart,
                                                                   reader->lengthInSamples,
                                                                   result.numChannels,
                                                                   result.sampleRate);
            if (static_cast<FloatWavFrameSource*> (result.source.get())->openedOk())
                return result;
        }
        result.source = std::make_unique<ReaderFrameSource> (
            std::move (reader), [streamView] { return streamView->hadShortRead(); });
        return result;
    }

    if (flac)
    {
        juce::String problem;
        if (auto source = FlacFrameSource::open (file, problem))
        {
            result.formatName = "FLAC";
            result.sampleRate = source->getSampleRate();
            result.numChannels = source->getNumChannels();
            result.bitsPerSample = source->getBitsPerSample();
            // The speakers FLAC assigns to 1 to 8 channels.
            static constexpr std::uint32_t flacLayouts[] = { 0x0,  0x4,  0x3,   0x7,  0x33,
                                                             0x37, 0x3f, 0x70f, 0x63f };
            if (result.numChannels >= 1 && result.numChannels <= 8)
                result.channelMask = flacLayouts[result.numChannels];
            result.declaredFrames =
                source->getDeclaredFrames() > 0 ? source->getDeclaredFrames() : -1;
            result.source = std::move (source);
            return result;
        }
        if (! id3)
        {
            result.problem = problem;
            return result;
        }
    }

    // Anything else JUCE can read (Ogg Vorbis, for one), as JUCE reads it.
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (
        formats.createReaderFor (file.createInputStream()));
    if (reader == nullptr)
    {
        result.problem = unreadable;
        return result;
    }
    describe (
        result, *reader, reader->getFormatName().upToLastOccurrenceOf (" file", false, false));
    result.declaredFrames = reader->lengthInSamples;
    result.source = std::make_unique<ReaderFrameSource> (std::move (reader));
    return result;
}
