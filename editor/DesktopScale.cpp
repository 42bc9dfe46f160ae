#include "editor/DesktopScale.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <cstdlib>

namespace desktopScale
{
namespace
{
    float quarterWithinRange (double scale)
    {
        return static_cast<float> (juce::jlimit (1.0, 4.0, std::round (scale * 4.0) / 4.0));
    }

#if JUCE_LINUX || JUCE_BSD
    // libX11 is loaded, not linked, as JUCE loads it: the module must load on machines without
    // it (a headless render host).
    juce::String readXResources()
    {
        juce::DynamicLibrary x11;
        if (! x11.open ("libX11.so.6"))
            return {};
        using OpenDisplay = void* (*) (const char*);
        using ResourceString = char* (*) (void*);
        using CloseDisplay = int (*) (void*);
        auto* openDisplay = reinterpret_cast<OpenDisplay> (x11.getFunction ("XOpenDisplay"));
        auto* resourceString =
            reinterpret_cast<ResourceString> (x11.getFunction ("XResourceManagerString"));
        auto* closeDisplay = reinterpret_cast<CloseDisplay> (x11.getFunction ("XCloseDisplay"));
        if (openDisplay == nullptr || resourceString == nullptr || closeDisplay == nullptr)
            return {};

        void* display = openDisplay (nullptr);
        if (display == nullptr)
            return {};
        const juce::String resources (juce::CharPointer_UTF8 (resourceString (display)));
        closeDisplay (display);
        return resources;
    }
#endif
} // namespace

float fromSettings (const juce::String& resources, const juce::String& gdkScale)
{
    for (const auto& line : juce::StringArray::fromLines (resources))
        if (line.trimStart().startsWith ("Xft.dpi:"))
        {
            const double dpi =
                line.fromFirstOccurrenceOf (":", false, false).trim().getDoubleValue();
            if (dpi > 0.0)
                return quarterWithinRange (dpi / 96.0);
        }

    const int gdk = gdkScale.trim().getIntValue();
    return gdk >= 1 ? quarterWithinRange (gdk) : 1.0f;
}

float forWindow()
{
#if JUCE_LINUX || JUCE_BSD
    // The Standalone app's window is scaled by JUCE when it finds a display scale itself.
    if (const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        if (display->scale > 1.001)
            return 1.0f;
    return fromSettings (readXResources(),
                         juce::SystemStats::getEnvironmentVariable ("GDK_SCALE", {}));
#else
    return 1.0f;
#endif
}
} // namespace desktopScale
