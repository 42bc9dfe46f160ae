// Paints the plug-in window, as a host would show it, in its main states into PNG files.
#include "processor/CorvaneAudioProcessor.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

void setParameter (juce::AudioProcessor& p, int index, float value)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

/**
    Half a second of a scene whose omni channel peaks at -6 dBFS, so that 12 dB of input gain and
    a -1 dB ceiling drive the limiter about 7 dB into reduction. The first four channels are
    Orvalis's four-channel scene; a higher-order signal has quieter tones in its other channels,
    each order about 3 dB below the one before.
*/
void playLoudScene (CorvaneAudioProcessor& p)
{
    p.prepareToPlay (sampleRate, blockSize);
    const int channels = p.getTotalNumInputChannels();
    juce::AudioBuffer<float> buffer (channels, blockSize);
    juce::MidiBuffer midi;
    juce::Random random (20240611);
    const double twoPi = juce::MathConstants<double>::twoPi;
    const float gains[] = { 0.5f, 0.35f, 0.25f, 0.15f };
    const double frequencies[] = { 220.0, 330.0, 0.0, 440.0 };
    long long n = 0;
    for (int block = 0; block < static_cast<int> (sampleRate / 2) / blockSize; ++block)
    {
        for (int i = 0; i < blockSize; ++i, ++n)
        {
            const double t = static_cast<double> (n) / sampleRate;
            for (int ch = 0; ch < 4; ++ch)
            {
                const float value =
                    frequencies[ch] > 0.0
                        ? static_cast<float> (std::sin (twoPi * frequencies[ch] * t))
                        : random.nextFloat() * 2.0f - 1.0f;
                buffer.setSample (ch, i, gains[ch] * value);
            }
            for (int ch = 4; ch < channels; ++ch)
            {
                const int order = static_cast<int> (std::sqrt (static_cast<double> (ch)));
                const double gain = 0.3 * std::pow (0.7, order - 1);
                buffer.setSample (
                    ch, i, static_cast<float> (gain * std::sin (twoPi * (110.0 * ch) * t)));
            }
        }
        p.processBlock (buffer, midi);
    }
}

void driveIntoLimiting (CorvaneAudioProcessor& p)
{
    setParameter (p, CorvaneAudioProcessor::paramInputGain, 0.2f);
    setParameter (p, CorvaneAudioProcessor::paramMaxPeakLevel, 0.45f);
    setParameter (p, CorvaneAudioProcessor::paramAttackTime, 0.125f);
    setParameter (p, CorvaneAudioProcessor::paramReleaseTime, 0.15f);
    playLoudScene (p);
}

juce::Button* buttonNamed (juce::Component& editor, const juce::String& name)
{
    for (auto* c : editor.getChildren())
        if (c->getName() == name)
            if (auto* b = dynamic_cast<juce::Button*> (c))
                return b;
    return nullptr;
}

/** What a click on one of the window's own buttons does. */
void press (juce::AudioProcessorEditor& editor, const juce::String& buttonName)
{
    if (auto* button = buttonNamed (editor, buttonName))
        dynamic_cast<juce::Button::Listener&> (editor).buttonClicked (button);
}

struct State
{
    const char* file;
    const char* description;
    std::function<void (CorvaneAudioProcessor&)> beforeOpening;
    std::function<void (juce::AudioProcessorEditor&)> afterOpening;
    int hoaOrder = 0; // Orvalis HOA at this order; 0 for Orvalis
};

bool writePng (const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    return out.openedOk() && png.writeImageToStream (image, out);
}

