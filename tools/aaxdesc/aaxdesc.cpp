// Prints what an AAX host is told about Orvalis: the effect description and its parameters.

#include "plugin/AaxDescription.h"

#include <iostream>
#include <memory>

int main (int argc, char* argv[])
{
    if (argc > 1)
    {
        std::cout
            << "usage: orvalis-aaxdesc\n"
               "Prints the description an AAX host receives from Orvalis: identifier, names,\n"
               "version, category, the channel configuration with its type IDs, bypass,\n"
               "multi-mono, MIDI and every parameter.\n";
        return juce::String (argv[1]) == "--help" || juce::String (argv[1]) == "-h" ? 0 : 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;
    std::unique_ptr<juce::AudioProcessor> processor (createPluginFilter());
    std::cout << AaxDescription::describe (*processor).toText();
    return 0;
}
