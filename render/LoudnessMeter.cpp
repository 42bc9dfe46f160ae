#include "render/LoudnessMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>

struct LoudnessMeter::State
{
    ebur128_state* meter = nullptr;
};

LoudnessMeter::LoudnessMeter (double sampleRate, float g, int maxBlockSize) :
    state (std::make_unique<State>()),
    gain (g)
{
    state->meter = ebur128_init (1,
                                 static_cast<unsigned long> (sampleRate),
                                 EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM);
    if (state->meter != nullptr)
        ebur128_set_channel (state->meter, 0, EBUR128_CENTER);
    if (gain != 1.0f)
        scaled.resize (static_cast<size_t> (std::max (1, maxBlockSize)));
}

LoudnessMeter::~LoudnessMeter()
{
    if (state->meter != nullptr)
        ebur128_destroy (&state->meter);
}

void LoudnessMeter::process (const float* samples, int numFrames)
{
    if (state->meter == nullptr || numFrames <= 0)
        return;
    if (gain != 1.0f)
    {
        std::transform (
            samples, samples + numFrames, scaled.begin(), [this] (float s) { return s * gain; });
        samples = scaled.data();
    }
    ebur128_add_frames_float (state->meter, samples, static_cast<size_t> (numFrames));
}

std::optional<double> LoudnessMeter::getIntegratedLufs() const
{
    double lufs = 0.0;
    if (state->meter == nullptr || ebur128_loudness_global (state->meter, &lufs) != EBUR128_SUCCESS
        || ! std::isfinite (lufs))
        return std::nullopt;
    return lufs;
}

double LoudnessMeter::getRangeLu() const
{
    double lu = 0.0;
    if (state->meter == nullptr || ebur128_loudness_range (state->meter, &lu) != EBUR128_SUCCESS
        || ! std::isfinite (lu))
        return 0.0;
    return lu;
}
