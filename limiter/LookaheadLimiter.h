#pragma once

#include "limiter/ChannelPasses.h"
#include "limiter/PeakWindow.h"
#include "limiter/TruePeakInterpolator.h"

#include <atomic>
#include <cstddef>
#include <memory>

/**
    A linked look-ahead peak limiter for 1 to 64 channels: the four of a first-order ambisonic
    signal by default, up to the 64 of seventh order.

    Delays the audio by the look-ahead N and lowers all channels with one common gain so that the
    largest absolute sample of any channel within the last N + 1 samples leaves the delay at the
    ceiling. A hard clamp at plus or minus the ceiling guards the output. Works in place on 32-bit
    floats; knows nothing of any plug-in framework.

    The channel count: the constructor allocates for maxChannels (4 unless given), and
    setNumChannels selects how many of them process() limits (4 unless given; the owner calls it
    before processing). The law is the same for every count, with the detector's peak taken over
    all channels; per frame only the per-channel work (delay, gain, clamp, detection) grows with
    the count. The per-channel readouts (getOutputTruePeak) are indexed 0 to getNumChannels() - 1.

    In true-peak mode (off unless setTruePeak switches it on) the detector value of a frame is the
    largest magnitude over all channels of the signal around one sample, oversampled eight times
    up to the Nyquist frequency and with the points of orvalis-render's 4x meter besides
    (TruePeakInterpolator), times truePeakHeadroom. The delay is longer by truePeakDelaySamples
    (the interpolator's delay and a hold, also without a look-ahead), the window is longer by the
    hold on either side of the frame, the attack is longer and the gain's rise is bounded
    (truePeakRiseLimit), so that the gain changes gently and is at the value found for a sample
    on either side of it when that sample leaves the delay. The same window peak and gain law
    then keep the output's true peak at the ceiling less the headroom. With the mode off,
    everything is exactly as without it.

    Every buffer is allocated in the constructor for 192 kHz at the largest look-ahead; no other
    method allocates. Setters refuse an argument by returning kRefused and then change nothing
    (except where noted). The resizing setters (setSampleRate, setLookaheadMs, setNumChannels,
    reset) must not run while process() runs.
*/
class LookaheadLimiter
{
public:
    static constexpr int kOk = 0;
    static constexpr int kRefused = -98;
    /** The most channels a limiter can be allocated for. */
    static constexpr int largestChannelCount = TruePeakInterpolator::largestChannelCount;

    /** What true-peak mode multiplies the detector values by (0.2 dB): the output's true peak
        stays this far under the ceiling, which covers the interpolator's errors against a
        band-limited reconstruction and what the gain's own changes add between the samples. */
    static constexpr float truePeakHeadroom = 1.02329299f;
    /** In true-peak mode the gain rises by at most this factor from one sample to the next
        (0.1 dB: with a release of 0, 20 dB take 200 samples), which holds at any release. */
    static constexpr float truePeakRiseLimit = 1.0116f;
    /** In true-peak mode each frame holds the gain H samples before and after it (the window is
        longer by 2 H frames and the delay by H), and the attack is longer by 3 H / 4 samples, so
        that the gain falls gently (over at least 73 samples, also without a look-ahead) and is
        still on either side of a peak as far as the samples that make up its inter-sample value. */
    static constexpr int truePeakHoldSamples = 96;
    /** While the output true peaks are measured (setOutputTruePeaksMeasured), they are exact from
        this level up (-80 dBFS, where level meters show nothing); under it they may read the
        largest sample instead. */
    static constexpr float outputTruePeakFloor = 1.0e-4f;
    /** How much longer the delay is in true-peak mode, in samples at any rate. */
    static constexpr int truePeakDelaySamples =
        TruePeakInterpolator::delaySamples + truePeakHoldSamples;
    /** A look-ahead change or a peak-mode switch starts a settle phase, whose releases take this
        long (ms), only while the release time is shorter than this. */
    static constexpr float settleReleaseLimitMs = 75.0f;

