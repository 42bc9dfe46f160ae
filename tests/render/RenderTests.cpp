// End-to-end tests of orvalis-render. Tests marked "limiting" check what only the real limiter
// does (latency, ceiling, gain); the others hold for any processor.
#include "RenderTestSupport.h"

#include <juce_graphics/juce_graphics.h>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <thread>

namespace
{
constexpr double pi = 3.141592653589793;

float peakOf (const Audio& audio)
{
    float peak = 0.0f;
    for (const auto& channel : audio.channels)
        for (float s : channel)
            peak = std::max (peak, std::abs (s));
    return peak;
}

bool identical (const Audio& a, const Audio& b)
{
    return a.sampleRate == b.sampleRate && a.channels == b.channels && ! a.channels.empty();
}

Audio silence (double rate, size_t frames)
{
    Audio audio;
    audio.sampleRate = rate;
    audio.channels.assign (4, std::vector<float> (frames, 0.0f));
    return audio;
}

class RenderTest : public ScratchFolderTest
{
protected:
    RenderTest() : ScratchFolderTest ("orvalis-render-test-") {}

    RunResult render (const std::vector<std::string>& arguments)
    {
        auto result = runRenderer (arguments);
        EXPECT_EQ (result.exitCode, 0) << result.errors;
        return result;
    }
};

//==============================================================================
// Alignment and lengths

TEST_F (RenderTest, AlignedOutputIsTheRawOutputAdvancedByTheLatency) // limiting: L = 48
{
    const auto input = loudTestSignal (48000.0, 62417, 7);
    writeAudio (file ("in.wav"), input);

    const auto aligned = render ({ path ("in.wav"), path ("aligned.wav") });
    const auto raw = render ({ path ("in.wav"), path ("raw.wav"), "--raw" });
    const auto a = readAudio (file ("aligned.wav"));
    const auto r = readAudio (file ("raw.wav"));
    ASSERT_EQ (a.channels.size(), 4u);
    ASSERT_EQ (r.channels.size(), 4u);
    EXPECT_EQ (a.numFrames(), input.numFrames());
    EXPECT_EQ (r.numFrames(), input.numFrames());

    const auto latency = static_cast<size_t> (summaryNumber (aligned.output, "latency"));
    EXPECT_EQ (summaryNumber (raw.output, "latency"), latency);
    EXPECT_EQ (latency, 48u) << "1 ms look-ahead at 48 kHz";

    size_t mismatches = 0;
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t n = 0; n + latency < input.numFrames(); ++n)
            mismatches += r.channels[ch][n + latency] != a.channels[ch][n] ? 1u : 0u;
    EXPECT_EQ (mismatches, 0u);
}

TEST_F (RenderTest, OutputHasTheInputsLengthEvenWhenShorterThanTheLatency)
{
    for (size_t frames : { 0u, 1u, 47u, 1000u })
    {
        SCOPED_TRACE (frames);
        writeAudio (file ("in.wav"), loudTestSignal (48000.0, frames, 3));
        render ({ path ("in.wav"), path ("aligned.wav") });
        render ({ path ("in.wav"), path ("raw.wav"), "--raw" });
        const auto a = readAudio (file ("aligned.wav"));
        const auto r = readAudio (file ("raw.wav"));
        EXPECT_EQ (a.channels.size(), 4u);
        EXPECT_EQ (a.numFrames(), frames);
        EXPECT_EQ (r.numFrames(), frames);
    }
}

struct LatencyCase
{
    double rate;
    const char* attackMs;
    size_t latency;
};

void PrintTo (const LatencyCase& c, std::ostream* os)
{
    *os << c.rate << " Hz, attack " << c.attackMs << " ms";
}

class RenderLatency : public RenderTest, public ::testing::WithParamInterface<LatencyCase>
{
};

