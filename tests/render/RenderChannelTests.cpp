// orvalis-render beyond four channels: one gain for every channel of 1 to 64, the same bits as
// the engine run directly (and as the plug-ins' processors), the loudness each
// layout calls for, measured again here with libebur128, and the counts it refuses.
#include "RenderTestSupport.h"
#include "limiter/LookaheadLimiter.h"
#include "processor/CorvaneAudioProcessor.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>

namespace
{
/** numChannels channels of noise bursts, each channel its own level and content. */
Audio wideSignal (int numChannels, size_t numFrames)
{
    Audio audio;
    audio.channels.resize (static_cast<size_t> (numChannels));
    for (int ch = 0; ch < numChannels; ++ch)
    {
        const auto source = loudTestSignal (48000.0, numFrames, static_cast<unsigned> (ch / 4 + 1));
        audio.channels[static_cast<size_t> (ch)] = source.channels[static_cast<size_t> (ch % 4)];
        for (auto& s : audio.channels[static_cast<size_t> (ch)])
            s *= 1.0f / static_cast<float> (1 + ch % 5);
    }
    return audio;
}

/** The engine with the renderer's defaults (1 ms, 20 ms, 0 dB) in its blocks, output aligned. */
Audio limitedByTheEngine (Audio audio, bool truePeak)
{
    const int n = static_cast<int> (audio.channels.size());
    LookaheadLimiter limiter (40.0f, 0.0f, n);
    limiter.setNumChannels (n);
    // As the processor hands its defaults over: a look-ahead set while the release is short.
    limiter.setReleaseMs (0.0f);
    limiter.setLookaheadMs (1.0f);
    limiter.setReleaseMs (20.0f);
    limiter.setCeiling (1.0f);
    limiter.setTruePeak (truePeak);
    limiter.setSampleRate (48000);
    const int latency = limiter.getLatencySamples();
    const size_t frames = audio.numFrames();
    for (auto& channel : audio.channels)
        channel.resize (frames + static_cast<size_t> (latency), 0.0f);
    std::vector<float*> pointers;
    for (auto& channel : audio.channels)
        pointers.push_back (channel.data());
    for (size_t done = 0; done < frames + static_cast<size_t> (latency); done += 512)
    {
        const int count = static_cast<int> (
            std::min<size_t> (512, frames + static_cast<size_t> (latency) - done));
        std::vector<float*> block;
        for (auto* p : pointers)
            block.push_back (p + done);
        limiter.process (block.data(), count);
    }
    for (auto& channel : audio.channels)
        channel.erase (channel.begin(), channel.begin() + latency);
    return audio;
}

juce::var parse (const juce::File& file)
{
    juce::var parsed;
    EXPECT_TRUE (juce::JSON::parse (file.loadFileAsString(), parsed).wasOk()) << file.getFileName();
    return parsed;
}

class RenderChannels : public ScratchFolderTest
{
protected:
    RenderChannels() : ScratchFolderTest ("orvalis-render-channels-") {}
};
} // namespace