    /** Allocates every buffer for maxChannels channels (1 to largestChannelCount) at 192 kHz and
        maxLookaheadMs, and sets the linear ceiling; with maxChannels outside that range, or when
        the allocation fails, the limiter is left empty (isAllocated() is false). */
    LookaheadLimiter (float maxLookaheadMs, float ceiling, int maxChannels = 4);
    ~LookaheadLimiter();

    LookaheadLimiter (const LookaheadLimiter&) = delete;
    LookaheadLimiter& operator= (const LookaheadLimiter&) = delete;

    /** Sets the rate in Hz, recomputes the look-ahead in samples and resets; refuses rates above 192000. */
    int setSampleRate (int rate);
    /** Sets the look-ahead in ms and clears the peak detector; the delay glides to the new length. */
    int setLookaheadMs (float ms);
    /** Sets the release time in ms at the current rate. */
    int setReleaseMs (float ms);
    /** Sets the linear output ceiling. */
    int setCeiling (float linear);
    /** Selects how many channels process() limits and resets; refused outside 1 to the allocated
        count, and then nothing changes. */
    int setNumChannels (int numChannels = 4);
    /** Switches true-peak detection on or off; clears the peak detector, the delay glides. */
    int setTruePeak (bool on);
    /** Whether the next process() calls measure the output true peaks (getOutputTruePeak) exactly
        (on unless switched off); the output is the same either way, and off costs less. Off, a
        readout is the largest magnitude of the channel's output samples (at most the exact
        value); it is exact again for the frames that enter the delay after it is switched on
        (the readouts of the frames still in the delay then may read their samples). May be called
        between process() calls on the audio thread. */
    void setOutputTruePeaksMeasured (bool on) noexcept { outputTruePeaksMeasured = on; }

    /** The look-ahead in samples: the delay of the output and the latency to report. */
    int getLookaheadSamples() const noexcept { return lookaheadSamples; }
    /** The delay of the output in samples: the look-ahead, plus truePeakDelaySamples in
        true-peak mode (also with a look-ahead of 0). */
    int getLatencySamples() const noexcept;
    /** The gain reduction after the last block in dB, 0 when there was none. */
    float getGainReductionDb() const noexcept;

    /** Limits getNumChannels() channels of numSamples samples in place. */
    int process (float* const* channels, int numSamples) noexcept;
    /** Clears the peak detector, the gain and the delay rings. */
    int reset() noexcept;

    // Read-only views for the owner, the tests and the meters.
    float getGain() const noexcept { return gain; }
    float getGainReadout() const noexcept { return gainReadout.load (std::memory_order_relaxed); }
    float getCeiling() const noexcept { return ceiling; }
    float getLookaheadMs() const noexcept { return lookaheadMs; }
    float getReleaseMs() const noexcept { return releaseMs; }
    int getSampleRate() const noexcept { return sampleRate; }
    int getNumChannels() const noexcept { return numChannels; }
    int getMaxChannels() const noexcept { return maxChannels; }
    int getDelayCapacity() const noexcept { return delayCapacity; }
    float getAttackCoeff() const noexcept { return attackCoeff; }
    float getReleaseCoeff() const noexcept { return releaseCoeff; }
    float getSettleWeight() const noexcept { return settleWeight; }
    float getSettleCoeff() const noexcept { return settleCoeff; }
    float getSmoothedDelay() const noexcept { return smoothedDelay; }
    bool isAllocated() const noexcept { return delayLines != nullptr; }
    bool isTruePeak() const noexcept { return truePeak; }
    /** True when process measures true peaks: in true-peak mode, with any look-ahead (also none:
        the detector's delay remains). */
    bool measuresTruePeaks() const noexcept { return truePeak; }
    /** In true-peak mode, a channel's true peak over the last block's output as the detector
        measured it (its value around each output sample times that sample's gain; see
        setOutputTruePeaksMeasured); 0 otherwise, and for a channel outside 0 to
        getNumChannels() - 1. */
    float getOutputTruePeak (int channel) const noexcept
    {
        return channel >= 0 && channel < numChannels
                   ? outputTruePeaks[static_cast<size_t> (channel)]
                   : 0.0f;
    }

private:
    friend struct LookaheadLimiterTestAccess;

