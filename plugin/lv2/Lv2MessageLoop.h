#pragma once

#include <functional>

/**
    JUCE's runtime inside the LV2 module, for every plug-in instance and window of the process.

    JUCE is initialised while any instance or window exists. Its message loop runs on a thread of
    this module while no window is open, and on the host's UI thread while one is (the window's
    idle calls dispatch the messages), so that the window's port writes happen on the thread the
    host calls the UI on, as LV2 requires. This is how JUCE's own LV2 and VST wrappers drive the
    loop on Linux, with three differences:

    - the processor, and with the first one the shared look-and-feel it installs in juce::Desktop,
      is created and destroyed on the message thread (onMessageThread), never on a host thread
      while the message thread is dispatching;
    - stopping the module's thread to hand the loop to the host never posts JUCE's quit message,
      which would make every later message post fail for the rest of the process;
    - JUCE is shut down, on the calling thread with no loop running, when the last instance or
      window goes, so a host may unload the module afterwards.

    Every function here is for host threads that may block (instantiate, cleanup, the UI thread),
    never for the audio thread.
*/
class Lv2MessageLoop
{
public:
    /** Keeps JUCE initialised and its loop running while alive. */
    class User
    {
    public:
        User();
        ~User();
        User (const User&) = delete;
        User& operator= (const User&) = delete;
    };

    /** Makes the calling thread (the host's UI thread) JUCE's message thread while alive; the
        host drives the loop through dispatchPending. */
    class HostDriven
    {
    public:
        HostDriven();
        ~HostDriven();
        HostDriven (const HostDriven&) = delete;
        HostDriven& operator= (const HostDriven&) = delete;
    };

    /** Runs fn on JUCE's message thread and waits for it. When the host drives the loop from
        another thread, fn runs here instead: a window is open then, so its processor holds the
        shared look-and-feel and fn only counts a reference up or down. */
    static void onMessageThread (const std::function<void()>& fn);

    /** Dispatches every pending message; for the host's UI thread while a HostDriven is alive. */
    static void dispatchPending();
};
