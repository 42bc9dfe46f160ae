#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

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

/** Waits for a started renderer and collects what it printed. */
RunResult waitForRenderer (int pid, const juce::File& logFolder);

/** The four numbers of a summary row such as "output sample peak"; -1000 stands for -inf. */
std::vector<double> summaryRow (const std::string& summary, const std::string& label);

/** The first number after the label that starts a summary line ("latency"). */
double summaryNumber (const std::string& summary, const std::string& label);

/** Names of the files in a folder, hidden ones included. */
std::vector<std::string> filesIn (const juce::File& folder);
