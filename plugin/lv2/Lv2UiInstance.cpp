#include "plugin/lv2/Lv2UiInstance.h"

#include <cstring>

namespace
{
// The window's knobs by their component names, in port order.
constexpr const char* knobNames[lv2Ports::numKnobs] = {
    "sliderAttack", "sliderRelease", "sliderThreshold", "sliderGain"
};

bool sameBits (float a, float b) noexcept
{
    return std::memcmp (&a, &b, sizeof a) == 0;
}
} // namespace

Lv2UiInstance::Lv2UiInstance (Lv2Instance& p,
                              LV2UI_Write_Function writeFunction,
                              LV2UI_Controller c,
                              void* parentWindow,
                              const LV2UI_Resize* resize,
                              const LV2UI_Touch* t) :
    plugin (p),
    write (writeFunction),
    controller (c),
    touch (t)
{
    for (size_t k = 0; k < lastWritten.size(); ++k)
        lastWritten[k] = plugin.lastKnobPortValue (static_cast<int> (k));

    editor.reset (plugin.getProcessor().createEditorIfNeeded());
    if (editor == nullptr)
        return;

    for (auto* child : editor->getChildren())
        if (auto* slider = dynamic_cast<juce::Slider*> (child))
            for (size_t k = 0; k < knobs.size(); ++k)
                if (slider->getName() == knobNames[k])
                    knobs[k] = slider;
    for (auto* knob : knobs)
        if (knob != nullptr)
            knob->addListener (this);

    editor->setOpaque (true);
    editor->addToDesktop (0, parentWindow);
    editor->setVisible (true);
    if (resize != nullptr && resize->ui_resize != nullptr)
        resize->ui_resize (resize->handle, editor->getWidth(), editor->getHeight());
}

Lv2UiInstance::~Lv2UiInstance()
{
    if (editor == nullptr)
        return;
    for (auto* knob : knobs)
        if (knob != nullptr)
            knob->removeListener (this);
    plugin.getProcessor().editorBeingDeleted (editor.get());
    editor->removeFromDesktop();
    editor.reset();
}

LV2UI_Widget Lv2UiInstance::getWidget() const noexcept
{
    return editor != nullptr ? editor->getWindowHandle() : nullptr;
}

int Lv2UiInstance::idle()
{
    Lv2MessageLoop::dispatchPending();
    return 0;
}

std::uint32_t Lv2UiInstance::firstKnobPort() const noexcept
{
    return plugin.getPlugin().ports().firstKnob();
}

int Lv2UiInstance::knobIndexOf (const juce::Slider* slider) const noexcept
{
    for (size_t k = 0; k < knobs.size(); ++k)
        if (slider != nullptr && knobs[k] == slider)
            return static_cast<int> (k);
    return -1;
}

void Lv2UiInstance::portEvent (std::uint32_t port,
                               std::uint32_t size,
                               std::uint32_t format,
                               const void* data)
{
    const auto ports = plugin.getPlugin().ports();
    const auto* knob = lv2Ports::knobAt (ports, port);
    if (knob == nullptr || format != 0 || size != sizeof (float) || data == nullptr)
        return;

    float value;
    std::memcpy (&value, data, sizeof value);
    const auto k = static_cast<size_t> (port - ports.firstKnob());
    // The host telling back what this window wrote, or what the plug-in has already taken over,
    // is no change; nor is anything while the user holds the knob.
    if (dragging[k] || sameBits (value, lastWritten[k])
        || sameBits (value, plugin.lastKnobPortValue (static_cast<int> (k))))
        return;

    lastWritten[k] = value;
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    plugin.getProcessor().setParameter (knob->index, lv2Ports::toNormalised (*knob, value));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

void Lv2UiInstance::sliderValueChanged (juce::Slider* slider)
{
    const int k = knobIndexOf (slider);
    if (k < 0)
        return;
    // The slider's own value: the plug-in turns it into the same normalised value as the window.
    const float value = static_cast<float> (slider->getValue());
    lastWritten[static_cast<size_t> (k)] = value;
    write (controller, firstKnobPort() + static_cast<std::uint32_t> (k), sizeof value, 0, &value);
}

void Lv2UiInstance::sliderDragStarted (juce::Slider* slider)
{
    const int k = knobIndexOf (slider);
    if (k < 0)
        return;
    dragging[static_cast<size_t> (k)] = true;
    touchKnob (k, true);
}

void Lv2UiInstance::sliderDragEnded (juce::Slider* slider)
{
    const int k = knobIndexOf (slider);
    if (k < 0)
        return;
    dragging[static_cast<size_t> (k)] = false;
    touchKnob (k, false);
}

void Lv2UiInstance::touchKnob (int knob, bool grabbed) const
{
    if (touch != nullptr && touch->touch != nullptr)
        touch->touch (touch->handle, firstKnobPort() + static_cast<std::uint32_t> (knob), grabbed);
}
