#include "tests/hosts/WavFile.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace
{
void put16 (std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back ((uint8_t) v);
    out.push_back ((uint8_t) (v >> 8));
}

void put32 (std::vector<uint8_t>& out, uint32_t v)
{
    put16 (out, v & 0xffff);
    put16 (out, v >> 16);
}

void putTag (std::vector<uint8_t>& out, const char* tag)
{
    out.insert (out.end(), tag, tag + 4);
}

uint32_t get16 (const uint8_t* p)
{
    return (uint32_t) p[0] | ((uint32_t) p[1] << 8);
}
uint32_t get32 (const uint8_t* p)
{
    return get16 (p) | (get16 (p + 2) << 16);
}

constexpr uint32_t formatFloat = 3;
constexpr uint32_t formatExtensible = 0xfffe;
} // namespace

bool writeFloatWav (const std::string& path,
                    const std::vector<std::vector<float>>& channels,
                    int sampleRate)
{
    const auto numChannels = (uint32_t) channels.size();
    const auto numFrames = numChannels > 0 ? (uint32_t) channels[0].size() : 0u;
    const uint32_t dataBytes = numFrames * numChannels * 4;

    std::vector<uint8_t> out;
    putTag (out, "RIFF");
    put32 (out, 4 + 8 + 40 + 8 + dataBytes);
    putTag (out, "WAVE");
    putTag (out, "fmt ");
    put32 (out, 40);
    put16 (out, formatExtensible);
    put16 (out, numChannels);
    put32 (out, (uint32_t) sampleRate);
    put32 (out, (uint32_t) sampleRate * numChannels * 4);
    put16 (out, numChannels * 4);
    put16 (out, 32);
    put16 (out, 22);
    put16 (out, 32);
    put32 (out, 0); // no speaker positions: four discrete channels
    // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
    const uint8_t subFormat[16] = {
        3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71
    };
    out.insert (out.end(), subFormat, subFormat + 16);
    putTag (out, "data");
    put32 (out, dataBytes);

    for (uint32_t i = 0; i < numFrames; ++i)
        for (const auto& channel : channels)
        {
            uint32_t bits = 0;
            std::memcpy (&bits, &channel[i], 4);
            put32 (out, bits);
        }

    std::ofstream file (path, std::ios::binary);
    file.write (reinterpret_cast<const char*> (out.data()), (std::streamsize) out.size());
    return (bool) file;
}

FloatWav readFloatWav (const std::string& path)
{
    std::ifstream file (path, std::ios::binary);
    const std::vector<uint8_t> bytes ((std::istreambuf_iterator<char> (file)),
                                      std::istreambuf_iterator<char>());
    FloatWav result;
    if (bytes.size() < 12 || std::memcmp (bytes.data(), "RIFF", 4) != 0
        || std::memcmp (bytes.data() + 8, "WAVE", 4) != 0)
        return result;

    uint32_t numChannels = 0, bitsPerSample = 0, format = 0;
    size_t pos = 12;
    while (pos + 8 <= bytes.size())
    {
        const uint8_t* chunk = bytes.data() + pos;
        const uint32_t size = get32 (chunk + 4);
        const uint8_t* body = chunk + 8;
        if (pos + 8 + size > bytes.size())
            break;

        if (std::memcmp (chunk, "fmt ", 4) == 0 && size >= 16)
        {
            format = get16 (body);
            numChannels = get16 (body + 2);
            result.sampleRate = (int) get32 (body + 4);
            bitsPerSample = get16 (body + 14);
            if (format == formatExtensible && size >= 40)
                format = get16 (body + 24);
        }
        else if (std::memcmp (chunk, "data", 4) == 0)
        {
            if (format != formatFloat || bitsPerSample != 32 || numChannels == 0)
                return {};
            const size_t numFrames = size / (4 * numChannels);
            result.channels.assign (numChannels, std::vector<float> (numFrames));
            for (size_t i = 0; i < numFrames; ++i)
                for (size_t ch = 0; ch < numChannels; ++ch)
                {
                    const uint32_t bits = get32 (body + 4 * (i * numChannels + ch));
                    std::memcpy (&result.channels[ch][i], &bits, 4);
                }
            return result;
        }
        pos += 8 + size + (size & 1);
    }
    return {};
}
