#include "render/SettingsDocument.h"

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

    bool known = false;
    for (auto* child : result.xml->getChildIterator())
        for (const char* tag :
             { "Gain", "Attack", "Release", "Threshold", "idxInputConfig", "TruePeak" })
            known = known || child->getTagName().equalsIgnoreCase (tag);
    if (! known)
        warnings.add (
            "has none of the elements Gain, Attack, Release, Threshold; the defaults apply");
    return std::nullopt;
}
