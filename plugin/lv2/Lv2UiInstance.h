#pragma once

#include "plugin/lv2/Lv2Instance.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cstdint>
#include <memory>

/**
    The plug-in's window as an LV2 UI (ui:X11UI), embedded in the host's ui:parent window and
    reaching its processor through instance-access for the meters.

    A knob the user moves is written to its control port (and framed with ui:touch when the host
    offers it), so the host sees and records the change; the window itself sets the processor as
    in every format. A host's port change reaches the processor through the plug-in's next run,
    and also from port_event here, which moves the knob even while the host runs no audio.

    The window is drawn at the host's ui:scaleFactor (given as an option when the UI is made, or
    later through the options interface) times its own Size; the host is told each new size
    through ui:resize.

    Lives on the host's UI thread, which it makes JUCE's message thread; the host's idle calls
    run JUCE's message loop (Lv2MessageLoop).
*/
class Lv2UiInstance : private juce::Slider::Listener
{
public:
    /** Opens the window in parentWindow; getWidget() is null if the editor could not be made. */
    Lv2UiInstance (Lv2Instance& plugin,
                   LV2UI_Write_Function write,
                   LV2UI_Controller controller,
                   void* parentWindow,
                   const LV2UI_Resize* resize,
                   const LV2UI_Touch* touch,
                   const LV2_URID_Map* map,
                   const LV2_Options_Option* options);
    ~Lv2UiInstance() override;

    Lv2UiInstance (const Lv2UiInstance&) = delete;
    Lv2UiInstance& operator= (const Lv2UiInstance&) = delete;

    LV2UI_Widget getWidget() const noexcept;
    void portEvent (std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* data);
    static int idle();

    /** Takes the host's ui:scaleFactor from options (ignoring any other option): the options
        interface's set. */
    std::uint32_t setOptions (const LV2_Options_Option* options);

private:
    int knobIndexOf (const juce::Slider*) const noexcept;
    std::uint32_t firstKnobPort() const noexcept;
    void sliderValueChanged (juce::Slider*) override;
    void sliderDragStarted (juce::Slider*) override;
    void sliderDragEnded (juce::Slider*) override;
    void touchKnob (int knob, bool grabbed) const;
    void fitToWindow();

    class Frame;

    Lv2MessageLoop::User juceRuntime;
    Lv2MessageLoop::HostDriven hostDrivenLoop;
    Lv2Instance& plugin;
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Touch* touch;
    const LV2UI_Resize* resize;
    LV2_URID scaleFactorKey = 0, floatType = 0; // 0 without urid:map

    // On the desktop, holding the editor at its scaled size.
    std::unique_ptr<Frame> frame;

    std::unique_ptr<juce::AudioProcessorEditor> editor;
    std::array<juce::Slider*, lv2Ports::numKnobs> knobs {}; // the editor's, in port order
    std::array<float, lv2Ports::numKnobs> lastWritten {};
    std::array<bool, lv2Ports::numKnobs> dragging {};
};
