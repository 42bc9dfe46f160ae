#include "render/Platform.h"

#include <algorithm>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
int coresOfThisMachine()
{
    return static_cast<int> (std::max (1u, std::thread::hardware_concurrency()));
}

#ifdef _WIN32
/** A handle on an existing file or folder, with the access asked for; closed on destruction. */
struct OpenedFile
{
    OpenedFile (const juce::File& file, DWORD access) :
        handle (CreateFileW (file.getFullPathName().toWideCharPointer(),
                             access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, // folders too
                             nullptr))
    {
    }
    ~OpenedFile()
    {
        if (isOpen())
            CloseHandle (handle);
    }
    OpenedFile (const OpenedFile&) = delete;
    OpenedFile& operator= (const OpenedFile&) = delete;

    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

    HANDLE handle;
};
#endif
} // namespace

namespace Platform
{
#ifdef _WIN32
juce::StringArray arguments (int argc, char* argv[])
{
    juce::StringArray args;
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW (GetCommandLineW(), &count))
    {
        for (int i = 1; i < count; ++i)
            args.add (juce::String (wide[i]));
        LocalFree (wide);
        return args;
    }
    for (int i = 1; i < argc; ++i)
        args.add (juce::String (argv[i]));
    return args;
}

void prepareConsole()
{
    SetConsoleOutputCP (CP_UTF8);
    const HANDLE error = GetStdHandle (STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode (error, &mode))
        SetConsoleMode (error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool standardErrorIsTerminal()
{
    // A console that does not take the progress line's escape sequence (before Windows 10)
    // gets the plain progress line.
    DWORD mode = 0;
    return GetConsoleMode (GetStdHandle (STD_ERROR_HANDLE), &mode)
           && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int availableCores()
{
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask (GetCurrentProcess(), &process, &system) && process != 0)
    {
        int count = 0;
        for (; process != 0; process &= process - 1)
            ++count;
        return count;
    }
    return coresOfThisMachine();
}

std::string comparable (const std::filesystem::path& path)
{
    return juce::String (path.native().c_str()).toLowerCase().toStdString();
}

bool canRead (const juce::File& file)
{
    return OpenedFile (file, GENERIC_READ).isOpen();
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> identityOf (const juce::File& file)
{
    const OpenedFile opened (file, 0);
    BY_HANDLE_FILE_INFORMATION info {};
    if (! opened.isOpen() || ! GetFileInformationByHandle (opened.handle, &info))
        return std::nullopt;
    return std::make_pair (static_cast<std::uint64_t> (info.dwVolumeSerialNumber),
                           (static_cast<std::uint64_t> (info.nFileIndexHigh) << 32)
                               | info.nFileIndexLow);
}
ReadOnlyFile::ReadOnlyFile (const juce::File& file) :
    handle (
        reinterpret_cast<std::intptr_t> (CreateFileW (file.getFullPathName().toWideCharPointer(),
                                                      GENERIC_READ,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                      nullptr,
                                                      OPEN_EXISTING,
                                                      FILE_FLAG_SEQUENTIAL_SCAN,
                                                      nullptr)))
{
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (isOpen())
        CloseHandle (reinterpret_cast<HANDLE> (handle));
}

bool ReadOnlyFile::isOpen() const noexcept
{
    return reinterpret_cast<HANDLE> (handle) != INVALID_HANDLE_VALUE;
}

std::int64_t
ReadOnlyFile::readAt (void* destination, std::size_t numBytes, std::int64_t offset) noexcept
{
    OVERLAPPED at {};
    at.Offset = static_cast<DWORD> (static_cast<std::uint64_t> (offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD> (static_cast<std::uint64_t> (offset) >> 32);
    DWORD got = 0;
    const auto wanted = static_cast<DWORD> (std::min<std::size_t> (numBytes, 1u << 30));
    if (! ReadFile (reinterpret_cast<HANDLE> (handle), destination, wanted, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<std::int64_t> (got);
}
#else
juce::StringArray arguments (int argc, char* argv[])
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));
    return args;
}

void prepareConsole()
{
}

bool standardErrorIsTerminal()
{
    return ::isatty (STDERR_FILENO) == 1;
}

int availableCores()
{
    cpu_set_t set;
    CPU_ZERO (&set);
    if (sched_getaffinity (0, sizeof (set), &set) == 0)
        return std::max (1, CPU_COUNT (&set));
    return coresOfThisMachine();
}

std::string comparable (const std::filesystem::path& path)
{
    return path.string();
}

bool canRead (const juce::File& file)
{
    return ::access (file.getFullPathName().toRawUTF8(), R_OK) == 0;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> identityOf (const juce::File& file)
{
    struct stat info
    {
    };
    if (::stat (file.getFullPathName().toRawUTF8(), &info) != 0)
        return std::nullopt;
    return std::make_pair (static_cast<std::uint64_t> (info.st_dev),
                           static_cast<std::uint64_t> (info.st_ino));
}
ReadOnlyFile::ReadOnlyFile (const juce::File& file) :
    handle (::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_CLOEXEC))
{
#if defined(POSIX_FADV_SEQUENTIAL)
    if (isOpen())
        ::posix_fadvise (static_cast<int> (handle), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (isOpen())
        ::close (static_cast<int> (handle));
}

bool ReadOnlyFile::isOpen() const noexcept
{
    return handle >= 0;
}

std::int64_t
ReadOnlyFile::readAt (void* destination, std::size_t numBytes, std::int64_t offset) noexcept
{
    return ::pread (static_cast<int> (handle), destination, numBytes, static_cast<off_t> (offset));
}
#endif

std::filesystem::path pathOf (const juce::File& file)
{
    return std::filesystem::u8path (file.getFullPathName().toStdString());
}

juce::String textOf (const std::filesystem::path& path)
{
    return juce::String::fromUTF8 (path.u8string().c_str());
}
} // namespace Platform
