#pragma once

// What a Windows host's GUI thread does between calls into a plug-in, shared by our test hosts.

#ifdef _WIN32
#include <windows.h>
#endif

/** Delivers the window messages queued for this thread, as a Windows host's GUI thread does;
    JUCE's asynchronous updates (such as telling the host that the delay changed) travel that way.
    Nothing to do elsewhere. */
inline void dispatchHostMessages()
{
#ifdef _WIN32
    MSG message;
    while (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage (&message);
        DispatchMessageW (&message);
    }
#endif
}
