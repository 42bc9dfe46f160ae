#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

void writeAudio (const juce::File& file, const Audio& audio, FileKind kind)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    ASSERT_TRUE (stream->openedOk()) << file.getFullPathName();

    const auto numChannels = static_cast<unsigned> (audio.channels.size());
    std::unique_ptr<juce::AudioFormatWriter> writer;
    switch (kind)
    {
        case FileKind::wavFloat:
        case FileKind::wav24:
            writer.reset (juce::WavAudioFormat().createWriterFor (
                stream.get(),
                audio.sampleRate,
                juce::AudioChannelSet::discreteChannels (static_cast<int> (numChannels)),
                kind == FileKind::wavFloat ? 32 : 24,
                {},
                0));
            break;
        case FileKind::aiff24:
            writer.reset (juce::AiffAudioFormat().createWriterFor (
                stream.get(), audio.sampleRate, numChannels, 24, {}, 0));
            break;
        case FileKind::flac24:
            writer.reset (juce::FlacAudioFormat().createWriterFor (
                stream.get(), audio.sampleRate, numChannels, 24, {}, 5));
            break;
    }
    ASSERT_NE (writer, nullptr);
    stream.release();

    std::vector<const float*> pointers;
    for (const auto& channel : audio.channels)
        pointers.push_back (channel.data());
    ASSERT_TRUE (writer->writeFromFloatArrays (
        pointers.data(), static_cast<int> (numChannels), static_cast<int> (audio.numFrames())));
}

Audio readAudio (const juce::File& file)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (
        formats.createReaderFor (file.createInputStream()));
    Audio audio;
    if (reader == nullptr)
        return audio;

    audio.sampleRate = reader->sampleRate;
    audio.bitsPerSample = static_cast<int> (reader->bitsPerSample);
    audio.floatingPoint = reader->usesFloatingPointData;
    audio.formatName = reader->getFormatName();
    const auto frames = static_cast<size_t> (reader->lengthInSamples);
    audio.channels.assign (reader->numChannels, std::vector<float> (frames));
    std::vector<float*> pointers;
    for (auto& channel : audio.channels)
        pointers.push_back (channel.data());
    if (! reader->read (
            pointers.data(), static_cast<int> (pointers.size()), 0, static_cast<int> (frames)))
        audio.channels.clear();
    return audio;
}

Audio loudTestSignal (double sampleRate, size_t numFrames, unsigned seed)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    std::uniform_real_distribution<float> level (0.05f, 3.0f);

    Audio audio;
    audio.sampleRate = sampleRate;
    audio.channels.assign (4, std::vector<float> (numFrames));
    const auto burst = static_cast<size_t> (sampleRate * 0.05);
    float envelope = 1.0f;
    for (size_t i = 0; i < numFrames; ++i)
    {
        if (i % burst == 0)
            envelope = level (random);
        for (size_t ch = 0; ch < 4; ++ch)
            audio.channels[ch][i] =
                envelope * noise (random) * (1.0f - 0.2f * static_cast<float> (ch));
    }
    return audio;
}

namespace
{
std::vector<char*> argumentVector (const std::vector<std::string>& wrapper,
                                   const std::vector<std::string>& args,
                                   std::vector<std::string>& storage)
{
    storage = wrapper;
    storage.push_back (ORVALIS_RENDER_BINARY);
    storage.insert (storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage)
        argv.push_back (arg.data());
    argv.push_back (nullptr);
    return argv;
}
} // namespace

int startRenderer (const std::vector<std::string>& args, const juce::File& logFolder)
{
    return startRendererUnder ({}, args, logFolder);
}

int startRendererUnder (const std::vector<std::string>& wrapper,
                        const std::vector<std::string>& args,
                        const juce::File& logFolder)
{
    const auto out = logFolder.getChildFile ("stdout.txt").getFullPathName().toStdString();
    const auto err = logFolder.getChildFile ("stderr.txt").getFullPathName().toStdString();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen (
        &actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen (
        &actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<std::string> storage;
    auto argv = argumentVector (wrapper, args, storage);
    pid_t pid = -1;
    const int status = posix_spawn (&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy (&actions);
    EXPECT_EQ (status, 0) << "cannot start " << argv[0];
    return status == 0 ? pid : -1;
}

RunResult waitForRenderer (int pid, const juce::File& logFolder)
{
    RunResult result;
    int status = 0;
    if (pid <= 0 || waitpid (pid, &status, 0) != pid)
        return result;
    result.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
    result.output = logFolder.getChildFile ("stdout.txt").loadFileAsString().toStdString();
    result.errors = logFolder.getChildFile ("stderr.txt").loadFileAsString().toStdString();
#if JUCE_DEBUG
    // A build with JUCE's checks on (the sanitizer build): JUCE announces its version when the
    // program starts, which the program's own messages are counted without; and JUCE's leak
    // detector reports at exit.
    const std::string banner = "JUCE v"
                               + juce::SystemStats::getJUCEVersion()
                                     .fromFirstOccurrenceOf ("JUCE v", false, false)
                                     .toStdString()
                               + "\n";
    if (result.errors.rfind (banner, 0) == 0)
        result.errors.erase (0, banner.size());
    EXPECT_EQ (result.errors.find ("Leaked objects detected"), std::string::npos) << result.errors;
#endif
    logFolder.getChildFile ("stdout.txt").deleteFile();
    logFolder.getChildFile ("stderr.txt").deleteFile();
    return result;
}

RunResult runRenderer (const std::vector<std::string>& args)
{
    const auto logs = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("orvalis-render-log-" + juce::Uuid().toDashedString());
    logs.createDirectory();
    auto result = waitForRenderer (startRenderer (args, logs), logs);
    logs.deleteRecursively();
    return result;
}

std::vector<double> summaryRow (const std::string& summary, const std::string& label)
{
    std::istringstream lines (summary);
    std::string line;
    while (std::getline (lines, line))
    {
        if (line.rfind (label, 0) != 0)
            continue;
        std::istringstream fields (line.substr (label.size()));
        std::vector<double> values;
        std::string field;
        while (fields >> field && values.size() < 4)
            values.push_back (field == "-inf" ? -1000.0 : std::stod (field));
        return values;
    }
    ADD_FAILURE() << "no row '" << label << "' in:\n" << summary;
    return {};
}

double summaryNumber (const std::string& summary, const std::string& label)
{
    std::istringstream lines (summary);
    std::string line;
    while (std::getline (lines, line))
    {
        if (line.rfind (label, 0) != 0)
            continue;
        std::istringstream rest (line.substr (label.size()));
        double value = std::nan ("");
        rest >> value;
        return value;
    }
    ADD_FAILURE() << "no line '" << label << "' in:\n" << summary;
    return std::nan ("");
}

std::vector<std::string> filesIn (const juce::File& folder)
{
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator (folder.getFullPathName().toStdString()))
        names.push_back (entry.path().filename().string());
    std::sort (names.begin(), names.end());
    return names;
}
