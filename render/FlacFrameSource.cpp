#include "render/FlacFrameSource.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>

namespace
{
FLAC__StreamDecoder* asDecoder (void* decoder)
{
    return static_cast<FLAC__StreamDecoder*> (decoder);
}

// JUCE's readers deliver integer samples shifted to 32 bits and scaled by this factor.
constexpr float fixedToFloat = 1.0f / static_cast<float> (0x7fffffff);
} // namespace

struct FlacFrameSource::Callbacks
{
    static FLAC__StreamDecoderWriteStatus write (const FLAC__StreamDecoder*,
                                                 const FLAC__Frame* frame,
                                                 const FLAC__int32* const buffer[],
                                                 void* data)
    {
        auto& self = *static_cast<FlacFrameSource*> (data);
        const auto numFrames = static_cast<int> (frame->header.blocksize);
        const auto bits = static_cast<int> (frame->header.bits_per_sample);
        if (static_cast<int> (frame->header.channels) != self.streamChannels || bits < 1
            || bits > 32)
        {
            ++self.wrongChannelFrames; // a frame unlike the stream: left out, never guessed at
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        }

        const int shift = 32 - bits;
        self.pending.resize (static_cast<size_t> (self.streamChannels));
        for (int ch = 0; ch < self.streamChannels; ++ch)
        {
            auto& out = self.pending[static_cast<size_t> (ch)];
            if (out.size() < static_cast<size_t> (numFrames))
                out.resize (static_cast<size_t> (numFrames));
            auto* asInt = reinterpret_cast<int*> (out.data());
            const FLAC__int32* in = buffer[ch];
            for (int i = 0; i < numFrames; ++i)
                asInt[i] = static_cast<int> (static_cast<juce::uint32> (in[i]) << shift);
            juce::FloatVectorOperations::convertFixedToFloat (
                out.data(), asInt, fixedToFloat, numFrames);
        }
        self.pendingStart = 0;
        self.pendingCount = numFrames;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void metadata (const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* data)
    {
        auto& self = *static_cast<FlacFrameSource*> (data);
        if (block->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        const auto& info = block->data.stream_info;
        self.sampleRate = static_cast<double> (info.sample_rate);
        self.streamChannels = static_cast<int> (info.channels);
        self.bitsPerSample = static_cast<int> (info.bits_per_sample);
        self.declaredFrames = static_cast<juce::int64> (info.total_samples);
        self.gotStreamInfo = true;
    }

    static void error (const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data)
    {
        ++static_cast<FlacFrameSource*> (data)->damagedFrames;
    }
};

FlacFrameSource::FlacFrameSource()
{
}

FlacFrameSource::~FlacFrameSource()
{
    if (decoder != nullptr)
        FLAC__stream_decoder_delete (asDecoder (decoder));
}

std::unique_ptr<FlacFrameSource> FlacFrameSource::open (const juce::File& file,
                                                        juce::String& problem)
{
    std::unique_ptr<FlacFrameSource> source (new FlacFrameSource());
    source->decoder = FLAC__stream_decoder_new();
    if (source->decoder == nullptr)
    {
        problem = "cannot start the FLAC decoder";
        return nullptr;
    }
    auto* d = asDecoder (source->decoder);
    if (FLAC__stream_decoder_init_file (d,
                                        file.getFullPathName().toRawUTF8(),
                                        Callbacks::write,
                                        Callbacks::metadata,
                                        Callbacks::error,
                                        source.get())
        != FLAC__STREAM_DECODER_INIT_STATUS_OK)
    {
        problem = "cannot be opened";
        return nullptr;
    }
    if (! FLAC__stream_decoder_process_until_end_of_metadata (d) || ! source->gotStreamInfo
        || source->sampleRate <= 0.0 || source->streamChannels <= 0)
    {
        problem = "not an audio file this program can read (WAV, AIFF or FLAC)";
        return nullptr;
    }
    source->damagedFrames = 0; // what the metadata search skipped is not audio
    return source;
}

bool FlacFrameSource::decodeMore()
{
    auto* d = asDecoder (decoder);
    while (pendingCount == 0 && ! ended)
    {
        const bool ok = FLAC__stream_decoder_process_single (d) != 0;
        const auto state = FLAC__stream_decoder_get_state (d);
        if (state == FLAC__STREAM_DECODER_END_OF_STREAM)
            ended = true;
        else if (! ok || state == FLAC__STREAM_DECODER_ABORTED
                 || state == FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR
                 || state == FLAC__STREAM_DECODER_SEEK_ERROR)
        {
            ended = true;
            failed = state == FLAC__STREAM_DECODER_ABORTED
                     || state == FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR;
            stopReason = FLAC__StreamDecoderStateString[state];
        }
    }
    return pendingCount > 0;
}

int FlacFrameSource::read (float* const* channels, int numFrames)
{
    int done = 0;
    while (done < numFrames)
    {
        if (pendingCount == 0 && ! decodeMore())
            break;
        const int count = std::min (pendingCount, numFrames - done);
        for (int ch = 0; ch < streamChannels; ++ch)
            std::copy_n (pending[static_cast<size_t> (ch)].data() + pendingStart,
                         count,
                         channels[ch] + done);
        pendingStart += count;
        pendingCount -= count;
        done += count;
    }
    if (failed)
        return -1;
    return done;
}

juce::String FlacFrameSource::getDamageNote() const
{
    juce::StringArray notes;
    if (damagedFrames > 0)
        notes.add (juce::String (damagedFrames)
                   + (damagedFrames == 1 ? " damaged spot" : " damaged spots")
                   + " in the FLAC stream (lost sync, bad frame header or "
                     "checksum; a damaged frame is decoded as silence)");
    if (wrongChannelFrames > 0)
        notes.add (juce::String (wrongChannelFrames) + " FLAC frames without "
                   + (streamChannels == 4 ? juce::String ("four") : juce::String (streamChannels))
                   + " channels were left out");
    if (stopReason.isNotEmpty())
        notes.add ("the FLAC decoder stopped: " + stopReason);
    return notes.joinIntoString ("; ");
}
