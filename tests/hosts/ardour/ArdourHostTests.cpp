// Ardour 7 (Debian's), headless: its Lua interpreter ardour7-lua on the Dummy backend loads each
// built format of Orvalis into a session with a four-channel track and master, exports, and saves;
// the test compares the exports with orvalis-render's output sample for sample.
//
// Ardour 7.3 crashes now and then on its own, with or without any plug-in (heap corruption in its
// export code). A step of the test is therefore run again when Ardour crashed, up to five times;
// every crash is counted, the same steps run without the plug-in as a yardstick, and the last test
// fails when the crash rate with the plug-in clearly exceeds Ardour's own.
//
// Everything Ardour reads or writes lives in a scratch folder: home, configuration (the export
// preset), plug-in cache (written by Ardour's own scanners) and sessions.

#include "tests/hosts/HostSignals.h"
#include "tests/hosts/RunProgram.h"
#include "tests/hosts/WavFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
// The formats whose four knobs Ardour lists as parameters: their parameters are checked by name,
// Input Gain is set through Lua and must survive a reload. (The LV2 build's knobs are LV2 patch
// properties, which Ardour does not list; it joins here once they are control ports.)
const std::set<std::string> formatsWithParameters { "VST3", "VST", "LV2" };

const char* const parameterNames[] = {
    "Attack Time", "Release Time", "Max Peak Level", "Input Gain"
};

constexpr int sampleRate = 48000;
constexpr size_t sceneFrames = 4 * 48000;
constexpr size_t renderTailFrames = 4800; // the renderer's input runs on past the scene
constexpr int expectedLatency = 48;       // the default 1 ms look-ahead at 48 kHz
constexpr double inputGainDb = 6.0;
constexpr int maxAttempts = 5;
constexpr int ardourTimeoutSeconds = 180;
// JUCE's VST3 class ID for manufacturer code Tarn and plug-in code TkOr, and the VST 2.4 ID TkOr.
const std::string vst3ClassId = "ABCDEF019182FAEB5461726E546B4F72";
const std::string vst2UniqueId = "1416318834";
const std::string exportPresetId = "4b1c6a52-0d6e-4f1a-9a43-6f7e1c2d9b10";

void say (const std::string& line)
{
    std::cout << "[ardour] " << line << std::endl;
}

using RunResult = ProgramResult;

/** Runs a program with extra environment variables (an empty value removes one), its output
    going to logPath; kills its whole process group after timeoutSeconds. */
RunResult run (const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env,
               const fs::path& logPath,
               int timeoutSeconds)
{
    ProgramOptions options;
    options.environment = env;
    options.outputPath = logPath;
    options.timeoutSeconds = timeoutSeconds;
    // Where it hangs, for the crash hunt: every thread's stack, appended to the log.
    if (std::getenv ("ORVALIS_ARDOUR_STACKS_ON_HANG") != nullptr)
        options.beforeKill = [logPath] (int pid)
        {
            std::system (("gdb -q -batch -p " + std::to_string (pid)
                          + " -ex 'thread apply all bt 30' >> '" + logPath.string() + "' 2>&1")
                             .c_str());
        };
    return runProgram (args, options);
}

/** What one step printed: every "orvalis: KEY VALUE" line, by key. */
std::multimap<std::string, std::string> reportOf (const std::string& output)
{
    std::multimap<std::string, std::string> report;
    std::istringstream lines (output);
    for (std::string line; std::getline (lines, line);)
    {
        if (line.rfind ("orvalis: ", 0) != 0)
            continue;
        const auto rest = line.substr (9);
        const auto space = rest.find (' ');
        report.emplace (rest.substr (0, space),
                        space == std::string::npos ? "" : rest.substr (space + 1));
    }
    return report;
}

std::vector<std::string> valuesOf (const std::multimap<std::string, std::string>& report,
                                   const std::string& key)
{
    std::vector<std::string> values;
    for (auto [i, end] = report.equal_range (key); i != end; ++i)
        values.push_back (i->second);
    return values;
}

