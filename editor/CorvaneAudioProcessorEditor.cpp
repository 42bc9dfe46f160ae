#include "editor/CorvaneAudioProcessorEditor.h"

#include "OrvalisResources.h"
#include "editor/DesktopScale.h"
#include "lookandfeel/WindowPictures.h"
#include "processor/CorvaneAudioProcessor.h"

#include <cmath>

namespace
{
constexpr int allEdges = juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight
                         | juce::Button::ConnectedOnTop | juce::Button::ConnectedOnBottom;

juce::Image picture (const char* data, int size)
{
    return windowPictures::load (data, size);
}

// The colours every knob shares; the ones that differ are set per knob.
void setCommonKnobColours (juce::Slider& s)
{
    s.setColour (juce::Slider::rotarySliderFillColourId, juce::Colour (0x7ffdfdfd));
    s.setColour (juce::Slider::rotarySliderOutlineColourId, juce::Colour (0xff797979));
    s.setColour (juce::Slider::textBoxHighlightColourId, juce::Colour (0x3affffff));
    s.setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0x00b9b9b9));
}

// Attack and release: black knob ground, light value box.
void setTimeKnobColours (juce::Slider& s)
{
    s.setColour (juce::Slider::backgroundColourId, juce::Colour (0xff000000));
    s.setColour (juce::Slider::thumbColourId, juce::Colour (0xff000000));
    s.setColour (juce::Slider::trackColourId, juce::Colour (0xff000000));
    setCommonKnobColours (s);
    s.setColour (juce::Slider::textBoxTextColourId, juce::Colour (0xffd7d7d7));
    s.setColour (juce::Slider::textBoxBackgroundColourId, juce::Colour (0x5092928d));
}

std::unique_ptr<juce::Slider> makeKnob (const char* name,
                                        juce::Slider::TextEntryBoxPosition textBox,
                                        int textBoxWidth,
                                        int textBoxHeight)
{
    auto s = std::make_unique<juce::Slider> (name);
    s->setSliderStyle (juce::Slider::RotaryVerticalDrag);
    s->setTextBoxStyle (textBox, false, textBoxWidth, textBoxHeight);
    return s;
}
} // namespace

