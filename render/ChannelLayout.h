#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <optional>
#include <vector>

/**
    What a file's channel count and speaker mask make of its channels, for the loudness and the
    summary; the limiter treats every layout alike (one gain for all channels).

    (n + 1)^2 channels are ambisonics of order n in ACN order, W first whatever the normalisation,
    and their loudness is W's. Any other count is plain multichannel audio, whose loudness is
    measured over its channels (BS.1770) only when the mask names a speaker for each of them; the
    LFE channel is left out of it.
*/
struct ChannelLayout
{
    static constexpr int largestChannelCount = 64;

    enum class Loudness
    {
        ofW,        // ambisonics: channel 1 as a mono programme
        ofChannels, // speakers named by the mask, weighted by BS.1770
        notMeasured
    };

    int numChannels = 0;
    std::uint32_t channelMask = 0;

    ChannelLayout (int channels, std::uint32_t mask) : numChannels (channels), channelMask (mask) {}

    /** The ambisonic order of a count that is (n + 1)^2, else none. */
    static std::optional<int> ambisonicOrderOf (int numChannels);
    std::optional<int> ambisonicOrder() const { return ambisonicOrderOf (numChannels); }

    Loudness loudness() const;

    /** For Loudness::ofChannels: each channel's libebur128 channel type (0 for the LFE). */
    std::vector<int> loudnessChannelTypes() const;

    /** The mask an output of more than two channels carries to keep the speakers the input
        named (every channel named); 0 otherwise (discrete channels, as for ambisonics). */
    std::uint32_t outputMask() const;

    /** How the loudness is taken, for the summary: "W (ambiX)", "5 of 6 channels (...)". */
    juce::String loudnessDescription (const juce::String& conventionName) const;
};
