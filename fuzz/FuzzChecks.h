#pragma once

#include "processor/CorvaneAudioProcessor.h"

#include <cstddef>
#include <cstdint>
#include <memory>

/** libFuzzer's entry point: each fuzz target defines it. */
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);
/** libFuzzer's set-up before the first input: FuzzChecks.cpp defines it for every target. */
extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv);

// What every fuzz target demands of a processor, whatever it was fed. A failed demand prints
// what went wrong and aborts, which libFuzzer records as a crash with the input that caused it.
namespace fuzzChecks
{
void require (bool condition, const char* what);

std::unique_ptr<CorvaneAudioProcessor> createProcessor();

/**
    Processes a few blocks of loud noise (peaks near +12 dBFS) and requires every output sample
    to be finite and within the ceiling in force for its block, that ceiling to lie within the
    knob's range (-10..+10 dB), and every meter to be finite and on its scale.
*/
void requireSoundAudio (CorvaneAudioProcessor& processor);
} // namespace fuzzChecks