// limiting: the delay is measured on an impulse, not read from the summary.
TEST_P (RenderLatency, ImpulseComesOutDelayedWhenRawAndInPlaceWhenAligned)
{
    const auto [rate, attackMs, latency] = GetParam();
    auto input = silence (rate, static_cast<size_t> (rate * 0.2));
    input.channels[1][1000] = 0.5f;
    writeAudio (file ("impulse.wav"), input);

    const auto summary =
        render ({ path ("impulse.wav"), path ("aligned.wav"), "--attack", attackMs }).output;
    render ({ path ("impulse.wav"), path ("raw.wav"), "--attack", attackMs, "--raw" });
    EXPECT_EQ (summaryNumber (summary, "latency"), latency);

    for (const auto& [name, expectedAt] :
         { std::pair { "aligned.wav", size_t (1000) }, std::pair { "raw.wav", 1000 + latency } })
    {
        SCOPED_TRACE (name);
        const auto out = readAudio (file (name));
        ASSERT_EQ (out.channels.size(), 4u);
        const auto& y = out.channels[1];
        const auto at = static_cast<size_t> (std::max_element (y.begin(), y.end()) - y.begin());
        EXPECT_EQ (at, expectedAt);
        EXPECT_NEAR (y[at], 0.5f, 1.0e-6f) << "below the ceiling the impulse passes unchanged";
        EXPECT_EQ (peakOf (out), y[at]) << "nothing leaks into other channels or samples";
    }
}

INSTANTIATE_TEST_SUITE_P (RatesAndLookaheads,
                          RenderLatency,
                          ::testing::Values (LatencyCase { 48000.0, "1", 48 },
                                             LatencyCase { 44100.0, "1", 44 },
                                             LatencyCase { 96000.0, "40", 3840 }),
                          [] (const auto& test)
                          {
                              return std::to_string (static_cast<int> (test.param.rate)) + "Hz_"
                                     + test.param.attackMs + "ms";
                          });

//==============================================================================
// Limiting

TEST_F (RenderTest, SettledStartAppliesTheInputGainFromTheFirstSample) // limiting
{
    Audio input = silence (48000.0, 4800);
    for (size_t n = 0; n < input.numFrames(); ++n)
        for (size_t ch = 0; ch < 4; ++ch)
            input.channels[ch][n] =
                0.1f * static_cast<float> (std::sin (2.0 * pi * 440.0 * n / 48000.0 + ch));
    writeAudio (file ("quiet.wav"), input);

    render ({ path ("quiet.wav"), path ("out.wav"), "--gain", "6", "--settled" });
    const auto out = readAudio (file ("out.wav"));
    ASSERT_EQ (out.channels.size(), 4u);
    const float gain = 1.9952623f; // +6 dB; peaks of 0.2 stay far below the ceiling
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t n = 0; n < input.numFrames(); ++n)
            ASSERT_NEAR (out.channels[ch][n], gain * input.channels[ch][n], 2.0e-6f)
                << "channel " << ch << " frame " << n;

    // Without --settled the processor starts as a host starts it: the input gain glides up
    // from 0 dB, 0.5 % of the remaining way per sample (1 + 0.995... after one sample).
    render ({ path ("quiet.wav"), path ("glide.wav"), "--gain", "6" });
    const auto glide = readAudio (file ("glide.wav"));
    const double firstGain = 0.005 * gain + 0.995;
    EXPECT_NEAR (glide.channels[1][0], firstGain * input.channels[1][0], 2.0e-6);
    EXPECT_LT (std::abs (glide.channels[1][10]), 0.9f * gain * std::abs (input.channels[1][10]));
    EXPECT_NEAR (glide.channels[1][4000], gain * input.channels[1][4000], 2.0e-5f);
}

