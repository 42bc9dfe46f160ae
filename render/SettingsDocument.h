#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <optional>

/** A settings document as the plug-in saves it, given with --settings. */
struct SettingsDocument
{
    std::unique_ptr<juce::XmlElement> xml;
    juce::String text; // handed to the processor as it stands, as a host hands over a project's

    /**
        Reads the text of a settings file. Returns the reason when it holds no XML element;
        otherwise fills the document and adds a warning when none of its elements is a setting.
    */
    static std::optional<juce::String>
    parse (const juce::String& text, SettingsDocument& result, juce::StringArray& warnings);
};
