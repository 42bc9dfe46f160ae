#pragma once

#include <juce_core/juce_core.h>

/**
    The scale a Linux desktop asks windows to be drawn at, which JUCE 7.0.5 leaves unused in
    plug-ins: the X resources' Xft.dpi over 96 (what KDE, Xfce and GNOME set for a scaled
    display), otherwise GDK_SCALE. Rounded to a quarter, within 1 to 4. Elsewhere, and where the
    desktop asks nothing, 1: on Windows the wrappers hand the system's scale to the window as the
    host's.
*/
namespace desktopScale
{
/** The desktop's scale for a plug-in window, beyond what JUCE already applies itself (the
    Standalone app's display scale). Opens the X display briefly; message thread. */
float forWindow();

/** The scale that the text of an X resource database (RESOURCE_MANAGER) and a GDK_SCALE value
    ask for, 1 when neither does. */
float fromSettings (const juce::String& resources, const juce::String& gdkScale);
} // namespace desktopScale
