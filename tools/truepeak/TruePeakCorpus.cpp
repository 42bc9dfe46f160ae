// orvalis-truepeak-corpus: the limiter's true-peak mode over a corpus of test signals, at several
// rates, look-aheads and releases; each output measured by a 32x oversampled reference, by
// orvalis-render's 4x meter and (with --ffmpeg) by ffmpeg's ebur128 filter.
#include "limiter/LookaheadLimiter.h"
#include "render/BesselI0.h"
#include "render/DemoSceneReader.h"
#include "render/TruePeakMeter.h"
#include "tests/common/ReferenceTruePeak.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <vector>

namespace
{
constexpr int numChannels = 4;
constexpr double twoPi = 6.283185307179586;
constexpr float ceilingDb = -1.0f;
constexpr double allowedOverDb = 0.1; // by the 32x reference

using Signal = std::array<std::vector<float>, numChannels>;

const char* const helpText =
    R"(orvalis-truepeak-corpus - the limiter's true-peak mode over a corpus of test signals

Usage: orvalis-truepeak-corpus [--quick] [--ffmpeg] [--table FILE] [--csv FILE]

Limits every signal of the corpus at 44.1, 48 and 96 kHz with look-aheads 0.5, 1, 5, 20 and
40 ms and releases 0, 1, 20, 200 and 1000 ms (ceiling -1 dBTP; the synthetic signals are
driven to +6 dBFS, the demo scene peaks at about +9 dBFS), and measures each output's true peak
with a 32x oversampled reference, with orvalis-render's 4x meter and, with --ffmpeg, with
ffmpeg -af ebur128=peak=true. Prints, per signal and rate, the worst of each over all settings
and the setting that gave it, and lists every run over the limits: more than 0.1 dB over the
ceiling by the reference, or over it at all by the 4x meter.

  --quick        44.1 and 96 kHz, look-aheads 0.5 and 5 ms, releases 0 and 200 ms only
  --ffmpeg       also measure with ffmpeg (it must be on the PATH; slow)
  --table FILE   also write the summary as a Markdown table
  --csv FILE     also write every run, one line each

Exit status: 0 when every signal within the detector's passband stays within the limits, 1
otherwise. The demo scene (its hi-hat is differentiated white noise, strongest at the Nyquist
frequency), white noise and naive squares have much of their power above 0.907 of the Nyquist
frequency, where the detector under-reads: they are reported but not counted, beside versions
low-passed to 19.6 kHz that are. Nor are runs with a release of 0 ms: there the gain may rise
by several dB from one sample to the next as a peak leaves the look-ahead, and that step itself
puts peaks between the samples that no detector of the input can foresee (they are listed too).
)";

struct CorpusSignal
{
    juce::String name;
    bool withinPassband;
    std::function<Signal (int rate)> make;
};

size_t framesFor (int rate, double seconds)
{
    return static_cast<size_t> (rate * seconds);
}

Signal silence (size_t frames)
{
    Signal s;
    for (auto& ch : s)
        ch.assign (frames, 0.0f);
    return s;
}

// Scales the signal so that its largest sample is `peak`.
void normalise (Signal& s, double peak)
{
    float largest = 0.0f;
    for (auto& ch : s)
        for (float x : ch)
            largest = std::max (largest, std::abs (x));
    if (largest > 0.0f)
        for (auto& ch : s)
            for (float& x : ch)
                x = static_cast<float> (x * peak / largest);
}

// A windowed-sinc low-pass (Kaiser, beta 8, 193 taps) with its edge at cutoffHz.
void lowPass (std::vector<float>& x, int rate, double cutoffHz)
{
    constexpr int half = 96;
    const double c = 2.0 * cutoffHz / rate;
    std::vector<double> h (2 * half + 1);
    for (int k = -half; k <= half; ++k)
    {
        const double sinc = k == 0 ? c : std::sin (M_PI * c * k) / (M_PI * k);
        const double r = k / (half + 1.0);
        h[static_cast<size_t> (k + half)] =
            sinc * besselI0 (8.0 * std::sqrt (1.0 - r * r)) / besselI0 (8.0);
    }
    std::vector<float> y (x.size(), 0.0f);
    for (size_t n = 0; n < x.size(); ++n)
    {
        double sum = 0.0;
        for (int k = -half; k <= half; ++k)
        {
            const long i = static_cast<long> (n) + k;
            if (i >= 0 && i < static_cast<long> (x.size()))
                sum += h[static_cast<size_t> (k + half)] * x[static_cast<size_t> (i)];
        }
        y[n] = static_cast<float> (sum);
    }
    x = y;
}

