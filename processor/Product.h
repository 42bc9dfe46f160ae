#pragma once

// The plug-in products built from the one processor: Orvalis (first order, four channels) and
// Orvalis HOA (ambisonic orders 1 to 7, 4 to 64 channels). What differs between them is here:
// the name hosts are told, the channel counts the buses may carry and how the meters group the
// channels. Standard C++ only, so the LV2 module and its description writer read it too.

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
    int maxOrder;        // the buses carry a full signal of order 1 to maxOrder, as many in as out
    bool metersPerOrder; // one meter per order (the largest peak of its channels), or per channel

    constexpr int maxChannels() const noexcept { return channelsOfOrder (maxOrder); }

    constexpr bool supportsChannels (int channels) const noexcept
    {
        const int order = orderOfChannels (channels);
        return order >= 1 && order <= maxOrder;
    }

    /** Meters per side for a signal of this many channels. */
    constexpr int meterGroups (int channels) const noexcept
    {
        return metersPerOrder ? orderOfChannels (channels) + 1 : channels;
    }
    constexpr int maxMeterGroups() const noexcept { return meterGroups (maxChannels()); }

    /** The first channel of a meter's group; group meterGroups (channels) gives the end. */
    constexpr int firstChannelOfGroup (int group) const noexcept
    {
        return metersPerOrder ? group * group : group;
    }
};

inline constexpr Product orvalis { "Orvalis", 1, false };
inline constexpr Product orvalisHoa { "Orvalis HOA", 7, true };

/** The most channels and meters any product has. */
inline constexpr int maxChannels = orvalisHoa.maxChannels();
inline constexpr int maxMetersPerSide = orvalisHoa.maxMeterGroups();

static_assert (orvalis.maxChannels() == 4 && orvalis.maxMeterGroups() == 4);
static_assert (orvalisHoa.maxChannels() == 64 && orvalisHoa.maxMeterGroups() == 8);
static_assert (orvalis.maxChannels() <= maxChannels
               && orvalis.maxMeterGroups() <= maxMetersPerSide);
} // namespace product
