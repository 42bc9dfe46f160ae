#include "plugin/lv2/Lv2UiInstance.h"

#include <lv2/atom/atom.h>

#include <cmath>
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

// The window in the host's: sized to the editor as its transform scales it.
class Lv2UiInstance::Frame : public juce::Component
{
public:
    explicit Frame (Lv2UiInstance& o) : owner (o) { setOpaque (true); }

    void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); }
    void childBoundsChanged (juce::Component*) override { owner.fitToWindow(); }

private:
    Lv2UiInstance& owner;
};

Lv2UiInstance::Lv2UiInstance (Lv2Instance& p,
                              LV2UI_Write_Function writeFunction,
                              LV2UI_Controller c,
                              void* parentWindow,
                              const LV2UI_Resize* r,
                              const LV2UI_Touch* t,
                              const LV2_URID_Map* map,
                              const LV2_Options_Option* options) :
    plugin (p),
    write (writeFunction),
    controller (c),
    touch (t),
    resize (r)
{
    if (map != nullptr && map->map != nullptr)
    {
        scaleFactorKey = map->map (map->handle, LV2_UI__scaleFactor);
        floatType = map->map (map->handle, LV2_ATOM__Float);
    }

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
    frame = std::make_unique<Frame> (*this);
    frame->setSize (editor->getWidth(), editor->getHeight());
    frame->addAndMakeVisible (*editor);
    frame->addToDesktop (0, parentWindow);
    frame->setVisible (true);
    if (setOptions (options) != LV2_OPTIONS_SUCCESS)
        fitToWindow();
}

Lv2UiInstance::~Lv2UiInstance()
{
    if (editor == nullptr)
        return;
    for (auto* knob : knobs)
        if (knob != nullptr)
            knob->removeListener (this);
    plugin.getProcessor().editorBeingDeleted (editor.get());
    frame->removeFromDesktop();
    frame->removeChildComponent (editor.get());
    editor.reset();
    frame.reset();
}

LV2UI_Widget Lv2UiInstance::getWidget() const noexcept
{
    return frame != nullptr ? frame->getWindowHandle() : nullptr;
}

std::uint32_t Lv2UiInstance::setOptions (const LV2_Options_Option* options)
{
    std::uint32_t result = LV2_OPTIONS_ERR_BAD_KEY;
    for (auto* o = options; o != nullptr && (o->key != 0 || o->value != nullptr); ++o)
    {
        if (scaleFactorKey == 0 || o->key != scaleFactorKey)
            continue;
        float scale = 0.0f;
        if (o->type != floatType || o->size != sizeof scale || o->value == nullptr)
        {
            result = LV2_OPTIONS_ERR_BAD_VALUE;
            continue;
        }
        std::memcpy (&scale, o->value, sizeof scale);
        if (! (scale >= 0.5f && scale <= 8.0f))
        {
            result = LV2_OPTIONS_ERR_BAD_VALUE;
            continue;
        }
        if (editor != nullptr)
        {
            // The factor is the display's: JUCE may already draw the window at the desktop's.
            const auto* peer = frame->getPeer();
            const double drawnAt = peer != nullptr ? peer->getPlatformScaleFactor() : 1.0;
            editor->setScaleFactor (static_cast<float> (scale / (drawnAt > 0.0 ? drawnAt : 1.0)));
            fitToWindow();
        }
        result = LV2_OPTIONS_SUCCESS;
    }
    return result;
}

void Lv2UiInstance::fitToWindow()
{
    if (editor == nullptr || frame == nullptr)
        return;
    const auto area = editor->getBoundsInParent();
    frame->setSize (area.getWidth(), area.getHeight());
    if (resize == nullptr || resize->ui_resize == nullptr)
        return;
    // The host's window is measured in the display's pixels.
    const auto* peer = frame->getPeer();
    const double drawnAt = peer != nullptr ? peer->getPlatformScaleFactor() : 1.0;
    resize->ui_resize (resize->handle,
                       juce::roundToInt (area.getWidth() * drawnAt),
                       juce::roundToInt (area.getHeight() * drawnAt));
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