// Bursts of 5 to 60 ms of noise with silences between them, different on every channel.
Signal noiseBursts (int rate, bool bandLimited)
{
    const size_t frames = framesFor (rate, 0.6);
    Signal s = silence (frames);
    std::mt19937 rng (1770u);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::uniform_int_distribution<int> ms (5, 60);
    for (auto& ch : s)
    {
        size_t i = framesFor (rate, 0.02);
        while (i < frames)
        {
            const size_t end = std::min (frames, i + framesFor (rate, ms (rng) / 1000.0));
            for (; i < end; ++i)
                ch[i] = unit (rng);
            i += framesFor (rate, ms (rng) / 1000.0);
        }
        if (bandLimited)
            lowPass (ch, rate, 19600.0);
    }
    normalise (s, 2.0);
    return s;
}

// A tone whose crests fall between samples: 250 ms steady, then bursts of 2, 5 and 10 ms with
// 1 ms raised-cosine edges, 20 ms apart. Each channel has its own level and phase.
Signal toneBursts (int rate, double hz)
{
    const size_t frames = framesFor (rate, 0.6);
    Signal s = silence (frames);
    const double fade = 0.001;
    struct Span
    {
        double start, length;
    };
    const Span spans[] = { { 0.05, 0.25 },  { 0.33, 0.002 }, { 0.36, 0.005 }, { 0.39, 0.01 },
                           { 0.42, 0.002 }, { 0.45, 0.005 }, { 0.48, 0.01 } };
    for (size_t ch = 0; ch < numChannels; ++ch)
    {
        const double level = 2.0 * (1.0 - 0.2 * static_cast<double> (ch));
        // A crest half a sample after sample 0, a quarter more on each channel.
        const double crest = 0.5 + 0.25 * static_cast<double> (ch);
        for (size_t i = 0; i < frames; ++i)
        {
            const double t = static_cast<double> (i) / rate;
            double envelope = 0.0;
            for (const auto& span : spans)
            {
                const double u = t - span.start;
                if (u < 0.0 || u > span.length + 2.0 * fade)
                    continue;
                const double rise = std::min (1.0, u / fade),
                             fall = std::min (1.0, (span.length + 2.0 * fade - u) / fade);
                envelope = 0.5 - 0.5 * std::cos (M_PI * std::min (rise, fall));
            }
            s[ch][i] = static_cast<float> (
                level * envelope
                * std::cos (twoPi * hz * (static_cast<double> (i) - crest) / rate));
        }
    }
    return s;
}

// Squares of 1 kHz and 5.5 kHz, steady on two channels and in bursts on two: naive (every sample
// +2 or -2) or, band-limited, made of their odd harmonics below 19.6 kHz.
Signal squares (int rate, bool bandLimited)
{
    const size_t frames = framesFor (rate, 0.6);
    Signal s = silence (frames);
    const double hz[] = { 1000.0, 5500.0, 1000.0, 5500.0 };
    for (size_t ch = 0; ch < numChannels; ++ch)
        for (size_t i = framesFor (rate, 0.02); i < frames; ++i)
        {
            const double t = static_cast<double> (i) / rate;
            if (! (ch < 2 || std::fmod (t, 0.05) < 0.01))
                continue;
            const double cycles = hz[ch] * t + 0.1 * static_cast<double> (ch);
            if (! bandLimited)
            {
                s[ch][i] = std::fmod (cycles, 1.0) < 0.5 ? 2.0f : -2.0f;
                continue;
            }
            double sum = 0.0;
            for (int k = 1; k * hz[ch] < 19600.0; k += 2)
                sum += std::sin (twoPi * k * cycles) / k;
            s[ch][i] = static_cast<float> (2.0 * 4.0 / M_PI * sum);
        }
    return s;
}

// Single samples of +-2 at irregular spacing, alone on their channel or on several at once.
Signal impulses (int rate)
{
    const size_t frames = framesFor (rate, 0.6);
    Signal s = silence (frames);
    std::mt19937 rng (4u);
    std::uniform_int_distribution<int> gap (1, 400), channel (0, 4);
    for (size_t i = framesFor (rate, 0.02); i < frames; i += static_cast<size_t> (gap (rng)))
    {
        const int which = channel (rng);
        for (size_t ch = 0; ch < numChannels; ++ch)
            if (which == 4 || static_cast<size_t> (which) == ch)
                s[ch][i] = (i % 3 == 0) ? -2.0f : 2.0f;
    }
    return s;
}

