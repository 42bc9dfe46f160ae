#include "editor/VuMeter.h"

#include "OrvalisResources.h"
#include "lookandfeel/WindowPictures.h"
#include "processor/CorvaneAudioProcessor.h"

#include <cmath>

VuMeter::VuMeter (CorvaneAudioProcessor& p, int index) : processor (p), channelIndex (index)
{
    setSize (4, 35);
    meterImage = windowPictures::load (OrvalisResources::vuMeterVerticalGreen_png,
                                       OrvalisResources::vuMeterVerticalGreen_pngSize);
}

VuMeter::~VuMeter() = default;

float VuMeter::readGainReductionDb() const
{
    return processor.getGainReductionDb();
}

void VuMeter::paint (juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();
    const int iw = meterImage.getWidth();
    const int ih = meterImage.getHeight();

    if (showsGainReduction)
    {
        float gainReductionDb = readGainReductionDb();

        if (std::isnan (gainReductionDb))
            gainReductionDb = 0.0f;

        if (gainReductionDb > gainReductionRangeDb)
            gainReductionDb = gainReductionRangeDb;
        else if (gainReductionDb < 0.0f)
            gainReductionDb = 0.0f;

        const float f = gainReductionDb / gainReductionRangeDb;
        windowPictures::draw (g,
                              meterImage,
                              0,
                              0,
                              w,
                              static_cast<int> (static_cast<float> (h) * f),
                              0,
                              0,
                              iw,
                              static_cast<int> (static_cast<float> (ih) * f));
        return;
    }

    // Only the gain-reduction meter is built without a slot; it must never read past the array.
    if (channelIndex < 0 || channelIndex >= CorvaneAudioProcessor::numMeters)
        return;

    const float level =
        processor.meterLevels[static_cast<size_t> (channelIndex)].load (std::memory_order_relaxed);

    // A value that is not a number would give an undefined pixel position.
    if (! std::isfinite (level))
        return;

    const float f = 1.0f - level;
    const int y = static_cast<int> (static_cast<float> (h) * f);
    const int sy = static_cast<int> (static_cast<float> (ih) * f);
    windowPictures::draw (g, meterImage, 0, y, w, h - y, 0, sy, iw, ih - sy);
}

void VuMeter::resized()
{
}
