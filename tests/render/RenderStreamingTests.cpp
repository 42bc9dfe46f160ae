// orvalis-render streams: it holds a few blocks, never the file. A two-hour input takes no more
// memory than a one-minute one, and interrupting a long render leaves no OUTPUT behind.
// The inputs are sparse files: silence that takes no disk space, with a second of full-scale
// noise every few minutes. Slow (about two minutes), so labelled "soak".
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
constexpr int rate = 48000;
constexpr juce::int64 twoHours = juce::int64 { 2 } * 3600 * rate;
const char* const timeProgram = "/usr/bin/time";

void putLittleEndian (std::vector<unsigned char>& bytes, std::uint32_t value, int numBytes)
{
    for (int i = 0; i < numBytes; ++i)
        bytes.push_back (static_cast<unsigned char> (value >> (8 * i)));
}

// A four-channel 16-bit WAV of numFrames frames: a hole in the file, which reads as silence,
// with one second of noise every burstEverySeconds seconds.
void writeSparseWav (const juce::File& file, juce::int64 numFrames, int burstEverySeconds)
{
    const auto dataBytes = static_cast<std::uint32_t> (numFrames * 8);
    std::vector<unsigned char> header { 'R', 'I', 'F', 'F' };
    putLittleEndian (header, 36 + dataBytes, 4);
    for (char c : std::string ("WAVEfmt "))
        header.push_back (static_cast<unsigned char> (c));
    putLittleEndian (header, 16, 4);       // fmt chunk size
    putLittleEndian (header, 1, 2);        // PCM
    putLittleEndian (header, 4, 2);        // channels
    putLittleEndian (header, rate, 4);     // frames per second
    putLittleEndian (header, rate * 8, 4); // bytes per second
    putLittleEndian (header, 8, 2);        // bytes per frame
    putLittleEndian (header, 16, 2);       // bits per sample
    for (char c : std::string ("data"))
        header.push_back (static_cast<unsigned char> (c));
    putLittleEndian (header, dataBytes, 4);

    std::vector<std::int16_t> noise (static_cast<size_t> (rate) * 4);
    std::mt19937 rng (7);
    for (auto& sample : noise)
        sample = static_cast<std::int16_t> (static_cast<int> (rng() % 65536) - 32768);

    const int fd = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE (fd, 0);
    ASSERT_EQ (::write (fd, header.data(), header.size()), static_cast<ssize_t> (header.size()));
    ASSERT_EQ (::ftruncate (fd, static_cast<off_t> (header.size() + dataBytes)), 0);
    for (juce::int64 frame = 0; frame < numFrames;
         frame += juce::int64 { burstEverySeconds } * rate)
    {
        const auto frames = std::min<juce::int64> (rate, numFrames - frame);
        const auto bytes = static_cast<size_t> (frames * 8);
        ASSERT_EQ (
            ::pwrite (fd,
                      noise.data(),
                      bytes,
                      static_cast<off_t> (static_cast<juce::int64> (header.size()) + frame * 8)),
            static_cast<ssize_t> (bytes));
    }
    ::close (fd);
}

long maximumResidentKb (const std::string& timeReport)
{
    const std::string label = "Maximum resident set size (kbytes):";
    const auto at = timeReport.find (label);
    if (at == std::string::npos)
        return -1;
    return std::stol (timeReport.substr (at + label.size()));
}

juce::int64 lengthOf (const juce::File& file)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    return reader != nullptr ? reader->lengthInSamples : -1;
}

class RenderStreaming : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (juce::File (timeProgram).existsAsFile())
            << timeProgram << " is missing (Debian package time)";
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getChildFile ("orvalis-render-stream-" + juce::Uuid().toDashedString());
        ASSERT_TRUE (folder.createDirectory());
        logs = folder.getChildFile ("logs");
        ASSERT_TRUE (logs.createDirectory());
    }

    void TearDown() override { folder.deleteRecursively(); }

    std::string path (const char* name) const
    {
        return folder.getChildFile (name).getFullPathName().toStdString();
    }

    juce::File folder, logs;
};
} // namespace

TEST_F (RenderStreaming, TwoHoursTakeNoMoreMemoryThanOneMinute)
{
    writeSparseWav (folder.getChildFile ("minute.wav"), juce::int64 { 60 } * rate, 10);
    writeSparseWav (folder.getChildFile ("hours.wav"), twoHours, 300);

    std::array<long, 2> residentKb {};
    const char* const inputs[] = { "minute.wav", "hours.wav" };
    const char* const outputs[] = { "minute.flac", "hours.flac" };
    for (size_t i = 0; i < 2; ++i)
    {
        const auto started = std::chrono::steady_clock::now();
        const auto result = waitForRenderer (
            startRendererUnder ({ timeProgram, "-v" },
                                { path (inputs[i]), path (outputs[i]), "--gain", "6" },
                                logs),
            logs);
        ASSERT_EQ (result.exitCode, 0) << result.errors;
        residentKb[i] = maximumResidentKb (result.errors);
        ASSERT_GT (residentKb[i], 0) << result.errors;
        EXPECT_EQ (lengthOf (folder.getChildFile (outputs[i])),
                   lengthOf (folder.getChildFile (inputs[i])));
        std::cout
            << inputs[i] << ": largest resident size " << residentKb[i] << " kB, "
            << std::chrono::duration<double> (std::chrono::steady_clock::now() - started).count()
            << " s" << std::endl;
        folder.getChildFile (outputs[i]).deleteFile();
    }

    // 120 times the audio, a few pages more at most (allocator and page-cache noise).
    EXPECT_LE (residentKb[1], residentKb[0] + 4096);
}

TEST_F (RenderStreaming, InterruptedTwoHourRenderLeavesNoOutput)
{
    writeSparseWav (folder.getChildFile ("hours.wav"), twoHours, 300);
    const auto pid = startRenderer ({ path ("hours.wav"), path ("new.flac") }, logs);
    ASSERT_GT (pid, 0);
    std::this_thread::sleep_for (std::chrono::seconds (2)); // well into the audio, far from its end
    ::kill (pid, SIGINT);
    const auto result = waitForRenderer (pid, logs);

    EXPECT_EQ (result.exitCode, 128 + SIGINT) << result.errors;
    EXPECT_EQ (filesIn (folder), (std::vector<std::string> { "hours.wav", "logs" }));
}
