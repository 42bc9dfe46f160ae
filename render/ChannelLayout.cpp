#include "render/ChannelLayout.h"

#include <ebur128.h>

#include <algorithm>

namespace
{
// The WAVE_FORMAT_EXTENSIBLE speakers, bit by bit, as BS.1770 places them.
constexpr std::uint32_t sideLeft = 0x200, sideRight = 0x400;
constexpr int lfeBit = 3, namedSpeakers = 18;

int channelTypeFor (int bit, bool hasSides)
{
    switch (bit)
    {
        case 0: // front left
        case 6: // front left of centre
            return EBUR128_Mp030;
        case 1:
        case 7:
            return EBUR128_Mm030;
        case 2:
            return EBUR128_Mp000;
        case 4: // back left: the surround of 5.1, behind it when there are side speakers
            return hasSides ? EBUR128_Mp135 : EBUR128_Mp110;
        case 5:
            return hasSides ? EBUR128_Mm135 : EBUR128_Mm110;
        case 8:
            return EBUR128_Mp180;
        case 9:
            return EBUR128_Mp090;
        case 10:
            return EBUR128_Mm090;
        case 11: // top centre
        case 13: // top front centre
            return EBUR128_Up000;
        case 12:
            return EBUR128_Up030;
        case 14:
            return EBUR128_Um030;
        case 15:
            return EBUR128_Up135;
        case 16:
            return EBUR128_Up180;
        case 17:
            return EBUR128_Um135;
        default: // the LFE
            return EBUR128_UNUSED;
    }
}

/** The first numChannels speakers of the mask, lowest bit first; fewer when it names fewer. */
std::vector<int> speakerBits (std::uint32_t mask, int numChannels)
{
    std::vector<int> bits;
    for (int bit = 0; bit < namedSpeakers && static_cast<int> (bits.size()) < numChannels; ++bit)
        if ((mask >> bit) & 1u)
            bits.push_back (bit);
    return bits;
}
} // namespace

std::optional<int> ChannelLayout::ambisonicOrderOf (int numChannels)
{
    for (int order = 0; (order + 1) * (order + 1) <= numChannels; ++order)
        if ((order + 1) * (order + 1) == numChannels)
            return order;
    return std::nullopt;
}

ChannelLayout::Loudness ChannelLayout::loudness() const
{
    if (ambisonicOrder())
        return Loudness::ofW;
    const auto bits = speakerBits (channelMask, numChannels);
    if (static_cast<int> (bits.size()) < numChannels)
        return Loudness::notMeasured;
    return Loudness::ofChannels;
}

std::vector<int> ChannelLayout::loudnessChannelTypes() const
{
    const bool hasSides = (channelMask & (sideLeft | sideRight)) != 0;
    std::vector<int> types;
    for (int bit : speakerBits (channelMask, numChannels))
        types.push_back (channelTypeFor (bit, hasSides));
    return types;
}

std::uint32_t ChannelLayout::outputMask() const
{
    if (numChannels <= 2 || loudness() != Loudness::ofChannels)
        return 0;
    std::uint32_t mask = 0;
    for (int bit : speakerBits (channelMask, numChannels))
        mask |= 1u << bit;
    return mask;
}

juce::String ChannelLayout::loudnessDescription (const juce::String& conventionName) const
{
    switch (loudness())
    {
        case Loudness::ofW:
            return "W (" + conventionName + ")";
        case Loudness::ofChannels:
        {
            const auto bits = speakerBits (channelMask, numChannels);
            const bool hasLfe = std::find (bits.begin(), bits.end(), lfeBit) != bits.end();
            return juce::String (numChannels - (hasLfe ? 1 : 0)) + " of "
                   + juce::String (numChannels) + " channels (BS.1770 by the channel mask"
                   + (hasLfe ? ", LFE left out)" : ")");
        }
        case Loudness::notMeasured:
            break;
    }
    return "not measured: " + juce::String (numChannels)
           + " channels are no ambisonic order and no channel mask names their speakers";
}
