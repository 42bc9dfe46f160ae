#include "render/RenderConsole.h"

#include "render/ChannelLayout.h"
#include "render/RenderText.h"

#include <algorithm>
#include <array>

#include <iostream>

using RenderText::clockTime;
using RenderText::decibels;

namespace RenderConsole
{
void fail (const juce::String& message)
{
    std::cerr << "orvalis-render: " << message << std::endl;
}

void warn (const juce::String& message)
{
    std::cerr << "orvalis-render: warning: " << message << std::endl;
}

void printFileSummary (const FileResult& result, const RenderContext& context)
{
    const auto& stats = result.stats;
    const auto& p = result.knobs;
    const double sampleRate = result.sampleRate;
    const double seconds = static_cast<double> (stats.inputFrames) / sampleRate;
    std::cout << "input      " << result.inputName << ": " << sampleRate << " Hz, "
              << result.numChannels << " channels, " << juce::String (seconds, 3) << " s ("
              << stats.inputFrames << " frames)\n";
    if (result.lengthNote.isNotEmpty())
        std::cout << "length     " << result.lengthNote << "\n";
    std::cout << "output     " << result.outputName << ": "
              << RenderOptions::formatName (result.format) << ", "
              << (context.options.raw ? "raw (delayed by the latency)" : "aligned with the input")
              << "\n";
    std::cout << "settings   input gain " << juce::String (p.gainDb, 2) << " dB";
    if (p.preGainDb != 0.0f)
        std::cout << " after " << juce::String (p.preGainDb, 2) << " dB of attenuation";
    std::cout << ", attack " << juce::String (p.attackMs, 3) << " ms, release "
              << juce::String (p.releaseMs, 2) << " ms, ceiling " << juce::String (p.ceilingDb, 2)
              << (p.truePeak ? " dBTP" : " dB") << "\n";
    std::cout << "mode       "
              << (p.truePeak ? "true peak: the ceiling holds the output's true peaks (dBTP)"
                             : "sample peak: the ceiling holds the output's samples (dBFS)")
              << "\n";
    std::cout << "latency    " << stats.latencySamples << " samples ("
              << juce::String (1000.0 * stats.latencySamples / sampleRate, 3) << " ms)\n";

    const ChannelLayout layout (result.numChannels, result.channelMask);
    const auto order = layout.ambisonicOrder();
    const auto row = [] (const char* label, const ChannelLevels& values, const char* unit)
    {
        juce::String line = juce::String (label).paddedRight (' ', 26);
        for (float v : values)
            line << decibels (v, "").paddedLeft (' ', 9);
        std::cout << line << "  " << unit << "\n";
    };
    const auto table =
        [&row] (const std::vector<juce::String>& names, const std::array<ChannelLevels, 4>& levels)
    {
        // Sixteen columns at most to a line.
        for (size_t first = 0; first < names.size(); first += 16)
        {
            const size_t end = std::min (names.size(), first + 16);
            juce::String header = juce::String().paddedRight (' ', 26);
            for (size_t i = first; i < end; ++i)
                header << names[i].paddedLeft (' ', 9);
            std::cout << header << "\n";
            const auto part = [&] (const ChannelLevels& values)
            {
                return ChannelLevels (values.begin() + static_cast<std::ptrdiff_t> (first),
                                      values.begin() + static_cast<std::ptrdiff_t> (end));
            };
            row ("input sample peak", part (levels[0]), "dBFS");
            row ("input true peak", part (levels[1]), "dBTP");
            row ("output sample peak", part (levels[2]), "dBFS");
            row ("output true peak", part (levels[3]), "dBTP");
        }
    };
    std::array<ChannelLevels, 4> levels {
        stats.inputPeak, stats.inputTruePeak, stats.outputPeak, stats.outputTruePeak
    };
    std::vector<juce::String> names;
    if (order && result.numChannels > 4)
    {
        // By order: the largest peak of the order's channels, n^2 + 1 to (n + 1)^2.
        std::cout << "peaks      by ambisonic order (order " << *order << ", " << result.numChannels
                  << " channels), the largest of each order's channels\n";
        for (auto& values : levels)
        {
            ChannelLevels byOrder;
            for (int n = 0; n <= *order && ! values.empty(); ++n)
                byOrder.push_back (*std::max_element (
                    values.begin() + n * n,
                    values.begin()
                        + std::min<int> ((n + 1) * (n + 1), static_cast<int> (values.size()))));
            values = byOrder;
        }
        for (int n = 0; n <= *order; ++n)
            names.push_back ("order " + juce::String (n));
    }
    else
        for (int ch = 1; ch <= static_cast<int> (stats.outputPeak.size()); ++ch)
            names.push_back ("ch " + juce::String (ch));
    table (names, levels);

    std::cout << "gain reduction  largest " << juce::String (stats.largestGainReductionDb, 2)
              << " dB";
    if (stats.largestGainReductionFrame >= 0 && stats.largestGainReductionDb > 0.0f)
        std::cout << " at "
                  << clockTime (static_cast<double> (stats.largestGainReductionFrame) / sampleRate,
                                true);
    std::cout << " (input peak after gain over output peak, 10 ms windows)\n";
    std::cout << "limiting   "
              << juce::String (stats.inputFrames > 0
                                   ? 100.0 * static_cast<double> (stats.limitedFrames)
                                         / static_cast<double> (stats.inputFrames)
                                   : 0.0,
                               2)
              << " % of the frames (output below the input after gain)\n";

    const auto loudness = [] (const std::optional<Loudness>& l)
    {
        if (! l.has_value())
            return juce::String ("not measured");
        return (l->integratedLufs ? juce::String (*l->integratedLufs, 2) + " LUFS"
                                  : juce::String ("below the gate"))
               + ", range " + juce::String (l->rangeLu, 2) + " LU";
    };
    if (layout.loudness() == ChannelLayout::Loudness::notMeasured)
        std::cout << "loudness   "
                  << layout.loudnessDescription (
                         RenderOptions::conventionName (context.options.convention))
                  << "\n";
    else
        std::cout << "loudness   "
                  << layout.loudnessDescription (
                         RenderOptions::conventionName (context.options.convention))
                  << ": input " << loudness (stats.inputLoudness) << "; output "
                  << loudness (stats.outputLoudness) << "\n";
    if (result.meetsTarget.has_value())
        std::cout << "target     output true peak "
                  << decibels (result.largestOutputTruePeak(), "dBTP")
                  << (*result.meetsTarget ? " meets" : " exceeds") << " the target of "
                  << juce::String (*context.options.targetTruePeakDb, 2) << " dBTP\n";

    if (const auto& target = result.loudnessTarget)
    {
        std::cout << "target     loudness " << juce::String (*context.options.targetLoudnessLufs, 2)
                  << " LUFS " << (target->met ? "met" : "not met") << ": "
                  << juce::String (p.gainAppliedDb(), 2) << " dB of gain before the limiter, "
                  << target->passes << " passes";
        if (! target->met)
            std::cout << "; " << target->reason;
        std::cout << "\n";
    }

    const double speed = stats.wallSeconds > 0.0 ? seconds / stats.wallSeconds : 0.0;
    const double processorSpeed =
        stats.processorSeconds > 0.0 ? seconds / stats.processorSeconds : 0.0;
    std::cout << "speed      " << juce::String (speed, 1) << "x real time ("
              << juce::String (stats.wallSeconds, 3) << " s for " << juce::String (seconds, 3)
              << " s of audio; the processor alone " << juce::String (processorSpeed, 1) << "x)\n";
    std::cout.flush();
}

void warnAboutFile (const FileResult& result)
{
    const auto& stats = result.stats;
    if (result.status == FileStatus::truncated)
        warn (result.inputName + " is " + result.lengthNote
              + "; only the frames present were rendered");
    if (result.status == FileStatus::offTarget)
        warn (result.outputName + " was written, but its loudness target of "
              + juce::String (result.loudnessTarget->targetLufs, 2)
              + " LUFS was not met: " + result.loudnessTarget->reason);
    if (stats.nonFiniteInputSamples > 0)
        warn (juce::String (stats.nonFiniteInputSamples)
              + " input samples were not finite numbers and became silence");
    if (stats.clippedOutputSamples > 0)
        warn (juce::String (stats.clippedOutputSamples)
              + " output samples above 0 dBFS were clipped in "
              + RenderOptions::formatName (result.format)
              + "; use --format wav32 or a ceiling at or below 0 dB");
}

void printBatchStart (size_t files, size_t batchFiles, const RenderContext& context, int workers)
{
    const auto& options = context.options;
    std::cout << "batch      " << files << (files == 1 ? " file" : " files");
    if (options.shard)
        std::cout << " (shard " << options.shard->index << "/" << options.shard->count << " of "
                  << batchFiles << ")";
    std::cout << " into " << options.outDir << " on " << workers
              << (workers == 1 ? " worker" : " workers") << std::endl;
}

void printFileLine (const FileResult& r, int position, size_t count, const RenderContext& context)
{
    const auto total = juce::String (count);
    juce::String line = "[" + juce::String (position).paddedLeft (' ', total.length()) + "/" + total
                        + "] " + statusName (r.status).paddedRight (' ', 10) + " ";
    if (r.wasRendered())
    {
        const auto& s = r.stats;
        line << r.inputName << " -> " << r.outputName << ": "
             << RenderText::duration (double (s.inputFrames) / r.sampleRate)
             << ", largest reduction " << juce::String (s.largestGainReductionDb, 2)
             << " dB, limiting "
             << juce::String (s.inputFrames > 0
                                  ? 100.0 * double (s.limitedFrames) / double (s.inputFrames)
                                  : 0.0,
                              2)
             << " %, true peak " << decibels (r.largestOutputTruePeak(), "dBTP");
        const ChannelLayout layout (r.numChannels, r.channelMask);
        if (layout.loudness() == ChannelLayout::Loudness::notMeasured)
            line << ", loudness not measured";
        else if (s.outputLoudness && s.outputLoudness->integratedLufs)
            line << (layout.ambisonicOrder() ? ", W " : ", loudness ")
                 << juce::String (*s.outputLoudness->integratedLufs, r.loudnessTarget ? 2 : 1)
                 << " LUFS";
        if (r.loudnessTarget)
            line << " after " << juce::String (r.knobs.gainAppliedDb(), 2) << " dB";
        if (r.meetsTarget.has_value() && ! *r.meetsTarget)
            line << " (above the target of " << juce::String (*context.options.targetTruePeakDb, 2)
                 << " dBTP)";
        if (r.notes().isNotEmpty())
            line << "\n        note: " << r.notes();
        if (r.error.isNotEmpty())
            line << "\n        " << r.error;
    }
    else if (r.status == FileStatus::interrupted)
        line << r.inputName << " -> " << r.outputName << ": unfinished, removed";
    else
        line << (r.error.isNotEmpty() ? r.error : r.inputName);
    std::cout << line << std::endl;
}

void printBatchSummary (const RunTotals& t, const RunSummary& summary, const RenderContext& context)
{
    std::cout << "summary    " << t.files << " files: " << t.done << " done, " << t.truncated
              << " truncated, ";
    if (context.options.targetLoudnessLufs)
        std::cout << t.offTarget << " off-target, ";
    std::cout << t.skipped << " skipped, " << t.failed << " failed";
    if (summary.interrupted)
        std::cout << ", " << t.interrupted << " interrupted (removed), " << t.notStarted
                  << " not started";
    std::cout << "; " << RenderText::duration (t.audioSeconds) << " of audio in "
              << juce::String (summary.wallSeconds, 1) << " s ("
              << juce::roundToInt (summary.wallSeconds > 0.0 ? t.audioSeconds / summary.wallSeconds
                                                             : 0.0)
              << "x real time)\n";
    if (context.options.targetTruePeakDb.has_value())
        std::cout << "target     " << t.targetMissed
                  << (t.targetMissed == 1 ? " output exceeds" : " outputs exceed")
                  << " the true-peak target of "
                  << juce::String (*context.options.targetTruePeakDb, 2) << " dBTP\n";
    if (context.options.targetLoudnessLufs.has_value())
        std::cout << "target     " << t.offTarget
                  << (t.offTarget == 1 ? " output misses" : " outputs miss")
                  << " the loudness target of "
                  << juce::String (*context.options.targetLoudnessLufs, 2) << " LUFS\n";
}

void printReportNames (const RenderContext& context)
{
    for (const auto& name : context.options.reportFiles)
        std::cout << "report     " << name << "\n";
}
} // namespace RenderConsole
