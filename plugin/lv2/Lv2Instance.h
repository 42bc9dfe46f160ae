#pragma once

#include "plugin/lv2/Lv2MessageLoop.h"
#include "plugin/lv2/Lv2Plugins.h"
#include "processor/CorvaneAudioProcessor.h"

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

/**
    One instance of an LV2 plug-in of the module: CorvaneAudioProcessor of its product behind the
    plug-in's ports, with as many channels as the plug-in has audio inputs (and outputs).

    The four knob ports carry the knob values in ms and dB; a changed port value reaches the
    processor clamped to its range but not snapped to the knob's steps, as the other formats'
    parameters do, so that automation, MIDI learn and OSC move it smoothly; the window's own
    values come back bit for bit as the window sent them (Lv2Ports.h). The enabled port switches
    between processBlock and the processor's time-keeping processBlockBypassed. The latency port
    reports the latency the processor last reported (it changes with the settings document's
    true-peak setting, restored or chosen in the window), the gain-reduction port the limiter's gain
    reduction.

    The processor is prepared in activate(). The knob values a host has set arrive with the first
    run() after it; if they (or a state restored since) change anything, that run prepares the
    processor once more with them before processing, so that the reported latency is the look-ahead of the host's settings, as
    a VST3 host gets it by setting parameters before preparing. Nothing in this module adds an
    AudioProcessorListener to the processor, so preparing from run() (which reports the latency
    to the processor's listeners, under JUCE's listener lock, when it changes) never locks.

    run() takes any number of frames, in place or not, with inputs and outputs crossed in any
    way, and allocates, locks and calls the system not at all. urid:map is optional; without it
    the state cannot be saved or restored.
*/
class Lv2Instance
{
public:
    Lv2Instance (const lv2Plugins::Plugin& plugin,
                 double sampleRate,
                 const LV2_Feature* const* features);
    ~Lv2Instance();

    Lv2Instance (const Lv2Instance&) = delete;
    Lv2Instance& operator= (const Lv2Instance&) = delete;

    void connect (std::uint32_t port, void* data) noexcept;
    void activate();
    void run (std::uint32_t numSamples) noexcept;

    /** Stores the settings document, the bytes getStateInformation writes, as one chunk. */
    LV2_State_Status save (LV2_State_Store_Function store, LV2_State_Handle handle);
    /** Restores the settings document (also from sessions saved by earlier LV2 builds). The
        knob ports, which the host restores and automates, win over the document's knob values:
        the next run applies them again, whichever order the host restores the two in. A
        document from an earlier build, which had no knob ports, keeps its values. */
    LV2_State_Status restore (LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

    CorvaneAudioProcessor& getProcessor() noexcept { return *processor; }
    const lv2Plugins::Plugin& getPlugin() const noexcept { return plugin; }

    /** A knob port's value as run() last took it over (knob 0..3); any thread. */
    float lastKnobPortValue (int knob) const noexcept;

    /** Frames handed to the processor at a time; longer runs are processed in pieces. */
    static constexpr int maxPieceSamples = CorvaneAudioProcessor::maxBlockSamples;

private:
    bool applyKnobPorts() noexcept;
    const void* connectedAudio (std::uint32_t port) const noexcept;
    void processPiece (std::uint32_t offset, int numSamples, bool enabled) noexcept;

    const lv2Plugins::Plugin& plugin;
    const lv2Ports::Layout ports;
    Lv2MessageLoop::User juceRuntime;
    std::unique_ptr<CorvaneAudioProcessor> processor;
    double sampleRate;

    const LV2_URID_Map* map = nullptr;
    LV2_URID settingsKey = 0, chunkType = 0, legacyStateKey = 0, stringType = 0;

    std::vector<const float*> inputs;
    std::vector<float*> outputs;
    std::vector<float*> pieceChannels; // where a piece is processed
    bool audioPortsChanged = true;
    std::vector<bool> inPlace; // by channel: processed in its output buffer (see run)
    std::array<const float*, lv2Ports::numKnobs> knobPorts {};
    const float* enabledPort = nullptr;
    float* latencyPort = nullptr;
    float* gainReductionPort = nullptr;

    std::array<std::atomic<float>, lv2Ports::numKnobs> lastKnobValues {};
    bool firstRunAfterActivate = true;
    bool knobsFromPorts = false; // a restored document gives way to the knob ports at the next run
    bool restoredSinceActivate = false;
    std::unique_ptr<float[]> scratch; // maxPieceSamples frames per channel, for crossed buffers
    juce::MidiBuffer midi;            // stays empty
};
