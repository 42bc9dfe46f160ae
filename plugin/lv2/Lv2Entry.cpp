// The LV2 module's two entry points, the plug-ins (lv2_descriptor) and their windows
// (lv2ui_descriptor), for the product the module is built for: ORVALIS_LV2_PRODUCT at the base URI
// ORVALIS_LV2_URI.

#include "plugin/lv2/Lv2Descriptors.h"

namespace
{
const Lv2Descriptors& descriptors()
{
    static const Lv2Descriptors all (lv2Plugins::of (ORVALIS_LV2_PRODUCT, ORVALIS_LV2_URI));
    return all;
}
} // namespace

extern "C"
{
    LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor (uint32_t index)
    {
        try
        {
            return descriptors().plugin (index);
        }
        catch (...)
        {
            return nullptr;
        }
    }

    LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor (uint32_t index)
    {
        try
        {
            return descriptors().window (index);
        }
        catch (...)
        {
            return nullptr;
        }
    }
}