CorvaneAudioProcessorEditor::CorvaneAudioProcessorEditor (CorvaneAudioProcessor& p) :
    AudioProcessorEditor (p),
    metersPerOrder (p.getProduct().metersPerOrder)
{
    engrenage = std::make_unique<juce::ImageButton> ("engrenage");
    addAndMakeVisible (engrenage.get());
    engrenage->addListener (this);
    const auto gear =
        picture (OrvalisResources::engrenage_png, OrvalisResources::engrenage_pngSize);
    engrenage->setImages (false,
                          true,
                          true,
                          gear,
                          0.85f,
                          juce::Colour (0x00000000),
                          gear,
                          1.0f,
                          juce::Colour (0x00000000),
                          gear,
                          0.5f,
                          juce::Colour (0x00000000),
                          0.0f);

    addMeters (0, 6);

    sliderGain = makeKnob ("sliderGain", juce::Slider::TextBoxRight, 45, 15);
    addAndMakeVisible (sliderGain.get());
    sliderGain->setColour (juce::Slider::backgroundColourId, juce::Colour (0x00000000));
    sliderGain->setColour (juce::Slider::thumbColourId, juce::Colour (0xffeeeeee));
    setCommonKnobColours (*sliderGain);
    sliderGain->setColour (juce::Slider::textBoxTextColourId, juce::Colour (0xffd7d7d7));
    sliderGain->setColour (juce::Slider::textBoxBackgroundColourId, juce::Colour (0x5092928d));
    sliderGain->addListener (this);

    titleButton = std::make_unique<juce::TextButton> ("new button");
    addAndMakeVisible (titleButton.get());
    titleButton->setButtonText (juce::String());
    titleButton->setConnectedEdges (allEdges);
    titleButton->addListener (this);
    titleButton->setColour (juce::TextButton::buttonColourId, juce::Colour (0x00bbbbff));
    titleButton->setColour (juce::TextButton::buttonOnColourId, juce::Colour (0x48e8e8e8));

    addMeters (6, metersPerOrder ? static_cast<int> (vuMeters.size()) : 8);

    sliderAttack = makeKnob ("sliderAttack", juce::Slider::TextBoxRight, 55, 15);
    addAndMakeVisible (sliderAttack.get());
    setTimeKnobColours (*sliderAttack);
    sliderAttack->addListener (this);

    sliderRelease = makeKnob ("sliderRelease", juce::Slider::TextBoxRight, 55, 15);
    addAndMakeVisible (sliderRelease.get());
    setTimeKnobColours (*sliderRelease);
    sliderRelease->addListener (this);

    sliderThreshold = makeKnob ("sliderThreshold", juce::Slider::TextBoxBelow, 40, 12);
    addAndMakeVisible (sliderThreshold.get());
    sliderThreshold->setColour (juce::Slider::backgroundColourId, juce::Colour (0x00000000));
    sliderThreshold->setColour (juce::Slider::thumbColourId, juce::Colour (0xffeeeeee));
    setCommonKnobColours (*sliderThreshold);
    sliderThreshold->setColour (juce::Slider::textBoxTextColourId, juce::Colour (0xff6f6f6f));
    sliderThreshold->setColour (juce::Slider::textBoxBackgroundColourId, juce::Colour (0x0092928d));
    sliderThreshold->addListener (this);

    vuMeterGainReduction = std::make_unique<VuMeter> (p, -1);
    addAndMakeVisible (vuMeterGainReduction.get());
    vuMeterGainReduction->setName ("vuMeterGainReduction");

    blueLine = std::make_unique<BlueLine>();
    addAndMakeVisible (blueLine.get());
    blueLine->setName ("blueLine");

    backgroundImage =
        metersPerOrder
            ? picture (OrvalisResources::backgroundHoa_jpg, OrvalisResources::backgroundHoa_jpgSize)
            : picture (OrvalisResources::background_jpg, OrvalisResources::background_jpgSize);
    loadCaptions (0);

    setSize (windowWidth, windowHeight);

    optionGUI = std::make_unique<OptionGUI> (&p);
    addChildComponent (optionGUI.get());
    welcomeGUI = std::make_unique<WelcomeGUI> (p.getName());
    addChildComponent (welcomeGUI.get());

    p.uiRefreshNeeded.store (true, std::memory_order_relaxed);

    for (const auto& knob : parameters::knobs)
    {
        auto& slider = *sliderFor (knob.index);
        slider.setTextValueSuffix (juce::String (" ") + knob.unit);
        slider.setRange (knob.minimum, knob.maximum, knob.step);
        slider.setDoubleClickReturnValue (true, knob.defaultValue);
        if (knob.skew != 1.0)
            slider.setSkewFactor (knob.skew);
    }
    sliderThreshold->setMouseDragSensitivity (100);

    titleButton->setLookAndFeel (&transparentButtonLookAndFeel);
    sliderAttack->setLookAndFeel (&altLookAndFeel);
    sliderRelease->setLookAndFeel (&altLookAndFeel);
    sliderThreshold->setLookAndFeel (&maxPeakLookAndFeel);
    sliderGain->setLookAndFeel (&gainLookAndFeel);

    setKnobsFromParameters();

    const auto green = metersPerOrder ? picture (OrvalisResources::vuMeterNarrowGreen_png,
                                                 OrvalisResources::vuMeterNarrowGreen_pngSize)
                                      : picture (OrvalisResources::vuMeterVerticalGreen_png,
                                                 OrvalisResources::vuMeterVerticalGreen_pngSize);
    const auto redGreen = metersPerOrder
                              ? picture (OrvalisResources::vuMeterNarrowRedGreen_png,
                                         OrvalisResources::vuMeterNarrowRedGreen_pngSize)
                              : picture (OrvalisResources::vuMeterVerticalRedGreen_png,
                                         OrvalisResources::vuMeterVerticalRedGreen_pngSize);
    const int firstOutput = p.meterSlot (true, 0);
    for (size_t slot = 0; slot < vuMeters.size(); ++slot)
        if (vuMeters[slot] != nullptr)
            vuMeters[slot]->meterImage = static_cast<int> (slot) < firstOutput ? green : redGreen;
    vuMeterGainReduction->meterImage =
        picture (OrvalisResources::bandeBleue_png, OrvalisResources::bandeBleue_pngSize);
    vuMeterGainReduction->showsGainReduction = true;

    engrenage->setTriggeredOnMouseDown (true);

    placeThresholdLine();

    truePeakImage =
        picture (OrvalisResources::captionTruePeak_png, OrvalisResources::captionTruePeak_pngSize);
    if (p.isTruePeakMode())
        showPeakMode (true);
    if (metersPerOrder)
    {
        orderCaptionsImage =
            picture (OrvalisResources::captionOrders_png, OrvalisResources::captionOrders_pngSize);
        orderDigitsImage = picture (OrvalisResources::captionOrderDigits_png,
                                    OrvalisResources::captionOrderDigits_pngSize);
        showOrders (p.getNumMeterGroups());
    }

    shownInputConfig = 0;
    const int inputConfig = p.idxInputConfig.load (std::memory_order_relaxed);
    if (inputConfig != 0)
    {
        shownInputConfig = inputConfig;
        loadCaptions (inputConfig);
    }

    desktopScaleFactor = desktopScale::forWindow();
    shownSize = p.getWindowSize();
    applyScale();

    p.addMeterViewer();

    startTimer (timerIntervalMs);
}

