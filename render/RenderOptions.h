#pragma once

#include "processor/Parameters.h"

#include <juce_core/juce_core.h>

#include <array>
#include <optional>

/** What the command line asks orvalis-render to do. */
struct RenderOptions
{
    enum class Format
    {
        wav32,
        wav24,
        flac,
        aiff24 // only as an AIFF input's own format in the batch form
    };

    /** How W is scaled for the loudness figures: FuMa's W is 3 dB below ambiX's. */
    enum class Convention
    {
        ambiX,
        fuma
    };

    static constexpr int defaultBlockSize = 512;
    static constexpr int maxBlockSize = 8192;

    bool help = false;
    bool version = false;
    bool demo = false;
    juce::String input; // empty with --demo and in the batch form
    juce::String output;
    // The batch form: --out-dir DIR and any number of input files and folders.
    juce::String outDir;
    juce::StringArray inputs;
    int jobs = 0;                  // 0: one worker per core
    juce::StringArray reportFiles; // .json or .csv
    std::optional<double> targetTruePeakDb;
    std::optional<double> targetLoudnessLufs; // --target-loudness: the input gain chosen per file
    // --shard K/N: the batch form renders the K-th of N shares of its inputs (K from 1).
    struct Shard
    {
        int index = 1, count = 1;
    };
    std::optional<Shard> shard;
    // --merge-reports OUT IN...: joins the JSON reports of shards (or of batches) into OUT.
    juce::String mergeOutput;
    juce::StringArray mergeInputs;
    Convention convention = Convention::ambiX;
    bool inputLoudness = false; // the output's loudness is always measured
    // The knobs in their units, by parameters::Index (--gain, --attack, --release, --ceiling).
    // Unset values keep the plug-in's default, or the value from --settings.
    std::array<std::optional<double>, parameters::numKnobs> knobValues;
    std::optional<bool> truePeak; // --true-peak or --sample-peak
    int blockSize = defaultBlockSize;
    bool raw = false;
    bool settled = false;
    juce::String settingsFile;
    juce::String plotFile;
    std::optional<Format> format; // unset: chosen from OUTPUT's name

    /** Reads the arguments (without the program name); on failure returns a one-line reason. */
    static std::optional<juce::String> parse (const juce::StringArray& args, RenderOptions& result);

    bool isBatch() const { return outDir.isNotEmpty(); }
    bool isMerge() const { return mergeOutput.isNotEmpty(); }

    /** The format to write: --format if given, else FLAC for a .flac name, else 32-bit float WAV. */
    Format outputFormat() const;

    static juce::String formatName (Format format);
    static juce::String conventionName (Convention convention);
};
