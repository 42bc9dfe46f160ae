// orvalis-render's batch form and its report, and inputs whose header lies about their length
// (in both forms). Every output is compared with what the single-file form makes of a sound copy
// of its input, so the batch adds and loses nothing.
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <random>
#include <thread>

namespace
{
std::vector<std::uint8_t> bytesOf (const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData (block);
    const auto* data = static_cast<const std::uint8_t*> (block.getData());
    return { data, data + block.getSize() };
}

void writeBytes (const juce::File& file, const std::vector<std::uint8_t>& bytes)
{
    ASSERT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));
}

void putLittleEndian32 (std::vector<std::uint8_t>& bytes, size_t at, std::uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t> (value >> (8 * i));
}

/** Where a RIFF chunk's size field is (the chunk's own offset + 4). */
size_t riffChunkSizeAt (const std::vector<std::uint8_t>& bytes, const char* id)
{
    for (size_t pos = 12; pos + 8 <= bytes.size();)
    {
        std::uint32_t size = 0;
        for (size_t i = 4; i-- > 0;)
            size = (size << 8) | bytes[pos + 4 + i];
        if (std::memcmp (bytes.data() + pos, id, 4) == 0)
            return pos + 4;
        pos += 8 + size + (size & 1);
    }
    ADD_FAILURE() << "no " << id << " chunk";
    return 0;
}

/** Rewrites the total of a FLAC file's STREAMINFO (36 bits, 18 bytes from the start). */
void setFlacTotal (std::vector<std::uint8_t>& bytes, std::uint64_t total)
{
    ASSERT_EQ (std::memcmp (bytes.data(), "fLaC", 4), 0);
    std::uint64_t field = 0;
    for (size_t i = 0; i < 8; ++i)
        field = (field << 8) | bytes[18 + i];
    field = (field & ~((std::uint64_t { 1 } << 36) - 1)) | total;
    for (size_t i = 0; i < 8; ++i)
        bytes[18 + i] = static_cast<std::uint8_t> (field >> (8 * (7 - i)));
}

Audio firstFrames (const Audio& audio, size_t frames)
{
    Audio part = audio;
    for (auto& channel : part.channels)
        channel.resize (frames);
    return part;
}

bool identical (const Audio& a, const Audio& b)
{
    return a.sampleRate == b.sampleRate && a.channels == b.channels && ! a.channels.empty();
}

juce::var parseJson (const juce::File& file)
{
    juce::var parsed;
    const auto result = juce::JSON::parse (file.loadFileAsString(), parsed);
    EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
    return parsed;
}

/** The report's entry for an input, by the name it was given. */
juce::var entryFor (const juce::var& report, const std::string& input)
{
    if (! report["files"].isArray())
    {
        ADD_FAILURE() << "no files in the report";
        return {};
    }
    for (const auto& entry : *report["files"].getArray())
        if (entry["input"].toString().toStdString() == input)
            return entry;
    ADD_FAILURE() << "no report entry for " << input;
    return {};
}

std::string textOf (const juce::var& value)
{
    return value.toString().toStdString();
}

class RenderBatch : public ScratchFolderTest
{
protected:
    RenderBatch() : ScratchFolderTest ("orvalis-render-batch-") {}

    /** The single-file form's output for an input, as the reference for the batch. */
    Audio renderedAlone (const juce::File& input, const std::vector<std::string>& options = {})
    {
        const auto output = file ("alone-" + juce::Uuid().toDashedString().toStdString() + ".wav");
        std::vector<std::string> args { input.getFullPathName().toStdString(),
                                        output.getFullPathName().toStdString() };
        args.insert (args.end(), options.begin(), options.end());
        const auto result = runRenderer (args);
        EXPECT_EQ (result.exitCode, 0) << result.errors;
        auto audio = readAudio (output);
        output.deleteFile();
        return audio;
    }
};
} // namespace

//==============================================================================
// Headers that lie about the length: what the file holds is rendered, bit for bit as with a
// correct header, and a header promising more is reported as truncated (exit status 3).

