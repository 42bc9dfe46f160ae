#include "tools/truepeak/PeerLimiter.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>

namespace peerLimiter
{
namespace
{
    const char* const pluginUri = "http://gareus.org/oss/lv2/dpl#stereo";

    bool writeStereo (const juce::File& file,
                      const std::vector<float>& a,
                      const std::vector<float>& b,
                      int rate)
    {
        file.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (file);
        if (! stream->openedOk())
            return false;
        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (
            stream.get(), rate, juce::AudioChannelSet::stereo(), 32, {}, 0));
        if (writer == nullptr)
            return false;
        stream.release();
        const float* channels[2] = { a.data(), b.data() };
        return writer->writeFromFloatArrays (channels, 2, static_cast<int> (a.size()));
    }

    bool readStereo (const juce::File& file, std::vector<float>& a, std::vector<float>& b)
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (
            wav.createReaderFor (file.createInputStream().release(), true));
        if (reader == nullptr || reader->numChannels != 2)
            return false;
        const auto frames = static_cast<int> (reader->lengthInSamples);
        juce::AudioBuffer<float> buffer (2, frames);
        if (! reader->read (&buffer, 0, frames, 0, true, true))
            return false;
        a.assign (buffer.getReadPointer (0), buffer.getReadPointer (0) + frames);
        b.assign (buffer.getReadPointer (1), buffer.getReadPointer (1) + frames);
        return true;
    }

    bool run (const juce::StringArray& command)
    {
        juce::ChildProcess process;
        if (! process.start (command,
                             juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
            return false;
        process.readAllProcessOutput();
        return process.getExitCode() == 0;
    }
} // namespace

bool isAvailable()
{
    juce::ChildProcess process;
    if (! process.start (juce::StringArray { "lv2file", "-n", pluginUri },
                         juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return false;
    return process.readAllProcessOutput().contains ("truepeak");
}

std::optional<corpusSignals::Signal>
limit (const corpusSignals::Signal& input, int rate, float ceilingDb, float releaseMs)
{
    const auto folder = juce::File::createTempFile ("orvalis-peer");
    folder.createDirectory();
    corpusSignals::Signal padded = input;
    for (auto& ch : padded)
        ch.resize (ch.size() + static_cast<size_t> (rate / 5), 0.0f); // the latency, and more

    corpusSignals::Signal out;
    bool ok = true;
    for (size_t pair = 0; pair < 2 && ok; ++pair)
    {
        const auto in = folder.getChildFile ("in" + juce::String (pair) + ".wav");
        const auto limited = folder.getChildFile ("out" + juce::String (pair) + ".wav");
        ok = writeStereo (in, padded[2 * pair], padded[2 * pair + 1], rate)
             && run ({ "lv2file",
                       "-i",
                       in.getFullPathName(),
                       "-o",
                       limited.getFullPathName(),
                       "-p",
                       "threshold:" + juce::String (ceilingDb),
                       "-p",
                       "release:" + juce::String (std::clamp (releaseMs, 1.0f, 1000.0f) / 1000.0f),
                       "-p",
                       "truepeak:1",
                       "--ignore-clipping",
                       pluginUri })
             && readStereo (limited, out[2 * pair], out[2 * pair + 1]);
    }
    folder.deleteRecursively();
    if (! ok)
        return std::nullopt;
    return out;
}
} // namespace peerLimiter