TEST_F (RenderChannels, EveryCountIsLimitedWithOneGainAsTheEngineLimitsIt)
{
    for (const int numChannels : { 1, 16, 64 })
        for (const bool truePeak : { false, true })
        {
            SCOPED_TRACE (std::to_string (numChannels) + (truePeak ? " true peak" : ""));
            const auto input = wideSignal (numChannels, 24000);
            writeAudio (file ("in.wav"), input);
            const auto run = runRenderer ({ path ("in.wav"),
                                            path ("out.wav"),
                                            truePeak ? "--true-peak" : "--sample-peak",
                                            "--report",
                                            path ("report.json") });
            ASSERT_EQ (run.exitCode, 0) << run.errors;
            const auto output = readAudio (file ("out.wav"));
            const auto expected = limitedByTheEngine (input, truePeak);
            ASSERT_EQ (output.channels.size(), static_cast<size_t> (numChannels));
            int differing = 0;
            for (size_t ch = 0; ch < output.channels.size(); ++ch)
                differing += output.channels[ch] != expected.channels[ch] ? 1 : 0;
            EXPECT_EQ (differing, 0);

            // One gain: the output over the input is the same on every loud channel of a frame.
            int unlinked = 0;
            for (size_t i = 0; i < input.numFrames(); ++i)
            {
                float ratio = -1.0f;
                for (size_t ch = 0; ch < input.channels.size(); ++ch)
                {
                    const float in = input.channels[ch][i];
                    if (std::abs (in) < 0.01f)
                        continue;
                    const float r = output.channels[ch][i] / in;
                    if (ratio < 0.0f)
                        ratio = r;
                    else if (std::abs (r - ratio) > 1.0e-4f * ratio)
                        ++unlinked;
                }
            }
            EXPECT_EQ (unlinked, 0);

            const auto report = parse (file ("report.json"));
            const auto& f = report["files"][0];
            EXPECT_EQ (static_cast<int> (f["channels"]), numChannels);
            EXPECT_EQ (f["out"]["truePeakDb"].size(), numChannels);
            EXPECT_FALSE (f["out"]["integratedLufs"].isVoid()) << "ambisonics: W is measured";
            if (numChannels == 16)
            {
                EXPECT_NE (run.output.find ("order 0  order 1  order 2  order 3"),
                           std::string::npos)
                    << run.output;
            }
        }
}

TEST_F (RenderChannels, GivesThePluginProcessorsBits)
{
    // The renderer's output held to the plug-ins' processors as a host drives them (Orvalis at four
    // channels, Orvalis HOA at sixteen), through the input gain's glide, in both peak modes.
    const juce::ScopedJuceInitialiser_GUI juce; // the processors share the window's look-and-feel
    const std::vector<std::pair<parameters::Index, float>> settings {
        { parameters::inputGain, 12.0f },
        { parameters::attackTime, 3.0f },
        { parameters::releaseTime, 50.0f },
        { parameters::maxPeakLevel, -1.0f }
    };
    for (const int numChannels : { 4, 16 })
        for (const bool truePeak : { false, true })
        {
            SCOPED_TRACE (std::to_string (numChannels) + (truePeak ? " true peak" : ""));
            const auto input = wideSignal (numChannels, 30000);
            writeAudio (file ("in.wav"), input);
            const auto run = runRenderer ({ path ("in.wav"),
                                            path ("out.wav"),
                                            truePeak ? "--true-peak" : "--sample-peak",
                                            "--gain",
                                            "12",
                                            "--attack",
                                            "3",
                                            "--release",
                                            "50",
                                            "--ceiling",
                                            "-1" });
            ASSERT_EQ (run.exitCode, 0) << run.errors;

            auto plugin =
                numChannels == 4
                    ? std::unique_ptr<CorvaneAudioProcessor> (
                        static_cast<CorvaneAudioProcessor*> (createPluginFilter()))
                    : std::make_unique<CorvaneAudioProcessor> (
                        product::orvalisHoa, juce::AudioChannelSet::discreteChannels (numChannels));
            JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
            for (const auto index : parameters::stateOrder)
                for (const auto& [knob, value] : settings)
                    if (knob == index)
                        plugin->setParameter (index, parameters::knob (index).toNormalised (value));
            JUCE_END_IGNORE_WARNINGS_GCC_LIKE
            plugin->setTruePeakMode (truePeak);
            plugin->prepareToPlay (48000.0, 512);
            const int latency = plugin->getLatencySamples();
            auto expected = input.channels;
            for (auto& channel : expected)
                channel.resize (input.numFrames() + static_cast<size_t> (latency), 0.0f);
            for (size_t done = 0; done < expected[0].size(); done += 512)
            {
                std::vector<float*> pointers;
                for (auto& channel : expected)
                    pointers.push_back (channel.data() + done);
                juce::AudioBuffer<float> buffer (
                    pointers.data(),
                    numChannels,
                    static_cast<int> (std::min<size_t> (512, expected[0].size() - done)));
                juce::MidiBuffer midi;
                plugin->processBlock (buffer, midi);
            }
            for (auto& channel : expected)
                channel.erase (channel.begin(), channel.begin() + latency);
            EXPECT_TRUE (readAudio (file ("out.wav")).channels == expected);
            EXPECT_FALSE (expected == input.channels);
        }
}