TEST_F (RenderBatch, LyingHeadersAreReadForWhatTheFileHolds)
{
    const auto take = loudTestSignal (48000.0, 14400, 41);
    writeAudio (file ("take.wav"), take, FileKind::wav24);
    writeAudio (file ("third.wav"), firstFrames (take, 4800), FileKind::wav24);
    writeAudio (file ("take.aiff"), take, FileKind::aiff24);
    writeAudio (file ("take.flac"), take, FileKind::flac24);
    const auto whole = renderedAlone (file ("take.wav"));
    const auto third = renderedAlone (file ("third.wav"));
    ASSERT_EQ (whole.numFrames(), 14400u);

    const auto wav = bytesOf (file ("take.wav"));
    const auto dataSize = riffChunkSizeAt (wav, "data");
    struct Case
    {
        std::string name;
        std::vector<std::uint8_t> bytes;
        const Audio* expected;
        int exitCode;
        std::string note;
    };
    std::vector<Case> cases;
    const auto withDataSize = [&] (std::uint32_t size)
    {
        auto b = wav;
        putLittleEndian32 (b, dataSize, size);
        return b;
    };
    // A recorder that lost power: no length at all, or none in the RIFF size either.
    cases.push_back ({ "ffffffff.wav", withDataSize (0xffffffffu), &whole, 0, "gives no length" });
    cases.push_back ({ "zero.wav", withDataSize (0), &whole, 0, "gives no length" });
    auto riffToo = withDataSize (0);
    putLittleEndian32 (riffToo, 4, 0);
    cases.push_back ({ "riff-zero.wav", riffToo, &whole, 0, "gives no length" });
    // A header promising 50 times the data, and a copy cut short at a third.
    cases.push_back (
        { "fifty.wav", withDataSize (50 * 14400 * 12), &whole, 3, "promises 720000 frames" });
    cases.push_back ({ "cut.wav",
                       { wav.begin(), wav.begin() + static_cast<long> (dataSize + 4 + 4800 * 12) },
                       &third,
                       3,
                       "promises 14400 frames, the file holds 4800" });
    // AIFF cut at a third: COMM still counts every frame.
    const auto aiff = bytesOf (file ("take.aiff"));
    cases.push_back ({ "cut.aiff",
                       { aiff.begin(), aiff.end() - static_cast<long> (9600 * 12) },
                       &third,
                       3,
                       "holds 4800" });
    // FLAC whose STREAMINFO claims 1000 times the samples, or half of them.
    auto flac = bytesOf (file ("take.flac"));
    setFlacTotal (flac, 14400000);
    cases.push_back ({ "thousand.flac", flac, &whole, 3, "promises 14400000 frames" });
    setFlacTotal (flac, 7200);
    cases.push_back ({ "half.flac", flac, &whole, 0, "says 7200 frames, the file holds 14400" });

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        writeBytes (file (c.name), c.bytes);
        const auto result = runRenderer ({ path (c.name), path ("out.wav") });
        EXPECT_EQ (result.exitCode, c.exitCode) << result.errors;
        EXPECT_NE (result.output.find (c.note), std::string::npos) << result.output;
        if (c.exitCode == 3)
        {
            EXPECT_NE (result.errors.find ("truncated"), std::string::npos) << result.errors;
        }
        const auto out = readAudio (file ("out.wav"));
        EXPECT_EQ (out.numFrames(), c.expected->numFrames());
        EXPECT_TRUE (identical (out, *c.expected));
    }
}

//==============================================================================
// A folder of everything a batch meets

