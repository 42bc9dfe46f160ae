#pragma once

// The four knobs of Orvalis in one table: what hosts see (index, name, unit), the range and step of
// the window's knobs, the defaults, the renderer's options and the settings document's tags, and
// the two mappings between a knob's own unit and the normalised value hosts store. Every part of
// the product that knows a knob reads it here; standard C++ only, so the LV2 module, the renderer,
// the tools and the tests can all include it.

#include <array>
#include <cmath>

namespace parameters
{
/** The host parameters, in the order every format announces them. */
enum Index : int
{
    attackTime = 0,
    releaseTime = 1,
    maxPeakLevel = 2,
    inputGain = 3
};

inline constexpr int numKnobs = 4;

struct Knob
{
    Index index;
    const char* name;      // the host parameter's name
    const char* symbol;    // a stable identifier (the LV2 port symbol)
    const char* unit;      // "ms" or "dB"
    const char* lv2Unit;   // the LV2 units: suffix
    const char* option;    // the renderer's command-line option
    const char* stateTag;  // the settings document's element
    const char* rangeText; // "0..60 dB", as help texts and messages give the range
    float minimum, maximum;
    double step;             // the window's knob moves in these steps
    float defaultValue;      // in the knob's unit
    float defaultNormalised; // what a fresh instance stores
    double skew;             // the window's knob skew (1: linear)

    /** The value in the knob's unit that a normalised value 0..1 stands for, in single precision
        as minimum + (maximum - minimum) * v: the mapping the processor applies. */
    constexpr float toUnit (float normalised) const noexcept
    {
        return minimum + (maximum - minimum) * normalised;
    }

    /** The normalised value for a value in the knob's unit, as the window writes it: a double
        quotient passed as float. Values outside the range map outside 0..1. */
    constexpr float toNormalised (double value) const noexcept
    {
        return static_cast<float> (
            (value - static_cast<double> (minimum))
            / (static_cast<double> (maximum) - static_cast<double> (minimum)));
    }

    /** The value clamped to the range (infinities to its ends, -0 to the minimum) as
        juce::NormalisableRange clamps; NaN stays NaN. */
    constexpr double clamped (double value) const noexcept
    {
        return (value <= minimum || maximum <= minimum) ? minimum
                                                        : (value >= maximum ? maximum : value);
    }

    /** What the window's knob holds for this value: clamped to the range and snapped to the step
        exactly as juce::NormalisableRange::snapToLegalValue does it. */
    double snapped (double value) const noexcept
    {
        return clamped (minimum + step * std::floor ((value - minimum) / step + 0.5));
    }
};

// clang-format off
inline constexpr std::array<Knob, numKnobs> knobs { {
    //              name              symbol            unit  lv2   option       tag          range          min     max      step default norm.   skew
    { attackTime,   "Attack Time",    "attack_time",    "ms", "ms", "--attack",  "Attack",    "0..40 ms",     0.0f,   40.0f,  0.1,  1.0f, 0.025f, 0.54 },
    { releaseTime,  "Release Time",   "release_time",   "ms", "ms", "--release", "Release",   "0..1000 ms",   0.0f, 1000.0f,  1.0, 20.0f, 0.02f,  0.4  },
    { maxPeakLevel, "Max Peak Level", "max_peak_level", "dB", "db", "--ceiling", "Threshold", "-10..+10 dB", -10.0f,  10.0f,  1.0,  0.0f, 0.5f,   1.0  },
    { inputGain,    "Input Gain",     "input_gain",     "dB", "db", "--gain",    "Gain",      "0..60 dB",     0.0f,   60.0f,  1.0,  0.0f, 0.0f,   0.5  },
} };
// clang-format on

/** The knob of a host parameter index. */
constexpr const Knob& knob (Index index) noexcept
{
    return knobs[static_cast<std::size_t> (index)];
}

/** The knob whose host parameter has this index, or nullptr. */
constexpr const Knob* knobAt (int index) noexcept
{
    return index >= 0 && index < numKnobs ? &knobs[static_cast<std::size_t> (index)] : nullptr;
}

/** The order in which the settings document holds the knobs. */
inline constexpr std::array<Index, numKnobs> stateOrder {
    inputGain, attackTime, releaseTime, maxPeakLevel
};

/** The largest look-ahead in ms: the limiter is allocated for it, and an Attack Time beyond it
    is refused. */
inline constexpr float maxLookaheadMs = knobs[attackTime].maximum;

/** dB as a linear factor, 10^(dB / 20), in single precision as the processor converts. */
inline float decibelsToGain (float db) noexcept
{
    return db > -100.0f ? std::pow (10.0f, db * 0.05f) : 0.0f;
}

// A fresh instance's stored values are what its window writes for the default knob values.
static_assert (knobs[attackTime].toNormalised (1.0) == 0.025f);
static_assert (knobs[releaseTime].toNormalised (20.0) == 0.02f);
static_assert (knobs[maxPeakLevel].toNormalised (0.0) == 0.5f);
static_assert (knobs[inputGain].toNormalised (0.0) == 0.0f);
static_assert (knobs[attackTime].index == attackTime && knobs[releaseTime].index == releaseTime
               && knobs[maxPeakLevel].index == maxPeakLevel && knobs[inputGain].index == inputGain);
} // namespace parameters
