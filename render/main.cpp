// orvalis-render: runs the Orvalis processor over ambisonic and multichannel files (1 to 64 channels).
#include "render/ExitStatus.h"
#include "render/HelpText.h"
#include "render/Platform.h"
#include "render/RenderConsole.h"
#include "render/RenderRun.h"
#include "render/StopSignal.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main (int argc, char* argv[])
{
    Platform::prepareConsole();
    const auto args = Platform::arguments (argc, argv);

    RenderContext context;
    if (auto problem = RenderOptions::parse (args, context.options))
    {
        RenderConsole::fail (*problem + " (see orvalis-render --help)");
        return toInt (ExitStatus::usage);
    }
    if (context.options.help)
    {
        std::cout << helpText();
        return toInt (ExitStatus::done);
    }
    if (context.options.version)
    {
        std::cout << "orvalis-render " << ORVALIS_VERSION << "\n";
        return toInt (ExitStatus::done);
    }

    StopSignal::install();
    // The processor's look-and-feel and image cache expect JUCE's GUI classes to be initialised;
    // nothing here opens a window.
    juce::ScopedJuceInitialiser_GUI juceGui;
    return toInt (RenderRun (context).run());
}
