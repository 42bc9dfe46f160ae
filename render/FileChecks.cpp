#include "render/FileChecks.h"

#include "render/Platform.h"

#include <filesystem>

namespace FileChecks
{
juce::File resolve (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

bool sameFile (const juce::File& a, const juce::File& b)
{
    namespace fs = std::filesystem;
    const auto pa = Platform::pathOf (a), pb = Platform::pathOf (b);
    std::error_code error;
    if (fs::exists (pa, error) && fs::exists (pb, error) && fs::equivalent (pa, pb, error))
        return true;
    std::error_code errorA, errorB;
    const auto ca = fs::weakly_canonical (pa, errorA), cb = fs::weakly_canonical (pb, errorB);
    return ! errorA && ! errorB && ca == cb;
}

std::optional<juce::String> checkReadable (const juce::File& file, const juce::String& shownName)
{
    if (file.isDirectory())
        return shownName + ": is a folder, not a file";
    if (! file.existsAsFile())
        return shownName + ": no such file";
    if (! Platform::canRead (file))
        return shownName + ": cannot be read (permission denied)";
    return std::nullopt;
}

std::optional<juce::String> checkWritable (const juce::File& file, const juce::String& shownName)
{
    if (file.isDirectory())
        return shownName + ": is a folder; give a file name";
    if (! file.getParentDirectory().isDirectory())
        return shownName + ": folder " + file.getParentDirectory().getFullPathName()
               + " does not exist";
    return std::nullopt;
}

std::optional<juce::String> moveInto (const juce::File& temporary, const juce::File& target)
{
    std::error_code error;
    std::filesystem::rename (Platform::pathOf (temporary), Platform::pathOf (target), error);
    if (error)
        return juce::String (error.message());
    return std::nullopt;
}
} // namespace FileChecks