TEST_F (RenderTest, SettledStartLimitsTheFirstSecondLikeAnyOther) // limiting
{
    // The same loud burst early and late, with silence between: a render that began with the
    // gain still gliding or the limiter still settling would treat the first one differently.
    // (Only rounding may differ: after a release the gain can rest a unit in the last place below 1.)
    const size_t early = 2400, late = 144000, burstLength = 9600;
    const auto burst = loudTestSignal (48000.0, burstLength, 31);
    Audio input = silence (48000.0, 192000);
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t n = 0; n < burstLength; ++n)
            input.channels[ch][early + n] = input.channels[ch][late + n] = burst.channels[ch][n];
    writeAudio (file ("bursts.wav"), input);

    render (
        { path ("bursts.wav"), path ("out.wav"), "--gain", "6", "--release", "50", "--settled" });
    const auto out = readAudio (file ("out.wav"));
    ASSERT_EQ (out.channels.size(), 4u);
    EXPECT_LT (peakOf (out), 2.0f * peakOf (burst)) << "the bursts are limited";
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t n = 0; n < burstLength + 24000; ++n)
            ASSERT_NEAR (out.channels[ch][early + n], out.channels[ch][late + n], 1.0e-5f)
                << "channel " << ch << " frame " << n;
}

TEST_F (RenderTest, EveryOutputSampleStaysAtOrBelowTheCeiling) // limiting
{
    const auto input = loudTestSignal (48000.0, 96000, 11);
    writeAudio (file ("loud.wav"), input);

    for (const char* ceiling : { "-1", "0", "-6.5" })
    {
        SCOPED_TRACE (ceiling);
        const auto summary =
            render (
                { path ("loud.wav"), path ("out.wav"), "--ceiling", ceiling, "--release", "50" })
                .output;
        const auto out = readAudio (file ("out.wav"));
        const double ceilingDb = std::stod (ceiling);
        const float ceilingLinear = static_cast<float> (std::pow (10.0, ceilingDb / 20.0));
        EXPECT_LE (peakOf (out), ceilingLinear * (1.0f + 1.0e-6f));
        EXPECT_GT (peakOf (out), 0.9f * ceilingLinear) << "the loudest peaks reach the ceiling";
        for (double peakDb : summaryRow (summary, "output sample peak"))
            EXPECT_LE (peakDb, ceilingDb + 0.005);

        // The largest reduction brings the loudest input sample down to the ceiling.
        const double expectedDb = 20.0 * std::log10 (peakOf (input) / ceilingLinear);
        EXPECT_NEAR (summaryNumber (summary, "gain reduction  largest"), expectedDb, 0.3);
    }
}

TEST_F (RenderTest, DemoSceneIsLoudBeforeAndWithinTheCeilingAfter)
{
    const auto first = render ({ "--demo", path ("demo.wav"), "--plot", path ("demo.png") });
    const auto demo = readAudio (file ("demo.wav"));
    ASSERT_EQ (demo.channels.size(), 4u);
    EXPECT_EQ (demo.sampleRate, 48000.0);
    EXPECT_TRUE (demo.floatingPoint);
    EXPECT_EQ (demo.bitsPerSample, 32);
    EXPECT_EQ (demo.numFrames(), 8u * 48000u);

    const auto inputPeaks = summaryRow (first.output, "input sample peak");
    ASSERT_EQ (inputPeaks.size(), 4u);
    EXPECT_GT (*std::max_element (inputPeaks.begin(), inputPeaks.end()), 6.0)
        << "well above 0 dBFS";

    const auto image = juce::ImageFileFormat::loadFrom (file ("demo.png"));
    EXPECT_EQ (image.getWidth(), 1200);
    EXPECT_EQ (image.getHeight(), 640);

    render ({ "--demo", path ("again.wav"), "--block", "100" });
    EXPECT_TRUE (identical (demo, readAudio (file ("again.wav"))))
        << "the scene is the same on every run";

    // limiting: default ceiling 0 dBFS
    EXPECT_LE (peakOf (demo), 1.0f);
    EXPECT_GT (summaryNumber (first.output, "gain reduction  largest"), 6.0);
}

//==============================================================================
// Block size

