#pragma once

#include "tools/truepeak/CorpusSignals.h"

#include <optional>

/**
    The peer in the corpus's table: x42's digital peak limiter (Debian's x42-plugins, LV2
    http://gareus.org/oss/lv2/dpl#stereo) with its true-peak switch on, run as a black box through
    Debian's lv2file, one stereo instance for channels 1 and 2 and one for 3 and 4 (so, unlike
    Orvalis, it does not link all four).
*/
namespace peerLimiter
{
/** True when lv2file and the plug-in are installed. */
bool isAvailable();

/** The input limited at ceilingDb with the release in ms (x42's range is 1 to 1000), followed by
    enough silence for the plug-in's latency; nothing when a run fails. */
std::optional<corpusSignals::Signal>
limit (const corpusSignals::Signal& input, int rate, float ceilingDb, float releaseMs);
} // namespace peerLimiter
