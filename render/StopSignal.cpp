#include "render/StopSignal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace
{
// Set by the signal handler, read by every worker of a batch: a lock-free atomic is safe in both.
std::atomic<int> stopSignal { 0 };
static_assert (std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal (int signal);
extern "C" void onStopSignal (int signal)
{
    const int savedErrno = errno;
    stopSignal.store (signal, std::memory_order_relaxed);
    errno = savedErrno;
}
} // namespace

namespace StopSignal
{
void install()
{
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset (&action.sa_mask);
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction (signal, &action, nullptr);
}

int received()
{
    return stopSignal.load();
}
} // namespace StopSignal
