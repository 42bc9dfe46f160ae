#pragma once

// The LV2 module's ports: their indices, symbols and ranges, and how a knob's value in its own
// unit becomes the processor's normalised parameter value. The description the build writes
// (Lv2TurtleWriter) and the module itself read the same table.

#include <array>
#include <cmath>
#include <cstdint>

namespace lv2Ports
{
enum Index : std::uint32_t
{
    audioIn1 = 0, // audioIn1 .. audioIn1 + 3
    audioOut1 = 4,
    attackTime = 8, // the four knobs, in the processor's parameter order
    releaseTime = 9,
    maxPeakLevel = 10,
    inputGain = 11,
    enabled = 12,
    latency = 13,
    gainReduction = 14,
    numPorts = 15
};

constexpr int numAudioChannels = 4;
constexpr std::uint32_t firstKnob = attackTime;
constexpr int numKnobs = 4;

/** A knob of the window as a control port: the slider's range, step and default in its own
    unit, and its parameter's mapping (normalised = (value + offset) / span). */
struct Knob
{
    const char* symbol;
    const char* name; // the processor's parameter name
    const char* unit; // LV2 units: suffix
    double minimum, maximum, interval, defaultValue;
    double offset, span;
    int processorIndex;

    /** What the window's slider holds for this value: clamped to the range and snapped to the
        step exactly as juce::NormalisableRange::snapToLegalValue does it. NaN stays NaN. */
    double snapped (double value) const noexcept
    {
        value = minimum + interval * std::floor ((value - minimum) / interval + 0.5);
        return clamped (value);
    }

    /** The value clamped to the range (infinities to its ends). NaN stays NaN. */
    double clamped (double value) const noexcept
    {
        return (value <= minimum || maximum <= minimum) ? minimum
                                                        : (value >= maximum ? maximum : value);
    }

    /** The normalised value a port value stands for, as the other formats' parameters take
        values: clamped to the range, not snapped, and the window's quotient (a double quotient
        passed as float, CorvaneAudioProcessorEditor::sliderValueChanged). A port value that is a
        step of the slider rounded to float, as the window writes its knob, counts as that step,
        so the window's own values come back as the very normalised value the window sent. */
    float toNormalised (float portValue) const noexcept
    {
        const double step = snapped (static_cast<double> (portValue));
        const double value = static_cast<float> (step) == portValue
                                 ? step
                                 : clamped (static_cast<double> (portValue));
        return static_cast<float> ((value + offset) / span);
    }
};

// clang-format off
constexpr std::array<Knob, numKnobs> knobs { {
    { "attack_time",    "Attack Time",    "ms",  0.0,   40.0, 0.1,  1.0,  0.0,   40.0, 0 },
    { "release_time",   "Release Time",   "ms",  0.0, 1000.0, 1.0, 20.0,  0.0, 1000.0, 1 },
    { "max_peak_level", "Max Peak Level", "db", -10.0,  10.0, 1.0,  0.0, 10.0,   20.0, 2 },
    { "input_gain",     "Input Gain",     "db",  0.0,   60.0, 1.0,  0.0,  0.0,   60.0, 3 },
} };
// clang-format on

/** The knob a port index belongs to, or nullptr. */
inline const Knob* knobAt (std::uint32_t port) noexcept
{
    return port >= firstKnob && port < firstKnob + numKnobs ? &knobs[port - firstKnob] : nullptr;
}

/** The gain-reduction port's upper end in dB: the full input gain plus the lowest ceiling. */
constexpr double maxGainReductionDb = 70.0;
/** The largest latency in samples: 40 ms of look-ahead at 192 kHz, plus the true-peak
    detector's delay (LookaheadLimiter::truePeakDelaySamples; the module checks the two agree). */
constexpr int maxLatencySamples = 7680 + 20;
} // namespace lv2Ports
