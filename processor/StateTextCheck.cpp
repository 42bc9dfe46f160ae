#include "processor/StateTextCheck.h"

#include <juce_core/juce_core.h>

#include <cctype>
#include <string_view>

namespace
{
bool isXmlSpace (char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// After a processing instruction the reader skips blanks, comments and further instructions; if
// what follows then is character data, it loops. Markup of any other kind and the end are safe.
// Bytes of multi-byte characters never equal '<', '?', '-' or '>', so a byte scan suffices.
bool instructionIsFollowedByText (std::string_view text)
{
    for (auto start = text.find ("<?"); start != std::string_view::npos;)
    {
        auto end = text.find ("?>", start + 2);
        if (end == std::string_view::npos)
            return false; // the reader stops: out of data
        auto next = end + 2;

        for (;;)
        {
            while (next < text.size() && isXmlSpace (text[next]))
                ++next;
            if (next >= text.size())
                return false;
            if (text.substr (next, 4) == "<!--")
            {
                const auto close = text.find ("-->", next + 4);
                if (close == std::string_view::npos)
                    return false;
                next = close + 3;
                continue;
            }
            if (text.substr (next, 2) == "<?")
                break; // judged as an instruction of its own
            if (text[next] != '<')
                return true;
            break;
        }
        start = text.find ("<?", next);
    }
    return false;
}
// A hexadecimal character reference cut by the end of the text ("&#x4" at the very end): the
// reader stops at the end but then steps over it.
bool hexReferenceIsCutByTheEnd (std::string_view text)
{
    for (auto at = text.find ("&#"); at != std::string_view::npos; at = text.find ("&#", at + 2))
    {
        auto next = at + 2;
        if (next >= text.size() || (text[next] != 'x' && text[next] != 'X'))
            continue;
        ++next;
        for (int digits = 0; digits < 8 && next < text.size()
                             && std::isxdigit (static_cast<unsigned char> (text[next]));
             ++digits)
            ++next;
        if (next >= text.size())
            return true;
    }
    return false;
}
} // namespace

bool StateTextCheck::isReadable (const char* utf8, int numBytes)
{
    if (utf8 == nullptr || numBytes <= 0)
        return true;
    if (! juce::CharPointer_UTF8::isValidString (utf8, numBytes))
        return false;

    // The reader stops at a zero byte, and so does the check.
    std::string_view text (utf8, static_cast<size_t> (numBytes));
    text = text.substr (0, text.find ('\0'));
    return ! instructionIsFollowedByText (text) && ! hexReferenceIsCutByTheEnd (text);
}