std::string firstOf (const std::multimap<std::string, std::string>& report, const std::string& key)
{
    const auto values = valuesOf (report, key);
    return values.empty() ? "(not reported)" : values.front();
}

std::string join (const std::vector<std::string>& items)
{
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

/** The crash message Ardour's process left, if any (glibc's heap checks print one line). */
std::string crashDescription (const RunResult& result)
{
    if (result.timedOut)
        return "hung, killed after " + std::to_string (ardourTimeoutSeconds) + " s";
    std::string text = std::string ("killed by ") + strsignal (result.signal);
    for (const char* message :
         { "corrupted", "double free", "free():", "munmap_chunk", "malloc", "AddressSanitizer" })
    {
        const auto at = result.output.find (message);
        if (at != std::string::npos)
            return text + ": " + result.output.substr (at, result.output.find ('\n', at) - at);
    }
    return text;
}

struct CrashCount
{
    int runs = 0;
    int crashes = 0;
};

/** One-sided Fisher exact test: the chance of at least `crashes` crashes among `runs` runs when
    both sets of runs share one crash rate. */
double fisherOneSided (const CrashCount& a, const CrashCount& b)
{
    const int total = a.runs + b.runs, crashes = a.crashes + b.crashes;
    auto logChoose = [] (int n, int k)
    { return std::lgamma (n + 1.0) - std::lgamma (k + 1.0) - std::lgamma (n - k + 1.0); };
    double p = 0.0;
    for (int x = a.crashes; x <= std::min (crashes, a.runs); ++x)
        if (crashes - x <= b.runs)
            p += std::exp (logChoose (crashes, x) + logChoose (total - crashes, a.runs - x)
                           - logChoose (total, a.runs));
    return std::min (p, 1.0);
}

/** Where two exports or renders differ, in words; empty when `actual` equals `expected` from
    frame `shift` on, bit for bit, for all of actual's frames. */
std::string differences (const FloatWav& actual, const FloatWav& expected, size_t shift)
{
    if (actual.sampleRate != sampleRate || actual.channels.size() != 4)
        return "the export is not a 4-channel 32-bit float WAV at 48 kHz";
    if (actual.channels[0].size() != sceneFrames)
        return "the export has " + std::to_string (actual.channels[0].size()) + " frames, not "
               + std::to_string (sceneFrames);
    auto sameFrom = [&] (size_t ch, long offset, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
        {
            const long j = (long) i + offset;
            const float e = j >= 0 && j < (long) expected.channels[ch].size()
                                ? expected.channels[ch][(size_t) j]
                                : 0.0f;
            if (std::memcmp (&actual.channels[ch][i], &e, sizeof (float)) != 0)
                return i;
        }
        return count;
    };
    for (size_t ch = 0; ch < 4; ++ch)
    {
        const auto i = sameFrom (ch, (long) shift, sceneFrames);
        if (i == sceneFrames)
            continue;
        std::ostringstream text;
        text.precision (9);
        text << "channel " << ch + 1 << " differs first at frame " << i << ": "
             << actual.channels[ch][i] << " where " << expected.channels[ch][i + shift]
             << " was expected";
        for (long offset = -4800; offset <= 4800; ++offset)
            if (sameFrom (ch, offset, 48000) == 48000)
            {
                text << "; the first second matches with an offset of " << offset
                     << " frames instead of " << shift;
                break;
            }
        return text.str();
    }
    return {};
}

float peakOf (const FloatWav& wav)
{
    float peak = 0.0f;
    for (const auto& channel : wav.channels)
        for (float sample : channel)
            peak = std::max (peak, std::abs (sample));
    return peak;
}

std::string dbfs (float level)
{
    std::ostringstream text;
    text.setf (std::ios::fixed);
    text.precision (2);
    text << 20.0 * std::log10 (std::max (level, 1e-10f)) << " dBFS";
    return text.str();
}

/** The scratch world every Ardour run of this program shares, set up on first use. */
class Rig
{
public:
    Rig()
    {
        const char* chosen = std::getenv ("ORVALIS_ARDOUR_WORK");
        keep = chosen != nullptr;
        root = keep ? fs::path (chosen)
                    : fs::temp_directory_path() / ("orvalis-ardour-" + std::to_string (getpid()));
        fs::remove_all (root);
        const auto home = root / "home";
        for (const auto& dir : { home / ".config/ardour7/export",
                                 home / ".cache",
                                 home / ".local",
                                 root / "exports",
                                 root / "logs" })
            fs::create_directories (dir);
        writePreset (home / ".config/ardour7/export/orvalis-test.preset");

        const auto vst3Bundle = fs::path (ORVALIS_VST3_BINARY_DIR).parent_path().parent_path();
        env = { { "HOME", home.string() },
                { "XDG_CONFIG_HOME", (home / ".config").string() },
                { "XDG_CACHE_HOME", (home / ".cache").string() },
                { "XDG_DATA_HOME", (home / ".local").string() },
                { "LXVST_PATH", fs::path (ORVALIS_VST2_MODULE).parent_path().string() },
                { "VST_PATH", "" },
                { "VST3_PATH", vst3Bundle.parent_path().string() },
                { "LV2_PATH", fs::path (ORVALIS_LV2_BUNDLE).parent_path().string() },
                { "ORVALIS_EXPORT_PRESET", exportPresetId },
                { "DISPLAY", "" } };
        if (const char* preload = std::getenv ("ORVALIS_ARDOUR_PRELOAD"))
            env["LD_PRELOAD"] = preload;

        scan (ORVALIS_ARDOUR_VST3_SCANNER, vst3Bundle.string(), "uid=\"" + vst3ClassId + "\"");
        scan (ORVALIS_ARDOUR_VST_SCANNER, ORVALIS_VST2_MODULE, "id=\"" + vst2UniqueId + "\"");
        makeBaseSession();
        render();
    }

    ~Rig()
    {
        if (! keep && ! setupFailed && ::testing::UnitTest::GetInstance()->Passed())
            fs::remove_all (root);
        else
            say ("kept " + root.string() + " for a look at what went wrong");
    }

    struct Step
    {
        bool ok = false;
        std::multimap<std::string, std::string> report;
    };

    /** Runs session.lua STEP on a copy of the session in `from` (or a new one), up to
        maxAttempts times while Ardour crashes. */
    Step runStep (const std::string& label,
                  const fs::path& from,
                  const fs::path& session,
                  std::vector<std::string> args,
                  CrashCount& count)
    {
        const auto log = root / "logs" / (label + ".log");
        for (int attempt = 1; attempt <= maxAttempts; ++attempt)
        {
            fs::remove_all (session);
            fs::create_directories (session.parent_path());
            if (from.empty())
            {
                const auto made = run ({ ORVALIS_ARDOUR_NEW_SESSION,
                                         "-m",
                                         "4",
                                         "-s",
                                         "48000",
                                         session.string(),
                                         sessionName },
                                       env,
                                       log,
                                       ardourTimeoutSeconds);
                if (! fs::exists (session / (sessionName + ".ardour")))
                {
                    if (made.crashed())
                        continue;
                    return failed (label, "ardour7-new_session failed", made.output);
                }
            }
            else
                fs::copy (from, session, fs::copy_options::recursive);

            std::vector<std::string> argv {
                ORVALIS_ARDOUR_LUA, ORVALIS_ARDOUR_SCRIPT, args[0],
                session.string(),   sessionName,           std::to_string (sceneFrames)
            };
            argv.insert (argv.end(), args.begin() + 1, args.end());
            const auto result = run (argv, env, log, ardourTimeoutSeconds);
            ++count.runs;
            auto report = reportOf (result.output);
            if (result.crashed())
            {
                ++count.crashes;
                say (label + ": Ardour crashed (" + crashDescription (result) + "), attempt "
                     + std::to_string (attempt) + " of " + std::to_string (maxAttempts));
                fs::rename (log,
                            root / "logs" / (label + "-crash" + std::to_string (attempt) + ".log"));
                continue;
            }
            if (result.exitCode != 0 || report.count ("done") == 0)
                return failed (label, "Ardour's Lua step failed", result.output);
            return { true, std::move (report) };
        }
        return failed (label, "Ardour crashed in every attempt", {});
    }

    std::string ardourId (const std::string& format) const
    {
        if (format == "VST3")
            return vst3ClassId;
        if (format == "VST")
            return vst2UniqueId;
        return ORVALIS_LV2_URI;
    }

    fs::path root;
    fs::path baseSession;
    Signal scene;
    FloatWav renderedDefault, renderedWithGain;
    CrashCount withPlugin, withoutPlugin, making;
    bool setupFailed = false;
    bool keep = false; // a folder given by ORVALIS_ARDOUR_WORK stays
    const std::string sessionName = "orvalis";

private:
    Step failed (const std::string& label, const std::string& what, const std::string& output)
    {
        ADD_FAILURE() << label << ": " << what << "\n" << output;
        return {};
    }

    static void writePreset (const fs::path& path)
    {
        // Ardour's own 32-bit float WAV format, without dither or normalising.
        std::ofstream (path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             << "<ExportPreset id=\"" << exportPresetId
                             << "\" name=\"Orvalis test: 32-bit float WAV\">\n"
                             << "  <ExportFormat id=\"20b4ab09-6452-4cb3-bd66-b921cdbd2942\"/>\n"
                             << "  <ExportFilename>\n"
                             << "    <Folder relative=\"1\" path=\"export\"/>\n"
                             << "    <Field name=\"timespan\" enabled=\"1\"/>\n"
                             << "  </ExportFilename>\n"
                             << "</ExportPreset>\n";
    }

    void scan (const std::string& scanner, const std::string& item, const std::string& expected)
    {
        auto scanEnv = env;
        scanEnv["LD_LIBRARY_PATH"] = ORVALIS_ARDOUR_LIB_DIR;
        const auto result = run ({ scanner, "-f", "-v", item },
                                 scanEnv,
                                 root / "logs" / (fs::path (scanner).filename().string() + ".log"),
                                 ardourTimeoutSeconds);
        if (result.crashed() || result.exitCode != 0
            || result.output.find (expected) == std::string::npos)
        {
            setupFailed = true;
            ADD_FAILURE() << scanner << " did not index " << item << " (" << expected << "):\n"
                          << result.output;
        }
    }

    void makeBaseSession()
    {
        baseSession = root / "base";
        const auto made = runStep ("make", {}, baseSession, { "make" }, making);
        const auto sources = valuesOf (made.report, "source");
        if (! made.ok || sources.size() != 4)
        {
            setupFailed = true;
            ADD_FAILURE() << "the base session has " << sources.size() << " sources, not 4";
            return;
        }
        scene = makeScene (sceneFrames, 11);
        for (size_t ch = 0; ch < 4; ++ch)
            if (! writeFloatWav (sources[ch], { scene[ch] }, sampleRate))
                ADD_FAILURE() << "cannot write " << sources[ch];
    }

    void render()
    {
        auto input = scene;
        for (auto& channel : input)
            channel.resize (sceneFrames + renderTailFrames, 0.0f);
        const auto inPath = root / "scene.wav";
        writeFloatWav (inPath.string(), input, sampleRate);
        auto renderWith = [&] (const std::vector<std::string>& options, const std::string& name)
        {
            const auto outPath = root / (name + ".wav");
            std::vector<std::string> argv {
                ORVALIS_RENDER, inPath.string(), outPath.string(), "--raw", "--settled"
            };
            argv.insert (argv.end(), options.begin(), options.end());
            const auto result = run (argv, {}, root / "logs" / (name + ".log"), 600);
            if (result.crashed() || result.exitCode != 0)
            {
                setupFailed = true;
                ADD_FAILURE() << "orvalis-render failed:\n" << result.output;
            }
            return readFloatWav (outPath.string());
        };
        renderedDefault = renderWith ({}, "rendered");
        std::ostringstream gain;
        gain << inputGainDb;
        renderedWithGain = renderWith ({ "--gain", gain.str() }, "rendered-gain");
    }

    std::map<std::string, std::string> env;
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

/** Reads an export and checks it against the renderer's raw output advanced by the latency. */
void checkExport (const std::string& what,
                  const fs::path& path,
                  const FloatWav& rendered,
                  const std::string& renderedAs)
{
    const auto exported = readFloatWav (path.string());
    const auto problem = differences (exported, rendered, expectedLatency);
    EXPECT_EQ (problem, "") << what;
    const float peak = peakOf (exported);
    EXPECT_LE (peak, 1.0f) << what << ": beyond the 0 dBFS ceiling";
    EXPECT_GT (peak, 0.5f) << what << ": hardly any signal";
    say (what + ": " + (problem.empty() ? "bit-exact to " : "NOT bit-exact to ") + renderedAs
         + " advanced by the " + std::to_string (expectedLatency) + " compensated samples; peak "
         + dbfs (peak) + " (ceiling 0 dBFS)");
}

/** How often each cycle runs: once, or ORVALIS_ARDOUR_CYCLES times (for the crash hunt). */
int cycles()
{
    const char* text = std::getenv ("ORVALIS_ARDOUR_CYCLES");
    return text != nullptr ? std::max (1, std::atoi (text)) : 1;
}

std::string cycleTag (const std::string& name, int cycle)
{
    return cycle == 0 ? name : name + "-" + std::to_string (cycle + 1);
}

/** The three steps of one cycle for one format: insert and export at the defaults, set Input
    Gain and export, reload the saved session and export. */
void checkFormat (const std::string& format, const std::string& tag)
{
    auto& r = rig();
    ASSERT_FALSE (r.setupFailed) << "the test's setup failed";
    const bool drivesParameters = formatsWithParameters.count (format) != 0;
    const auto work = r.root / tag;
    const auto exports = r.root / "exports";
    std::string gainArgument;
    {
        std::ostringstream text;
        text.precision (17);
        text << inputGainDb / 60.0;
        gainArgument = text.str();
    }

    const auto inserted = r.runStep (
        tag + "-insert",
        r.baseSession,
        work / "insert",
        { "insert", (exports / (tag + "-default.wav")).string(), format, r.ardourId (format) },
        r.withPlugin);
    ASSERT_TRUE (inserted.ok);
    const auto listed = valuesOf (inserted.report, "parameter");
    EXPECT_EQ (firstOf (inserted.report, "plugin"), "Orvalis");
    EXPECT_EQ (firstOf (inserted.report, "latency"), std::to_string (expectedLatency));
    say (format + ": Ardour loads \"" + firstOf (inserted.report, "plugin") + "\", latency "
         + firstOf (inserted.report, "latency")
         + " samples at 48 kHz; parameters: " + join (listed));
    if (drivesParameters)
    {
        for (const char* name : parameterNames)
            EXPECT_NE (std::find (listed.begin(), listed.end(), name), listed.end())
                << format << ": Ardour does not list " << name;
    }
    checkExport (format + " export at the defaults",
                 exports / (tag + "-default.wav"),
                 r.renderedDefault,
                 "orvalis-render --raw --settled");

    auto reloadFrom = work / "insert";
    const FloatWav* expected = &r.renderedDefault;
    std::string expectedAs = "orvalis-render --raw --settled";
    if (drivesParameters)
    {
        const auto gained = r.runStep (
            tag + "-gain",
            work / "insert",
            work / "gain",
            { "gain", (exports / (tag + "-gain.wav")).string(), "Input Gain", gainArgument },
            r.withPlugin);
        ASSERT_TRUE (gained.ok);
        say (format + ": Lua set " + firstOf (gained.report, "set") + " (+6 dB)");
        checkExport (format + " export with Input Gain +6 dB",
                     exports / (tag + "-gain.wav"),
                     r.renderedWithGain,
                     "orvalis-render --raw --settled --gain 6");
        reloadFrom = work / "gain";
        expected = &r.renderedWithGain;
        expectedAs = "orvalis-render --raw --settled --gain 6";
    }

    const auto reloaded = r.runStep (tag + "-reload",
                                     reloadFrom,
                                     work / "reload",
                                     { "reload",
                                       (exports / (tag + "-reload.wav")).string(),
                                       drivesParameters ? "Input Gain" : "none" },
                                     r.withPlugin);
    ASSERT_TRUE (reloaded.ok);
    EXPECT_EQ (firstOf (reloaded.report, "plugin"), "Orvalis");
    EXPECT_EQ (firstOf (reloaded.report, "latency"), std::to_string (expectedLatency));
    std::string kept;
    if (drivesParameters)
    {
        const auto values = valuesOf (reloaded.report, "value");
        ASSERT_EQ (values.size(), 1u);
        const auto value = std::stod (values[0].substr (values[0].rfind (' ') + 1));
        EXPECT_NEAR (value, inputGainDb / 60.0, 1e-7) << format << ": Input Gain after reload";
        kept = ", " + values[0];
    }
    say (format + ": the saved, closed and reloaded session holds \""
         + firstOf (reloaded.report, "plugin") + "\", latency "
         + firstOf (reloaded.report, "latency") + kept);
    checkExport (
        format + " export after reloading", exports / (tag + "-reload.wav"), *expected, expectedAs);
}
} // namespace

TEST (ArdourHost, Vst3)
{
    for (int cycle = 0; cycle < cycles(); ++cycle)
        checkFormat ("VST3", cycleTag ("VST3", cycle));
}

TEST (ArdourHost, Vst2)
{
    for (int cycle = 0; cycle < cycles(); ++cycle)
        checkFormat ("VST", cycleTag ("VST", cycle));
}

TEST (ArdourHost, Lv2)
{
    for (int cycle = 0; cycle < cycles(); ++cycle)
        checkFormat ("LV2", cycleTag ("LV2", cycle));
}

// The same steps in the same session, without any plug-in: Ardour's own crash rate, and proof that
// the session hands the four channels to the export untouched.
TEST (ArdourHost, WithoutPluginAndCrashRate)
{
    auto& r = rig();
    ASSERT_FALSE (r.setupFailed) << "the test's setup failed";
    FloatWav scene { sampleRate, r.scene };
    // One cycle for every cycle with the plug-in, so that both crash counts rest on alike runs.
    for (int run = 0; run < 3 * cycles(); ++run)
    {
        const std::string format = std::vector<std::string> { "VST3", "VST", "LV2" }[run % 3];
        const auto label = cycleTag ("none-" + format, run / 3);
        const auto work = r.root / label;
        const auto path = [&] (const char* step)
        { return (r.root / "exports" / (label + "-" + step + ".wav")).string(); };
        const bool withGainStep = formatsWithParameters.count (format) != 0;
        auto step = r.runStep (label + "-insert",
                               r.baseSession,
                               work / "insert",
                               { "insert", path ("insert"), "none", "none" },
                               r.withoutPlugin);
        ASSERT_TRUE (step.ok);
        EXPECT_EQ (differences (readFloatWav (path ("insert")), scene, 0), "");
        auto last = work / "insert";
        if (withGainStep)
        {
            step = r.runStep (label + "-gain",
                              last,
                              work / "gain",
                              { "gain", path ("gain"), "none", "0" },
                              r.withoutPlugin);
            ASSERT_TRUE (step.ok);
            last = work / "gain";
        }
        step = r.runStep (label + "-reload",
                          last,
                          work / "reload",
                          { "reload", path ("reload"), "none" },
                          r.withoutPlugin);
        ASSERT_TRUE (step.ok);
        EXPECT_EQ (differences (readFloatWav (path ("reload")), scene, 0), "");
    }
    say ("without a plug-in Ardour exports the four channels of the scene bit for bit");

    const double p = fisherOneSided (r.withPlugin, r.withoutPlugin);
    std::ostringstream text;
    text << "Ardour crashed in " << r.withPlugin.crashes << " of " << r.withPlugin.runs
         << " runs with Orvalis and in " << r.withoutPlugin.crashes << " of "
         << r.withoutPlugin.runs << " runs without any plug-in (and in " << r.making.crashes
         << " of " << r.making.runs << " while making the session); chance of that many with "
         << "Orvalis at Ardour's own rate: " << p;
    say (text.str());
    EXPECT_GE (p, 0.01) << "Ardour crashes clearly more often with Orvalis than without it";
}
