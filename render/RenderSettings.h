#pragma once

#include "render/RenderOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <optional>

/** A settings document as the plug-in saves it, given with --settings. */
struct SettingsDocument
{
    std::unique_ptr<juce::XmlElement> xml;
    juce::String text; // handed to the processor as it stands, as a host hands over a project's

    /**
        Reads the text of a settings file. Returns the reason when it holds no XML element;
        otherwise fills the document and adds a warning when none of its elements is a setting.
    */
    static std::optional<juce::String>
    parse (const juce::String& text, SettingsDocument& result, juce::StringArray& warnings);
};

/** The four knobs in their units: what the processor applies, not merely what was asked for. */
struct KnobSettings
{
    float gainDb = 0.0f, attackMs = 1.0f, releaseMs = 20.0f, ceilingDb = 0.0f;
    bool truePeak = false; // the peaks the ceiling holds: true peaks (dBTP) or samples (dBFS)

    /** The linear input gain, 0 dB to +60 dB. */
    float linearGain() const;
};

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