TEST_F (RenderBatch, FolderOfMixedFilesRendersTheGoodOnesAndReportsEveryFile)
{
    const auto take = loudTestSignal (48000.0, 24000, 43);
    const auto in = file ("in");
    ASSERT_TRUE (in.getChildFile ("day 2/deep").createDirectory());
    writeAudio (in.getChildFile ("good.wav"), take);
    writeAudio (in.getChildFile ("day 2/good.flac"), take, FileKind::flac24);
    writeAudio (in.getChildFile ("day 2/deep/good.aif"), take, FileKind::aiff24);
    writeAudio (file ("sound-third.wav"), firstFrames (take, 8000), FileKind::wav24);
    writeAudio (file ("sound.wav"), take, FileKind::wav24);
    auto lying = bytesOf (file ("sound.wav"));
    putLittleEndian32 (lying, riffChunkSizeAt (lying, "data"), 0xffffffffu);
    writeBytes (in.getChildFile ("lying.wav"), lying);
    auto cut = bytesOf (file ("sound.wav"));
    cut.resize (riffChunkSizeAt (cut, "data") + 4 + 8000 * 12);
    writeBytes (in.getChildFile ("day 2/truncated.wav"), cut);
    Audio wide = take;
    wide.channels.resize (65, take.channels[0]);
    writeAudio (in.getChildFile ("wide.wav"), wide);
    in.getChildFile ("unreadable.wav").replaceWithText ("not audio\n");
    in.getChildFile ("notes.txt").replaceWithText ("not looked at\n");
    writeAudio (in.getChildFile (".hidden.wav"), take); // hidden files are not looked at

    const auto result = runRenderer ({ "--out-dir",
                                       path ("out"),
                                       path ("in"),
                                       "-j",
                                       "2",
                                       "--gain",
                                       "3",
                                       "--report",
                                       path ("report.json"),
                                       "--report",
                                       path ("report.csv") });
    EXPECT_EQ (result.exitCode, 1) << "a file could not be read\n" << result.errors;

    // Every output is what the single-file form makes of a sound copy of its input.
    const auto fromWav = renderedAlone (in.getChildFile ("good.wav"), { "--gain", "3" });
    const auto fromPcm = renderedAlone (file ("sound.wav"), { "--gain", "3" });
    const auto fromCut = renderedAlone (file ("sound-third.wav"), { "--gain", "3" });
    const std::vector<std::pair<std::string, const Audio*>> outputs {
        { "good.wav", &fromWav },
        { "day 2/good.flac", nullptr },
        { "day 2/deep/good.aif", nullptr },
        { "lying.wav", &fromPcm },
        { "day 2/truncated.wav", &fromCut }
    };
    for (const auto& [name, expected] : outputs)
    {
        SCOPED_TRACE (name);
        const auto out = readAudio (file ("out").getChildFile (name));
        ASSERT_EQ (out.channels.size(), 4u);
        if (expected != nullptr)
            EXPECT_TRUE (identical (out, *expected));
        else
            EXPECT_EQ (out.numFrames(),
                       take.numFrames()); // 24 bits: rounded, so compared by length
    }
    EXPECT_EQ (readAudio (file ("out/day 2/good.flac")).formatName, "FLAC file");
    EXPECT_EQ (readAudio (file ("out/day 2/deep/good.aif")).formatName, "AIFF file");
    EXPECT_EQ (filesIn (file ("out")),
               (std::vector<std::string> { "day 2", "good.wav", "lying.wav" }))
        << "nothing for the 65-channel and unreadable files, no temporary file left";

    const auto report = parseJson (file ("report.json"));
    EXPECT_EQ (textOf (report["schema"]), "orvalis-render-report");
    const auto name = [&] (const char* relative) { return path ("in") + "/" + relative; };
    const std::vector<std::pair<const char*, const char*>> statuses {
        { "good.wav", "done" },
        { "day 2/good.flac", "done" },
        { "day 2/deep/good.aif", "done" },
        { "lying.wav", "done" },
        { "day 2/truncated.wav", "truncated" },
        { "wide.wav", "skipped" },
        { "unreadable.wav", "failed" }
    };
    ASSERT_EQ (report["files"].size(), static_cast<int> (statuses.size()));
    for (const auto& [relative, status] : statuses)
        EXPECT_EQ (textOf (entryFor (report, name (relative))["status"]), status) << relative;

    const auto truncated = entryFor (report, name ("day 2/truncated.wav"));
    EXPECT_EQ (static_cast<int> (truncated["frames"]), 8000);
    EXPECT_EQ (static_cast<int> (truncated["declaredFrames"]), 24000);
    EXPECT_TRUE (truncated["note"].toString().contains ("truncated"));
    EXPECT_TRUE (entryFor (report, name ("lying.wav"))["declaredFrames"].isVoid());
    EXPECT_TRUE (
        entryFor (report, name ("wide.wav"))["error"].toString().contains ("has 65 channels"));
    EXPECT_TRUE (entryFor (report, name ("unreadable.wav"))["output"].isVoid());

    const auto good = entryFor (report, name ("good.wav"));
    EXPECT_EQ (textOf (good["settings"]["mode"]), "sample-peak");
    EXPECT_EQ (static_cast<double> (good["settings"]["inputGainDb"]), 3.0);
    EXPECT_EQ (static_cast<int> (good["latencySamples"]), 48);
    EXPECT_EQ (good["out"]["truePeakDb"].size(), 4);
    EXPECT_GT (static_cast<double> (good["largestGainReductionDb"]), 3.0) << "peaks near +12 dB";
    const double share = good["limitingShare"];
    EXPECT_GT (share, 0.05);
    EXPECT_LT (share, 1.0);

    const auto summary = report["summary"];
    EXPECT_EQ (static_cast<int> (summary["files"]), 7);
    EXPECT_EQ (static_cast<int> (summary["done"]), 4);
    EXPECT_EQ (static_cast<int> (summary["truncated"]), 1);
    EXPECT_EQ (static_cast<int> (summary["skipped"]), 1);
    EXPECT_EQ (static_cast<int> (summary["failed"]), 1);
    EXPECT_EQ (static_cast<int> (summary["exitStatus"]), 1);
    EXPECT_EQ (static_cast<int> (summary["workers"]), 2);

    // The CSV: a header, a row per file and one for the batch, the same statuses.
    juce::StringArray rows;
    rows.addLines (file ("report.csv").loadFileAsString().trimEnd());
    ASSERT_EQ (rows.size(), 9);
    const auto header = juce::StringArray::fromTokens (rows[0], ",", "");
    const int statusColumn = header.indexOf ("status");
    ASSERT_GE (statusColumn, 0);
    int truncatedRows = 0;
    for (int i = 1; i < 8; ++i)
        truncatedRows +=
            juce::StringArray::fromTokens (rows[i], ",", "\"")[statusColumn] == "truncated";
    EXPECT_EQ (truncatedRows, 1);
    EXPECT_TRUE (rows[8].startsWith ("(batch)"));
}

