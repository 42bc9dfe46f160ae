// Automation in Ardour 7 (Debian's), headless: ardour7-lua on the Dummy backend plays a 440 Hz
// sine at +6 dBFS in every channel through each built format of Orvalis (four channels) and
// Orvalis HOA (third order, 16 channels), with lanes in Play
// state on its knobs, saves, loads the session again and exports it. The export must follow the
// lanes as a user hears them: no sample above the ceiling in force, no click, the level at the
// ceiling where the lanes hold still. A second run per format moves Attack Time, the look-ahead.

#include "tests/hosts/HostSignals.h"
#include "tests/hosts/WavFile.h"
#include "tests/hosts/ardour/ArdourRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{
using namespace ardour;

constexpr int sampleRate = 48000;
constexpr double sineHz = 440.0;
constexpr double sineDb = 6.0;
constexpr size_t sceneFrames = 10 * sampleRate;
// The default 1 ms look-ahead: the latency the plug-in reports when Ardour activates it, and
// the one Ardour compensates in the exports.
constexpr int compensatedLatency = 48;
constexpr double overToleranceDb = 0.001; // float rounding
constexpr double maxResidual = 0.01;      // of full scale
constexpr double maxLevelErrorDb = 0.1;

const double pi = std::acos (-1.0);
const double omega = 2.0 * pi * sineHz / sampleRate;
const double periodFrames = sampleRate / sineHz;

// The plug-ins under test, format by format.
struct PluginUnderTest
{
    std::string product, format;
};
void PrintTo (const PluginUnderTest& p, std::ostream* out)
{
    *out << p.product << " " << p.format;
}
const PluginUnderTest pluginsUnderTest[] = { { "Orvalis", "VST3" },    { "Orvalis", "VST" },
                                             { "Orvalis", "LV2" },     { "Orvalis HOA", "VST3" },
                                             { "Orvalis HOA", "VST" }, { "Orvalis HOA", "LV2" } };

/** An automation lane: the knob's name and range in its own unit, and points (seconds, value)
    joined by straight lines, as Ardour interpolates a plug-in parameter's lane. */
struct Lane
{
    std::string parameter;
    double minimum, maximum;
    std::vector<std::pair<double, double>> points;

    double at (double seconds) const
    {
        if (seconds <= points.front().first)
            return points.front().second;
        for (size_t i = 1; i < points.size(); ++i)
            if (seconds <= points[i].first)
            {
                const auto [t0, v0] = points[i - 1];
                const auto [t1, v1] = points[i];
                return v0 + (v1 - v0) * (seconds - t0) / (t1 - t0);
            }
        return points.back().second;
    }

    double maxOver (double from, double to) const
    {
        double value = std::max (at (from), at (to));
        for (const auto& [t, v] : points)
            if (t > from && t < to)
                value = std::max (value, v);
        return value;
    }

    /** The argument of session.lua's automate step: frames and normalised values. */
    std::string argument() const
    {
        std::ostringstream text;
        text.precision (17);
        text << parameter << "=";
        for (size_t i = 0; i < points.size(); ++i)
            text << (i == 0 ? "" : ",") << std::lround (points[i].first * sampleRate) << ":"
                 << (points[i].second - minimum) / (maximum - minimum);
        return text.str();
    }
};

Lane ceilingLane (std::vector<std::pair<double, double>> points)
{
    return { "Max Peak Level", -10.0, 10.0, std::move (points) };
}

Signal makeSine (int numChannels)
{
    const float amplitude = static_cast<float> (std::pow (10.0, sineDb / 20.0));
    std::vector<float> sine (sceneFrames);
    for (size_t i = 0; i < sceneFrames; ++i)
        sine[i] = amplitude * static_cast<float> (std::sin (omega * static_cast<double> (i)));
    return Signal ((size_t) numChannels, sine);
}

double db (double linear)
{
    return 20.0 * std::log10 (std::max (linear, 1e-12));
}

std::string fixed (double value, int digits)
{
    std::ostringstream text;
    text.setf (std::ios::fixed);
    text.precision (digits);
    text << value;
    return text.str();
}

/** What an export did against its ceiling lane. */
struct Figures
{
    size_t overs = 0;
    double worstOverDb = -100.0; // the largest sample over the ceiling in force
    double residual = 0.0;       // the sine's largest prediction residual, of full scale
    double levelErrorDb = 0.0;   // the largest level error where the lanes hold still
};

/** Measures an export. The ceiling in force at a frame is the highest the lane reaches within
    slackFrames of it: Ardour hands a lane's value to a plug-in once per cycle, from either end of
    it depending on the format, and the plug-in's delay shifts the frame by the latency. The level
    is the peak over 20 ms stretches within `holds` (seconds), against the lane there. */
