// The renderer's 4x true-peak meter against a brute-force polyphase interpolation in double
// precision, on signals whose level changes a lot, so that the stretches the meter skips (where
// no interpolated value could raise a peak) are put to the test, and in random block lengths.
#include "render/TruePeakMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace
{
using Channels = std::vector<std::vector<float>>;

struct Peaks
{
    std::vector<double> sample, truePeak;
};

/** Every phase at every frame, the signal padded with the meter's history of zeros and its tail. */
Peaks bruteForce (const Channels& x)
{
    constexpr int before = 5, taps = TruePeakMeter::tapsPerPhase;
    Peaks peaks { std::vector<double> (4, 0.0), std::vector<double> (4, 0.0) };
    const int frames = static_cast<int> (x[0].size());
    for (size_t ch = 0; ch < 4; ++ch)
        for (int n = -(taps - before); n < frames + taps; ++n)
        {
            if (n >= 0 && n < frames)
                peaks.sample[ch] =
                    std::max (peaks.sample[ch], std::abs (double (x[ch][size_t (n)])));
            for (int p = 0; p < TruePeakMeter::numPhases; ++p)
            {
                double y = 0.0;
                for (int k = 0; k < taps; ++k)
                {
                    const int at = n + k - before;
                    if (at >= 0 && at < frames)
                        y += double (TruePeakMeter::getPhase (p)[size_t (k)]) * x[ch][size_t (at)];
                }
                peaks.truePeak[ch] = std::max (peaks.truePeak[ch], std::abs (y));
            }
        }
    return peaks;
}

/** Bursts of noise and tones from -60 to +12 dBFS, each channel its own, from a fixed seed. */
Channels varyingSignal (unsigned seed, int frames)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f), levelDb (-60.0f, 12.0f);
    std::uniform_int_distribution<int> burst (1, 3000);
    Channels x (4, std::vector<float> (size_t (frames)));
    for (auto& channel : x)
        for (int n = 0; n < frames;)
        {
            const int end = std::min (frames, n + burst (random));
            const float level = std::pow (10.0f, levelDb (random) / 20.0f);
            const float frequency = std::abs (unit (random)) * 0.5f;
            for (; n < end; ++n)
                channel[size_t (n)] =
                    level
                    * (random() % 2 == 0 ? unit (random) : std::sin (6.2831853f * frequency * n));
        }
    return x;
}
} // namespace

TEST (TruePeakMeter, MatchesBruteForceInEveryBlockLength)
{
    for (unsigned seed : { 1u, 2u, 3u })
    {
        SCOPED_TRACE ("seed " + std::to_string (seed));
        const auto x = varyingSignal (seed, 40001);
        const auto expected = bruteForce (x);
        std::mt19937 random (seed);
        std::uniform_int_distribution<int> length (1, 700);
        TruePeakMeter meter (700);
        for (int n = 0; n < int (x[0].size());)
        {
            const int count = std::min (length (random), int (x[0].size()) - n);
            const float* pointers[] = {
                x[0].data() + n, x[1].data() + n, x[2].data() + n, x[3].data() + n
            };
            meter.process (pointers, count);
            n += count;
        }
        meter.finish();
        for (int ch = 0; ch < 4; ++ch)
        {
            EXPECT_EQ (meter.getSamplePeak (ch), float (expected.sample[size_t (ch)])) << ch;
            EXPECT_NEAR (meter.getTruePeak (ch),
                         expected.truePeak[size_t (ch)],
                         2.0e-6 * expected.truePeak[size_t (ch)])
                << ch;
        }
    }
}

//==============================================================================
// The loudness meter against libebur128 in its exact (non-histogram) mode, on programmes whose
// level changes by tens of dB (so both gates and the range's percentiles matter), at rates whose
// 100 ms is not a whole number of frames too, fed in random block lengths.

#include "render/LoudnessMeter.h"

#include <ebur128.h>

namespace
{
/** Noise and tones whose level steps between -80 and 0 dBFS every 0.3 to 4 s. */
std::vector<float> programme (double rate, unsigned seed)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f), levelDb (-80.0f, 0.0f),
        lengthSeconds (0.3f, 4.0f);
    std::vector<float> w (static_cast<size_t> (rate * 23));
    for (size_t n = 0; n < w.size();)
    {
        const auto end =
            std::min (w.size(), n + static_cast<size_t> (rate * lengthSeconds (random)));
        const float level = std::pow (10.0f, levelDb (random) / 20.0f);
        const bool tone = random() % 2 == 0;
        for (; n < end; ++n)
            w[n] = level * (tone ? std::sin (0.05f * static_cast<float> (n)) : unit (random));
    }
    return w;
}
} // namespace

