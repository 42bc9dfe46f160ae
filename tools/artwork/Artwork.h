#pragma once

#include "ArtworkCommon.h"

#include <vector>

// Every picture of the plug-in's window, drawn from scratch. Sizes, frame layouts and the
// colours the window depends on are fixed; the rest is styling. Each painter draws in window
// pixels at drawingDensity(): the 1x picture, or its 2x or 3x version (the knob strips' larger
// versions hold their frames side by side, see KnobArtwork.cpp).
namespace artwork
{
constexpr int numKnobFrames = 127;
constexpr int knobFrameSize = 70;

Picture paintAttackReleaseKnobStrip (const Fonts&);
Picture paintGainKnobStrip (const Fonts&);
Picture paintMaxPeakBand (const Fonts&);
Picture paintMaxPeakHandle (const Fonts&);
Picture paintInputMeter (const Fonts&);
Picture paintOutputMeter (const Fonts&);
Picture paintNarrowInputMeter (const Fonts&);
Picture paintNarrowOutputMeter (const Fonts&);
Picture paintGear (const Fonts&);
Picture paintAmbiXCaption (const Fonts&);
Picture paintFuMaCaption (const Fonts&);
Picture paintTruePeakCaption (const Fonts&);
Picture paintOrderCaptions (const Fonts&);
Picture paintOrderDigits (const Fonts&);
Picture paintWelcomeCard (const Fonts&);
Picture paintBackground (const Fonts&);
Picture paintHoaBackground (const Fonts&);

struct PictureEntry
{
    const char* fileName;
    Picture (*paint) (const Fonts&);
};

/** The pictures in the order they are written, with their file names in resources/. */
const std::vector<PictureEntry>& allPictures();

/**
        The pictures of a folder composed the way the window shows them, knobs at several positions,
        beside the film strips' first, middle and last frames and the welcome card.
    */
juce::Image composePreview (const juce::File& folder, const Fonts&);
} // namespace artwork
