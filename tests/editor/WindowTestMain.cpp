#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#include <cstdio>

namespace
{
// A plug-in leaves X error handling to its host; JUCE installs its own handler only in
// applications. Without one, Xlib ends the process on the first error. Hosts install a handler
// that reports and carries on, as this one does.
int reportXError (Display* display, XErrorEvent* event)
{
    char text[128] = {};
    XGetErrorText (display, event->error_code, text, sizeof text);
    std::fprintf (stderr, "X error ignored: %s (request %d)\n", text, event->request_code);
    return 0;
}

// JUCE looks up the window manager's atoms without creating them and uses them even when they are
// missing, which a bare X server (no window manager has run on it) answers with BadAtom errors.
// The connection stays open: the server forgets its atoms when its last client leaves.
Display* createWindowManagerAtoms()
{
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return nullptr;
    const char* names[] = { "WM_PROTOCOLS",
                            "WM_TAKE_FOCUS",
                            "WM_DELETE_WINDOW",
                            "WM_CHANGE_STATE",
                            "WM_STATE",
                            "_NET_WM_PING",
                            "_NET_WM_WINDOW_TYPE",
                            "_NET_WM_WINDOW_TYPE_NORMAL",
                            "_NET_WM_WINDOW_TYPE_COMBO",
                            "_NET_WM_STATE",
                            "_NET_WM_STATE_HIDDEN",
                            "_NET_WM_ALLOWED_ACTIONS",
                            "_NET_FRAME_EXTENTS",
                            "_NET_WORKAREA",
                            "_MOTIF_WM_HINTS" };
    for (const char* name : names)
        XInternAtom (display, name, False);
    XSync (display, False);
    return display;
}
} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    XSetErrorHandler (reportXError);
    Display* atomKeeper = createWindowManagerAtoms();
    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI gui;
        result = RUN_ALL_TESTS();
    }
    if (atomKeeper != nullptr)
        XCloseDisplay (atomKeeper);
    return result;
}
