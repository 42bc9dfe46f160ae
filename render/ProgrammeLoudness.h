#pragma once

#include "render/ChannelLayout.h"
#include "render/ChannelLoudness.h"
#include "render/LoudnessMeter.h"

#include <memory>

/** The loudness a file's layout calls for: W's (LoudnessMeter) or the channels' (libebur128). */
class ProgrammeLoudness
{
public:
    /** None when the layout's loudness is not measured. wGain applies to W (FuMa's is 3 dB low). */
    static std::unique_ptr<ProgrammeLoudness>
    create (const ChannelLayout& layout, double sampleRate, float wGain, int maxBlockSize);

    /** Adds numFrames frames of every channel of the layout. */
    void process (const float* const* channels, int numFrames);

    std::optional<double> getIntegratedLufs() const;
    double getRangeLu() const;

private:
    std::unique_ptr<LoudnessMeter> ofW;
    std::unique_ptr<ChannelLoudness> ofChannels;
};