TEST_F (RenderChannels, LoudnessFollowsTheLayout)
{
    // 5.1 with its mask: BS.1770 over five channels, the LFE left out, as libebur128 measures it
    // with its own 5.1 map. The same six channels without a mask: not measured.
    const auto input = wideSignal (6, 96000);
    {
        auto stream = std::make_unique<juce::FileOutputStream> (file ("surround.wav"));
        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (
            stream.get(), 48000.0, juce::AudioChannelSet::create5point1(), 32, {}, 0));
        ASSERT_NE (writer, nullptr);
        stream.release();
        std::vector<const float*> pointers;
        for (const auto& channel : input.channels)
            pointers.push_back (channel.data());
        ASSERT_TRUE (writer->writeFromFloatArrays (pointers.data(), 6, 96000));
    }
    writeAudio (file ("plain.wav"), input);

    ebur128_state* meter = ebur128_init (6, 48000, EBUR128_MODE_I);
    std::vector<float> interleaved;
    for (size_t i = 0; i < input.numFrames(); ++i)
        for (const auto& channel : input.channels)
            interleaved.push_back (channel[i]);
    ebur128_add_frames_float (meter, interleaved.data(), input.numFrames());
    double expected = 0.0;
    ebur128_loudness_global (meter, &expected);
    ebur128_destroy (&meter);

    const auto surround = runRenderer (
        { path ("surround.wav"), path ("s.wav"), "--input-loudness", "--report", path ("s.json") });
    ASSERT_EQ (surround.exitCode, 0) << surround.errors;
    const auto s = parse (file ("s.json"))["files"][0];
    EXPECT_NEAR (static_cast<double> (s["in"]["integratedLufs"]), expected, 0.0011);
    EXPECT_EQ (s["loudnessOf"].toString(), "channels");
    EXPECT_NE (surround.output.find ("5 of 6 channels (BS.1770 by the channel mask, LFE left out)"),
               std::string::npos)
        << surround.output;

    const auto plain = runRenderer (
        { path ("plain.wav"), path ("p.wav"), "--input-loudness", "--report", path ("p.json") });
    ASSERT_EQ (plain.exitCode, 0) << plain.errors;
    const auto p = parse (file ("p.json"))["files"][0];
    EXPECT_TRUE (p["in"]["integratedLufs"].isVoid());
    EXPECT_TRUE (p["out"]["integratedLufs"].isVoid());
    EXPECT_TRUE (p.hasProperty ("loudnessOf") && p["loudnessOf"].isVoid());
    EXPECT_NE (plain.output.find ("loudness   not measured"), std::string::npos) << plain.output;
    EXPECT_EQ (readAudio (file ("p.wav")).channels.size(), 6u);
    // With a loudness target there is nothing to aim at: skipped, nothing written.
    const auto target =
        runRenderer ({ path ("plain.wav"), path ("t.wav"), "--target-loudness", "-20" });
    EXPECT_EQ (target.exitCode, 1);
    EXPECT_NE (target.errors.find ("loudness is not measured"), std::string::npos) << target.errors;
    EXPECT_FALSE (file ("t.wav").exists());
}

TEST_F (RenderChannels, NineChannelAiffIsSecondOrderAndFlacStopsAtEight)
{
    const auto input = wideSignal (9, 24000);
    writeAudio (file ("in.aif"), input, FileKind::aiff24);
    const auto run =
        runRenderer ({ "--out-dir", path ("out"), path ("in.aif"), "--report", path ("r.json") });
    ASSERT_EQ (run.exitCode, 0) << run.errors << run.output;
    const auto output = readAudio (file ("out/in.aif"));
    EXPECT_EQ (output.formatName, "AIFF file");
    EXPECT_EQ (output.channels.size(), 9u);
    EXPECT_FALSE (parse (file ("r.json"))["files"][0]["out"]["integratedLufs"].isVoid());

    const auto flac = runRenderer ({ path ("in.aif"), path ("out.flac") });
    EXPECT_EQ (flac.exitCode, 1);
    EXPECT_NE (flac.errors.find ("FLAC carries at most 8 channels"), std::string::npos)
        << flac.errors;
    EXPECT_FALSE (file ("out.flac").exists());
}
