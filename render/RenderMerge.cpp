#include "render/RenderMerge.h"

#include "render/FileChecks.h"
#include "render/RenderConsole.h"
#include "render/RenderReport.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <set>

namespace
{
// What two reports must share to be parts of one batch.
const char* const sameRun[] = { "program",          "outDir",
                                "targetTruePeakDb", "targetLoudnessLufs",
                                "loudnessChannel",  "convention",
                                "wGainDb",          "settings" };

juce::String text (const juce::var& value)
{
    return RenderReport::toJson (value).trimEnd();
}

/** The first field in which two values differ, as "name A and B". */
juce::String difference (const juce::String& name, const juce::var& a, const juce::var& b)
{
    if (a.isObject() && b.isObject())
        for (const auto& property : a.getDynamicObject()->getProperties())
            if (text (property.value) != text (b[property.name]))
                return difference (property.name.toString(), property.value, b[property.name]);
    return name + " " + text (a) + " and " + text (b);
}

struct Report
{
    juce::String name;
    juce::var document;
};
} // namespace

RenderMerge::RenderMerge (const RenderOptions& o) : options (o)
{
}

ExitStatus RenderMerge::run()
{
    const auto refuse = [] (const juce::String& message)
    {
        RenderConsole::fail (message);
        return ExitStatus::usage;
    };

    std::vector<Report> reports;
    for (const auto& name : options.mergeInputs)
    {
        const auto file = FileChecks::resolve (name);
        if (auto problem = FileChecks::checkReadable (file, name))
        {
            RenderConsole::fail (*problem);
            return ExitStatus::failed;
        }
        juce::var document;
        const auto parsed = juce::JSON::parse (file.loadFileAsString(), document);
        if (parsed.failed() || document["schema"].toString() != "orvalis-render-report")
        {
            RenderConsole::fail (name + ": not a report of orvalis-render");
            return ExitStatus::failed;
        }
        if (static_cast<int> (document["schemaVersion"]) != RenderReport::schemaVersion)
            return refuse (name + ": a report of schema version "
                           + document["schemaVersion"].toString() + "; only version "
                           + juce::String (RenderReport::schemaVersion)
                           + " reports can be merged (render the batch again)");
        if (FileChecks::sameFile (file, FileChecks::resolve (options.mergeOutput)))
            return refuse (name + ": the merged report must not replace a report it merges");
        reports.push_back ({ name, document });
    }

    const auto& first = reports.front();
    for (const auto& other : reports)
        for (const char* key : sameRun)
            if (text (first.document[key]) != text (other.document[key]))
                return refuse (first.name + " and " + other.name
                               + " come from runs with different settings: "
                               + difference (key, first.document[key], other.document[key]));

    // Shards of one batch, or whole batches: never both.
    const bool sharded = first.document["shard"].isObject();
    std::map<int, juce::String> shardsSeen;
    int count = 0;
    juce::int64 batchFiles = 0;
    for (const auto& r : reports)
    {
        const auto& shard = r.document["shard"];
        if (shard.isObject() != sharded)
            return refuse ("cannot merge the shards of a batch with whole batches ("
                           + (sharded ? r.name : first.name) + " is not a shard)");
        if (! sharded)
            continue;
        const int index = shard["index"], shardCount = shard["count"];
        const auto files = static_cast<juce::int64> (shard["batchFiles"]);
        if (count == 0)
        {
            count = shardCount;
            batchFiles = files;
        }
        if (shardCount != count || files != batchFiles)
            return refuse (first.name + " and " + r.name + " are shards of different batches ("
                           + juce::String (count) + " shards of " + juce::String (batchFiles)
                           + " files, " + juce::String (shardCount) + " of " + juce::String (files)
                           + ")");
        if (auto [at, added] = shardsSeen.emplace (index, r.name); ! added)
            return refuse (at->second + " and " + r.name + " are both shard " + juce::String (index)
                           + "/" + juce::String (count) + ": they share their inputs");
    }
    if (sharded && static_cast<int> (shardsSeen.size()) != count)
    {
        juce::StringArray missing;
        for (int k = 1; k <= count; ++k)
            if (shardsSeen.count (k) == 0)
                missing.add (juce::String (k) + "/" + juce::String (count));
        return refuse ("shard " + missing.joinIntoString (", ") + " missing: the batch has "
                       + juce::String (count) + " shards");
    }

    // The files, each input and each output in one report only, in the batch's order.
    std::vector<std::pair<juce::int64, juce::var>> files;
    std::map<juce::String, juce::String> inputs, outputs;
    for (size_t r = 0; r < reports.size(); ++r)
    {
        const auto& list = reports[r].document["files"];
        for (int i = 0; i < list.size(); ++i)
        {
            const auto& f = list[i];
            const auto input = f["input"].toString();
            if (auto [at, added] = inputs.emplace (input, reports[r].name); ! added)
                return refuse (at->second + " and " + reports[r].name + " share the input "
                               + input);
            if (! f["output"].isVoid())
                if (auto [at, added] = outputs.emplace (f["output"].toString(), reports[r].name);
                    ! added)
                    return refuse (at->second + " and " + reports[r].name + " both wrote "
                                   + f["output"].toString());
            const auto position = sharded ? static_cast<juce::int64> (f["index"])
                                          : static_cast<juce::int64> (files.size());
            files.emplace_back (position, f);
        }
    }
    std::stable_sort (files.begin(),
                      files.end(),
                      [] (const auto& a, const auto& b) { return a.first < b.first; });
    if (sharded)
        for (size_t i = 0; i < files.size(); ++i)
            if (files[i].first != static_cast<juce::int64> (i)
                || static_cast<juce::int64> (files.size()) != batchFiles)
                return refuse ("the shards do not hold the batch's " + juce::String (batchFiles)
                               + " files once each (" + juce::String (files.size())
                               + " files in the reports)");

    juce::Array<juce::var> list;
    for (size_t i = 0; i < files.size(); ++i)
    {
        files[i].second.getDynamicObject()->setProperty ("index", static_cast<juce::int64> (i));
        list.add (files[i].second);
    }

    RenderReport::RunFacts facts;
    facts.wallSeconds = 0.0;
    facts.workers = 0;
    int signalStatus = 0;
    juce::String startedAt = first.document["startedAt"];
    juce::Array<juce::var> names;
    for (const auto& r : reports)
    {
        const auto& summary = r.document["summary"];
        facts.wallSeconds =
            std::max (facts.wallSeconds, static_cast<double> (summary["wallSeconds"]));
        facts.workers += static_cast<int> (summary["workers"]);
        if (static_cast<bool> (summary["wasInterrupted"]))
        {
            facts.interrupted = true;
            signalStatus = std::max (signalStatus, static_cast<int> (summary["exitStatus"]));
        }
        startedAt = std::min (startedAt, r.document["startedAt"].toString());
        names.add (r.name);
    }
    juce::var fileList (list);
    facts.exitStatus = facts.interrupted ? signalStatus : RenderReport::exitStatusOf (fileList);

    // The first report's fields, in their order, with what the merge changes.
    auto* root = new juce::DynamicObject();
    juce::var merged (root);
    for (const auto& property : first.document.getDynamicObject()->getProperties())
        root->setProperty (property.name, property.value);
    root->setProperty ("startedAt", startedAt);
    root->setProperty ("shard", juce::var());
    root->setProperty ("mergedFrom", names);
    root->setProperty ("files", fileList);
    root->setProperty ("summary", RenderReport::summaryOf (fileList, facts));

    if (auto problem = RenderReport::write (FileChecks::resolve (options.mergeOutput), merged))
    {
        RenderConsole::fail (options.mergeOutput + ": cannot write the report: " + *problem);
        return ExitStatus::failed;
    }
    const auto& s = merged["summary"];
    const auto n = [&s] (const char* key) { return juce::String (static_cast<int> (s[key])); };
    std::cout << "merged     " << reports.size() << (reports.size() == 1 ? " report" : " reports")
              << " into " << options.mergeOutput << ": " << n ("files") << " files: " << n ("done")
              << " done, " << n ("truncated") << " truncated, " << n ("offTarget")
              << " off-target, " << n ("skipped") << " skipped, " << n ("failed") << " failed";
    if (facts.interrupted)
        std::cout << ", " << n ("interrupted") << " interrupted, " << n ("notStarted")
                  << " not started";
    std::cout << "; exit status " << facts.exitStatus << std::endl;
    return static_cast<ExitStatus> (facts.exitStatus);
}