Figures measure (const FloatWav& out,
                 const Lane& ceiling,
                 int slackFrames,
                 const std::vector<std::pair<double, double>>& holds)
{
    Figures f;
    const double slack = static_cast<double> (slackFrames) / sampleRate;
    const double twoCos = 2.0 * std::cos (omega);
    for (const auto& y : out.channels)
        for (size_t i = 0; i < y.size(); ++i)
        {
            const double t = static_cast<double> (i) / sampleRate;
            const double over = db (std::abs (y[i])) - ceiling.maxOver (t - slack, t + slack);
            if (over > overToleranceDb)
                ++f.overs;
            f.worstOverDb = std::max (f.worstOverDb, over);
            if (i >= 2)
                f.residual = std::max (f.residual, std::abs (y[i] - twoCos * y[i - 1] + y[i - 2]));
        }

    const size_t stretch = sampleRate / 50;
    for (const auto& [from, to] : holds)
        for (auto i = static_cast<size_t> (from * sampleRate);
             i + stretch <= static_cast<size_t> (to * sampleRate);
             i += stretch)
        {
            float peak = 0.0f;
            for (const auto& y : out.channels)
                for (size_t j = i; j < i + stretch; ++j)
                    peak = std::max (peak, std::abs (y[j]));
            const double t = (static_cast<double> (i) + stretch / 2.0) / sampleRate;
            f.levelErrorDb = std::max (f.levelErrorDb, std::abs (db (peak) - ceiling.at (t)));
        }
    return f;
}

/** The delay of the export's sine against the input's over a stretch (seconds), in frames,
    modulo the sine's period. */
double delayFrames (const std::vector<float>& y, double from, double to)
{
    double s = 0.0, c = 0.0;
    for (auto i = static_cast<size_t> (from * sampleRate);
         i < static_cast<size_t> (to * sampleRate);
         ++i)
    {
        s += y[i] * std::sin (omega * static_cast<double> (i));
        c += y[i] * std::cos (omega * static_cast<double> (i));
    }
    return -std::atan2 (c, s) / omega;
}

/** How far `delay` is from `expected`, modulo the sine's period. */
double delayError (double delay, double expected)
{
    return std::remainder (delay - expected, periodFrames);
}

class AutomationRig : public Rig
{
public:
    AutomationRig (const std::string& name, const Product& p) : Rig (name, p)
    {
        if (! setupFailed)
            makeBaseSession (makeSine (product.channels), sampleRate);
    }
    CrashCount runs;
};

AutomationRig& rigFor (const std::string& productName)
{
    if (productName == orvalisHoa3().name)
    {
        static AutomationRig hoa ("automation-hoa", orvalisHoa3());
        return hoa;
    }
    static AutomationRig instance ("automation", orvalis());
    return instance;
}

class ArdourAutomation : public ::testing::TestWithParam<PluginUnderTest>
{
protected:
    AutomationRig& rig() { return rigFor (GetParam().product); }

    /** Inserts the plug-in, writes the lanes, saves, loads the session again and exports it.
        Returns the export and the length of Ardour's cycle in frames. */
    std::pair<FloatWav, int> exportWith (const std::string& name, const std::vector<Lane>& lanes)
    {
        auto& r = rig();
        const auto& p = GetParam();
        auto tag = p.product + "-" + p.format + "-" + name;
        std::replace (tag.begin(), tag.end(), ' ', '-');
        const auto exportPath = r.root / "exports" / (tag + ".wav");
        std::vector<std::string> args {
            "automate", exportPath.string(), p.format, r.ardourId (p.format)
        };
        for (const auto& lane : lanes)
            args.push_back (lane.argument());
        const auto step = r.runStep (tag, r.baseSession, r.root / tag, args, r.runs);
        if (! step.ok)
            return {};
        EXPECT_EQ (valuesOf (step.report, "lane").size(), lanes.size());
        EXPECT_EQ (firstOf (step.report, "latency"), std::to_string (compensatedLatency));
        const int block = std::atoi (firstOf (step.report, "block").c_str());
        EXPECT_GT (block, 0) << "Ardour's cycle length";
        auto exported = readFloatWav (exportPath.string());
        EXPECT_EQ (exported.sampleRate, sampleRate);
        const auto channels = (size_t) r.product.channels;
        EXPECT_EQ (exported.channels.size(), channels);
        if (exported.channels.size() != channels || exported.channels[0].size() != sceneFrames)
        {
            ADD_FAILURE() << "the export is not " << channels << " channels of " << sceneFrames
                          << " frames";
            return {};
        }
        return { std::move (exported), block };
    }