// The fs/4 pattern: +a, +a, -a, -a (a 45 degree phase offset) on two channels, and a 22.5 degree
// offset scaled to the same sample peak on the others; steady, then in bursts.
Signal quarterRate (int rate)
{
    const size_t frames = framesFor (rate, 0.6);
    Signal s = silence (frames);
    for (size_t ch = 0; ch < numChannels; ++ch)
    {
        const double offset = ch < 2 ? M_PI / 4.0 : M_PI / 8.0;
        const double scale =
            2.0 / std::max (std::abs (std::sin (offset)), std::abs (std::cos (offset)));
        for (size_t i = framesFor (rate, 0.02); i < frames; ++i)
        {
            const double t = static_cast<double> (i) / rate;
            const bool on = t < 0.3 || std::fmod (t, 0.03) < 0.004;
            s[ch][i] = on ? static_cast<float> (scale
                                                * std::sin (M_PI / 2.0 * static_cast<double> (i)
                                                            + offset + (ch % 2 == 1 ? M_PI : 0.0)))
                          : 0.0f;
        }
    }
    return s;
}

// The first 1.5 s of orvalis-render's demo scene (48 kHz, peaks about +9 dBFS); at other rates
// the same samples, so its spectrum scales with the rate.
Signal demoScene (int)
{
    const size_t frames = framesFor (48000, 1.5);
    Signal s = silence (frames);
    for (size_t i = 0; i < frames; ++i)
    {
        float frame[numChannels];
        DemoSceneReader::renderFrame (static_cast<juce::int64> (i), frame);
        for (size_t ch = 0; ch < numChannels; ++ch)
            s[ch][i] = frame[ch];
    }
    return s;
}

Signal lowPassed (Signal s, int rate)
{
    for (auto& ch : s)
        lowPass (ch, rate, 19600.0);
    return s;
}

// Signals marked false have much of their power above 0.907 of the Nyquist frequency (20 kHz at
// 44.1 kHz), beyond the detector's passband: they are measured and reported, and each has a
// counterpart low-passed to 19.6 kHz that the guarantee covers.
std::vector<CorpusSignal> corpus()
{
    return {
        { "demo scene", false, demoScene },
        { "demo scene to 19.6 kHz",
          true,
          [] (int rate) { return lowPassed (demoScene (rate), rate); } },
        { "noise bursts, white", false, [] (int rate) { return noiseBursts (rate, false); } },
        { "noise bursts to 19.6 kHz", true, [] (int rate) { return noiseBursts (rate, true); } },
        { "997 Hz", true, [] (int rate) { return toneBursts (rate, 997.0); } },
        { "10 kHz", true, [] (int rate) { return toneBursts (rate, 10000.0); } },
        { "15 kHz", true, [] (int rate) { return toneBursts (rate, 15000.0); } },
        { "19 kHz", true, [] (int rate) { return toneBursts (rate, 19000.0); } },
        { "squares 1, 5.5 kHz, naive", false, [] (int rate) { return squares (rate, false); } },
        { "squares 1, 5.5 kHz, to 19.6 kHz", true, [] (int rate) { return squares (rate, true); } },
        { "single-sample impulses", true, impulses },
        { "fs/4 pattern", true, quarterRate },
    };
}

struct Setting
{
    int rate;
    float lookaheadMs, releaseMs;
    bool truePeak = true;
};

struct Measured
{
    double samplePeakDb, referenceDb, meterDb, ffmpegDb;
};

double toDb (double linear)
{
    return 20.0 * std::log10 (std::max (linear, 1e-12));
}

Signal limit (const Signal& input, const Setting& s)
{
    LookaheadLimiter limiter (40.0f, 1.0f);
    limiter.setNumChannels();
    limiter.setLookaheadMs (s.lookaheadMs);
    limiter.setReleaseMs (s.releaseMs);
    limiter.setCeiling (std::pow (10.0f, ceilingDb / 20.0f));
    limiter.setTruePeak (s.truePeak);
    limiter.setSampleRate (s.rate);

    // The input followed by silence for the latency, so that all of it comes out.
    Signal out = input;
    const size_t latency = static_cast<size_t> (limiter.getLatencySamples());
    for (auto& ch : out)
        ch.resize (ch.size() + latency, 0.0f);
    const size_t frames = out[0].size();
    for (size_t start = 0; start < frames; start += 512)
    {
        float* pointers[numChannels];
        for (size_t ch = 0; ch < numChannels; ++ch)
            pointers[ch] = out[ch].data() + start;
        limiter.process (pointers, static_cast<int> (std::min<size_t> (512, frames - start)));
    }
    return out;
}