TEST_F (RenderTest, OutputIsBitIdenticalForEveryBlockSize)
{
    writeAudio (file ("in.wav"), loudTestSignal (48000.0, 62417, 5));

    render ({ path ("in.wav"), path ("reference.wav") });
    const auto reference = readAudio (file ("reference.wav"));
    for (const char* block : { "1", "64", "512", "8192" })
    {
        SCOPED_TRACE (block);
        render ({ path ("in.wav"), path ("out.wav"), "--block", block });
        EXPECT_TRUE (identical (reference, readAudio (file ("out.wav"))));
    }

    // The input gain starts at its setting, so gain and changed times do not bring in the block size.
    const auto withSettings = [&] (const char* block, const char* name)
    {
        render ({ path ("in.wav"),
                  path (name),
                  "--block",
                  block,
                  "--gain",
                  "12",
                  "--attack",
                  "5",
                  "--release",
                  "100",
                  "--ceiling",
                  "-2" });
        return readAudio (file (name));
    };
    const auto gained = withSettings ("512", "gained.wav");
    for (const char* block : { "1", "333", "8192" })
    {
        SCOPED_TRACE (block);
        EXPECT_TRUE (identical (gained, withSettings (block, "out.wav")));
    }
}

//==============================================================================
// Formats

TEST_F (RenderTest, FormatsRoundTripAtTheInputsRate)
{
    // Below full scale, so no processor clips or limits it.
    auto input = loudTestSignal (44100.0, 30000, 9);
    for (auto& channel : input.channels)
        for (auto& s : channel)
            s *= 0.3f;
    writeAudio (file ("in24.wav"), input, FileKind::wav24);
    writeAudio (file ("in.aiff"), input, FileKind::aiff24);
    writeAudio (file ("in.flac"), input, FileKind::flac24);

    render ({ path ("in24.wav"), path ("float.wav") });
    render ({ path ("in24.wav"), path ("pcm24.wav"), "--format", "wav24" });
    render ({ path ("in24.wav"), path ("lossless.flac") });
    render ({ path ("in24.wav"), path ("named.wav"), "--format", "flac" });

    const auto f = readAudio (file ("float.wav"));
    const auto p = readAudio (file ("pcm24.wav"));
    const auto l = readAudio (file ("lossless.flac"));
    EXPECT_TRUE (f.floatingPoint);
    EXPECT_EQ (f.bitsPerSample, 32);
    EXPECT_FALSE (p.floatingPoint);
    EXPECT_EQ (p.bitsPerSample, 24);
    EXPECT_EQ (p.formatName, "WAV file");
    EXPECT_EQ (l.formatName, "FLAC file");
    EXPECT_EQ (l.bitsPerSample, 24);
    EXPECT_EQ (readAudio (file ("named.wav")).formatName, "FLAC file");

    for (const auto* out : { &f, &p, &l })
    {
        ASSERT_EQ (out->channels.size(), 4u);
        EXPECT_EQ (out->sampleRate, 44100.0);
        EXPECT_EQ (out->numFrames(), input.numFrames());
    }
    const float lsb = 1.0f / 8388608.0f;
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t n = 0; n < input.numFrames(); ++n)
        {
            ASSERT_NEAR (p.channels[ch][n], f.channels[ch][n], 1.01f * lsb);
            ASSERT_NEAR (l.channels[ch][n], f.channels[ch][n], 1.01f * lsb);
        }

    // The same 24-bit samples from WAV, AIFF and FLAC give the same output.
    render ({ path ("in.aiff"), path ("from-aiff.wav") });
    render ({ path ("in.flac"), path ("from-flac.wav") });
    EXPECT_TRUE (identical (f, readAudio (file ("from-aiff.wav"))));
    EXPECT_TRUE (identical (f, readAudio (file ("from-flac.wav"))));
}

TEST_F (RenderTest, TwentyFourBitOutputWarnsAboutClippedSamples)
{
    writeAudio (file ("loud.wav"), loudTestSignal (48000.0, 20000, 13));
    const auto result =
        render ({ path ("loud.wav"), path ("out.wav"), "--ceiling", "6", "--format", "wav24" });
    EXPECT_NE (result.errors.find ("clipped"), std::string::npos) << result.errors;
    EXPECT_LE (peakOf (readAudio (file ("out.wav"))), 1.0f);
}

