#pragma once

// Running another program from a host test (a host, a scanner, the renderer, xdotool) and
// waiting for it, with a time limit where the program may hang.

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ProgramOptions
{
    /** Variables set for the program on top of the test's own; an empty value removes one. */
    std::map<std::string, std::string> environment;
    /** Where its standard output and error go (and are read back from); empty: the test's own. */
    std::filesystem::path outputPath;
    /** Killed after this many seconds; 0 waits as long as it runs. */
    int timeoutSeconds = 0;
    /** Called over and over while it runs (a host's event loop, say), else the wait sleeps. */
    std::function<void()> whileRunning;
    /** Called with its process id when the time is up, before it is killed. */
    std::function<void (int)> beforeKill;
};

struct ProgramResult
{
    bool timedOut = false;
    int signal = 0;     // the signal that ended it, if one did
    int exitCode = -1;  // its exit status, if it exited
    std::string output; // what it wrote to ProgramOptions::outputPath

    bool crashed() const { return timedOut || signal != 0; }
};

/** Runs args[0] (looked up in PATH when it names no folder) with args as its arguments, in a
    process group of its own that is killed once it ends (anything it left running goes too). */
ProgramResult runProgram (const std::vector<std::string>& args, const ProgramOptions& options = {});
