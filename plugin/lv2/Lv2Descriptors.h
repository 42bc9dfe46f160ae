#pragma once

#include "plugin/lv2/Lv2Plugins.h"

#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>

#include <memory>
#include <vector>

/**
    The LV2 descriptors of a module's plug-ins and of their windows, in the order of the list
    given: what lv2_descriptor and lv2ui_descriptor hand out. Built once, when the host first asks,
    and kept for as long as the module is loaded. Nothing thrown gets past a descriptor's calls: a
    failed instantiation returns null.
*/
class Lv2Descriptors
{
public:
    explicit Lv2Descriptors (std::vector<lv2Plugins::Plugin> plugins);

    /** The plug-in or window at index, or nullptr beyond the last. */
    const LV2_Descriptor* plugin (std::uint32_t index) const noexcept;
    const LV2UI_Descriptor* window (std::uint32_t index) const noexcept;

private:
    // The descriptor comes first, so that the host's pointer to it is a pointer to its entry.
    struct PluginEntry
    {
        LV2_Descriptor descriptor;
        const lv2Plugins::Plugin* plugin;
    };
    struct WindowEntry
    {
        LV2UI_Descriptor descriptor;
        const lv2Plugins::Plugin* plugin;
    };

    std::vector<lv2Plugins::Plugin> plugins;
    std::vector<std::string> windowUris;
    std::vector<std::unique_ptr<PluginEntry>> pluginEntries;
    std::vector<std::unique_ptr<WindowEntry>> windowEntries;
};