double ffmpegTruePeakDb (const Signal& s, int rate, const juce::File& scratch)
{
    {
        scratch.deleteFile();
        auto stream = std::make_unique<juce::FileOutputStream> (scratch);
        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (
            stream.get(), rate, juce::AudioChannelSet::discreteChannels (numChannels), 32, {}, 0));
        if (writer == nullptr)
            return NAN;
        stream.release();
        const float* channels[numChannels] = { s[0].data(), s[1].data(), s[2].data(), s[3].data() };
        writer->writeFromFloatArrays (channels, numChannels, static_cast<int> (s[0].size()));
    }
    juce::ChildProcess ffmpeg;
    const juce::StringArray command {
        "ffmpeg", "-nostats",          "-hide_banner", "-i",   scratch.getFullPathName(),
        "-af",    "ebur128=peak=true", "-f",           "null", "-"
    };
    if (! ffmpeg.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return NAN;
    const auto text = ffmpeg.readAllProcessOutput();
    // The summary ends with "True peak:" and then "Peak: <dB> dBFS".
    const auto summary = text.fromLastOccurrenceOf ("True peak:", false, false);
    const auto value = summary.fromFirstOccurrenceOf ("Peak:", false, false).trim();
    return value.isEmpty() ? NAN : value.getDoubleValue();
}

Measured measure (const Signal& out, int rate, bool withFfmpeg, const juce::File& scratch)
{
    const float* channels[numChannels] = {
        out[0].data(), out[1].data(), out[2].data(), out[3].data()
    };
    const auto reference = referenceTruePeak::measure (channels, out[0].size());

    TruePeakMeter meter (8192);
    for (size_t start = 0; start < out[0].size(); start += 8192)
    {
        const float* block[numChannels];
        for (size_t ch = 0; ch < numChannels; ++ch)
            block[ch] = channels[ch] + start;
        meter.process (block, static_cast<int> (std::min<size_t> (8192, out[0].size() - start)));
    }
    meter.finish();

    Measured m { -300.0, -300.0, -300.0, NAN };
    for (int ch = 0; ch < numChannels; ++ch)
    {
        m.samplePeakDb = std::max (m.samplePeakDb, toDb (meter.getSamplePeak (ch)));
        m.meterDb = std::max (m.meterDb, toDb (meter.getTruePeak (ch)));
        m.referenceDb = std::max (m.referenceDb, toDb (reference[static_cast<size_t> (ch)]));
    }
    if (withFfmpeg)
        m.ffmpegDb = ffmpegTruePeakDb (out, rate, scratch);
    return m;
}

juce::String signedDb (double db, int decimals = 2)
{
    if (std::isnan (db))
        return "n/a";
    return (db >= 0.0 ? "+" : "") + juce::String (db, decimals);
}

juce::String settingText (const Setting& s)
{
    return juce::String (s.lookaheadMs, 1) + " ms / " + juce::String (s.releaseMs, 0) + " ms";
}
} // namespace