CorvaneAudioProcessorEditor::~CorvaneAudioProcessorEditor()
{
    owner().removeMeterViewer();
    optionGUI = nullptr;

    engrenage = nullptr;
    for (size_t slot = 0; slot < 6; ++slot)
        vuMeters[slot] = nullptr;
    sliderGain = nullptr;
    titleButton = nullptr;
    for (size_t slot = 6; slot < vuMeters.size(); ++slot)
        vuMeters[slot] = nullptr;
    sliderAttack = nullptr;
    sliderRelease = nullptr;
    sliderThreshold = nullptr;
    vuMeterGainReduction = nullptr;
    blueLine = nullptr;

    backgroundImage = juce::Image();
    inputOrderImage = juce::Image();
    outputOrderImage = juce::Image();
    truePeakImage = juce::Image();
    orderCaptionsImage = juce::Image();
    orderDigitsImage = juce::Image();
    // The look-and-feel members go next, with no component left that uses them; welcomeGUI,
    // declared first, goes last and uses only its own.
}

CorvaneAudioProcessor& CorvaneAudioProcessorEditor::owner() const noexcept
{
    return static_cast<CorvaneAudioProcessor&> (processor);
}

void CorvaneAudioProcessorEditor::addMeters (int firstSlot, int endSlot)
{
    for (int slot = firstSlot; slot < endSlot; ++slot)
    {
        auto& meter = vuMeters[static_cast<size_t> (slot)];
        meter = std::make_unique<VuMeter> (owner(), slot);
        addAndMakeVisible (meter.get());
        meter->setName ("vuMeter");
    }
}

void CorvaneAudioProcessorEditor::showOrders (int numOrders)
{
    shownOrders = numOrders;
    for (int order = 0; order < product::maxMetersPerSide; ++order)
        for (bool output : { false, true })
            vuMeters[static_cast<size_t> (owner().meterSlot (output, order))]->setVisible (
                order < numOrders);
    repaint();
}

void CorvaneAudioProcessorEditor::paintOrderMeters (juce::Graphics& g)
{
    // The order the signal has, and its channels, from the caption picture's row for it.
    const int row = shownOrders - 2; // orders 0..N are shown for the N-th order: row N - 1
    if (row >= 0 && row < orderCaptionsImage.getHeight() / hoaMeters::captionHeight)
        windowPictures::draw (g,
                              orderCaptionsImage,
                              hoaMeters::captionX,
                              hoaMeters::captionY,
                              hoaMeters::captionWidth,
                              hoaMeters::captionHeight,
                              0,
                              row * hoaMeters::captionHeight,
                              hoaMeters::captionWidth,
                              hoaMeters::captionHeight);

    // The numbers of the orders the signal has light up; the tracks of the others recede.
    const int litWidth = hoaMeters::pitch * shownOrders;
    for (int x : { hoaMeters::inputX (0), hoaMeters::outputX (0) })
        windowPictures::draw (g,
                              orderDigitsImage,
                              x,
                              hoaMeters::digitsY,
                              litWidth,
                              hoaMeters::captionHeight,
                              0,
                              0,
                              litWidth,
                              hoaMeters::captionHeight);
    g.setColour (juce::Colours::black.withAlpha (0.6f));
    for (int order = shownOrders; order < hoaMeters::numTracks; ++order)
        for (int x : { hoaMeters::inputX (order), hoaMeters::outputX (order) })
            g.fillRect (
                x - 1, hoaMeters::top - 1, hoaMeters::trackWidth + 2, hoaMeters::height + 2);
}

void CorvaneAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff000000));

    g.setColour (juce::Colour (0xff000000));
    windowPictures::draw (g,
                          backgroundImage,
                          0,
                          0,
                          windowWidth,
                          windowHeight,
                          0,
                          0,
                          backgroundImage.getWidth(),
                          backgroundImage.getHeight());
    if (metersPerOrder)
        paintOrderMeters (g);
    else
    {
        windowPictures::draw (g,
                              inputOrderImage,
                              48,
                              248,
                              69,
                              9,
                              0,
                              0,
                              inputOrderImage.getWidth(),
                              inputOrderImage.getHeight());
        windowPictures::draw (g,
                              outputOrderImage,
                              217,
                              248,
                              69,
                              9,
                              0,
                              0,
                              outputOrderImage.getWidth(),
                              outputOrderImage.getHeight());
    }
    if (shownTruePeak)
        windowPictures::draw (g,
                              truePeakImage,
                              213,
                              262,
                              78,
                              9,
                              0,
                              0,
                              truePeakImage.getWidth(),
                              truePeakImage.getHeight());
}

void CorvaneAudioProcessorEditor::resized()
{
    // A wrapper that sets the size back from a scaled one rounds it up (JUCE 7.0.5's VST3 and
    // VST 2.4 wrappers give 436 x 374 after 150 %): the window keeps its own.
    if (getWidth() != windowWidth || getHeight() != windowHeight)
    {
        setSize (windowWidth, windowHeight);
        return;
    }

    // clang-format off
    static constexpr int meterX[] = { 50, 69, 89, 108, 218, 237, 257, 276 };
    // clang-format on
    engrenage->setBounds (407, 5, 18, 18);
    if (metersPerOrder)
        for (int order = 0; order < hoaMeters::numTracks; ++order)
        {
            vuMeters[static_cast<size_t> (owner().meterSlot (false, order))]->setBounds (
                hoaMeters::inputX (order),
                hoaMeters::top,
                hoaMeters::trackWidth,
                hoaMeters::height);
            vuMeters[static_cast<size_t> (owner().meterSlot (true, order))]->setBounds (
                hoaMeters::outputX (order),
                hoaMeters::top,
                hoaMeters::trackWidth,
                hoaMeters::height);
        }
    else
        for (size_t slot = 0; slot < 8; ++slot)
            vuMeters[slot]->setBounds (meterX[slot], 76, 10, 162);
    sliderGain->setBounds (10, 298, 114, 70);
    titleButton->setBounds (0, 0, 208, 28);
    sliderAttack->setBounds (153, 310, 113, 56);
    sliderRelease->setBounds (312, 310, 113, 56);
    sliderThreshold->setBounds (367, 71, 64, 137);
    vuMeterGainReduction->setBounds (155, 30, 27, 250);
    blueLine->setBounds (202, 76, 99, 3);
}

void CorvaneAudioProcessorEditor::timerCallback()
{
    for (auto& meter : vuMeters)
        if (meter != nullptr && meter->isVisible())
            meter->repaint();
    vuMeterGainReduction->repaint();

    // Lowered before the values are read: a change flagged while they are read raises it again
    // and is picked up on the next tick.
    if (owner().uiRefreshNeeded.exchange (false, std::memory_order_acquire))
        refreshFromProcessor();
}

void CorvaneAudioProcessorEditor::refreshFromProcessor()
{
    setKnobsFromParameters();
    placeThresholdLine();

    const int inputConfig = owner().idxInputConfig.load (std::memory_order_relaxed);
    if (inputConfig != shownInputConfig)
    {
        shownInputConfig = inputConfig;
        loadCaptions (inputConfig);
        repaint();
    }
    if (owner().isTruePeakMode() != shownTruePeak)
        showPeakMode (! shownTruePeak);
    if (metersPerOrder && owner().getNumMeterGroups() != shownOrders)
        showOrders (owner().getNumMeterGroups());
    if (owner().getWindowSize() != shownSize)
    {
        shownSize = owner().getWindowSize();
        applyScale();
    }
}

