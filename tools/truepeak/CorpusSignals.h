#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <functional>
#include <vector>

/**
    The true-peak corpus's signals: four channels each, different on every channel, most of them
    driven to +6 dBFS sample peak and all of them with true peaks between the samples well above
    their sample peaks somewhere (full-band and clipped noise, noise bursts, tones up to 0.99 of
    the Nyquist frequency with their crests between samples, naive and band-limited squares,
    single-sample impulses, the fs/4 and fs/2 patterns, the renderer's demo scene).
*/
namespace corpusSignals
{
constexpr int numChannels = 4;
using Signal = std::array<std::vector<float>, numChannels>;

struct CorpusSignal
{
    juce::String name;
    std::function<Signal (int rate)> make;
};

/** Every signal of the corpus, in the order of the table. */
std::vector<CorpusSignal> corpus();
} // namespace corpusSignals
