#include "render/DemoSceneReader.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace
{
constexpr double twoPi = 6.283185307179586;

/** White noise in -1..1 from a position, without state (SplitMix64's finaliser). */
double noiseAt (std::uint64_t source, std::uint64_t event, std::uint64_t offset)
{
    std::uint64_t z = source * 0x9E3779B97F4A7C15ull + event * 0xBF58476D1CE4E5B9ull + offset;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double> (z >> 11) / static_cast<double> (1ull << 52) - 1.0;
}

enum class Voice
{
    kick,
    snare,
    hat,
    tom
};

struct Source
{
    Voice voice;
    double amplitude;
    double firstHit, period; // seconds
    double tail;             // seconds an event lasts
    double azimuthStart, azimuthTurnsPerSecond;
    double elevationCentre, elevationSwing, elevationCyclesPerSecond; // radians, Hz
};

// clang-format off
    const std::array<Source, 4> sources { {
        { Voice::kick,  1.5, 0.0,   0.5,   0.6,  0.0,   0.06, 0.0,  0.1, 0.05 },
        { Voice::snare, 1.2, 0.25,  0.5,   0.4,  2.0,  -0.17, 0.2,  0.3, 0.11 },
        { Voice::hat,   0.5, 0.0,   0.125, 0.15, 4.0,   0.45, 0.7,  0.2, 0.23 },
        { Voice::tom,   1.7, 1.875, 2.0,   1.0,  1.57,  0.25, -0.3, 0.2, 0.07 },
    } };
// clang-format on

/** One event of a voice, t seconds after it started. */
double voiceSample (const Source& s, int index, std::uint64_t event, double t, double rate)
{
    const auto offset = static_cast<std::uint64_t> (t * rate + 0.5);
    const auto id = static_cast<std::uint64_t> (index);
    switch (s.voice)
    {
        case Voice::kick:
        {
            // Pitch falls from 150 to 50 Hz; the phase is the integral of the frequency.
            const double phase = twoPi * (50.0 * t + 100.0 * 0.03 * (1.0 - std::exp (-t / 0.03)));
            return std::sin (phase) * std::exp (-t / 0.22);
        }
        case Voice::snare:
            return 0.6 * noiseAt (id, event, offset) * std::exp (-t / 0.07)
                   + 0.5 * std::sin (twoPi * 190.0 * t) * std::exp (-t / 0.05);
        case Voice::hat:
            return 0.5 * (noiseAt (id, event, offset) - noiseAt (id, event, offset + 1))
                   * std::exp (-t / 0.018);
        case Voice::tom:
        {
            const double phase = twoPi * (90.0 * t + 60.0 * 0.08 * (1.0 - std::exp (-t / 0.08)));
            return std::sin (phase) * std::exp (-t / 0.28);
        }
    }
    return 0.0;
}
} // namespace

DemoSceneReader::DemoSceneReader (double seconds) : AudioFormatReader (nullptr, "Demo scene")
{
    sampleRate = sceneSampleRate;
    bitsPerSample = 32;
    usesFloatingPointData = true;
    numChannels = 4;
    lengthInSamples = static_cast<juce::int64> (seconds * sceneSampleRate + 0.5);
}

void DemoSceneReader::renderFrame (juce::int64 position, float* frame)
{
    const double rate = sceneSampleRate;
    const double now = static_cast<double> (position) / rate;
    std::array<double, 4> sum {};

    for (int index = 0; index < static_cast<int> (sources.size()); ++index)
    {
        const auto& s = sources[static_cast<size_t> (index)];
        if (now < s.firstHit)
            continue;

        const auto latest = static_cast<std::int64_t> (std::floor ((now - s.firstHit) / s.period));
        double signal = 0.0;
        for (auto event = latest; event >= 0; --event)
        {
            const double start = s.firstHit + static_cast<double> (event) * s.period;
            const double t = now - start;
            if (t >= s.tail)
                break;
            // Every fourth hit a little louder, as a player would accent the bar.
            const double accent = event % 4 == 0 ? 1.0 : 0.8;
            signal += accent * voiceSample (s, index, static_cast<std::uint64_t> (event), t, rate);
        }
        signal *= s.amplitude;

        const double azimuth = s.azimuthStart + twoPi * s.azimuthTurnsPerSecond * now;
        const double elevation =
            s.elevationCentre
            + s.elevationSwing * std::sin (twoPi * s.elevationCyclesPerSecond * now);
        sum[0] += signal;
        sum[1] += signal * std::sin (azimuth) * std::cos (elevation);
        sum[2] += signal * std::sin (elevation);
        sum[3] += signal * std::cos (azimuth) * std::cos (elevation);
    }

    for (size_t ch = 0; ch < sum.size(); ++ch)
        frame[ch] = static_cast<float> (sum[ch]);
}

bool DemoSceneReader::readSamples (int* const* destChannels,
                                   int numDestChannels,
                                   int startOffsetInDestBuffer,
                                   juce::int64 startSampleInFile,
                                   int numSamples)
{
    for (int i = 0; i < numSamples; ++i)
    {
        const juce::int64 position = startSampleInFile + i;
        std::array<float, 4> frame {};
        if (position >= 0 && position < lengthInSamples)
            renderFrame (position, frame.data());

        for (int ch = 0; ch < numDestChannels; ++ch)
            if (destChannels[ch] != nullptr)
                reinterpret_cast<float*> (destChannels[ch])[startOffsetInDestBuffer + i] =
                    ch < 4 ? frame[static_cast<size_t> (ch)] : 0.0f;
    }
    return true;
}
