#include "plugin/lv2/Lv2Descriptors.h"

#include "plugin/lv2/Lv2Instance.h"
#include "plugin/lv2/Lv2UiInstance.h"

#include <lv2/instance-access/instance-access.h>

#include <cstring>
#include <type_traits>

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

const LV2UI_Idle_Interface idleInterface { [] (LV2UI_Handle) { return Lv2UiInstance::idle(); } };

// The window answers no option, and takes ui:scaleFactor.
const LV2_Options_Interface windowOptions {
    [] (LV2_Handle, LV2_Options_Option*) -> uint32_t { return LV2_OPTIONS_ERR_UNKNOWN; },
    [] (LV2_Handle h, const LV2_Options_Option* options) -> uint32_t
    { return uiOf (h).setOptions (options); },
};

template <typename Entry, typename Descriptor>
const lv2Plugins::Plugin& pluginOf (const Descriptor* descriptor) noexcept
{
    static_assert (std::is_standard_layout_v<Entry>);
    return *reinterpret_cast<const Entry*> (descriptor)->plugin;
}
} // namespace

Lv2Descriptors::Lv2Descriptors (std::vector<lv2Plugins::Plugin> list) : plugins (std::move (list))
{
    for (const auto& p : plugins)
        windowUris.push_back (p.uiUri());

    for (size_t i = 0; i < plugins.size(); ++i)
    {
        auto entry = std::make_unique<PluginEntry>();
        entry->plugin = &plugins[i];
        entry->descriptor = {
            plugins[i].uri.c_str(),
            [] (const LV2_Descriptor* d,
                double rate,
                const char*,
                const LV2_Feature* const* features) -> LV2_Handle
            {
                try
                {
                    return new Lv2Instance (pluginOf<PluginEntry> (d), rate, features);
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
        pluginEntries.push_back (std::move (entry));

        auto window = std::make_unique<WindowEntry>();
        window->plugin = &plugins[i];
        window->descriptor = {
            windowUris[i].c_str(),
            [] (const LV2UI_Descriptor* d,
                const char* pluginUri,
                const char*,
                LV2UI_Write_Function write,
                LV2UI_Controller controller,
                LV2UI_Widget* widget,
                const LV2_Feature* const* features) -> LV2UI_Handle
            {
                const auto& expected = pluginOf<WindowEntry> (d);
                auto* plugin = static_cast<Lv2Instance*> (
                    const_cast<void*> (featureData (features, LV2_INSTANCE_ACCESS_URI)));
                void* parent = const_cast<void*> (featureData (features, LV2_UI__parent));
                if (plugin == nullptr || parent == nullptr || write == nullptr
                    || pluginUri == nullptr || expected.uri != pluginUri
                    || &plugin->getPlugin() != &expected)
                    return nullptr;

                try
                {
                    auto ui = std::make_unique<Lv2UiInstance> (
                        *plugin,
                        write,
                        controller,
                        parent,
                        static_cast<const LV2UI_Resize*> (featureData (features, LV2_UI__resize)),
                        static_cast<const LV2UI_Touch*> (featureData (features, LV2_UI__touch)),
                        static_cast<const LV2_URID_Map*> (featureData (features, LV2_URID__map)),
                        static_cast<const LV2_Options_Option*> (
                            featureData (features, LV2_OPTIONS__options)));
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
            {
                if (std::strcmp (uri, LV2_UI__idleInterface) == 0)
                    return &idleInterface;
                return std::strcmp (uri, LV2_OPTIONS__interface) == 0 ? &windowOptions : nullptr;
            },
        };
        windowEntries.push_back (std::move (window));
    }
}

const LV2_Descriptor* Lv2Descriptors::plugin (std::uint32_t index) const noexcept
{
    return index < pluginEntries.size() ? &pluginEntries[index]->descriptor : nullptr;
}

const LV2UI_Descriptor* Lv2Descriptors::window (std::uint32_t index) const noexcept
{
    return index < windowEntries.size() ? &windowEntries[index]->descriptor : nullptr;
}
