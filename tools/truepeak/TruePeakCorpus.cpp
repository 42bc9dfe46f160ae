// orvalis-truepeak-corpus: the limiter's true-peak mode over a corpus of test signals, at several
// rates, look-aheads and releases, beside x42's limiter in its true-peak mode; each output measured
// by a 32x oversampled reference, by orvalis-render's 4x meter and (with --ffmpeg) by ffmpeg's
// ebur128 filter.
#include "limiter/LookaheadLimiter.h"
#include "render/TruePeakMeter.h"
#include "tests/common/ReferenceTruePeak.h"
#include "tools/truepeak/CorpusSignals.h"
#include "tools/truepeak/PeerLimiter.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <vector>

namespace
{
using corpusSignals::numChannels;
using corpusSignals::Signal;
constexpr float ceilingDb = -1.0f;
constexpr double allowedOverDb = 0.1; // by the 32x reference

const char* const helpText =
    R"(orvalis-truepeak-corpus - the limiter's true-peak mode over a corpus of test signals

Usage: orvalis-truepeak-corpus [--quick] [--peer] [--ffmpeg] [--only TEXT] [--table FILE]
                               [--csv FILE]

Limits every signal of the corpus at 44.1, 48, 96 and 192 kHz with look-aheads 0 (none: only
the detector's delay), 0.5, 1, 5, 20 and 40 ms and releases 0, 1, 20, 200 and 1000 ms (ceiling
-1 dBTP; the signals are driven to +6 dBFS, the demo scene peaks at about +9 dBFS), and measures each output's true peak with a 32x
oversampled reference, with orvalis-render's 4x meter and, with --ffmpeg, with ffmpeg -af
ebur128=peak=true. Prints, per signal and rate, the worst of each over all settings and the
setting that gave it, and lists every run over the limits: more than 0.1 dB over the ceiling by
the reference, or over it at all by the 4x meter.

  --quick        44.1 and 96 kHz, look-aheads 0, 0.5 and 5 ms, releases 0 and 200 ms only
  --peer         also run x42's limiter (x42-plugins, through lv2file) with true peak on at the
                 same ceiling and releases 1, 10 (its default) and 200 ms, two stereo instances
  --ffmpeg       also measure with ffmpeg (it must be on the PATH; slow)
  --only TEXT    only the signals whose names contain TEXT
  --table FILE   also write the summary as a Markdown table
  --csv FILE     also write every run, one line each

Exit status: 0 when every run of Orvalis stays within the limits, 1 otherwise.
)";

struct Setting
{
    int rate;
    float lookaheadMs, releaseMs;
    bool truePeak = true;
};

struct Measured
{
    double samplePeakDb = -300.0, referenceDb = -300.0, meterDb = -300.0, ffmpegDb = NAN;

    void raise (const Measured& m)
    {
        samplePeakDb = std::max (samplePeakDb, m.samplePeakDb);
        referenceDb = std::max (referenceDb, m.referenceDb);
        meterDb = std::max (meterDb, m.meterDb);
        if (! std::isnan (m.ffmpegDb))
            ffmpegDb = std::isnan (ffmpegDb) ? m.ffmpegDb : std::max (ffmpegDb, m.ffmpegDb);
    }
    bool overLimits() const
    {
        return referenceDb > ceilingDb + allowedOverDb || meterDb > ceilingDb;
    }
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

    Measured m;
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
    if (std::isnan (db) || db <= -299.0)
        return "n/a";
    return (db >= 0.0 ? "+" : "") + juce::String (db, decimals);
}

juce::String settingText (float lookaheadMs, float releaseMs)
{
    return juce::String (lookaheadMs, 1) + " / " + juce::String (releaseMs, 0) + " ms";
}

juce::String csvLine (const juce::String& signal,
                      int rate,
                      const juce::String& limiter,
                      float lookaheadMs,
                      float releaseMs,
                      const Measured& m)
{
    return signal + "," + juce::String (rate) + "," + limiter + "," + juce::String (lookaheadMs)
           + "," + juce::String (releaseMs) + "," + juce::String (m.samplePeakDb) + ","
           + juce::String (m.referenceDb) + "," + juce::String (m.meterDb) + ","
           + (std::isnan (m.ffmpegDb) ? juce::String() : juce::String (m.ffmpegDb)) + "\n";
}
} // namespace