int run (const juce::File& folder, float scale)
{
    const State states[] = {
        { "window-default.png", "default settings, silence", [] (auto&) {}, [] (auto&) {} },
        { "window-limiting.png",
          "+12 dB input gain into a loud scene, ceiling -1 dB: meters lit, about 7 dB of reduction",
          driveIntoLimiting,
          [] (auto&) {} },
        { "window-options.png",
          "options panel shown (gear)",
          [] (auto&) {},
          [] (auto& e) { press (e, "engrenage"); } },
        { "window-welcome.png",
          "welcome panel shown (title strip)",
          [] (auto&) {},
          [] (auto& e) { press (e, "new button"); } },
        { "window-fuma.png",
          "FuMa input chosen: W X Y Z captions, options panel shown",
          [] (CorvaneAudioProcessor& p) { p.idxInputConfig = 1; },
          [] (auto& e) { press (e, "engrenage"); } },
        { "window-options-truepeak.png",
          "true peak chosen, options panel shown",
          [] (CorvaneAudioProcessor& p) { p.setTruePeakMode (true); },
          [] (auto& e) { press (e, "engrenage"); } },
        { "window-limiting-truepeak.png",
          "as window-limiting.png in true-peak mode: output meters show true peaks, ceiling in "
          "dBTP",
          [] (CorvaneAudioProcessor& p)
          {
              p.setTruePeakMode (true);
              driveIntoLimiting (p);
          },
          [] (auto&) {} },
        { "window-hoa-order1.png",
          "Orvalis HOA at 1st order (4 channels), limiting as window-limiting.png",
          driveIntoLimiting,
          [] (auto&) {},
          1 },
        { "window-hoa-order3.png",
          "Orvalis HOA at 3rd order (16 channels), limiting",
          driveIntoLimiting,
          [] (auto&) {},
          3 },
        { "window-hoa-order7.png",
          "Orvalis HOA at 7th order (64 channels), limiting in true-peak mode",
          [] (CorvaneAudioProcessor& p)
          {
              p.setTruePeakMode (true);
              driveIntoLimiting (p);
          },
          [] (auto&) {},
          7 },
        { "window-hoa-welcome.png",
          "Orvalis HOA's welcome panel",
          [] (auto&) {},
          [] (auto& e) { press (e, "new button"); },
          3 },
    };

    if (! folder.createDirectory())
    {
        std::fprintf (stderr, "cannot create %s\n", folder.getFullPathName().toRawUTF8());
        return 1;
    }

    for (const auto& state : states)
    {
        auto created = state.hoaOrder == 0 ? std::make_unique<CorvaneAudioProcessor>()
                                           : std::make_unique<CorvaneAudioProcessor> (
                                               product::orvalisHoa,
                                               juce::AudioChannelSet::discreteChannels (
                                                   product::channelsOfOrder (state.hoaOrder)));
        auto& processor = *created;
        // The scene plays as if the window were open already (Orvalis HOA meters only then).
        processor.addMeterViewer();
        state.beforeOpening (processor);
        processor.removeMeterViewer();
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
        dynamic_cast<juce::Timer&> (*editor).timerCallback();
        state.afterOpening (*editor);

        const auto image = editor->createComponentSnapshot (editor->getLocalBounds(), true, scale);
        const auto file = folder.getChildFile (state.file);
        if (! writePng (image, file))
        {
            std::fprintf (stderr, "cannot write %s\n", file.getFullPathName().toRawUTF8());
            return 1;
        }
        std::printf ("%s  %s\n", file.getFullPathName().toRawUTF8(), state.description);
    }
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    juce::String folder = "screenshots";
    float scale = 1.0f;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        if (arg == "--help" || arg == "-h")
        {
            std::printf (
                "usage: orvalis-screenshot [FOLDER] [--scale N]\n"
                "Paints the plug-in window in its main states (default, limiting, options,\n"
                "welcome, FuMa, Orvalis HOA at 1st, 3rd and 7th order) into\n"
                "FOLDER/window-*.png (default folder: screenshots).\n"
                "--scale N paints at N times the window's size (e.g. 2 for a HiDPI look).\n");
            return 0;
        }
        if (arg == "--scale" && i + 1 < argc)
            scale = juce::String (argv[++i]).getFloatValue();
        else if (arg.startsWith ("-"))
        {
            std::fprintf (stderr, "unknown option %s (try --help)\n", argv[i]);
            return 2;
        }
        else
            folder = arg;
    }
    if (! (scale > 0.0f && scale <= 8.0f))
    {
        std::fprintf (stderr, "--scale must be between 0 and 8\n");
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI gui;
    return run (juce::File::getCurrentWorkingDirectory().getChildFile (folder), scale);
}