TEST_F (RenderTest, NonFiniteInputSamplesBecomeSilence)
{
    auto input = loudTestSignal (48000.0, 5000, 17);
    input.channels[0][100] = std::numeric_limits<float>::quiet_NaN();
    input.channels[3][2000] = -std::numeric_limits<float>::infinity();
    writeAudio (file ("bad.wav"), input);

    const auto result = render ({ path ("bad.wav"), path ("out.wav") });
    EXPECT_NE (result.errors.find ("2 input samples were not finite"), std::string::npos)
        << result.errors;
    for (const auto& channel : readAudio (file ("out.wav")).channels)
        for (float s : channel)
            ASSERT_TRUE (std::isfinite (s));
}

//==============================================================================
// Summary

TEST_F (RenderTest, SummaryShowsSampleAndTruePeaks)
{
    // Channel 1: a full-scale sine at a quarter of the rate, sampled 45 degrees off its peaks,
    // so its samples reach 1/sqrt(2) (-3.01 dBFS) while the waveform reaches 1 (0 dBTP).
    // Channel 2: the same sine sampled on its peaks, 0.5. Channel 3: silence. Channel 4: 0.25
    // at 1 kHz, whose samples hit the peaks. Fading in and out over 10 ms keeps the
    // ends from adding overshoots of their own.
    Audio input = silence (48000.0, 24000);
    for (size_t n = 0; n < input.numFrames(); ++n)
    {
        const auto edge = static_cast<double> (std::min (n, input.numFrames() - 1 - n));
        const double fade = edge < 480.0 ? 0.5 - 0.5 * std::cos (pi * edge / 480.0) : 1.0;
        input.channels[0][n] = static_cast<float> (fade * std::sin (pi * n / 2.0 + pi / 4.0));
        input.channels[1][n] = static_cast<float> (fade * 0.5 * std::sin (pi * n / 2.0 + pi / 2.0));
        input.channels[3][n] =
            static_cast<float> (fade * 0.25 * std::sin (2.0 * pi * 1000.0 * n / 48000.0));
    }
    writeAudio (file ("tones.wav"), input);

    const auto summary = render ({ path ("tones.wav"), path ("out.wav") }).output;
    const auto samplePeaks = summaryRow (summary, "input sample peak");
    const auto truePeaks = summaryRow (summary, "input true peak");
    ASSERT_EQ (samplePeaks.size(), 4u);
    ASSERT_EQ (truePeaks.size(), 4u);
    EXPECT_NEAR (samplePeaks[0], -3.01, 0.006);
    EXPECT_NEAR (truePeaks[0], 0.0, 0.1);
    EXPECT_NEAR (samplePeaks[1], -6.02, 0.006);
    EXPECT_NEAR (truePeaks[1], -6.02, 0.02);
    EXPECT_EQ (samplePeaks[2], -1000.0);
    EXPECT_EQ (truePeaks[2], -1000.0);
    EXPECT_NEAR (samplePeaks[3], -12.04, 0.006);
    EXPECT_NEAR (truePeaks[3], -12.04, 0.02);

    // Below the ceiling the limiter leaves the inter-sample peak alone.
    EXPECT_NEAR (summaryRow (summary, "output true peak")[0], 0.0, 0.1);
    EXPECT_NE (summary.find ("real time"), std::string::npos);
}

//==============================================================================
// Settings documents

