#pragma once

/**
    Checks the text of a settings document before JUCE 7.0.5's XML reader sees it. The reader
    misbehaves on damaged text that a project file or a settings file can hold:
    - text that is not valid UTF-8: it steps over a multi-byte sequence by its lead byte alone,
      so a sequence cut by the end of the text makes it read past the end;
    - a hexadecimal character reference cut by the end ("&#x4"): it steps over the end, too;
    - a processing instruction (<?...?>) followed by character data inside an element: it rolls
      back to the instruction, stops there and starts again, for ever.
    None of these occurs in a document the plug-in writes; text with any of them counts as not
    well-formed, and is refused. (All were found by fuzzing.)
*/
struct StateTextCheck
{
    /** True when the numBytes bytes at utf8 (up to a zero byte, if one comes first) are safe to parse. */
    static bool isReadable (const char* utf8, int numBytes);
};