TEST_F (RenderBatch, TargetTruePeakFailsTheRunForOutputsAboveIt)
{
    // "over": a sine at a quarter of the rate sampled 45 degrees off its peaks: samples reach
    // -3.01 dBFS, the waveform 0 dBTP, and a sample-peak ceiling of -3 dB leaves it there.
    // "under": the same at -12 dBFS.
    Audio over, under;
    for (auto* audio : { &over, &under })
        audio->channels.assign (4, std::vector<float> (48000, 0.0f));
    for (size_t n = 0; n < 48000; ++n)
    {
        const double fade = std::min (1.0, std::min (n, 47999 - n) / 480.0);
        const auto s = static_cast<float> (fade * std::sin (3.141592653589793 * (n / 2.0 + 0.25)));
        over.channels[1][n] = s;
        under.channels[1][n] = 0.25f * s;
    }
    ASSERT_TRUE (file ("in").createDirectory());
    writeAudio (file ("in/over.wav"), over);
    writeAudio (file ("in/under.wav"), under);

    const auto result = runRenderer ({ "--out-dir",
                                       path ("out"),
                                       path ("in"),
                                       "--ceiling",
                                       "-3",
                                       "--target-true-peak",
                                       "-1",
                                       "--report",
                                       path ("report.json") });
    EXPECT_EQ (result.exitCode, 4) << result.errors;
    const auto report = parseJson (file ("report.json"));
    EXPECT_FALSE (static_cast<bool> (entryFor (report, path ("in") + "/over.wav")["meetsTarget"]));
    EXPECT_TRUE (static_cast<bool> (entryFor (report, path ("in") + "/under.wav")["meetsTarget"]));
    EXPECT_EQ (static_cast<int> (report["summary"]["targetMissed"]), 1);
    EXPECT_TRUE (file ("out/over.wav").existsAsFile())
        << "the output stays for the pipeline to judge";

    const auto loose = runRenderer (
        { "--out-dir", path ("out"), path ("in"), "--ceiling", "-3", "--target-true-peak", "0.5" });
    EXPECT_EQ (loose.exitCode, 0) << loose.errors;
}

