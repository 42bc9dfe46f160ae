// orvalis-render's loudness target, its shards and the merge of their reports. The loudness is
// measured again here, on the outputs, with libebur128 in its exact mode: the renderer's own
// figure is not taken on trust.
#include "RenderTestSupport.h"
#include "render/RenderPlan.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <numeric>
#include <regex>

namespace
{
double loudnessOfW (const juce::File& file)
{
    const auto audio = readAudio (file);
    if (audio.channels.empty())
        return std::nan ("");
    ebur128_state* meter =
        ebur128_init (1, static_cast<unsigned long> (audio.sampleRate), EBUR128_MODE_I);
    ebur128_set_channel (meter, 0, EBUR128_CENTER);
    ebur128_add_frames_float (meter, audio.channels[0].data(), audio.numFrames());
    double lufs = 0.0;
    ebur128_loudness_global (meter, &lufs);
    ebur128_destroy (&meter);
    return lufs;
}

Audio scaled (Audio audio, float gain)
{
    for (auto& channel : audio.channels)
        for (auto& s : channel)
            s *= gain;
    return audio;
}

juce::var parse (const juce::File& file)
{
    juce::var parsed;
    EXPECT_TRUE (juce::JSON::parse (file.loadFileAsString(), parsed).wasOk()) << file.getFileName();
    return parsed;
}

/** The report's files without their render times, as text. */
std::string filesWithoutTimes (const juce::var& report)
{
    juce::String text;
    for (const auto& f : *report["files"].getArray())
    {
        auto copy = f.clone();
        copy.getDynamicObject()->removeProperty ("renderSeconds");
        text << juce::JSON::toString (copy, true) << "\n";
    }
    return text.toStdString();
}

class RenderTarget : public ScratchFolderTest
{
protected:
    RenderTarget() : ScratchFolderTest ("orvalis-render-target-") {}
};
} // namespace

// A quiet take (raised some 25 dB and limited hard), a loud one (peaks near
// +9.5 dBFS, attenuated by the renderer) and a silent one, in both peak modes.
TEST_F (RenderTarget, LoudnessTargetHoldsOnQuietAndLoudTakesInBothModes)
{
    const auto take = loudTestSignal (48000.0, 48000 * 6, 11);
    ASSERT_TRUE (file ("in").createDirectory());
    // The quiet take has clicks 20 dB above it ten times a second: raising it to the target
    // takes heavy limiting, which lowers the loudness the gain alone would give.
    auto quiet = scaled (take, 0.01f);
    for (size_t n = 0; n < quiet.numFrames(); n += 4800)
        for (size_t i = n; i < n + 48; ++i)
            for (auto& channel : quiet.channels)
                channel[i] = (i % 2 == 0 ? 0.3f : -0.3f);
    writeAudio (file ("in/quiet.wav"), quiet);
    writeAudio (file ("in/loud.wav"), take);
    writeAudio (file ("in/silent.wav"), scaled (take, 0.0f));
    constexpr double target = -12.0, ceilingDb = -1.0;
    const float ceiling = std::pow (10.0f, static_cast<float> (ceilingDb) / 20.0f);

    for (const char* mode : { "--sample-peak", "--true-peak" })
    {
        SCOPED_TRACE (mode);
        const auto out = file (std::string ("out") + mode);
        const auto result = runRenderer ({ "--out-dir",
                                           out.getFullPathName().toStdString(),
                                           path ("in"),
                                           mode,
                                           "--ceiling",
                                           "-1",
                                           "--target-loudness",
                                           "-12",
                                           "--report",
                                           path ("report.json") });
        EXPECT_EQ (result.exitCode, 5) << "the silent take misses the target\n" << result.errors;
        EXPECT_EQ (result.errors, "") << "the batch tells its files on stdout";
        const auto report = parse (file ("report.json"));
        EXPECT_EQ (static_cast<double> (report["targetLoudnessLufs"]), target);
        for (const auto& f : *report["files"].getArray())
        {
            const auto name = f["input"].toString().fromLastOccurrenceOf ("/", false, false);
            SCOPED_TRACE (name);
            const auto output = out.getChildFile (name);
            ASSERT_TRUE (output.existsAsFile()) << "written in any case";
            const auto& settings = f["settings"];
            std::cout << mode << " " << name << ": " << f["gainAppliedDb"].toString() << " dB, "
                      << f["loudnessReachedLufs"].toString() << " LUFS in "
                      << f["loudnessPasses"].toString() << " passes\n";
            if (name == "silent.wav")
            {
                EXPECT_EQ (f["status"].toString(), "off-target");
                EXPECT_FALSE (static_cast<bool> (f["meetsLoudnessTarget"]));
                EXPECT_TRUE (f["note"].toString().contains ("silent"));
                continue;
            }
            EXPECT_EQ (f["status"].toString(), "done") << f["note"].toString();
            EXPECT_TRUE (static_cast<bool> (f["meetsLoudnessTarget"]));
            EXPECT_NEAR (static_cast<double> (f["loudnessReachedLufs"]), target, 0.1);
            EXPECT_NEAR (loudnessOfW (output), target, 0.1) << "measured again";
            EXPECT_LE (static_cast<int> (f["loudnessPasses"]), 10);

            const auto audio = readAudio (output);
            float peak = 0.0f;
            for (const auto& channel : audio.channels)
                for (float s : channel)
                    peak = std::max (peak, std::abs (s));
            EXPECT_LE (peak, ceiling) << "no sample above the ceiling";
            if (std::string (mode) == "--true-peak")
            {
                for (const auto& tp : *f["out"]["truePeakDb"].getArray())
                    EXPECT_LE (static_cast<double> (tp), ceilingDb + 0.2) << "4x true peaks";
            }

            const double pre = settings["preGainDb"], knob = settings["inputGainDb"];
            EXPECT_NEAR (static_cast<double> (f["gainAppliedDb"]), pre + knob, 0.0015);
            if (name == "loud.wav")
            {
                EXPECT_LT (pre, -5.0) << "attenuated by the renderer, before the processor";
                EXPECT_EQ (knob, 0.0);
            }
            else
            {
                EXPECT_EQ (pre, 0.0);
                EXPECT_GT (knob, 20.0);
                EXPECT_GT (static_cast<double> (f["largestGainReductionDb"]), 10.0)
                    << "the limiter worked for the loudness";
            }
        }
        EXPECT_EQ (static_cast<int> (report["summary"]["offTarget"]), 1);
    }
}

