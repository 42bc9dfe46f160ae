// orvalis-artwork: draws every picture of the plug-in's window into a folder, or composes the
// pictures of a folder into one preview image.

#include "Artwork.h"

#include <juce_events/juce_events.h>

#include <iostream>

namespace
{
const char* const usage =
    "usage: orvalis-artwork [--fonts <folder>] --write <folder>\n"
    "       orvalis-artwork [--fonts <folder>] --preview <folder> <preview.png>\n"
    "\n"
    "--write    draws every picture of the window into <folder> (normally resources/), each\n"
    "           at 1x and at the larger densities (name@2x.png) for scaled displays\n"
    "--preview  composes the pictures in <folder> into one PNG: the window as the\n"
    "           plug-in draws it, with and without its panels, and the knob frames\n"
    "--fonts    folder of the Roboto TrueType files (default: Debian's fonts-roboto-unhinted)\n";

int fail (const juce::String& message)
{
    std::cerr << "orvalis-artwork: " << message << "\n";
    return 1;
}

// The densities the window's pictures are drawn at besides 1x: for displays scaled to 200 and
// 300 % (and, drawn smaller, everything between).
constexpr int largerDensities[] = { 2, 3 };

/** name.png at 1x, name@2x.png at 2x (as the window looks them up). */
juce::String fileNameAt (const juce::String& name, int density)
{
    if (density == 1)
        return name;
    return name.upToLastOccurrenceOf (".", false, false) + "@" + juce::String (density) + "x"
           + name.fromLastOccurrenceOf (".", true, false);
}
} // namespace

namespace artwork
{
const std::vector<PictureEntry>& allPictures()
{
    static const std::vector<PictureEntry> pictures {
        { "bouton_AW_70x70.png", paintAttackReleaseKnobStrip },
        { "bouton_G_70x70.png", paintGainKnobStrip },
        { "bandeBleue.png", paintMaxPeakBand },
        { "Bouton_maxpeak.png", paintMaxPeakHandle },
        { "vuMeterVerticalGreen.png", paintInputMeter },
        { "vuMeterVerticalRedGreen.png", paintOutputMeter },
        { "engrenage.png", paintGear },
        { "captionAmbiX.png", paintAmbiXCaption },
        { "captionFuMa.png", paintFuMaCaption },
        { "captionTruePeak.png", paintTruePeakCaption },
        { "welcomeCard.png", paintWelcomeCard },
        { "background.jpg", paintBackground },
        // Orvalis HOA's window.
        { "vuMeterNarrowGreen.png", paintNarrowInputMeter },
        { "vuMeterNarrowRedGreen.png", paintNarrowOutputMeter },
        { "captionOrders.png", paintOrderCaptions },
        { "captionOrderDigits.png", paintOrderDigits },
        { "backgroundHoa.jpg", paintHoaBackground },
    };
    return pictures;
}
} // namespace artwork

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;

    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    juce::File fontFolder ("/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF");
    const int fontsAt = args.indexOf ("--fonts");
    if (fontsAt >= 0)
    {
        if (fontsAt + 1 >= args.size())
            return fail ("--fonts needs a folder\n\n" + juce::String (usage));
        fontFolder = juce::File::getCurrentWorkingDirectory().getChildFile (args[fontsAt + 1]);
        args.removeRange (fontsAt, 2);
    }

    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h")
    {
        std::cout << usage;
        return args.isEmpty() ? 1 : 0;
    }

    const artwork::Fonts fonts (fontFolder);
    if (! fonts.isComplete())
        return fail ("cannot read the Roboto fonts in " + fontFolder.getFullPathName()
                     + " (install fonts-roboto-unhinted or pass --fonts)");

    if (args[0] == "--write" && args.size() == 2)
    {
        const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (args[1]);
        if (! folder.createDirectory())
            return fail ("cannot create " + folder.getFullPathName());

        std::vector<int> densities { 1 };
        densities.insert (
            densities.end(), std::begin (largerDensities), std::end (largerDensities));
        const auto& pictures = artwork::allPictures();
        int written = 0;
        for (int density : densities)
        {
            const artwork::ScopedDensity drawnAt (density);
            for (const auto& entry : pictures)
            {
                const auto name = fileNameAt (entry.fileName, density);
                std::cout << "[" << ++written << "/" << densities.size() * pictures.size() << "] "
                          << name << std::flush;
                const auto picture = entry.paint (fonts);
                if (picture.density != density)
                    return fail ("\n" + name + " was drawn at " + juce::String (picture.density)
                                 + "x");
                const auto file = folder.getChildFile (name);
                if (! artwork::writePicture (picture, file))
                    return fail ("\ncannot write " + file.getFullPathName());
                std::cout << "  " << picture.storedWidth() << " x " << picture.storedHeight()
                          << ", " << file.getSize() << " bytes\n";
            }
        }
        return 0;
    }

    if (args[0] == "--preview" && args.size() == 3)
    {
        const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (args[1]);
        const auto out = juce::File::getCurrentWorkingDirectory().getChildFile (args[2]);
        for (const auto& entry : artwork::allPictures())
            if (! folder.getChildFile (entry.fileName).existsAsFile())
                return fail ("missing " + folder.getChildFile (entry.fileName).getFullPathName());

        const auto sheet = artwork::composePreview (folder, fonts);
        out.deleteFile();
        juce::FileOutputStream stream (out);
        juce::PNGImageFormat png;
        if (! stream.openedOk() || ! png.writeImageToStream (sheet, stream))
            return fail ("cannot write " + out.getFullPathName());
        std::cout << "wrote " << out.getFullPathName() << "\n";
        return 0;
    }

    std::cerr << usage;
    return 1;
}
