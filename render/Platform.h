#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

/**
    What the renderer asks of the operating system, the same on Linux and Windows. Names cross
    here as Unicode: juce::String and juce::File hold them as such everywhere, while a narrow
    std::string is UTF-8 on Linux but the ANSI code page on Windows.
*/
namespace Platform
{
/** The command line after the program's name. On Windows from the wide command line: argv holds
    only the characters of the ANSI code page. */
juce::StringArray arguments (int argc, char* argv[]);

/** Readies the console for UTF-8 text and the progress line's escape sequence (Windows). */
void prepareConsole();

/** True when standard error is a terminal (a console on Windows). */
bool standardErrorIsTerminal();

/** The cores this process may run on. */
int availableCores();

/** A file's name as a path, and a path's name as text. */
std::filesystem::path pathOf (const juce::File& file);
juce::String textOf (const std::filesystem::path& path);

/** A path in the form two names of one file share: as it is on Linux, in lower case on
    Windows, whose file names ignore case. */
std::string comparable (const std::filesystem::path& path);

/** True when the file can be opened for reading. */
bool canRead (const juce::File& file);

/** What identifies an existing file whatever its name (device and inode; volume and file index
    on Windows), so that hard links are found out. */
std::optional<std::pair<std::uint64_t, std::uint64_t>> identityOf (const juce::File& file);
/** A file opened for reading at given offsets, for inputs read in large pieces. */
class ReadOnlyFile
{
public:
    explicit ReadOnlyFile (const juce::File& file);
    ~ReadOnlyFile();
    ReadOnlyFile (const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator= (const ReadOnlyFile&) = delete;

    bool isOpen() const noexcept;
    /** Reads up to numBytes at offset; returns the bytes read, 0 at the end, -1 on an error. */
    std::int64_t readAt (void* destination, std::size_t numBytes, std::int64_t offset) noexcept;

private:
    std::intptr_t handle; // a HANDLE on Windows, a file descriptor elsewhere
};
} // namespace Platform
