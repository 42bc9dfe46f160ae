#pragma once

/**
    orvalis-render's exit status, as README.md lists it. When several apply to a run, the first
    of failed, targetMissed, offTarget and truncated is given.
*/
enum class ExitStatus : int
{
    done = 0,
    failed = 1,        // a file could not be read or written, or none could be rendered
    usage = 2,         // bad command line, or a batch whose outputs clash (before any render)
    truncated = 3,     // an input held less than its header promised
    targetMissed = 4,  // an output is above --target-true-peak
    offTarget = 5,     // an output's loudness could not be brought to --target-loudness
    interrupted = 130, // SIGINT (Ctrl-C)
    terminated = 143   // SIGTERM
};

/** The status of a run stopped by a signal, 128 + its number (SIGHUP's 129 has no name here). */
constexpr ExitStatus exitStatusForSignal (int signal)
{
    return static_cast<ExitStatus> (128 + signal);
}

/** The number the process exits with and the report gives. */
constexpr int toInt (ExitStatus status)
{
    return static_cast<int> (status);
}