    struct GainState
    {
        float gain, attackTarget, settleWeight;
    };

    void resizeWindow() noexcept;
    void startSettle() noexcept;
    int delayTarget() const noexcept;
    size_t ringEntries() const noexcept
    {
        return static_cast<size_t> (ringFrames) * static_cast<size_t> (numChannels);
    }
    int olderEntry (int writePos, int r, int d) const noexcept;
    float detectorValue (const float* const* channels, int i) const noexcept;
    void stepGain (GainState&, float windowPeak) const noexcept;
    void stepTruePeakGain (GainState&, float windowPeak) const noexcept;
    void processEachChannel (float* const* channels, int numSamples) noexcept;
    void processChannels (float* const* channels, int numSamples) noexcept;
    void rebuildTruePeakRing() noexcept;

    // Legend (units and ranges):
    //   lookaheadSamples     N, samples; >= 1 after every accepted setter, 0 only after a refused
    //                        setSampleRate whose look-ahead truncates below one sample
    //   attackCoeff          0.1^(1/(N+1)), per sample
    //   releaseCoeff         0.1^(1/(rate*releaseMs/1000+1)), per sample
    //   peakWindow           the detector values of the last N + 1 frames: max(ceiling, |x_ch|)
    //                        (in true-peak mode the interpolator's peaks times the headroom)
    //   gain, attackTarget   common gain (0..1] and the pre-compensated value it moves toward
    //   delayLines           one ring of ringFrames frames per allocated channel, one after the
    //                        other (frame f of channel ch at ch * ringFrames + f), written at
    //                        delayWritePos
    //   delayCapacity        the largest N + 1: the longest sample-peak delay, plus one
    //   smoothedDelay        read delay in samples, gliding toward N (N + the interpolator's
    //                        delay in true-peak mode) after a look-ahead or mode change
    //   settleWeight         > 0.0001 while releases use settleCoeff (settleReleaseLimitMs) after
    //                        a look-ahead change or a peak-mode switch
    //   gainReadout          gain after the last block, 1.0 when the block's outputs summed to 0
    int lookaheadSamples = 1;
    float attackCoeff = 0.0f;
    float releaseCoeff = 0.0f;
    float lookaheadMs = 0.0f;
    float releaseMs = 0.0f;
    float maxLookaheadMs = 0.0f;
    float ceiling = 1.0f;
    int numChannels = 4;
    int maxChannels = 4;
    int sampleRate = 192000;
    int maxSampleRate = 192000;
    float gain = 1.0f;
    float attackTarget = 1.0f;
    float settleWeight = 0.0f;
    float settleCoeff = 0.0f;
    PeakWindow peakWindow;
    std::unique_ptr<float[]> delayLines;
    int delayWritePos = 0;
    int delayCapacity = 0;
    float smoothedDelay = 0.0f;
    std::atomic<float> gainReadout { 1.0f }; // read by the editor while audio runs

    // True-peak mode. truePeakRing holds, at each delay-ring frame, each channel's peak the
    // interpolator found for that frame (laid out as the delay rings); ringFrames, the length of
    // every ring, is delayCapacity plus the interpolator's largest delay (in sample-peak mode the
    // extra frames are never read). channelPeaks is the interpolator's output for one chunk.
    bool truePeak = false;
    TruePeakInterpolator interpolator;
    float* truePeakRing = nullptr; // inside the delayLines allocation
    float* channelPeaks = nullptr; // inside the delayLines allocation
    int ringFrames = 0;
    // Per channel: how many of the last frames written to its delay ring were +0, up to
    // ringFrames (then the whole ring is +0); 0 in true-peak mode.
    int silentFrames[largestChannelCount] {};
    float outputTruePeaks[largestChannelCount] {};
    bool outputTruePeaksMeasured = true;
    // True when a block ran in true-peak mode without the readouts measured, so that the
    // true-peak ring was not kept.
    bool truePeakRingStale = false;
    // The per-channel passes in use: the widest the processor runs (tests may choose others).
    const channelPasses::Passes* lanePasses = &channelPasses::best();
};