TEST_F (RenderTest, SettingsDocumentActsLikeTheSameKnobSettings)
{
    writeAudio (file ("in.wav"), loudTestSignal (48000.0, 30000, 21));
    file ("preset.xml")
        .replaceWithText ("<Root><Gain>0.1</Gain><Attack>0.125</Attack><Release>0.05</Release>"
                          "<Threshold>0.45</Threshold><idxInputConfig>1</idxInputConfig></Root>",
                          false,
                          false,
                          "\n");
    file ("other-case.xml")
        .replaceWithText (
            "<?xml version=\"1.0\"?>\n<Preset>\n  <gain>0.1</gain>\n  <ATTACK>0.125</ATTACK>\n"
            "  <release>0.05</release>\n  <threshold>0.45</threshold>\n</Preset>\n",
            false,
            false,
            "\n");

    // Text before an element with elements inside once crashed the program (JUCE's writer).
    file ("annotated.xml")
        .replaceWithText ("<Root>Hall<Old><Gain>0.5</Gain></Old><Gain>0.1</Gain><Attack>0.125"
                          "</Attack><Release>0.05</Release><Threshold>0.45</Threshold></Root>",
                          false,
                          false,
                          "\n");

    const auto units = render ({ path ("in.wav"),
                                 path ("units.wav"),
                                 "--gain",
                                 "6",
                                 "--attack",
                                 "5",
                                 "--release",
                                 "50",
                                 "--ceiling",
                                 "-1" });
    const auto preset =
        render ({ path ("in.wav"), path ("preset.wav"), "--settings", path ("preset.xml") });
    render ({ path ("in.wav"), path ("other-case.wav"), "--settings", path ("other-case.xml") });
    const auto expected = readAudio (file ("units.wav"));
    EXPECT_TRUE (identical (expected, readAudio (file ("preset.wav"))));
    EXPECT_TRUE (identical (expected, readAudio (file ("other-case.wav"))));
    render ({ path ("in.wav"), path ("annotated.wav"), "--settings", path ("annotated.xml") });
    EXPECT_TRUE (identical (expected, readAudio (file ("annotated.wav"))));

    // Options given as well override the document.
    render ({ path ("in.wav"),
              path ("units3.wav"),
              "--gain",
              "6",
              "--attack",
              "5",
              "--release",
              "50",
              "--ceiling",
              "-3" });
    const auto overridden = render ({ path ("in.wav"),
                                      path ("override.wav"),
                                      "--settings",
                                      path ("preset.xml"),
                                      "--ceiling",
                                      "-3" });
    EXPECT_TRUE (identical (readAudio (file ("units3.wav")), readAudio (file ("override.wav"))));

    // limiting: the processor reports the settings back, and they change the sound.
    const auto line = "input gain 6.00 dB, attack 5.000 ms, release 50.00 ms, ceiling -1.00 dB";
    EXPECT_NE (preset.output.find (line), std::string::npos) << preset.output;
    EXPECT_NE (overridden.output.find ("ceiling -3.00 dB"), std::string::npos) << overridden.output;
    render ({ path ("in.wav"), path ("default.wav") });
    EXPECT_FALSE (identical (expected, readAudio (file ("default.wav"))));
}

//==============================================================================
// Refusals: a one-line message, a non-zero exit, and no file written or replaced

struct Refusal
{
    std::vector<std::string> args; // "@name" stands for a file in the test folder
    int exitCode;
    std::string message;
};