int main (int argc, char** argv)
{
    bool quick = false, withFfmpeg = false;
    juce::String tableFile, csvFile;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        if (arg == "--quick")
            quick = true;
        else if (arg == "--ffmpeg")
            withFfmpeg = true;
        else if ((arg == "--table" || arg == "--csv") && i + 1 < argc)
            (arg == "--table" ? tableFile : csvFile) = argv[++i];
        else
        {
            std::cout << helpText;
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }

    const std::vector<int> rates =
        quick ? std::vector<int> { 44100, 96000 } : std::vector<int> { 44100, 48000, 96000 };
    const std::vector<float> lookaheads =
        quick ? std::vector<float> { 0.5f, 5.0f }
              : std::vector<float> { 0.5f, 1.0f, 5.0f, 20.0f, 40.0f };
    const std::vector<float> releases =
        quick ? std::vector<float> { 0.0f, 200.0f }
              : std::vector<float> { 0.0f, 1.0f, 20.0f, 200.0f, 1000.0f };

    const auto scratch = juce::File::createTempFile (".wav");
    juce::String csv = "signal,rate,lookahead_ms,release_ms,mode,sample_peak_dbfs,reference_dbtp,"
                       "meter4_dbtp,ffmpeg_dbtp\n";
    juce::String table = "| signal | rate | sample-peak mode at the defaults, reference 32x | "
                         "true-peak mode, reference 32x | (at look-ahead / "
                         "release) | 4x meter | ffmpeg |\n|---|---|---|---|---|---|---|\n";
    juce::StringArray overLimits;
    bool failed = false;

    std::cout << "ceiling " << ceilingDb << " dBTP; worst over all settings per signal and rate\n";
    std::cout << juce::String ("signal").paddedRight (' ', 32)
              << "  rate   SP-mode ref32   ref32  (setting)              4x meter  ffmpeg\n";
    for (const auto& signal : corpus())
        for (int rate : rates)
        {
            const Signal input = signal.make (rate);
            // Sample-peak mode at the defaults, for comparison.
            const auto samplePeakMode =
                measure (limit (input, { rate, 1.0f, 20.0f, false }), rate, false, scratch);

            Measured worst { -300.0, -300.0, -300.0, NAN };
            Setting worstAt { rate, 0.0f, 0.0f };
            for (float lookahead : lookaheads)
                for (float release : releases)
                {
                    const Setting setting { rate, lookahead, release };
                    const auto m = measure (limit (input, setting), rate, withFfmpeg, scratch);
                    csv << signal.name << "," << rate << "," << lookahead << "," << release
                        << ",true peak," << m.samplePeakDb << "," << m.referenceDb << ","
                        << m.meterDb << ","
                        << (std::isnan (m.ffmpegDb) ? juce::String() : juce::String (m.ffmpegDb))
                        << "\n";
                    if (m.referenceDb > worst.referenceDb)
                    {
                        worst.referenceDb = m.referenceDb;
                        worstAt = setting;
                    }
                    worst.meterDb = std::max (worst.meterDb, m.meterDb);
                    worst.samplePeakDb = std::max (worst.samplePeakDb, m.samplePeakDb);
                    if (! std::isnan (m.ffmpegDb))
                        worst.ffmpegDb = std::isnan (worst.ffmpegDb)
                                             ? m.ffmpegDb
                                             : std::max (worst.ffmpegDb, m.ffmpegDb);

                    const bool over =
                        m.referenceDb > ceilingDb + allowedOverDb || m.meterDb > ceilingDb;
                    if (over)
                    {
                        overLimits.add (
                            signal.name + " at " + juce::String (rate) + " Hz, "
                            + settingText (setting) + ": reference " + signedDb (m.referenceDb, 3)
                            + " dBTP, 4x meter " + signedDb (m.meterDb, 3) + " dBTP"
                            + (! signal.withinPassband     ? " (beyond the passband)"
                               : setting.releaseMs <= 0.0f ? " (release 0: the gain's step)"
                                                           : ""));
                        failed = failed || (signal.withinPassband && setting.releaseMs > 0.0f);
                    }
                }

            const auto line = juce::String (signal.name).paddedRight (' ', 32)
                              + juce::String (rate).paddedLeft (' ', 6)
                              + signedDb (samplePeakMode.referenceDb).paddedLeft (' ', 14)
                              + signedDb (worst.referenceDb).paddedLeft (' ', 8)
                              + ("  (" + settingText (worstAt) + ")").paddedRight (' ', 24)
                              + signedDb (worst.meterDb).paddedLeft (' ', 9)
                              + signedDb (worst.ffmpegDb).paddedLeft (' ', 8);
            std::cout << line << std::endl;
            table << "| " << signal.name << " | " << rate << " | "
                  << signedDb (samplePeakMode.referenceDb) << " | " << signedDb (worst.referenceDb)
                  << " | " << settingText (worstAt) << " | " << signedDb (worst.meterDb) << " | "
                  << signedDb (worst.ffmpegDb) << " |\n";
        }
    scratch.deleteFile();

    std::cout << "\nruns over the limits (reference more than " << allowedOverDb
              << " dB over, or 4x meter over the ceiling): " << overLimits.size() << "\n";
    for (const auto& line : overLimits)
        std::cout << "  " << line << "\n";

    if (tableFile.isNotEmpty())
        juce::File::getCurrentWorkingDirectory().getChildFile (tableFile).replaceWithText (table);
    if (csvFile.isNotEmpty())
        juce::File::getCurrentWorkingDirectory().getChildFile (csvFile).replaceWithText (csv);
    return failed ? 1 : 0;
}
