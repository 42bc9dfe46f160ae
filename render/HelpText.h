#pragma once

#include <juce_core/juce_core.h>

/** What orvalis-render --help prints: every option, the forms, the exit statuses. */
juce::String helpText();