void CorvaneAudioProcessorEditor::setScaleFactor (float newScale)
{
    hostScale = newScale > 0.0f && std::isfinite (newScale) ? newScale : 1.0f;
    applyScale();
}

void CorvaneAudioProcessorEditor::applyScale()
{
    const float base = hostScale != 1.0f ? hostScale : desktopScaleFactor;
    AudioProcessorEditor::setScaleFactor (base * static_cast<float> (shownSize) / 100.0f);
}

void CorvaneAudioProcessorEditor::showPeakMode (bool truePeak)
{
    shownTruePeak = truePeak;
    sliderThreshold->setTextValueSuffix (truePeak ? " dBTP" : " dB");
    repaint();
}

void CorvaneAudioProcessorEditor::setKnobsFromParameters()
{
    for (const auto& knob : parameters::knobs)
    {
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        const float normalised = owner().getParameter (knob.index);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
        sliderFor (knob.index)->setValue (knob.toUnit (normalised), juce::dontSendNotification);
    }
}

void CorvaneAudioProcessorEditor::placeThresholdLine()
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    const float maxPeak = owner().getParameter (CorvaneAudioProcessor::paramMaxPeakLevel);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    // A value outside 0..1 is stored as given but limits at the end of the range, and a huge one
    // would overflow the conversion to int: the line marks the ceiling in force.
    const int y = static_cast<int> ((1.0f - juce::jlimit (0.0f, 1.0f, maxPeak)) * 80.0f + 75.0f);
    blueLine->setBounds (202, y, 99, 3);
    blueLine->setVisible (true);
}

void CorvaneAudioProcessorEditor::loadCaptions (int inputConfig)
{
    // Orvalis HOA numbers its meters by order, in either convention.
    if (metersPerOrder)
        return;
    const auto caption =
        inputConfig == 1
            ? picture (OrvalisResources::captionFuMa_png, OrvalisResources::captionFuMa_pngSize)
            : picture (OrvalisResources::captionAmbiX_png, OrvalisResources::captionAmbiX_pngSize);
    inputOrderImage = caption;
    outputOrderImage = caption;
}

void CorvaneAudioProcessorEditor::buttonClicked (juce::Button* button)
{
    if (button == engrenage.get())
        optionGUI->setVisible (! optionGUI->isVisible());
    else if (button == titleButton.get())
        welcomeGUI->setVisible (! welcomeGUI->isVisible());
}

int CorvaneAudioProcessorEditor::parameterIndexOf (const juce::Slider* slider) const noexcept
{
    for (const auto& knob : parameters::knobs)
        if (slider != nullptr && slider == sliderFor (knob.index))
            return knob.index;
    return -1;
}

juce::Slider* CorvaneAudioProcessorEditor::sliderFor (parameters::Index index) const noexcept
{
    switch (index)
    {
        case parameters::attackTime:
            return sliderAttack.get();
        case parameters::releaseTime:
            return sliderRelease.get();
        case parameters::maxPeakLevel:
            return sliderThreshold.get();
        case parameters::inputGain:
            return sliderGain.get();
    }
    return nullptr;
}

void CorvaneAudioProcessorEditor::sliderValueChanged (juce::Slider* slider)
{
    const int index = parameterIndexOf (slider);
    if (index < 0)
        return;

    const float normalised =
        parameters::knobs[static_cast<size_t> (index)].toNormalised (slider->getValue());

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    owner().setParameterNotifyingHost (index, normalised);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

void CorvaneAudioProcessorEditor::sliderDragStarted (juce::Slider* slider)
{
    const int index = parameterIndexOf (slider);
    if (index < 0)
        return;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    owner().beginParameterChangeGesture (index);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

void CorvaneAudioProcessorEditor::sliderDragEnded (juce::Slider* slider)
{
    const int index = parameterIndexOf (slider);
    if (index < 0)
        return;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    owner().endParameterChangeGesture (index);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}