TEST_F (RenderBatch, InterruptKeepsFinishedOutputsAndRemovesTheUnfinished)
{
    // Two short files first (by size, the long ones go first: so the short ones are named to
    // come last and are too small to matter), then long ones rendered slowly, one at a time.
    ASSERT_TRUE (file ("in").createDirectory());
    for (const char* name : { "a-long.wav", "b-long.wav", "c-long.wav" })
        writeAudio (file (std::string ("in/") + name), loudTestSignal (48000.0, 48000 * 3, 5));
    writeAudio (file ("in/d-short.wav"), loudTestSignal (48000.0, 4800, 6));
    const auto logs = file ("logs");
    ASSERT_TRUE (logs.createDirectory());

    const int pid = startRenderer ({ "--out-dir",
                                     path ("out"),
                                     path ("in"),
                                     "-j",
                                     "1",
                                     "--block",
                                     "1",
                                     "--report",
                                     path ("report.json") },
                                   logs);
    ASSERT_GT (pid, 0);
    // Wait for the first output to be in place and the second to be under way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (60);
    bool firstDone = false, secondStarted = false;
    while (! (firstDone && secondStarted) && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
        if (! file ("out").isDirectory())
            continue;
        const auto names = filesIn (file ("out"));
        firstDone = std::find (names.begin(), names.end(), "a-long.wav") != names.end();
        secondStarted =
            std::any_of (names.begin(),
                         names.end(),
                         [] (const std::string& n) { return n.rfind (".b-long", 0) == 0; });
    }
    ASSERT_TRUE (firstDone && secondStarted);
    ::kill (pid, SIGINT);
    const auto result = waitForRenderer (pid, logs);

    EXPECT_EQ (result.exitCode, 128 + SIGINT) << result.errors;
    EXPECT_NE (result.errors.find (
                   "interrupted: 1 finished outputs kept, 1 unfinished removed, 2 not started"),
               std::string::npos)
        << result.errors;
    EXPECT_EQ (filesIn (file ("out")), (std::vector<std::string> { "a-long.wav" }));
    EXPECT_EQ (readAudio (file ("out/a-long.wav")).numFrames(), 48000u * 3) << "complete";

    const auto report = parseJson (file ("report.json"));
    EXPECT_EQ (textOf (entryFor (report, path ("in") + "/a-long.wav")["status"]), "done");
    EXPECT_EQ (textOf (entryFor (report, path ("in") + "/b-long.wav")["status"]), "interrupted");
    EXPECT_EQ (textOf (entryFor (report, path ("in") + "/c-long.wav")["status"]), "not-started");
    EXPECT_EQ (textOf (entryFor (report, path ("in") + "/d-short.wav")["status"]), "not-started");
    EXPECT_TRUE (static_cast<bool> (report["summary"]["wasInterrupted"]));
}

TEST_F (RenderBatch, RefusesBatchesThatWouldOverwriteOrClash)
{
    for (const char* name : { "a", "b", "empty" })
        ASSERT_TRUE (file (name).createDirectory());
    writeAudio (file ("a/x.wav"), loudTestSignal (48000.0, 480, 1));
    writeAudio (file ("b/x.wav"), loudTestSignal (48000.0, 480, 2));
    writeAudio (file ("b/x.flac"), loudTestSignal (48000.0, 480, 3), FileKind::flac24);
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals {
        { { "--out-dir", path ("out"), path ("a/x.wav"), path ("b/x.wav") },
          "would both be written to" },
        { { "--out-dir", path ("out"), path ("b"), "--format", "wav32" },
          "would both be written to" },
        { { "--out-dir", path ("a"), path ("a") }, "would replace the input" },
        { { "--out-dir", path ("a"), path ("a/x.wav") }, "would replace the input" },
        { { "--out-dir", path ("out"), path ("empty") }, "no WAV, AIFF or FLAC files" },
        { { "--out-dir", path ("out"), path ("a"), path ("missing") },
          "missing: no such file or folder" },
        { { "--out-dir", path ("out") }, "needs at least one INPUT" },
        { { "--out-dir", path ("out"), "--demo" }, "cannot be used with --out-dir" },
        { { path ("a/x.wav"), path ("y.wav"), "-j", "2" }, "-j needs the batch form" },
        { { "--out-dir", path ("out"), path ("a"), "-j", "0" }, "-j must be a whole number" },
        { { "--out-dir", path ("out"), path ("a"), "--report", path ("r.txt") },
          "ending in .json or .csv" },
        { { "--out-dir", path ("out"), path ("a"), "--convention", "n3d" },
          "--convention must be" },
        { { "--out-dir", path ("out"), path ("a"), "--target-loudness", "-23", "--gain", "3" },
          "cannot both be given" },
        { { "--out-dir", path ("out"), path ("a"), "--target-loudness", "3" },
          "--target-loudness must be" },
        { { "--out-dir", path ("out"), path ("a"), "--shard", "3/2" }, "--shard needs K/N" },
        { { path ("a/x.wav"), path ("y.wav"), "--shard", "1/2" }, "--shard needs the batch form" },
        { { "--merge-reports", path ("m.json"), path ("r.json"), "--ceiling", "-1" },
          "takes only report files" },
    };
    const auto before = bytesOf (file ("a/x.wav"));
    for (const auto& [args, message] : refusals)
    {
        SCOPED_TRACE (message);
        const auto result = runRenderer (args);
        EXPECT_EQ (result.exitCode, 2);
        EXPECT_NE (result.errors.find (message), std::string::npos) << result.errors;
        EXPECT_FALSE (file ("out").exists());
    }
    EXPECT_EQ (bytesOf (file ("a/x.wav")), before);
}