TEST (LoudnessMeter, AgreesWithLibebur128sExactMode)
{
    for (const double rate : { 48000.0, 44100.0, 96000.0, 22050.0, 11025.0 })
        for (const float gain : { 1.0f, 1.41421356f })
        {
            SCOPED_TRACE (std::to_string (rate) + " Hz, gain " + std::to_string (gain));
            const auto w = programme (rate, static_cast<unsigned> (rate));
            ebur128_state* reference = ebur128_init (
                1, static_cast<unsigned long> (rate), EBUR128_MODE_I | EBUR128_MODE_LRA);
            ASSERT_NE (reference, nullptr);
            ebur128_set_channel (reference, 0, EBUR128_CENTER);
            std::vector<float> scaled (w.size());
            for (size_t i = 0; i < w.size(); ++i)
                scaled[i] = w[i] * gain;
            ebur128_add_frames_float (reference, scaled.data(), scaled.size());
            double lufs = 0.0, lra = 0.0;
            ebur128_loudness_global (reference, &lufs);
            ebur128_loudness_range (reference, &lra);
            ebur128_destroy (&reference);

            LoudnessMeter meter (rate, gain);
            std::mt19937 random (7);
            std::uniform_int_distribution<int> length (1, 9000);
            for (int n = 0; n < int (w.size());)
            {
                const int count = std::min (length (random), int (w.size()) - n);
                meter.process (w.data() + n, count);
                n += count;
            }
            ASSERT_TRUE (meter.getIntegratedLufs().has_value());
            EXPECT_NEAR (*meter.getIntegratedLufs(), lufs, 1.0e-6);
            EXPECT_NEAR (meter.getRangeLu(), lra, 1.0e-6);
            EXPECT_GT (lra, 3.0) << "the signal's level varies";
        }

    LoudnessMeter silence (48000.0, 1.0f);
    const std::vector<float> zeros (48000 * 3, 0.0f);
    silence.process (zeros.data(), static_cast<int> (zeros.size()));
    EXPECT_FALSE (silence.getIntegratedLufs().has_value()) << "below the absolute gate";
    EXPECT_EQ (silence.getRangeLu(), 0.0);
}

//==============================================================================
// The renderer's own 32-bit float WAV writer makes the very bytes JUCE's writer makes.

#include "render/FloatWavWriter.h"

TEST (FloatWavWriter, WritesTheBytesJucesWavWriterWrites)
{
    const auto folder = juce::File::createTempFile ("float-wav");
    ASSERT_TRUE (folder.createDirectory());
    // Discrete channels, and a 5.1 mask (WAVE_FORMAT_EXTENSIBLE).
    for (const auto& [channels, mask] :
         { std::pair (1, 0), std::pair (4, 0), std::pair (7, 0), std::pair (6, 0x3f) })
        for (const int frames : { 0, 1, 1001, 70001 })
        {
            SCOPED_TRACE (std::to_string (channels) + " channels, " + std::to_string (frames));
            std::mt19937 random (static_cast<unsigned> (channels * 100000 + frames));
            std::uniform_real_distribution<float> unit (-2.0f, 2.0f);
            Channels x (size_t (channels), std::vector<float> (static_cast<size_t> (frames)));
            for (auto& channel : x)
                for (auto& v : channel)
                    v = unit (random);
            std::vector<juce::MemoryBlock> files (2);
            for (size_t kind = 0; kind < 2; ++kind)
            {
                auto* stream = new juce::MemoryOutputStream (files[kind], false);
                std::unique_ptr<juce::AudioFormatWriter> writer (
                    kind == 0 ? juce::WavAudioFormat().createWriterFor (
                        stream,
                        44100.0,
                        mask != 0 ? juce::AudioChannelSet::fromWaveChannelMask (mask)
                                  : juce::AudioChannelSet::discreteChannels (channels),
                        32,
                        {},
                        0)
                              : new FloatWavWriter (
                                  stream, 44100.0, channels, static_cast<std::uint32_t> (mask)));
                ASSERT_NE (writer, nullptr);
                // In blocks of odd lengths, as a render writes what is left of its blocks.
                for (int n = 0; n < frames;)
                {
                    const int count = std::min (frames - n, 333 + n % 7);
                    std::vector<const float*> pointers;
                    for (auto& channel : x)
                        pointers.push_back (channel.data() + n);
                    ASSERT_TRUE (writer->writeFromFloatArrays (pointers.data(), channels, count));
                    n += count;
                }
            }
            EXPECT_EQ (files[0], files[1]);
        }
    folder.deleteRecursively();
}

//==============================================================================
// A 32-bit float WAV input is read past JUCE's reader, but gives exactly its samples, and fails
// (rather than giving silence) when the file shrinks while it is read.

#include "render/FloatWavFrameSource.h"
#include "render/InputFile.h"

#include <unistd.h>

TEST (FloatWavFrameSource, GivesJucesSamplesAndFailsWhenTheFileShrinks)
{
    const auto file = juce::File::createTempFile (".wav");
    const Channels x = varyingSignal (9, 300001);
    {
        std::unique_ptr<juce::AudioFormatWriter> writer (
            juce::WavAudioFormat().createWriterFor (new juce::FileOutputStream (file),
                                                    48000.0,
                                                    juce::AudioChannelSet::discreteChannels (4),
                                                    32,
                                                    {},
                                                    0));
        const float* pointers[] = { x[0].data(), x[1].data(), x[2].data(), x[3].data() };
        ASSERT_TRUE (writer->writeFromFloatArrays (pointers, 4, 300001));
    }
    for (const bool shrink : { false, true })
    {
        auto input = InputFile::open (file);
        ASSERT_NE (dynamic_cast<FloatWavFrameSource*> (input.source.get()), nullptr);
        Channels got (4, std::vector<float> (300001 + 1000));
        int frames = 0, result = 0;
        for (int block = 1;; block = block % 1000 + 77)
        {
            float* pointers[] = { got[0].data() + frames,
                                  got[1].data() + frames,
                                  got[2].data() + frames,
                                  got[3].data() + frames };
            if ((result = input.source->read (pointers, block)) <= 0)
                break;
            frames += result;
            if (shrink && frames > 100000)
            {
                ASSERT_EQ (::truncate (file.getFullPathName().toRawUTF8(), 1000000), 0);
            }
        }
        if (shrink)
        {
            EXPECT_EQ (result, -1) << "a read error, not silence";
            continue;
        }
        EXPECT_EQ (frames, 300001);
        for (size_t ch = 0; ch < 4; ++ch)
        {
            got[ch].resize (300001);
            EXPECT_EQ (got[ch], x[ch]) << ch;
        }
    }
    file.deleteFile();
}
