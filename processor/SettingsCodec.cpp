#include "processor/SettingsCodec.h"

#include "processor/StateTextCheck.h"

#include <algorithm>
#include <limits>
#include <locale>
#include <sstream>

namespace
{
const parameters::Knob* knobTagged (const juce::String& tag)
{
    for (const auto& knob : parameters::knobs)
        if (tag.equalsIgnoreCase (knob.stateTag))
            return &knob;
    return nullptr;
}
} // namespace

juce::String SettingsCodec::toText (const Settings& settings)
{
    juce::XmlElement root (rootTag);
    for (const auto index : parameters::stateOrder)
        root.createNewChildElement (parameters::knob (index).stateTag)
            ->addTextElement (formatNormalised (settings.normalised[static_cast<size_t> (index)]));
    root.createNewChildElement (inputConfigTag)
        ->addTextElement (juce::String (settings.inputConfig));
    // Only while it is on, so that documents saved with sample peaks stay as they always were.
    if (settings.truePeak)
        root.createNewChildElement (truePeakTag)->addTextElement ("1");
    if (settings.windowSizePercent != windowSizes[0])
        root.createNewChildElement (sizeTag)->addTextElement (
            juce::String (settings.windowSizePercent));
    return root.toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
}

juce::MemoryBlock SettingsCodec::wrap (const juce::String& text)
{
    const auto* utf8 = text.toRawUTF8();
    const auto length = text.getNumBytesAsUTF8();
    juce::MemoryBlock block;
    {
        juce::MemoryOutputStream out (block, false);
        out.writeInt (static_cast<int> (magic));
        out.writeInt (static_cast<int> (length));
        out.write (utf8, length);
        out.writeByte (0);
    }
    return block;
}

std::unique_ptr<juce::XmlElement> SettingsCodec::unwrap (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != magic)
        return nullptr;

    const auto length =
        static_cast<int> (juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4)));
    if (length <= 0)
        return nullptr;
    const auto* text = static_cast<const char*> (data) + 8;
    const int available = std::min (sizeInBytes - 8, length);
    if (! StateTextCheck::isReadable (text, available))
        return nullptr;
    return juce::parseXML (juce::String::fromUTF8 (text, available));
}

void SettingsCodec::read (const juce::XmlElement& root, Receiver& receiver)
{
    for (const auto* child : root.getChildIterator())
    {
        const auto& tag = child->getTagName();
        if (const auto* knob = knobTagged (tag))
            receiver.knob (knob->index,
                           static_cast<float> (child->getAllSubText().getDoubleValue()));
        else if (tag.equalsIgnoreCase (inputConfigTag))
            receiver.inputConfig (parseDecimalInt (child->getAllSubText()));
    }
}

bool SettingsCodec::selectsTruePeak (const juce::XmlElement& root)
{
    // The element is saved only while true peaks are on: a document without it means sample
    // peaks. Like the other elements, a later one wins over an earlier one.
    bool truePeak = false;
    for (const auto* child : root.getChildIterator())
        if (child->getTagName().equalsIgnoreCase (truePeakTag))
            truePeak = parseDecimalInt (child->getAllSubText()) != 0;
    return truePeak;
}

bool SettingsCodec::isWindowSize (int percent) noexcept
{
    return std::find (windowSizes.begin(), windowSizes.end(), percent) != windowSizes.end();
}

int SettingsCodec::windowSizeOf (const juce::XmlElement& root)
{
    int size = windowSizes[0];
    for (const auto* child : root.getChildIterator())
        if (child->getTagName().equalsIgnoreCase (sizeTag))
        {
            const int percent = parseDecimalInt (child->getAllSubText());
            size = isWindowSize (percent) ? percent : windowSizes[0];
        }
    return size;
}

bool SettingsCodec::holdsAnySetting (const juce::XmlElement& root)
{
    for (const auto* child : root.getChildIterator())
    {
        const auto& tag = child->getTagName();
        if (knobTagged (tag) != nullptr || tag.equalsIgnoreCase (inputConfigTag)
            || tag.equalsIgnoreCase (truePeakTag))
            return true;
    }
    return false;
}

juce::String SettingsCodec::formatNormalised (float value)
{
    std::ostringstream stream;
    stream.imbue (std::locale::classic());
    stream << static_cast<double> (value);
    return stream.str();
}

int SettingsCodec::parseDecimalInt (const juce::String& text)
{
    auto s = text.getCharPointer().findEndOfWhitespace();
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;

    long long magnitude = 0;
    for (auto c = *s; c >= '0' && c <= '9'; c = *++s)
        magnitude = std::min (magnitude * 10 + (c - '0'), 1LL << 32);

    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int> (std::clamp (value,
                                         static_cast<long long> (std::numeric_limits<int>::min()),
                                         static_cast<long long> (std::numeric_limits<int>::max())));
}
