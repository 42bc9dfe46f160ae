#pragma once

// The products built from the one processor: Orvalis (first order, four channels), Orvalis HOA
// (ambisonic orders 1 to 7, 4 to 64 channels) and the renderer's plain multichannel processor
// (any count of 1 to 64 channels). What differs between them is here: the name hosts are told,
// the channel counts the buses may carry and how the meters group the channels. Standard C++
// only, so the LV2 module and its description writer read it too.

namespace product
{
/** The channels of a full ambisonic signal of an order: (order + 1)^2. */
constexpr int channelsOfOrder (int order) noexcept
{
    return (order + 1) * (order + 1);
}

/** The order whose full signal has this many channels, or -1. */
constexpr int orderOfChannels (int channels) noexcept
{
    for (int order = 0; channelsOfOrder (order) <= channels; ++order)
        if (channelsOfOrder (order) == channels)
            return order;
    return -1;
}

struct Product
{
    const char* name;    // what hosts are told
    int maxOrder;        // the buses carry at most channelsOfOrder (maxOrder), as many in as out
    bool fullOrdersOnly; // only a full signal of order 1 to maxOrder, or any count from 1
    bool metersPerOrder; // one meter per order (the largest peak of its channels), or per channel
    // The meters are measured only while a window shows them.
    bool metersOnlyWhenViewed;

    constexpr int maxChannels() const noexcept { return channelsOfOrder (maxOrder); }

    constexpr bool supportsChannels (int channels) const noexcept
    {
        if (! fullOrdersOnly)
            return channels >= 1 && channels <= maxChannels();
        const int order = orderOfChannels (channels);
        return order >= 1 && order <= maxOrder;
    }

    /** Meters per side for a signal of this many channels; per order, a count that is no full
        signal ends with a meter for the channels of the order it begins. */
    constexpr int meterGroups (int channels) const noexcept
    {
        if (! metersPerOrder)
            return channels;
        int groups = 0;
        while (firstChannelOfGroup (groups) < channels)
            ++groups;
        return groups;
    }
    constexpr int maxMeterGroups() const noexcept { return meterGroups (maxChannels()); }

    /** The first channel of a meter's group; group meterGroups (channels) gives the end (beyond
        the last channel when that group is short). */
    constexpr int firstChannelOfGroup (int group) const noexcept
    {
        return metersPerOrder ? group * group : group;
    }

    /** Every count the product takes has its meters within maxMeterGroups. */
    constexpr bool metersFit() const noexcept
    {
        for (int channels = 1; channels <= maxChannels(); ++channels)
            if (supportsChannels (channels) && meterGroups (channels) > maxMeterGroups())
                return false;
        return true;
    }
};

inline constexpr Product orvalis { "Orvalis", 1, true, false, false };
inline constexpr Product orvalisHoa { "Orvalis HOA", 7, true, true, true };
/** The renderer's processor for files of any count, under the plug-in's name. */
inline constexpr Product multichannel { "Orvalis", 7, false, true, true };

/** The most channels and meters any product has. */
inline constexpr int maxChannels = orvalisHoa.maxChannels();
inline constexpr int maxMetersPerSide = orvalisHoa.maxMeterGroups();

static_assert (orvalis.maxChannels() == 4 && orvalis.maxMeterGroups() == 4);
static_assert (orvalisHoa.maxChannels() == 64 && orvalisHoa.maxMeterGroups() == 8);
static_assert (orvalis.maxChannels() <= maxChannels
               && orvalis.maxMeterGroups() <= maxMetersPerSide);
static_assert (multichannel.maxChannels() <= maxChannels
               && multichannel.maxMeterGroups() <= maxMetersPerSide);
static_assert (orvalis.metersFit() && orvalisHoa.metersFit() && multichannel.metersFit());
} // namespace product
