#include "render/SettingsDocument.h"

#include "processor/SettingsCodec.h"
#include "processor/StateTextCheck.h"

#include <cstring>

std::optional<juce::String> SettingsDocument::parse (const juce::String& text,
                                                     SettingsDocument& result,
                                                     juce::StringArray& warnings)
{
    const auto* utf8 = text.toRawUTF8();
    if (! StateTextCheck::isReadable (utf8, static_cast<int> (std::strlen (utf8))))
        return "not an XML settings document (it holds a <?...?> instruction followed by text, "
               "which cannot be read)";

    juce::XmlDocument parser (text);
    result.xml = parser.getDocumentElement();
    result.text = text;
    if (result.xml == nullptr)
    {
        const auto reason = parser.getLastParseError();
        return "not an XML settings document"
               + (reason.isNotEmpty() ? " (" + reason + ")"
                                      : juce::String (" (no XML element in it)"));
    }

    if (! SettingsCodec::holdsAnySetting (*result.xml))
    {
        juce::StringArray tags;
        for (const auto index : parameters::stateOrder)
            tags.add (parameters::knob (index).stateTag);
        warnings.add ("has none of the elements " + tags.joinIntoString (", ")
                      + "; the defaults apply");
    }
    return std::nullopt;
}
