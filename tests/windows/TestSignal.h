// The signal both raw hosts here (VST 2.4 and VST3) feed the modules (four channels, or as many as
// a higher-order module is asked for), and the files their renders are kept in: interleaved 32-bit
// floats, in the machine's byte order.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace orvalis::testsignal
{
constexpr int numChannels = 4;

// The fixed test signal: channels of integer-generated noise with quiet, loud and impulsive
// stretches, so that the limiter attacks, holds and releases; the impulses go round the channels.
// No libm call: the same samples on every platform, bit for bit.
class Signal
{
public:
    explicit Signal (int channelCount = numChannels) : channels (channelCount) {}

    float next (int channel)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const float noise = (float) (int32_t) state * (1.0f / 2147483648.0f);
        const int64_t section = (frame / 4800) % 6;
        static constexpr float levels[6] = { 0.25f, 1.5f, 0.05f, 3.0f, 0.8f, 0.0f };
        float sample = noise * levels[section] * (1.0f - 0.125f * (float) (channel % 8));
        if (frame % 9973 == 0 && channel == (int) ((frame / 9973) % channels))
            sample = 4.0f; // a lone impulse far above the ceiling
        if (channel == channels - 1)
            ++frame;
        return sample;
    }

private:
    int channels;
    uint32_t state = 0x9e3779b9u;
    int64_t frame = 0;
};

/** The blocks a render processes the signal in, over and over: 1 sample to the largest. */
constexpr int maxBlock = 1024;
constexpr int blockLengths[] = { 512, 1, 37, 1024, 256, 480, 2, 999 };

inline bool writeFloats (const std::string& path, const std::vector<float>& values)
{
    std::ofstream file (path, std::ios::binary);
    file.write (reinterpret_cast<const char*> (values.data()),
                (std::streamsize) (values.size() * sizeof (float)));
    return file.good();
}

inline std::vector<float> readFloats (const std::string& path)
{
    std::ifstream file (path, std::ios::binary | std::ios::ate);
    if (! file)
        return {};
    const auto size = (size_t) file.tellg();
    std::vector<float> values (size / sizeof (float));
    file.seekg (0);
    file.read (reinterpret_cast<char*> (values.data()),
               (std::streamsize) (values.size() * sizeof (float)));
    return values;
}
} // namespace orvalis::testsignal
