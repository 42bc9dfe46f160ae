// The LV2 module's two entry points: the plug-in (lv2_descriptor) and its window
// (lv2ui_descriptor). Nothing thrown gets past them: a failed instantiation returns null.

#include "plugin/lv2/Lv2Instance.h"
#include "plugin/lv2/Lv2UiInstance.h"

#include <lv2/instance-access/instance-access.h>

#include <cstring>

namespace
{
const void* featureData (const LV2_Feature* const* features, const char* uri) noexcept
{
    for (auto* f = features; f != nullptr && *f != nullptr; ++f)
        if (std::strcmp ((*f)->URI, uri) == 0)
            return (*f)->data;
    return nullptr;
}

Lv2Instance& instanceOf (LV2_Handle handle)
{
    return *static_cast<Lv2Instance*> (handle);
}

Lv2UiInstance& uiOf (LV2UI_Handle handle)
{
    return *static_cast<Lv2UiInstance*> (handle);
}

const LV2_State_Interface stateInterface {
    [] (LV2_Handle h,
        LV2_State_Store_Function store,
        LV2_State_Handle state,
        uint32_t,
        const LV2_Feature* const*) { return instanceOf (h).save (store, state); },
    [] (LV2_Handle h,
        LV2_State_Retrieve_Function retrieve,
        LV2_State_Handle state,
        uint32_t,
        const LV2_Feature* const*) { return instanceOf (h).restore (retrieve, state); },
};

const LV2_Descriptor descriptor {
    ORVALIS_LV2_URI,
    [] (const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
        -> LV2_Handle
    {
        try
        {
            return new Lv2Instance (rate, features);
        }
        catch (...)
        {
            return nullptr;
        }
    },
    [] (LV2_Handle h, uint32_t port, void* data) { instanceOf (h).connect (port, data); },
    [] (LV2_Handle h) { instanceOf (h).activate(); },
    [] (LV2_Handle h, uint32_t numSamples) { instanceOf (h).run (numSamples); },
    [] (LV2_Handle) {},
    [] (LV2_Handle h) { delete &instanceOf (h); },
    [] (const char* uri) -> const void*
    { return std::strcmp (uri, LV2_STATE__interface) == 0 ? &stateInterface : nullptr; },
};

const LV2UI_Idle_Interface idleInterface { [] (LV2UI_Handle) { return Lv2UiInstance::idle(); } };

const LV2UI_Descriptor uiDescriptor {
    ORVALIS_LV2_UI_URI,
    [] (const LV2UI_Descriptor*,
        const char* pluginUri,
        const char*,
        LV2UI_Write_Function write,
        LV2UI_Controller controller,
        LV2UI_Widget* widget,
        const LV2_Feature* const* features) -> LV2UI_Handle
    {
        auto* plugin = static_cast<Lv2Instance*> (
            const_cast<void*> (featureData (features, LV2_INSTANCE_ACCESS_URI)));
        void* parent = const_cast<void*> (featureData (features, LV2_UI__parent));
        if (plugin == nullptr || parent == nullptr || write == nullptr || pluginUri == nullptr
            || std::strcmp (pluginUri, ORVALIS_LV2_URI) != 0)
            return nullptr;

        try
        {
            auto ui = std::make_unique<Lv2UiInstance> (
                *plugin,
                write,
                controller,
                parent,
                static_cast<const LV2UI_Resize*> (featureData (features, LV2_UI__resize)),
                static_cast<const LV2UI_Touch*> (featureData (features, LV2_UI__touch)));
            if (ui->getWidget() == nullptr)
                return nullptr;
            *widget = ui->getWidget();
            return ui.release();
        }
        catch (...)
        {
            return nullptr;
        }
    },
    [] (LV2UI_Handle h) { delete &uiOf (h); },
    [] (LV2UI_Handle h, uint32_t port, uint32_t size, uint32_t format, const void* data)
    { uiOf (h).portEvent (port, size, format, data); },
    [] (const char* uri) -> const void*
    { return std::strcmp (uri, LV2_UI__idleInterface) == 0 ? &idleInterface : nullptr; },
};
} // namespace

extern "C"
{
    LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor (uint32_t index)
    {
        return index == 0 ? &descriptor : nullptr;
    }

    LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor (uint32_t index)
    {
        return index == 0 ? &uiDescriptor : nullptr;
    }
}