TEST_F (RenderTest, RefusesBadInputWithOneLineAndLeavesNothingBehind)
{
    writeAudio (file ("in.wav"), loudTestSignal (48000.0, 4800, 1));
    Audio wide = silence (48000.0, 4800);
    wide.channels.resize (65, wide.channels[0]);
    writeAudio (file ("wide.wav"), wide);
    writeAudio (file ("fast.wav"), silence (384000.0, 4800));
    file ("text.wav").replaceWithText ("This is not audio.\n", false, false, "\n");
    file ("notes.xml").replaceWithText ("gain: 6 dB\n", false, false, "\n");
    // Once made the XML reader loop for ever.
    file ("looping.xml")
        .replaceWithText ("<Root><?note?>6 dB<Gain>0.1</Gain></Root>\n", false, false, "\n");
    file ("sub").createDirectory();
    file ("link.wav").getFullPathName();
    ASSERT_TRUE (file ("in.wav").createSymbolicLink (file ("link.wav"), true));
    file ("existing.wav").replaceWithText ("an earlier render\n", false, false, "\n");

    const std::vector<Refusal> refusals {
        { { "@missing.wav", "@existing.wav" }, 1, "missing.wav: no such file" },
        { { "@sub", "@existing.wav" }, 1, "sub: is a folder" },
        { { "@text.wav", "@existing.wav" },
          1,
          "text.wav: not an audio file this program can read" },
        { { "@wide.wav", "@existing.wav" },
          1,
          "wide.wav: has 65 channels; orvalis-render limits 1 to 64 channels" },
        { { "@fast.wav", "@existing.wav" }, 1, "sample rate 384000 Hz is above 192000 Hz" },
        { { "@in.wav", "@nowhere/out.wav" }, 1, "does not exist" },
        { { "@in.wav", "@sub" }, 1, "is a folder; give a file name" },
        { { "@in.wav", "@in.wav" }, 1, "OUTPUT is the same file as INPUT" },
        { { "@in.wav", "@sub/../in.wav" }, 1, "OUTPUT is the same file as INPUT" },
        { { "@in.wav", "@link.wav" }, 1, "OUTPUT is the same file as INPUT" },
        { { "@link.wav", "@in.wav" }, 1, "OUTPUT is the same file as INPUT" },
        { { "@in.wav", "@existing.aiff" }, 1, "cannot write AIFF" },
        { { "@in.wav", "@existing.wav", "--settings", "@missing.xml" },
          1,
          "missing.xml: no such file" },
        { { "@in.wav", "@existing.wav", "--settings", "@notes.xml" },
          1,
          "notes.xml: not an XML settings document" },
        { { "@in.wav", "@existing.wav", "--settings", "@looping.xml" },
          1,
          "looping.xml: not an XML settings document" },
        { { "@in.wav", "@existing.wav", "--plot", "@nowhere/plot.png" }, 1, "does not exist" },
        { { "@in.wav", "@existing.wav", "--plot", "@in.wav" },
          1,
          "the plot must not replace INPUT or OUTPUT" },
        { { "@in.wav", "@existing.wav", "--attack", "50" },
          2,
          "--attack must be 0..40 ms, got 50" },
        { { "@in.wav", "@existing.wav", "--gain", "-1" }, 2, "--gain must be 0..60 dB, got -1" },
        { { "@in.wav", "@existing.wav", "--gain=61" }, 2, "--gain must be 0..60 dB, got 61" },
        { { "@in.wav", "@existing.wav", "--release", "1000.5" },
          2,
          "--release must be 0..1000 ms, got 1000.5" },
        { { "@in.wav", "@existing.wav", "--ceiling", "-11" },
          2,
          "--ceiling must be -10..+10 dB, got -11" },
        { { "@in.wav", "@existing.wav", "--gain", "6dB" }, 2, "--gain needs a number, got '6dB'" },
        { { "@in.wav", "@existing.wav", "--attack", "nan" },
          2,
          "--attack needs a number, got 'nan'" },
        { { "@in.wav", "@existing.wav", "--block", "0" },
          2,
          "--block must be a whole number 1..8192, got 0" },
        { { "@in.wav", "@existing.wav", "--block", "8193" },
          2,
          "--block must be a whole number 1..8192, got 8193" },
        { { "@in.wav", "@existing.wav", "--block", "1.5" },
          2,
          "--block must be a whole number 1..8192, got 1.5" },
        { { "@in.wav", "@existing.wav", "--format", "mp3" },
          2,
          "--format must be wav32, wav24 or flac, got 'mp3'" },
        { { "@in.wav", "@existing.wav", "--louder" }, 2, "unknown option --louder" },
        { { "@in.wav", "@existing.wav", "--raw=yes" }, 2, "--raw takes no value" },
        { { "@in.wav", "@existing.wav", "--gain" }, 2, "--gain needs a value" },
        { { "@in.wav" }, 2, "needs an OUTPUT file after INPUT" },
        { {}, 2, "needs INPUT and OUTPUT files" },
        { { "@in.wav", "@existing.wav", "@third.wav" }, 2, "unexpected argument" },
        { { "--demo" }, 2, "--demo needs an OUTPUT file" },
    };

    const auto before = filesIn (folder);
    const auto inputBytes = file ("in.wav").loadFileAsString();
    for (const auto& refusal : refusals)
    {
        std::vector<std::string> arguments;
        std::string shown;
        for (const auto& arg : refusal.args)
        {
            arguments.push_back (arg.rfind ("@", 0) == 0 ? path (arg.substr (1)) : arg);
            shown += arg + " ";
        }
        SCOPED_TRACE (shown);

        const auto result = runRenderer (arguments);
        EXPECT_EQ (result.exitCode, refusal.exitCode);
        EXPECT_NE (result.errors.find (refusal.message), std::string::npos) << result.errors;
        EXPECT_EQ (std::count (result.errors.begin(), result.errors.end(), '\n'), 1)
            << result.errors;
        EXPECT_EQ (result.output, "");
        EXPECT_EQ (filesIn (folder), before);
        EXPECT_EQ (file ("existing.wav").loadFileAsString(), "an earlier render\n");
        EXPECT_EQ (file ("in.wav").loadFileAsString(), inputBytes);
    }
}

