#pragma once

/**
    Ctrl-C, SIGTERM and SIGHUP stop a render: the handlers only note the signal, and every worker
    polls it between blocks.
*/
namespace StopSignal
{
/** Installs the handlers. */
void install();

/** The signal that asked to stop, 0 while none has. */
int received();
} // namespace StopSignal
