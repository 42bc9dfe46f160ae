#pragma once

#include <cstddef>

/**
    The engine's per-channel work, one channel at a time and several frames at once: the detector's
    sample peaks, the true-peak detector's preparation, the delay with its interpolation, gain and
    clamp, and the frame sums that decide the gain readout. Built twice from one source
    (ChannelPassesBody.h): for the baseline x86-64 processor (four lanes, SSE2) and for processors
    with AVX2 (eight lanes), chosen at run time. Both give the same bits: every output value is the
    same sequence of IEEE single-precision operations on either path (no fused multiply-add on
    either), and the maxima compare in the same operand order.
*/
namespace channelPasses
{
constexpr int chunkLength = 64;

/** One run of the delay (see LookaheadLimiter::processChannels): count frames from frame k of the
    chunk, every channel, with no ring position wrapping within the run. */
struct DelayRun
{
    float* const* io;          // the channels, at the chunk's start
    const int* channels;       // the numChannels channels the run takes, in order
    float* lines;              // channel ch's delay ring at lines + ch * ringFrames
    float* peakLines;          // channel ch's true-peak ring likewise
    const float* channelPeaks; // channel ch's peaks for the chunk at ch * chunkLength
    const float* gains;        // per frame of the chunk
    const float* fracs;        // per frame: the delay's fraction
    const float* rests;        // per frame: 1 - fraction
    float* outputTruePeaks;    // per channel, raised by the run's output true peaks
    float* frameSums;          // per frame of the chunk: the outputs' sum over the channels so
    float* frameMagnitudes;    // far, and their magnitudes' (summed runs only)
    std::size_t ringFrames;
    int numChannels, k, count;
    int w, r, older, leaving; // ring positions of frame k: written, read, the entry before, the
                              // frame leaving the look-ahead (true-peak mode)
    float limit;
};

/** What the readout's proof needs (LookaheadLimiter's outputsSumToZero). */
struct FrameSums
{
    double total = 0.0, absolute = 0.0, largestPartial = 0.0;
};

using DelayRunFunction = void (*) (const DelayRun&) noexcept;

/** What a delay run adds to the output true-peak readouts: nothing (sample-peak mode), each
    frame's peak from the true-peak ring times its gain (true-peak mode, the readouts measured;
    the run also stores the chunk's channel peaks there), or the output samples' magnitudes (true-
    peak mode, the readouts not measured: the ring is neither written nor read). */
constexpr int noReadouts = 0, fromRing = 1, fromOutput = 2;
constexpr int delayRunCount = 48;

/** The true-peak interpolator's state of one channel (see TruePeakInterpolator): the last
    interpolatorHistory inputs, room for a chunk, and the later stages' values carried from one
    call to the next. All zeros is the state after silence. */
constexpr int interpolatorHistory = 88;
constexpr int interpolatorStateSize = interpolatorHistory + chunkLength + 8 + 16;

struct Passes
{
    /** The sample-peak detector values of count frames from start, non-finite samples made 0 in
        place; returns the first frame above limit, or count. silent[ch] tells whether channel
        ch's frames are all +0 then. */
    int (*samplePeaks) (float* const* x,
                        int numChannels,
                        int start,
                        int count,
                        float limit,
                        float* framePeaks,
                        bool* silent) noexcept;
    /** Non-finite samples of count frames from start made 0 in place. */
    void (*finiteOnly) (float* const* x, int numChannels, int start, int count) noexcept;
    /** The true-peak detector values from the channels' peaks. */
    void (*truePeakFramePeaks) (const float* channelPeaks,
                                int numChannels,
                                int count,
                                float limit,
                                float headroom,
                                float* framePeaks) noexcept;
    /** Pushes numFrames (at most chunkLength) samples of one channel through the true-peak
        interpolator whose state is given and writes each frame's peak; when every input
        magnitude the frames' peaks take is at most skipUpTo, the peaks are the centre samples'
        magnitudes instead (see TruePeakInterpolator). */
    void (*interpolate) (
        const float* samples, int numFrames, float* state, float skipUpTo, float* peaks) noexcept;
    /** delayRun[(summed * 8 + interpolated * 4 + readFirst * 2 + olderIsWritten) * 3 +
        readouts]; a summed run adds each output to its frame's frameSums and its magnitude to
        frameMagnitudes, channel by channel. */
    DelayRunFunction delayRun[delayRunCount];
    /** Adds count frames from start to the frames' sums (see outputsSumToZero), in order. */
    void (*addFrameSums) (FrameSums& sums,
                          const float* const* channels,
                          int numChannels,
                          int start,
                          int count) noexcept;
    /** Adds count frames to the frames' sums as addFrameSums would, from each frame's sum over
        the channels and its magnitudes' (as summed delay runs leave them). */
    void (*addChunkSums) (FrameSums& sums,
                          const float* frameSums,
                          const float* frameMagnitudes,
                          int count) noexcept;
    /** How many frames a vector holds on this path. */
    int lanes;
};

/** The passes for the baseline processor. */
const Passes& baseline() noexcept;
/** The widest passes this processor runs (AVX2 where it has it and ORVALIS_BASELINE_LANES is not
    set in the environment, else the baseline ones), chosen once. */
const Passes& best() noexcept;
} // namespace channelPasses
