#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class CorvaneAudioProcessor;

/**
    One meter of the window: a picture of the fully lit meter, revealed from the bottom in
    proportion to one of the processor's meter levels, or from the top in proportion to the
    limiter's gain reduction. No smoothing, peak hold or history; every paint reads the current
    value, and nothing is drawn where the picture is not.
*/
class VuMeter : public juce::Component
{
public:
    /** channelIndex is a meterLevels slot (CorvaneAudioProcessor::meterSlot); the gain-reduction
        meter passes -1. */
    VuMeter (CorvaneAudioProcessor&, int channelIndex);
    ~VuMeter() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    /** The gain reduction that fills the gain-reduction meter. */
    static constexpr float gainReductionRangeDb = 31.0f;

    juce::Image meterImage;
    bool showsGainReduction = false;

protected:
    /** The limiter's gain reduction after its last block, in dB. */
    virtual float readGainReductionDb() const;

private:
    CorvaneAudioProcessor& processor;
    const int channelIndex;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VuMeter)
};
