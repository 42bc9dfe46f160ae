#pragma once

// The LV2 plug-ins a product's bundle holds. LV2 ports are fixed, so Orvalis HOA is one plug-in per
// ambisonic order (1 to 7), each with (order + 1)^2 audio inputs and outputs and a URI of its own
// below the product's; Orvalis is the one four-channel plug-in at its URI. The module and the
// description writer (Lv2TurtleWriter) both list them here.

#include "plugin/lv2/Lv2Ports.h"
#include "processor/Product.h"

#include <string>
#include <vector>

namespace lv2Plugins
{
struct Plugin
{
    const product::Product* product;
    int order;
    std::string uri;      // the plug-in; its window is uri + ":UI"
    std::string name;     // doap:name
    std::string fileStem; // <stem>.ttl and <stem>-ui.ttl in the bundle

    int numChannels() const noexcept { return product::channelsOfOrder (order); }
    lv2Ports::Layout ports() const noexcept
    {
        return { static_cast<std::uint32_t> (numChannels()) };
    }
    std::string uiUri() const { return uri + ":UI"; }
};

inline std::string ordinal (int order)
{
    const char* suffix = order == 1 ? "st" : order == 2 ? "nd" : order == 3 ? "rd" : "th";
    return std::to_string (order) + suffix;
}

/** The plug-ins of a product whose bundle's base URI is baseUri. */
inline std::vector<Plugin> of (const product::Product& p, const std::string& baseUri)
{
    if (p.maxOrder == 1)
        return { { &p, 1, baseUri, p.name, "orvalis" } };

    std::vector<Plugin> plugins;
    for (int order = 1; order <= p.maxOrder; ++order)
        plugins.push_back ({ &p,
                             order,
                             baseUri + "/order-" + std::to_string (order),
                             std::string (p.name) + " " + ordinal (order) + " order",
                             "orvalis-hoa-order-" + std::to_string (order) });
    return plugins;
}
} // namespace lv2Plugins
