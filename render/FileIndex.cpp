#include "render/FileIndex.h"

#include "render/Platform.h"

#include <filesystem>

namespace
{
std::optional<std::string> canonicalPath (const juce::File& file)
{
    std::error_code error;
    const auto path = std::filesystem::weakly_canonical (Platform::pathOf (file), error);
    if (error)
        return std::nullopt;
    return Platform::comparable (path);
}
} // namespace

void FileIndex::add (const juce::File& file, size_t number)
{
    if (const auto path = canonicalPath (file))
        paths.emplace (*path, number);
    if (const auto node = Platform::identityOf (file))
        nodes.emplace (*node, number);
}

std::optional<size_t> FileIndex::find (const juce::File& file) const
{
    if (const auto path = canonicalPath (file))
        if (const auto at = paths.find (*path); at != paths.end())
            return at->second;
    if (const auto node = Platform::identityOf (file))
        if (const auto at = nodes.find (*node); at != nodes.end())
            return at->second;
    return std::nullopt;
}