int main (int argc, char** argv)
{
    bool quick = false, withFfmpeg = false, withPeer = false;
    juce::String tableFile, csvFile, only;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        if (arg == "--quick")
            quick = true;
        else if (arg == "--ffmpeg")
            withFfmpeg = true;
        else if (arg == "--peer")
            withPeer = true;
        else if ((arg == "--table" || arg == "--csv" || arg == "--only") && i + 1 < argc)
            (arg == "--table" ? tableFile : arg == "--csv" ? csvFile : only) = argv[++i];
        else
        {
            std::cout << helpText;
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }
    if (withPeer && ! peerLimiter::isAvailable())
    {
        std::cerr << "--peer: lv2file or x42's limiter (x42-plugins) is not installed\n";
        return 2;
    }

    const std::vector<int> rates = quick ? std::vector<int> { 44100, 96000 }
                                         : std::vector<int> { 44100, 48000, 96000, 192000 };
    const std::vector<float> lookaheads =
        quick ? std::vector<float> { 0.0f, 0.5f, 5.0f }
              : std::vector<float> { 0.0f, 0.5f, 1.0f, 5.0f, 20.0f, 40.0f };
    const std::vector<float> releases =
        quick ? std::vector<float> { 0.0f, 200.0f }
              : std::vector<float> { 0.0f, 1.0f, 20.0f, 200.0f, 1000.0f };
    const std::vector<float> peerReleases { 1.0f, 10.0f, 200.0f };

    const auto scratch = juce::File::createTempFile (".wav");
    juce::String csv = "signal,rate,limiter,lookahead_ms,release_ms,sample_peak_dbfs,"
                       "reference_dbtp,meter4_dbtp,ffmpeg_dbtp\n";
    juce::String table =
        "| signal | rate | sample-peak mode, ref. 32x | true-peak mode, ref. 32x | (at look-ahead "
        "/ "
        "release) | 4x meter | ffmpeg | x42 true peak, ref. 32x | (release) | x42, 4x meter |\n"
        "|---|---|---|---|---|---|---|---|---|---|\n";
    juce::StringArray overLimits;
    int runs = 0, peerRuns = 0, peerOver = 0;

    std::cout << "ceiling " << ceilingDb << " dBTP; worst over all settings per signal and rate\n";
    std::cout << juce::String ("signal").paddedRight (' ', 34)
              << "  rate  SP mode    ours  (look-ahead / release)   4x meter"
              << (withPeer ? "     x42  (release)  4x meter" : "") << "\n";
    for (const auto& signal : corpusSignals::corpus())
    {
        if (only.isNotEmpty() && ! signal.name.contains (only))
            continue;
        for (int rate : rates)
        {
            const Signal input = signal.make (rate);
            // Sample-peak mode at the defaults, for comparison.
            const auto samplePeakMode =
                measure (limit (input, { rate, 1.0f, 20.0f, false }), rate, false, scratch);

            Measured worst;
            Setting worstAt { rate, 0.0f, 0.0f };
            for (float lookahead : lookaheads)
                for (float release : releases)
                {
                    const Setting setting { rate, lookahead, release };
                    const auto m = measure (limit (input, setting), rate, withFfmpeg, scratch);
                    ++runs;
                    csv << csvLine (signal.name, rate, "orvalis", lookahead, release, m);
                    if (m.referenceDb > worst.referenceDb)
                        worstAt = setting;
                    worst.raise (m);
                    if (m.overLimits())
                        overLimits.add (signal.name + " at " + juce::String (rate) + " Hz, "
                                        + settingText (lookahead, release) + ": reference "
                                        + signedDb (m.referenceDb, 3) + " dBTP, 4x meter "
                                        + signedDb (m.meterDb, 3) + " dBTP");
                }

            Measured peer;
            float peerWorstRelease = 0.0f;
            if (withPeer)
                for (float release : peerReleases)
                {
                    const auto limited = peerLimiter::limit (input, rate, ceilingDb, release);
                    if (! limited)
                    {
                        std::cerr << "x42 failed on " << signal.name << " at " << rate << " Hz\n";
                        continue;
                    }
                    const auto m = measure (*limited, rate, withFfmpeg, scratch);
                    ++peerRuns;
                    peerOver += m.overLimits() ? 1 : 0;
                    csv << csvLine (signal.name, rate, "x42", 0.0f, release, m);
                    if (m.referenceDb > peer.referenceDb)
                        peerWorstRelease = release;
                    peer.raise (m);
                }

            auto line =
                juce::String (signal.name).paddedRight (' ', 34)
                + juce::String (rate).paddedLeft (' ', 6)
                + signedDb (samplePeakMode.referenceDb).paddedLeft (' ', 9)
                + signedDb (worst.referenceDb).paddedLeft (' ', 8) + "  ("
                + (settingText (worstAt.lookaheadMs, worstAt.releaseMs) + ")").paddedRight (' ', 22)
                + signedDb (worst.meterDb).paddedLeft (' ', 9);
            if (withPeer)
                line << signedDb (peer.referenceDb).paddedLeft (' ', 8) << "  ("
                     << (juce::String (peerWorstRelease, 0) + " ms)").paddedRight (' ', 8)
                     << signedDb (peer.meterDb).paddedLeft (' ', 9);
            std::cout << line << std::endl;
            table << "| " << signal.name << " | " << rate << " | "
                  << signedDb (samplePeakMode.referenceDb) << " | " << signedDb (worst.referenceDb)
                  << " | " << settingText (worstAt.lookaheadMs, worstAt.releaseMs) << " | "
                  << signedDb (worst.meterDb) << " | " << signedDb (worst.ffmpegDb) << " | "
                  << (withPeer ? signedDb (peer.referenceDb) : juce::String ("n/a")) << " | "
                  << (withPeer ? juce::String (peerWorstRelease, 0) + " ms" : juce::String ("n/a"))
                  << " | " << (withPeer ? signedDb (peer.meterDb) : juce::String ("n/a")) << " |\n";
        }
    }
    scratch.deleteFile();

    std::cout << "\nOrvalis: " << runs - overLimits.size() << " of " << runs
              << " runs within the limits (reference at most " << allowedOverDb
              << " dB over the ceiling, 4x meter at most at it)\n";
    if (withPeer)
        std::cout << "x42: " << peerRuns - peerOver << " of " << peerRuns
                  << " runs within the same limits\n";
    for (const auto& line : overLimits)
        std::cout << "  " << line << "\n";

    if (tableFile.isNotEmpty())
        juce::File::getCurrentWorkingDirectory().getChildFile (tableFile).replaceWithText (table);
    if (csvFile.isNotEmpty())
        juce::File::getCurrentWorkingDirectory().getChildFile (csvFile).replaceWithText (csv);
    return overLimits.isEmpty() ? 0 : 1;
}