TEST_F (RenderBatch, RefusesAPictureThatWouldReplaceAnInputNamingThePicture)
{
    ASSERT_TRUE (file ("a").createDirectory());
    writeAudio (file ("a/x.wav"), loudTestSignal (48000.0, 480, 1));
    ASSERT_TRUE (file ("a/x.wav.png").replaceWithText ("given as an input\n", false, false, "\n"));
    const auto result = runRenderer ({ "--out-dir",
                                       path ("out"),
                                       "--plot",
                                       path ("a"),
                                       path ("a/x.wav"),
                                       path ("a/x.wav.png") });
    EXPECT_EQ (result.exitCode, 2);
    EXPECT_NE (result.errors.find (path ("a") + "/x.wav.png would replace the input "
                                   + path ("a/x.wav.png")),
               std::string::npos)
        << result.errors;
    EXPECT_FALSE (file ("out").exists());
    EXPECT_EQ (file ("a/x.wav.png").loadFileAsString(), "given as an input\n");
}

//==============================================================================
// The report against an independent meter: ffmpeg's ebur128 filter (BS.1770-4 loudness and its
// own 4x true-peak meter), channel by channel.

namespace
{
struct FfmpegReading
{
    double integratedLufs = 0.0, rangeLu = 0.0, truePeakDb = 0.0;
};

double numberAfter (const juce::String& text, const juce::String& label)
{
    return text.fromLastOccurrenceOf (label, false, false).trimStart().getDoubleValue();
}

/** ffmpeg's reading of one channel of a file, scaled by gain first. */
FfmpegReading ffmpegMeasures (const juce::File& file, int channel, double gain = 1.0)
{
    juce::ChildProcess ffmpeg;
    const juce::StringArray command { "ffmpeg",
                                      "-nostats",
                                      "-hide_banner",
                                      "-i",
                                      file.getFullPathName(),
                                      "-af",
                                      "pan=mono|c0=" + juce::String (gain, 8) + "*c"
                                          + juce::String (channel) + ",ebur128=peak=true",
                                      "-f",
                                      "null",
                                      "-" };
    FfmpegReading reading;
    if (! ffmpeg.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
    {
        ADD_FAILURE()
            << "cannot run ffmpeg (Debian package ffmpeg, installed by scripts/install-deps.sh)";
        return reading;
    }
    const auto text = ffmpeg.readAllProcessOutput();
    EXPECT_EQ (ffmpeg.getExitCode(), 0u) << text;
    const auto summary = text.fromLastOccurrenceOf ("Summary:", false, false);
    reading.integratedLufs =
        numberAfter (summary.upToFirstOccurrenceOf ("Threshold", false, false), "I:");
    reading.rangeLu = numberAfter (summary.upToFirstOccurrenceOf ("LRA low", false, false)
                                       .upToLastOccurrenceOf ("Threshold", false, false),
                                   "LRA:");
    reading.truePeakDb = numberAfter (summary, "Peak:");
    return reading;
}

/**
    Forty seconds of a sound field: band-limited noise and tones, twenty seconds loud enough to
    be limited (peaks near +4 dBFS), then twenty seconds 10 dB quieter, as in EBU Tech 3342's
    first loudness-range case (whose answer is 10 LU).
*/
Audio soundField()
{
    Audio audio;
    audio.channels.assign (4, std::vector<float> (48000 * 40));
    std::mt19937 random (77);
    std::normal_distribution<float> noise (0.0f, 1.0f);
    std::array<float, 4> lowpassed {};
    for (size_t n = 0; n < audio.numFrames(); ++n)
    {
        const double t = static_cast<double> (n) / 48000.0;
        const double level = t < 20.0 ? 0.5 : 0.5 * std::pow (10.0, -0.5);
        const float common = noise (random);
        for (size_t ch = 0; ch < 4; ++ch)
        {
            lowpassed[ch] += 0.3f * ((0.7f * common + 0.3f * noise (random)) - lowpassed[ch]);
            const double tone = std::sin (2.0 * 3.141592653589793 * (220.0 * (ch + 1)) * t);
            audio.channels[ch][n] =
                static_cast<float> (level * (lowpassed[ch] + 0.8 * tone) * (1.0 - 0.2 * ch));
        }
    }
    return audio;
}
} // namespace

TEST_F (RenderBatch, ReportAgreesWithFfmpegsLoudnessAndTruePeak)
{
    ASSERT_TRUE (file ("in").createDirectory());
    writeAudio (file ("in/field.wav"), soundField());
    for (const char* convention : { "ambix", "fuma" })
    {
        SCOPED_TRACE (convention);
        const auto result = runRenderer ({ "--out-dir",
                                           path ("out"),
                                           path ("in"),
                                           "--convention",
                                           convention,
                                           "--input-loudness",
                                           "--report",
                                           path ("report.json") });
        ASSERT_EQ (result.exitCode, 0) << result.errors;
        const auto entry = entryFor (parseJson (file ("report.json")), path ("in") + "/field.wav");
        EXPECT_GT (static_cast<double> (entry["largestGainReductionDb"]), 1.0)
            << "the limiter works";

        // FuMa's W is 3 dB below ambiX's: measured as ambiX's, it is raised by 3.01 dB first.
        const double gain = std::string (convention) == "fuma" ? std::sqrt (2.0) : 1.0;
        for (const char* side : { "in", "out" })
        {
            SCOPED_TRACE (side);
            const auto measured = entry[side];
            const auto audioFile =
                std::string (side) == "in" ? file ("in/field.wav") : file ("out/field.wav");
            const auto w = ffmpegMeasures (audioFile, 0, gain);
            // ffmpeg prints one decimal.
            const double lufs = measured["integratedLufs"], lra = measured["loudnessRangeLu"];
            std::cout << convention << " " << side << ": W " << lufs << " LUFS, " << lra
                      << " LU; ffmpeg " << w.integratedLufs << " LUFS, " << w.rangeLu << " LU\n";
            EXPECT_NEAR (lufs, w.integratedLufs, 0.1);
            EXPECT_NEAR (lra, w.rangeLu, 0.2);
            if (std::string (side) == "in")
            {
                EXPECT_NEAR (lra, 10.0, 0.3) << "Tech 3342";
                continue;
            }
            if (gain != 1.0)
                continue;
            for (int ch = 0; ch < 4; ++ch)
            {
                const double ours = measured["truePeakDb"][ch];
                const double theirs = ffmpegMeasures (audioFile, ch).truePeakDb;
                std::cout << "  channel " << ch + 1 << " true peak " << ours << " dBTP; ffmpeg "
                          << theirs << "\n";
                EXPECT_NEAR (ours, theirs, 0.2) << "channel " << ch + 1;
            }
        }
    }
}

TEST_F (RenderBatch, ReportsNameFilesOutsideAsciiAsTheyAre)
{
    // Escaped as JSON does: UTF-16 units, a surrogate pair beyond the first plane (JUCE's own
    // JSON reader does not join such pairs, so the text is checked).
    const auto name = juce::String::fromUTF8 ("\xe9\x8c\xb2\xe9\x9f\xb3 \xf0\x9f\x8e\xa7.wav");
    const auto in = file ("in").getChildFile (name);
    ASSERT_TRUE (file ("in").createDirectory());
    writeAudio (in, loudTestSignal (48000.0, 4800, 7));

    const auto result =
        runRenderer ({ "--out-dir", path ("out"), path ("in"), "--report", path ("report.json") });
    ASSERT_EQ (result.exitCode, 0) << result.errors;
    const auto text = file ("report.json").loadFileAsString();
    EXPECT_TRUE (text.contains ("\\u9332\\u97f3 \\ud83c\\udfa7.wav")) << text;
}