    void check (const Figures& f, const std::string& what)
    {
        const auto& p = GetParam();
        say (p.product + " " + p.format + ", " + what + ": " + std::to_string (f.overs)
             + " samples above the ceiling in force (the highest sample "
             + (f.worstOverDb < 0 ? "" : "+") + fixed (f.worstOverDb, 3)
             + " dB against it); largest prediction residual " + fixed (100.0 * f.residual, 3)
             + " % of full scale; level within " + fixed (f.levelErrorDb, 3)
             + " dB of the lane where the lanes hold still");
        EXPECT_EQ (f.overs, 0u) << what << ": up to " << f.worstOverDb << " dB above the ceiling";
        EXPECT_LT (f.residual, maxResidual) << what << ": a click";
        EXPECT_LE (f.levelErrorDb, maxLevelErrorDb) << what << ": the level leaves the lane";
    }
};

// Max Peak Level 0 -> -10 dB over 3 s, then up to +5 dB; Input Gain 0 -> +18 -> +6 dB; Release
// Time 20 -> 200 -> 50 ms, beneath a sine always above the ceiling. The level is checked where
// all three hold still, a cycle short of the next move (VST3 takes a cycle's last value early).
TEST_P (ArdourAutomation, ExportFollowsTheLanesOfCeilingInputGainAndRelease)
{
    ASSERT_FALSE (rig().setupFailed) << "the test's setup failed";
    const auto ceiling = ceilingLane ({ { 0, 0 }, { 1, 0 }, { 4, -10 }, { 5.5, -10 }, { 6.5, 5 } });
    const Lane gain {
        "Input Gain", 0, 60, { { 0, 0 }, { 2, 0 }, { 3.5, 18 }, { 6.5, 18 }, { 7.5, 6 } }
    };
    const Lane release {
        "Release Time", 0, 1000, { { 0, 20 }, { 3, 20 }, { 4, 200 }, { 7, 200 }, { 7.5, 50 } }
    };
    const auto [out, block] = exportWith ("lanes", { ceiling, gain, release });
    ASSERT_GT (block, 0);
    check (
        measure (
            out, ceiling, block + compensatedLatency, { { 0.5, 0.95 }, { 4.5, 5.45 }, { 8, 10 } }),
        "lanes on Max Peak Level, Input Gain and Release Time");
}

// Attack Time 1 -> 10 ms over a second, then down to 2 ms. In every format the delay glides to
// each new look-ahead (0.9999 per sample toward it), while the latency the plug-in reports, and
// Ardour compensates, stays the 48 frames of the look-ahead it had when Ardour activated it: the
// export runs 432 frames late at 10 ms and 48 frames late at 2 ms, without a jump.
TEST_P (ArdourAutomation, AttackTimeUnderALaneGlidesWithoutOversOrClicks)
{
    ASSERT_FALSE (rig().setupFailed) << "the test's setup failed";
    const Lane attack {
        "Attack Time", 0, 40, { { 0, 1 }, { 1, 1 }, { 2, 10 }, { 4, 10 }, { 4.5, 2 } }
    };
    const auto [out, block] = exportWith ("attack", { attack });
    ASSERT_GT (block, 0);
    check (measure (out, ceilingLane ({ { 0, 0 } }), 0, { { 0.5, 0.95 }, { 3, 3.95 }, { 6, 10 } }),
           "a lane on Attack Time");

    const double atTen = delayFrames (out.channels[0], 3.5, 3.95);
    const double atTwo = delayFrames (out.channels[0], 7, 10);
    EXPECT_LE (std::abs (delayError (atTen, 480 - compensatedLatency)), 0.5) << atTen;
    EXPECT_LE (std::abs (delayError (atTwo, 96 - compensatedLatency)), 0.5) << atTwo;
    say (GetParam().product + " " + GetParam().format + ": with Attack Time at 10 ms the export is "
         + fixed (480 - compensatedLatency + delayError (atTen, 480 - compensatedLatency), 2)
         + " frames late, at 2 ms "
         + fixed (96 - compensatedLatency + delayError (atTwo, 96 - compensatedLatency), 2)
         + " (Ardour compensates " + std::to_string (compensatedLatency) + ")");
}

INSTANTIATE_TEST_SUITE_P (Formats,
                          ArdourAutomation,
                          ::testing::ValuesIn (pluginsUnderTest),
                          [] (const auto& info)
                          {
                              auto name = info.param.product + "_" + info.param.format;
                              name.erase (std::remove (name.begin(), name.end(), ' '), name.end());
                              return name;
                          });
} // namespace
