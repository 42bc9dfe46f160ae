#include "render/ProgrammeLoudness.h"

std::unique_ptr<ProgrammeLoudness> ProgrammeLoudness::create (const ChannelLayout& layout,
                                                              double sampleRate,
                                                              float wGain,
                                                              int maxBlockSize)
{
    auto meter = std::make_unique<ProgrammeLoudness>();
    switch (layout.loudness())
    {
        case ChannelLayout::Loudness::ofW:
            meter->ofW = std::make_unique<LoudnessMeter> (sampleRate, wGain, maxBlockSize);
            return meter;
        case ChannelLayout::Loudness::ofChannels:
            meter->ofChannels =
                std::make_unique<ChannelLoudness> (sampleRate, layout.loudnessChannelTypes());
            return meter;
        case ChannelLayout::Loudness::notMeasured:
            break;
    }
    return nullptr;
}

void ProgrammeLoudness::process (const float* const* channels, int numFrames)
{
    if (ofW != nullptr)
        ofW->process (channels[0], numFrames);
    else
        ofChannels->process (channels, numFrames);
}

std::optional<double> ProgrammeLoudness::getIntegratedLufs() const
{
    return ofW != nullptr ? ofW->getIntegratedLufs() : ofChannels->getIntegratedLufs();
}

double ProgrammeLoudness::getRangeLu() const
{
    return ofW != nullptr ? ofW->getRangeLu() : ofChannels->getRangeLu();
}
