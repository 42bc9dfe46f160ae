#pragma once

#include "render/RenderModel.h"
#include "render/RenderOptions.h"
#include "render/SettingsDocument.h"

#include <juce_audio_processors/juce_audio_processors.h>

// How a run's settings reach the processor: the document, then the knobs the command line gives.

/** "true-peak" or "sample-peak", as the summary and the report name the mode. */
juce::String modeName (bool truePeak);

/** Whether --true-peak, --sample-peak or else the document selects true-peak limiting. */
bool selectsTruePeak (const RenderOptions& options, const SettingsDocument& document);

/**
    Restores the document (if any) into the processor as a host restores a project, then sets
    the knobs the command line gives (all of them, at their defaults, without a document) and
    the peak mode --true-peak or --sample-peak gives (else the document's, else sample peaks).
    Values outside the knobs' ranges add a warning and are reported as the processor applies
    them: clamped to the range, except a look-ahead beyond 40 ms, which the processor refuses;
    call lookaheadMsInForce after prepareToPlay for the look-ahead it kept.
*/
KnobSettings applySettings (juce::AudioProcessor& processor,
                            const RenderOptions& options,
                            const SettingsDocument* document,
                            juce::StringArray& warnings);

/** The look-ahead the processor's limiter uses after prepareToPlay, or fallback for another processor. */
float lookaheadMsInForce (juce::AudioProcessor& processor, float fallback);
