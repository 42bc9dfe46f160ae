#pragma once

// The LV2 module's ports: their indices, and how a knob port's value in the knob's own unit
// becomes the processor's normalised parameter value. The knobs' symbols, names, ranges and
// defaults are the host parameters' (processor/Parameters.h); the description the build writes
// (Lv2TurtleWriter) and the module itself read the same tables.

#include "processor/Parameters.h"

#include <array>
#include <cstdint>

namespace lv2Ports
{
constexpr int numKnobs = 4;

/** The port indices of a plug-in with numChannels audio inputs and as many outputs: the inputs,
    the outputs, the four knobs in the processor's parameter order, then the enabled, latency and
    gain-reduction ports. With four channels: audio 0 to 7, knobs 8 to 11, the others 12 to 14. */
struct Layout
{
    std::uint32_t numChannels;

    constexpr std::uint32_t audioIn (std::uint32_t channel) const noexcept { return channel; }
    constexpr std::uint32_t audioOut (std::uint32_t channel) const noexcept
    {
        return numChannels + channel;
    }
    constexpr std::uint32_t firstKnob() const noexcept { return 2 * numChannels; }
    constexpr std::uint32_t enabled() const noexcept
    {
        return firstKnob() + std::uint32_t { numKnobs };
    }
    constexpr std::uint32_t latency() const noexcept { return enabled() + 1; }
    constexpr std::uint32_t gainReduction() const noexcept { return enabled() + 2; }
    constexpr std::uint32_t numPorts() const noexcept { return enabled() + 3; }
};

static_assert (Layout { 4 }.firstKnob() == 8 && Layout { 4 }.enabled() == 12
               && Layout { 4 }.gainReduction() == 14 && Layout { 4 }.numPorts() == 15);

/** The knobs as control ports, in port order: the host parameters' table. */
using Knob = parameters::Knob;
inline constexpr const std::array<Knob, numKnobs>& knobs = parameters::knobs;
static_assert (numKnobs == parameters::numKnobs);

/** The knob a port index belongs to, or nullptr. */
inline const Knob* knobAt (const Layout& layout, std::uint32_t port) noexcept
{
    return port >= layout.firstKnob() && port < layout.enabled() ? &knobs[port - layout.firstKnob()]
                                                                 : nullptr;
}

/** The normalised value a port value stands for, as the other formats' parameters take values:
    clamped to the range, not snapped, and mapped as the window maps its knobs. A port value that
    is a step of the knob rounded to float, as the window writes it, counts as that step, so the
    window's own values come back as the very normalised value the window sent. NaN stays NaN. */
inline float toNormalised (const Knob& knob, float portValue) noexcept
{
    const double step = knob.snapped (static_cast<double> (portValue));
    const double value = static_cast<float> (step) == portValue
                             ? step
                             : knob.clamped (static_cast<double> (portValue));
    return knob.toNormalised (value);
}

/** The gain-reduction port's upper end in dB: the full input gain plus the lowest ceiling. */
constexpr double maxGainReductionDb = 70.0;
/** The largest latency in samples: 40 ms of look-ahead at 192 kHz, plus the true-peak
    detector's delay (LookaheadLimiter::truePeakDelaySamples; the module checks the two agree). */
constexpr int maxLatencySamples = 7680 + 139;
} // namespace lv2Ports
