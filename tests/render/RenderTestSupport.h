#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

/** Audio as a test sees it: one vector per channel. */
struct Audio
{
    double sampleRate = 48000.0;
    std::vector<std::vector<float>> channels;
    int bitsPerSample = 0;
    bool floatingPoint = false;
    juce::String formatName;

    size_t numFrames() const { return channels.empty() ? 0 : channels[0].size(); }
};

enum class FileKind
{
    wavFloat,
    wav24,
    aiff24,
    flac24
};

/** Writes audio with JUCE's writers; fails the test when it cannot. */
void writeAudio (const juce::File& file, const Audio& audio, FileKind kind = FileKind::wavFloat);

/** Reads a whole file; an empty Audio when it is not readable. */
Audio readAudio (const juce::File& file);

/** Four channels of noise bursts with peaks up to about +9.5 dBFS, from a fixed seed. */
Audio loudTestSignal (double sampleRate, size_t numFrames, unsigned seed);

struct RunResult
{
    int exitCode = -1;  // 128 + signal when the program was killed
    std::string output; // stdout
    std::string errors; // stderr
};

/** Runs orvalis-render with the arguments and waits for it. */
RunResult runRenderer (const std::vector<std::string>& args);

/** Starts orvalis-render without waiting; its output goes to files in the folder. */
int startRenderer (const std::vector<std::string>& args, const juce::File& logFolder);

/** As startRenderer, but the renderer runs under another program: wrapper holds its command. */
int startRendererUnder (const std::vector<std::string>& wrapper,
                        const std::vector<std::string>& args,
                        const juce::File& logFolder);

/** Waits for a started renderer and collects what it printed. */
RunResult waitForRenderer (int pid, const juce::File& logFolder);

/** The four numbers of a summary row such as "output sample peak"; -1000 stands for -inf. */
std::vector<double> summaryRow (const std::string& summary, const std::string& label);

/** The first number after the label that starts a summary line ("latency"). */
double summaryNumber (const std::string& summary, const std::string& label);

/** Names of the files in a folder, hidden ones included. */
std::vector<std::string> filesIn (const juce::File& folder);

/** A test with a fresh scratch folder of its own (removed after the test), and the names of files
    in it. */
class ScratchFolderTest : public ::testing::Test
{
protected:
    explicit ScratchFolderTest (const char* namePrefix) : prefix (namePrefix) {}

    void SetUp() override
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getChildFile (juce::String (prefix) + juce::Uuid().toDashedString());
        ASSERT_TRUE (folder.createDirectory());
    }
    void TearDown() override { folder.deleteRecursively(); }

    juce::File file (const std::string& name) const { return folder.getChildFile (name); }
    std::string path (const std::string& name) const
    {
        return file (name).getFullPathName().toStdString();
    }

    juce::File folder;

private:
    const char* prefix;
};
