#include "render/StopSignal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <initializer_list>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace
{
// Set by the signal handler, read by every worker of a batch: a lock-free atomic is safe in both.
std::atomic<int> stopSignal { 0 };
static_assert (std::atomic<int>::is_always_lock_free);

#ifndef _WIN32
extern "C" void onStopSignal (int signal);
extern "C" void onStopSignal (int signal)
{
    const int savedErrno = errno;
    stopSignal.store (signal, std::memory_order_relaxed);
    errno = savedErrno;
}
#else
// Windows has no SIGHUP and no sigaction: Ctrl-C arrives as a console event, and Ctrl-Break as
// the nearest thing to SIGTERM. The handler runs on a thread of its own.
BOOL WINAPI onConsoleEvent (DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    stopSignal.store (event == CTRL_C_EVENT ? SIGINT : SIGTERM, std::memory_order_relaxed);
    return TRUE;
}
#endif
} // namespace

namespace StopSignal
{
void install()
{
#ifdef _WIN32
    SetConsoleCtrlHandler (onConsoleEvent, TRUE);
#else
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset (&action.sa_mask);
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction (signal, &action, nullptr);
#endif
}

int received()
{
    return stopSignal.load();
}
} // namespace StopSignal
