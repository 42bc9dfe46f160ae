#include "render/FileIndex.h"

#include <filesystem>
#include <sys/stat.h>

namespace
{
std::optional<std::string> canonicalPath (const juce::File& file)
{
    std::error_code error;
    const auto path = std::filesystem::weakly_canonical (
        std::filesystem::path (file.getFullPathName().toStdString()), error);
    if (error)
        return std::nullopt;
    return path.string();
}

std::optional<std::pair<dev_t, ino_t>> nodeOf (const juce::File& file)
{
    struct stat info
    {
    };
    if (::stat (file.getFullPathName().toRawUTF8(), &info) != 0)
        return std::nullopt;
    return std::make_pair (info.st_dev, info.st_ino);
}
} // namespace

void FileIndex::add (const juce::File& file, size_t number)
{
    if (const auto path = canonicalPath (file))
        paths.emplace (*path, number);
    if (const auto node = nodeOf (file))
        nodes.emplace (*node, number);
}

std::optional<size_t> FileIndex::find (const juce::File& file) const
{
    if (const auto path = canonicalPath (file))
        if (const auto at = paths.find (*path); at != paths.end())
            return at->second;
    if (const auto node = nodeOf (file))
        if (const auto at = nodes.find (*node); at != nodes.end())
            return at->second;
    return std::nullopt;
}