TEST_F (RenderTest, RefusesAnInputItCannotRead)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    writeAudio (file ("locked.wav"), loudTestSignal (48000.0, 480, 1));
    ASSERT_EQ (::chmod (path ("locked.wav").c_str(), 0), 0);
    const auto result = runRenderer ({ path ("locked.wav"), path ("out.wav") });
    EXPECT_EQ (result.exitCode, 1);
    EXPECT_NE (result.errors.find ("locked.wav: cannot be read (permission denied)"),
               std::string::npos)
        << result.errors;
    EXPECT_FALSE (file ("out.wav").exists());
}

class RenderInterrupted : public RenderTest, public ::testing::WithParamInterface<int>
{
};

TEST_P (RenderInterrupted, RemovesTheTemporaryFileAndKeepsTheOldOutput)
{
    const int signal = GetParam();
    writeAudio (file ("long.wav"), loudTestSignal (48000.0, 48000 * 20, 2));
    file ("existing.wav").replaceWithText ("an earlier render\n", false, false, "\n");
    const auto logs = file ("logs");
    logs.createDirectory();
    const auto before = filesIn (folder);

    const int pid =
        startRenderer ({ path ("long.wav"), path ("existing.wav"), "--block", "1" }, logs);
    ASSERT_GT (pid, 0);
    // Wait until the temporary file exists, so the signal arrives while audio is written.
    bool writing = false;
    for (int attempt = 0; attempt < 2000 && ! writing; ++attempt)
    {
        for (const auto& name : filesIn (folder))
            writing = writing || name.rfind (".existing", 0) == 0;
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    EXPECT_TRUE (writing);
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    ::kill (pid, signal);
    const auto result = waitForRenderer (pid, logs);

    EXPECT_EQ (result.exitCode, 128 + signal);
    EXPECT_NE (result.errors.find ("interrupted"), std::string::npos) << result.errors;
    EXPECT_EQ (filesIn (folder), before);
    EXPECT_EQ (file ("existing.wav").loadFileAsString(), "an earlier render\n");
}

INSTANTIATE_TEST_SUITE_P (Signals,
                          RenderInterrupted,
                          ::testing::Values (SIGINT, SIGTERM),
                          [] (const auto& test)
                          { return std::string (test.param == SIGINT ? "SIGINT" : "SIGTERM"); });

TEST_F (RenderTest, HelpExplainsEveryOption)
{
    const auto result = render ({ "--help" });
    for (const char* option : { "--gain",
                                "--attack",
                                "--release",
                                "--ceiling",
                                "--block",
                                "--raw",
                                "--settings",
                                "--plot",
                                "--format",
                                "--demo",
                                "wav24",
                                "flac",
                                "BS.1770",
                                "--out-dir",
                                "--jobs",
                                "--report",
                                "--target-true-peak",
                                "--convention",
                                "--input-loudness",
                                "--target-loudness",
                                "--shard",
                                "--merge-reports" })
        EXPECT_NE (result.output.find (option), std::string::npos) << option;
}
} // namespace
