#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

/**
    Files known by what they are rather than by how they are named: a name found here leads to
    the same file as one added, after resolving links and "..", or as a hard link of it. The
    checks that no output replaces an input, or a report an output, ask this.
*/
class FileIndex
{
public:
    /** Adds a file, which need not exist yet, under a number; a file added twice keeps its first. */
    void add (const juce::File& file, size_t number);

    /** The number of the file that name leads to, if it was added. */
    std::optional<size_t> find (const juce::File& file) const;

private:
    std::map<std::string, size_t> paths;
    std::map<std::pair<std::uint64_t, std::uint64_t>, size_t> nodes;
};
