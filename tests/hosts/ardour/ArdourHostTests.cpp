// Ardour 7 (Debian's), headless: its Lua interpreter ardour7-lua on the Dummy backend loads each
// built format of Orvalis into a session with a four-channel track and master, and of Orvalis HOA
// into one with a 16-channel (third-order) track and master, exports, and saves; the test compares
// the exports with orvalis-render's output sample for sample.
//
// Ardour 7.3 crashes now and then on its own, with or without any plug-in (heap corruption in its
// export code). A step of the test is therefore run again when Ardour crashed, up to eight times;
// every crash is counted, the same steps run without the plug-in as a yardstick, and the last test
// fails when the crash rate with the plug-in clearly exceeds Ardour's own.
//
// Everything Ardour reads or writes lives in a scratch folder: home, configuration (the export
// preset), plug-in cache (written by Ardour's own scanners) and sessions.

#include "tests/hosts/HostSignals.h"
#include "tests/hosts/RunProgram.h"
#include "tests/hosts/WavFile.h"
#include "tests/hosts/ardour/ArdourRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{
using namespace ardour;

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
    const size_t numChannels = expected.channels.size();
    if (actual.sampleRate != sampleRate || actual.channels.size() != numChannels)
        return "the export is not a " + std::to_string (numChannels)
               + "-channel 32-bit float WAV at 48 kHz";
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
    for (size_t ch = 0; ch < numChannels; ++ch)
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

/** The scratch world every Ardour run of a product shares, set up on first use: the base
    session holds the scene (as many channels as the product's session has), and the renderer's
    output is at hand for the exports. */
class HostRig : public Rig
{
public:
    HostRig (const std::string& name, const Product& p) : Rig (name, p)
    {
        if (setupFailed)
            return;
        scene = makeScene (sceneFrames, 11, (size_t) product.channels);
        if (makeBaseSession (scene, sampleRate))
            render();
    }

    Signal scene;
    FloatWav renderedDefault, renderedWithGain;
    CrashCount withPlugin, withoutPlugin;

private:
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
};

HostRig& rig()
{
    static HostRig instance ({}, orvalis());
    return instance;
}

HostRig& hoaRig()
{
    static HostRig instance ("hoa", orvalisHoa3());
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
void checkFormat (HostRig& r, const std::string& format, const std::string& tag)
{
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
    EXPECT_EQ (firstOf (inserted.report, "plugin"), r.nameIn (format));
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
    EXPECT_EQ (firstOf (reloaded.report, "plugin"), r.nameIn (format));
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
// The same steps in the same session, without any plug-in: Ardour's own crash rate, and proof that
// the session hands the channels to the export untouched.
void checkWithoutPlugin (HostRig& r, const std::string& prefix)
{
    ASSERT_FALSE (r.setupFailed) << "the test's setup failed";
    FloatWav scene { sampleRate, r.scene };
    // One cycle for every cycle with the plug-in, so that both crash counts rest on alike runs.
    for (int run = 0; run < 3 * cycles(); ++run)
    {
        const std::string format = std::vector<std::string> { "VST3", "VST", "LV2" }[run % 3];
        const auto label = cycleTag (prefix + "none-" + format, run / 3);
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
    say ("without a plug-in Ardour exports the " + std::to_string (r.product.channels)
         + " channels of the scene bit for bit");

    const double p = fisherOneSided (r.withPlugin, r.withoutPlugin);
    std::ostringstream text;
    text << "Ardour crashed in " << r.withPlugin.crashes << " of " << r.withPlugin.runs
         << " runs with " << r.product.name << " and in " << r.withoutPlugin.crashes << " of "
         << r.withoutPlugin.runs << " runs without any plug-in, " << r.product.channels
         << " channels (and in " << r.making.crashes << " of " << r.making.runs
         << " while making the session); chance of that many with " << r.product.name
         << " at Ardour's own rate: " << p;
    say (text.str());
    // Over several runs Ardour has crashed in about half of its 16-channel exports with Orvalis
    // HOA against a fifth without a plug-in, and as often with IEM OmniCompressor (another
    // vendor's 64-channel VST 2.4 plug-in) on the same track; the aborts come from Ardour freeing
    // its own export graph. So the threshold lets such a difference pass; a plug-in that made
    // Ardour crash nearly every time would not.
    EXPECT_GE (p, 0.001) << "Ardour crashes clearly more often with " << r.product.name
                         << " than without it";
}
} // namespace

TEST (ArdourHost, Vst3)
{
    for (int cycle = 0; cycle < cycles(); ++cycle)
        checkFormat (rig(), "VST3", cycleTag ("VST3", cycle));
}

TEST (ArdourHost, Vst2)
{
    for (int cycle = 0; cycle < cycles(); ++cycle)
        checkFormat (rig(), "VST", cycleTag ("VST", cycle));
}

TEST (ArdourHost, Lv2)
{
    for (int cycle = 0; cycle < cycles(); ++cycle)
        checkFormat (rig(), "LV2", cycleTag ("LV2", cycle));
}

// Orvalis HOA at third order: a 16-channel track and master, the scene's loudest channel in every
// other burst the last one.
TEST (ArdourHostHoa, Vst3)
{
    checkFormat (hoaRig(), "VST3", "hoa-VST3");
}

TEST (ArdourHostHoa, Vst2)
{
    checkFormat (hoaRig(), "VST", "hoa-VST");
}

TEST (ArdourHostHoa, Lv2)
{
    checkFormat (hoaRig(), "LV2", "hoa-LV2");
}

TEST (ArdourHost, WithoutPluginAndCrashRate)
{
    checkWithoutPlugin (rig(), "");
}

// Ardour crashes far more often by itself in a 16-channel session than in a four-channel one: the
// rate with Orvalis HOA is measured against Ardour's own at 16 channels.
TEST (ArdourHostHoa, WithoutPluginAndCrashRate)
{
    checkWithoutPlugin (hoaRig(), "hoa-");
}