TEST (RenderShards, ShareOutIsBalancedAndCoversEveryFileOnce)
{
    const std::vector<juce::int64> sizes { 50, 5, 40, 5, 30, 0, 20, 10, 100, 5 };
    const auto shards = RenderPlan::shareOut (sizes, 3);
    ASSERT_EQ (shards.size(), sizes.size());
    EXPECT_EQ (shards, RenderPlan::shareOut (sizes, 3)) << "the same every time";
    std::vector<juce::int64> bytes (3, 0);
    for (size_t i = 0; i < sizes.size(); ++i)
    {
        ASSERT_GE (shards[i], 0);
        ASSERT_LT (shards[i], 3);
        bytes[static_cast<size_t> (shards[i])] += sizes[i];
    }
    EXPECT_EQ (bytes, (std::vector<juce::int64> { 100, 85, 80 })) << "largest first, to the least";
    const auto many = RenderPlan::shareOut ({ 1, 2 }, 5);
    EXPECT_EQ (many, (std::vector<int> { 1, 0 }));
}

// Three shards render what one batch renders, bit for bit (the loudness target's attenuation and
// trials included), and their reports merge into that batch's report, in JSON and in CSV.
TEST_F (RenderTarget, ShardsCoverTheBatchOnceAndMergeIntoItsReport)
{
    ASSERT_TRUE (file ("in/day2").createDirectory());
    std::vector<std::string> names;
    for (int i = 0; i < 7; ++i)
    {
        const auto name =
            std::string (i < 4 ? "in/" : "in/day2/") + "take" + std::to_string (i) + ".wav";
        writeAudio (file (name),
                    scaled (loudTestSignal (48000.0,
                                            4800 * static_cast<size_t> (i + 5),
                                            static_cast<unsigned> (20 + i)),
                            std::pow (10.0f, static_cast<float> (i * 5 - 20) / 20.0f)));
        names.push_back (name.substr (3));
    }
    // Three channels without a mask have no loudness to bring to a target: skipped, in a shard
    // all the same.
    Audio unmeasured = loudTestSignal (48000.0, 4800, 3);
    unmeasured.channels.resize (3);
    writeAudio (file ("in/unmeasured.wav"), unmeasured);
    const std::vector<std::string> options {
        "--out-dir", path ("out"), path ("in"), "--target-loudness", "-20", "-j", "2"
    };

    auto whole = options;
    whole.insert (whole.end(), { "--report", path ("whole.json"), "--report", path ("whole.csv") });
    const auto wholeRun = runRenderer (whole);
    ASSERT_EQ (wholeRun.exitCode, 0) << wholeRun.output << wholeRun.errors;
    ASSERT_TRUE (file ("out").moveFileTo (file ("out-whole")));

    size_t filesInShards = 0;
    for (int k = 1; k <= 3; ++k)
    {
        auto shard = options;
        shard.insert (shard.end(),
                      { "--shard",
                        std::to_string (k) + "/3",
                        "--report",
                        path ("shard" + std::to_string (k) + ".json") });
        const auto result = runRenderer (shard);
        EXPECT_EQ (result.exitCode, 0) << result.errors;
        filesInShards += static_cast<size_t> (
            parse (file ("shard" + std::to_string (k) + ".json"))["files"].size());
    }
    EXPECT_EQ (filesInShards, names.size() + 1) << "every input in exactly one shard";
    for (const auto& name : names)
    {
        juce::MemoryBlock sharded, alone;
        ASSERT_TRUE (file ("out/" + name).loadFileAsData (sharded)) << name;
        ASSERT_TRUE (file ("out-whole/" + name).loadFileAsData (alone)) << name;
        EXPECT_EQ (sharded, alone) << name;
    }

    const auto merge = [&] (const std::string& out, const std::vector<std::string>& reports)
    {
        std::vector<std::string> args { "--merge-reports", path (out) };
        for (const auto& r : reports)
            args.push_back (path (r));
        return runRenderer (args);
    };
    const auto merged = merge ("merged.json", { "shard3.json", "shard1.json", "shard2.json" });
    ASSERT_EQ (merged.exitCode, 0) << merged.errors;
    ASSERT_EQ (merge ("merged.csv", { "shard1.json", "shard2.json", "shard3.json" }).exitCode, 0);

    const auto one = parse (file ("whole.json")), joined = parse (file ("merged.json"));
    EXPECT_EQ (filesWithoutTimes (joined), filesWithoutTimes (one));
    for (const char* key : { "files",
                             "done",
                             "skipped",
                             "audioSeconds",
                             "largestGainReductionDb",
                             "largestOutputTruePeakDb",
                             "limitingShare",
                             "exitStatus" })
        EXPECT_EQ (joined["summary"][key].toString(), one["summary"][key].toString()) << key;
    EXPECT_TRUE (joined["shard"].isVoid());
    EXPECT_EQ (joined["mergedFrom"].size(), 3);

    // The CSV likewise, but for the render times (and the batch's wall time in the same column).
    const auto csvRows = [this] (const char* name)
    {
        juce::StringArray rows;
        rows.addLines (file (name).loadFileAsString().trimEnd());
        const int timeColumn =
            juce::StringArray::fromTokens (rows[0], ",", "").indexOf ("render_seconds");
        for (auto& row : rows)
        {
            auto fields = juce::StringArray::fromTokens (row, ",", "\"");
            if (timeColumn < fields.size())
                fields.set (timeColumn, {});
            row = fields.joinIntoString (",");
        }
        return rows.joinIntoString ("\n").toStdString();
    };
    EXPECT_EQ (csvRows ("merged.csv"), csvRows ("whole.csv"));

    // Numbers carry their precision, no more: no 8.031000000000001.
    const auto text = file ("whole.json").loadFileAsString().toStdString()
                      + file ("whole.csv").loadFileAsString().toStdString();
    std::smatch long_;
    EXPECT_FALSE (std::regex_search (text, long_, std::regex ("[0-9]\\.[0-9]{7,}"))) << long_.str();

    // Refused: a shard missing, a shard twice, a shard of other settings, a shard with a batch.
    auto other = options;
    other.insert (other.end(),
                  { "--ceiling", "-2", "--shard", "1/3", "--report", path ("other.json") });
    ASSERT_EQ (runRenderer (other).exitCode, 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals {
        { { "shard1.json", "shard2.json" }, "shard 3/3 missing" },
        { { "shard1.json", "shard2.json", "shard2.json", "shard3.json" }, "share their inputs" },
        { { "other.json", "shard2.json", "shard3.json" }, "different settings: ceilingDb" },
        { { "whole.json", "shard2.json" }, "with whole batches" },
    };
    for (const auto& [reports, message] : refusals)
    {
        SCOPED_TRACE (message);
        const auto refused = merge ("refused.json", reports);
        EXPECT_EQ (refused.exitCode, 2);
        EXPECT_NE (refused.errors.find (message), std::string::npos) << refused.errors;
        EXPECT_FALSE (file ("refused.json").exists());
    }
}
