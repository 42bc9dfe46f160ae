#pragma once

#include "processor/InputHistory.h"

#include <algorithm>
#include <memory>

/**
    The bypass that keeps time: while the host bypasses the plug-in, every channel comes out
    delayed by the reported latency and otherwise exactly as they came, and every switch into or out
    of bypass crossfades over fadeMs (equal gain).

    Into bypass, the limiter keeps running for the fade, then rests (with the input gain and the
    meters). Out of bypass it resumes from the state it rested in; because its delay line still
    holds audio from before the bypass, the output stays with the bypassed signal for the limiter's
    delay and then fades over, so that no stale audio is heard. The first block after prepare
    switches without a fade.

    The processor hands over its blocks piece by piece (at most maxBlockSamples frames) with a
    callable that limits a piece in place: limit (channels, numSamples, updateMeters). A piece has
    the number of channels last set (setNumChannels, at most the maxChannels allocated for, four
    unless set). Nothing here allocates after construction.
*/
class TimeKeepingBypass
{
public:
    static constexpr float fadeMs = 5.0f;

    TimeKeepingBypass (int maxBlockSamples, int maxChannels = 4);

    /** Sets the channels of every piece from now on and forgets the input, as clearHistory does;
        outside processing only. */
    void setNumChannels (int numChannels) noexcept;

    /** Sets the fade's length for the rate; the next block switches without a fade. */
    void prepare (int sampleRate) noexcept;
    /** Forgets the input: what the bypass gives out next starts with silence. */
    void clearHistory() noexcept { history.clear(); }
    /** The length of the crossfade in samples. */
    int getFadeSamples() const noexcept { return fadeSamples; }

    /** Starts a block the host processes; limiterDelay is the limiter's current delay in samples. */
    void beginProcessedBlock (double limiterDelay) noexcept;

    /** A piece of a processed block: limited, and while a fade out of bypass runs, crossfaded with
        the input delayed by latency. recorded is the longest delay a later bypass may ask for. */
    template <typename Limit>
    void processedPiece (float* const* piece, int n, int latency, int recorded, Limit&& limit)
    {
        if (fadePos == 0)
        {
            history.record (piece, n, recorded);
            limit (piece, n, true);
            return;
        }

        float* delayed[maxScratchChannels];
        scratchChannels (delayed);
        history.delay (piece, delayed, n, latency);
        limit (piece, n, true);

        const float fadeLength = static_cast<float> (fadeSamples);
        for (int i = 0; i < n && fadePos > 0; ++i)
        {
            if (resumeHoldSamples > 0)
            {
                --resumeHoldSamples;
                for (int ch = 0; ch < numChannels; ++ch)
                    piece[ch][i] = delayed[ch][i];
                continue;
            }
            const float bypassed = static_cast<float> (--fadePos) / fadeLength;
            for (int ch = 0; ch < numChannels; ++ch)
                piece[ch][i] = crossfade (piece[ch][i], delayed[ch][i], bypassed);
        }
    }

    /** Starts a block the host bypasses. */
    void beginBypassedBlock() noexcept;

    /** A piece of a bypassed block: the input delayed by latency, and while the fade into bypass
        runs, crossfaded with the limited signal (limit then runs on the fade's samples only). */
    template <typename Limit>
    void bypassedPiece (float* const* piece, int n, int latency, Limit&& limit)
    {
        fadePos = std::min (fadePos, fadeSamples);
        if (fadePos == fadeSamples)
        {
            history.delay (piece, piece, n, latency);
            limiterMissedAudio = true;
            return;
        }

        float* delayed[maxScratchChannels];
        scratchChannels (delayed);
        history.delay (piece, delayed, n, latency);

        const int fading = std::min (n, fadeSamples - fadePos);
        limit (piece, fading, false);

        const float fadeLength = static_cast<float> (fadeSamples);
        for (int i = 0; i < fading; ++i)
        {
            const float bypassed = static_cast<float> (++fadePos) / fadeLength;
            for (int ch = 0; ch < numChannels; ++ch)
                piece[ch][i] = crossfade (piece[ch][i], delayed[ch][i], bypassed);
        }
        for (int ch = 0; ch < numChannels; ++ch)
            std::copy (delayed[ch] + fading, delayed[ch] + n, piece[ch] + fading);

        if (fading < n)
            limiterMissedAudio = true;
    }

private:
    /** Equal-gain crossfade between the limited and the bypassed sample. The bypassed input is
        the host's own and may not be finite; inside the fade it counts as silence, as the limiter
        counts it. */
    static float crossfade (float limited, float bypassedInput, float bypassedShare) noexcept;
    void scratchChannels (float** channels) noexcept;

    static constexpr int maxScratchChannels = 64;
    InputHistory history;
    int numChannels;
    std::unique_ptr<float[]> scratch; // the delayed input of one piece, channel by channel
    int scratchStride;
    // The bypassed share of the output is fadePos / fadeSamples; resumeHoldSamples counts the
    // samples after the end of a bypass during which the limiter's delay line still gives out
    // audio from before it.
    int fadeSamples = 1;
    int fadePos = 0;
    int resumeHoldSamples = 0;
    bool limiterMissedAudio = false; // the bypass ran without the limiter since it last processed
    bool stateKnown = false;         // the first block after prepare switches without a fade
};
