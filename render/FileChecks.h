#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/** Checks on the files a render reads and writes; each returns the reason a file will not do. */
namespace FileChecks
{
/** A name given on the command line, relative to the working folder. */
juce::File resolve (const juce::String& path);

/** True when both names lead to one file: the same path after resolving links, or a hard link. */
bool sameFile (const juce::File& a, const juce::File& b);

/** A file that must exist and be readable. */
std::optional<juce::String> checkReadable (const juce::File& file, const juce::String& shownName);

/** A file name to be written: its folder must exist and it must not be a folder. */
std::optional<juce::String> checkWritable (const juce::File& file, const juce::String& shownName);

/** Moves a finished temporary file onto its final name; the reason when it cannot. */
std::optional<juce::String> moveInto (const juce::File& temporary, const juce::File& target);
} // namespace FileChecks
