#include "render/RenderModel.h"

#include "render/RenderSettings.h"

#include <algorithm>

float KnobSettings::linearGain() const
{
    return parameters::decibelsToGain (gainDb);
}

float KnobSettings::linearPreGain() const
{
    return preGainDb == 0.0f ? 1.0f : parameters::decibelsToGain (preGainDb);
}

juce::String RenderContext::modeName() const
{
    return ::modeName (selectsTruePeak (options, settings));
}

juce::String statusName (FileStatus status)
{
    switch (status)
    {
        case FileStatus::notStarted:
            return "not-started";
        case FileStatus::done:
            return "done";
        case FileStatus::truncated:
            return "truncated";
        case FileStatus::offTarget:
            return "off-target";
        case FileStatus::skipped:
            return "skipped";
        case FileStatus::failed:
            return "failed";
        case FileStatus::interrupted:
            return "interrupted";
    }
    return {};
}

juce::String FileResult::notes() const
{
    auto text = lengthNote;
    if (loudnessTarget && ! loudnessTarget->met)
        text << (text.isEmpty() ? "" : "; ") << "loudness target of "
             << juce::String (loudnessTarget->targetLufs, 2)
             << " LUFS not met: " << loudnessTarget->reason;
    return text;
}

float FileResult::largestOutputTruePeak() const
{
    const auto& peaks = stats.outputTruePeak;
    return peaks.empty() ? 0.0f : *std::max_element (peaks.begin(), peaks.end());
}

RunTotals totalsOf (const std::vector<FileResult>& files)
{
    RunTotals t;
    for (const auto& r : files)
    {
        ++t.files;
        switch (r.status)
        {
            case FileStatus::notStarted:
                ++t.notStarted;
                break;
            case FileStatus::done:
                ++t.done;
                break;
            case FileStatus::truncated:
                ++t.truncated;
                break;
            case FileStatus::offTarget:
                ++t.offTarget;
                break;
            case FileStatus::skipped:
                ++t.skipped;
                break;
            case FileStatus::failed:
                ++t.failed;
                break;
            case FileStatus::interrupted:
                ++t.interrupted;
                break;
        }
        if (! r.wasRendered())
            continue;
        if (r.meetsTarget.has_value() && ! *r.meetsTarget)
            ++t.targetMissed;
        t.frames += r.stats.inputFrames;
        t.limitedFrames += r.stats.limitedFrames;
        t.audioSeconds += static_cast<double> (r.stats.inputFrames) / r.sampleRate;
        t.largestGainReductionDb =
            std::max (t.largestGainReductionDb, r.stats.largestGainReductionDb);
        t.largestOutputTruePeak = std::max (t.largestOutputTruePeak, r.largestOutputTruePeak());
    }
    return t;
}

ExitStatus exitStatusFor (const std::vector<FileResult>& files)
{
    bool failed = false, missed = false, offTarget = false, truncated = false, rendered = false;
    for (const auto& r : files)
    {
        // A picture that could not be drawn fails the run too, though the output is in place.
        failed =
            failed || r.status == FileStatus::failed || (r.error.isNotEmpty() && r.wasRendered());
        missed = missed || (r.meetsTarget.has_value() && ! *r.meetsTarget);
        offTarget = offTarget || r.status == FileStatus::offTarget;
        truncated = truncated || r.status == FileStatus::truncated;
        rendered = rendered || r.wasRendered();
    }
    if (failed || ! rendered)
        return ExitStatus::failed;
    return missed      ? ExitStatus::targetMissed
           : offTarget ? ExitStatus::offTarget
           : truncated ? ExitStatus::truncated
                       : ExitStatus::done;
}
