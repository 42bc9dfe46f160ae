// A small LV2 host on Debian's lilv, the reference LV2 host library: it loads Orvalis.lv2 the way
// LV2 hosts do, with no host feature at all unless a test needs urid:map for the state, drives the
// four knobs, the enabled switch and the state through the bundle's ports and state interface, and
// compares the audio with the command-line renderer's. Debian's lv2file processes a file through
// the same bundle.

#include "tests/common/AllocationCounter.h"
#include "tests/hosts/HostSignals.h"
#include "tests/hosts/RunProgram.h"
#include "tests/hosts/WavFile.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace
{
constexpr const char* knobSymbols[] = {
    "attack_time", "release_time", "max_peak_level", "input_gain"
};

class UridMap
{
public:
    LV2_URID map (const char* uri)
    {
        std::lock_guard<std::mutex> guard (lock);
        auto found = ids.find (uri);
        if (found != ids.end())
            return found->second;
        uris.emplace_back (uri);
        return ids[uri] = (LV2_URID) uris.size();
    }

    const char* unmap (LV2_URID id)
    {
        std::lock_guard<std::mutex> guard (lock);
        return id >= 1 && id <= uris.size() ? uris[id - 1].c_str() : nullptr;
    }

    LV2_URID_Map mapFeature { this, [] (LV2_URID_Map_Handle h, const char* uri) {
                                 return static_cast<UridMap*> (h)->map (uri);
                             } };

private:
    std::mutex lock;
    std::vector<std::string> uris;
    std::map<std::string, LV2_URID> ids;
};

// One lilv world with the LV2 specifications (for the plug-in classes) and the bundle loaded.
struct World
{
    World()
    {
        world = lilv_world_new();
        LilvNode* core = lilv_new_file_uri (world, nullptr, "/usr/lib/lv2/core.lv2/");
        lilv_world_load_bundle (world, core);
        lilv_node_free (core);
        lilv_world_load_specifications (world);
        lilv_world_load_plugin_classes (world);
        LilvNode* bundle = lilv_new_file_uri (world, nullptr, ORVALIS_LV2_BUNDLE "/");
        lilv_world_load_bundle (world, bundle);
        lilv_node_free (bundle);

        LilvNode* uri = lilv_new_uri (world, ORVALIS_LV2_URI);
        plugin = lilv_plugins_get_by_uri (lilv_world_get_all_plugins (world), uri);
        lilv_node_free (uri);
    }

    ~World() { lilv_world_free (world); }

    LilvNode* node (const char* uri) { return lilv_new_uri (world, uri); }

    uint32_t portIndex (const char* symbol)
    {
        LilvNode* s = lilv_new_string (world, symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol (plugin, s);
        lilv_node_free (s);
        return port != nullptr ? lilv_port_get_index (plugin, port) : UINT32_MAX;
    }

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    UridMap urids;
};

World& world()
{
    static World instance;
    return instance;
}

enum class Buffers
{
    separate, // every port a buffer of its own
    inPlace,  // each output shares its channel's input buffer
    crossed   // output ch writes into the buffer of input ch + 1
};

// One plug-in instance with every port connected.
class Instance
{
public:
    explicit Instance (double rate, bool withUridMap = false, Buffers layout = Buffers::separate)
    {
        auto& w = world();
        mapFeature = { LV2_URID__map, &w.urids.mapFeature };
        features = { withUridMap ? &mapFeature : nullptr, nullptr };
        instance = lilv_plugin_instantiate (w.plugin, rate, features.data());
        if (instance == nullptr)
            return;

        const uint32_t numPorts = lilv_plugin_get_num_ports (w.plugin);
        controls.resize (numPorts, 0.0f);
        std::vector<float> mins (numPorts), maxs (numPorts), defaults (numPorts);
        lilv_plugin_get_port_ranges_float (w.plugin, mins.data(), maxs.data(), defaults.data());
        LilvNode* audio = w.node (LV2_CORE__AudioPort);
        LilvNode* input = w.node (LV2_CORE__InputPort);
        size_t numIn = 0, numOut = 0;
        for (uint32_t index = 0; index < numPorts; ++index)
        {
            const LilvPort* port = lilv_plugin_get_port_by_index (w.plugin, index);
            if (! lilv_port_is_a (w.plugin, port, audio))
            {
                controls[index] = std::isnan (defaults[index]) ? 0.0f : defaults[index];
                lilv_instance_connect_port (instance, index, &controls[index]);
            }
            else if (lilv_port_is_a (w.plugin, port, input))
                lilv_instance_connect_port (instance, index, buffers[numIn++].data());
            else
            {
                const size_t ch = numOut++;
                const size_t target = layout == Buffers::separate  ? ch + 4
                                      : layout == Buffers::inPlace ? ch
                                                                   : (ch + 1) % 4;
                lilv_instance_connect_port (instance, index, buffers[target].data());
                outputBuffer[ch] = target;
            }
        }
        lilv_node_free (audio);
        lilv_node_free (input);
        lilv_instance_activate (instance);
    }

    ~Instance()
    {
        if (instance != nullptr)
        {
            lilv_instance_deactivate (instance);
            lilv_instance_free (instance);
        }
    }

    Instance (const Instance&) = delete;
    Instance& operator= (const Instance&) = delete;

    float& port (const char* symbol) { return controls.at (world().portIndex (symbol)); }

    // One run over frames [start, start + n) of input into output; allocates nothing.
    void runBlock (const Signal& input, Signal& output, size_t start, uint32_t n)
    {
        for (size_t ch = 0; ch < 4; ++ch)
            std::copy_n (input[ch].begin() + (long) start, n, buffers[ch].begin());
        lilv_instance_run (instance, n);
        for (size_t ch = 0; ch < 4; ++ch)
            std::copy_n (buffers[outputBuffer[ch]].begin(), n, output[ch].begin() + (long) start);
    }

    // The whole input in blocks whose lengths cycle through blockLengths.
    Signal process (const Signal& input, const std::vector<uint32_t>& blockLengths)
    {
        Signal output (4, std::vector<float> (input[0].size()));
        size_t start = 0;
        for (size_t b = 0; start < input[0].size(); ++b)
        {
            const auto n = (uint32_t) std::min<size_t> (blockLengths[b % blockLengths.size()],
                                                        input[0].size() - start);
            runBlock (input, output, start, n);
            start += n;
        }
        return output;
    }

    void reactivate()
    {
        lilv_instance_deactivate (instance);
        lilv_instance_activate (instance);
    }

    LilvInstance* instance = nullptr;
    static constexpr size_t maxFrames = 16384;

private:
    LV2_Feature mapFeature {};
    std::vector<const LV2_Feature*> features;
    std::vector<float> controls;
    std::vector<std::vector<float>> buffers { 8, std::vector<float> (maxFrames) };
    size_t outputBuffer[4] = { 4, 5, 6, 7 };
};

float peakOf (const Signal& signal, size_t from = 0, size_t to = SIZE_MAX)
{
    float peak = 0.0f;
    for (const auto& channel : signal)
    {
        const auto last = channel.begin() + (long) std::min (to, channel.size());
        for (auto it = channel.begin() + (long) std::min (from, channel.size()); it < last; ++it)
            peak = std::max (peak, std::abs (*it));
    }
    return peak;
}

// orvalis-render's raw, settled output for the scene, or no channels when it is not built.
Signal render (const Signal& scene, const std::vector<std::string>& settings, int blockSize)
{
    if (! std::filesystem::exists (ORVALIS_RENDER))
        return {};
    const auto dir = std::filesystem::temp_directory_path()
                     / ("orvalis-lv2-render-" + std::to_string (getpid()));
    std::filesystem::create_directories (dir);
    const auto inPath = (dir / "scene.wav").string(), outPath = (dir / "rendered.wav").string();
    std::vector<std::string> args { ORVALIS_RENDER, inPath, outPath, "--raw", "--settled" };
    args.insert (args.end(), settings.begin(), settings.end());
    args.push_back ("--block");
    args.push_back (std::to_string (blockSize));
    Signal result;
    if (writeFloatWav (inPath, scene, 48000) && runProgram (args).exitCode == 0)
        result = readFloatWav (outPath).channels;
    std::filesystem::remove_all (dir);
    return result;
}

// The settings document as the processor writes it: magic, length, the text and a zero byte.
std::vector<uint8_t> settingsDocument (const std::string& text)
{
    std::vector<uint8_t> block { 0x56, 0x43, 0x32, 0x21 };
    for (int shift = 0; shift < 32; shift += 8)
        block.push_back ((uint8_t) (text.size() >> shift));
    block.insert (block.end(), text.begin(), text.end());
    block.push_back (0);
    return block;
}

// The plug-in's state interface called directly, with the host side kept in a map.
struct StateProperties
{
    std::map<LV2_URID, std::pair<LV2_URID, std::vector<uint8_t>>> values; // key -> type, bytes

    static LV2_State_Status store (
        LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t type, uint32_t)
    {
        const auto* bytes = static_cast<const uint8_t*> (value);
        static_cast<StateProperties*> (h)->values[key] = { type, { bytes, bytes + size } };
        return LV2_STATE_SUCCESS;
    }

    static const void*
    retrieve (LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
    {
        auto& values = static_cast<StateProperties*> (h)->values;
        auto found = values.find (key);
        if (found == values.end())
            return nullptr;
        *size = found->second.second.size();
        *type = found->second.first;
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return found->second.second.data();
    }

    static StateProperties saveFrom (Instance& plugin)
    {
        StateProperties saved;
        const auto* iface = static_cast<const LV2_State_Interface*> (
            lilv_instance_get_extension_data (plugin.instance, LV2_STATE__interface));
        EXPECT_NE (iface, nullptr);
        if (iface != nullptr)
        {
            EXPECT_EQ (iface->save (lilv_instance_get_handle (plugin.instance),
                                    store,
                                    &saved,
                                    LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE,
                                    nullptr),
                       LV2_STATE_SUCCESS);
        }
        return saved;
    }

    LV2_State_Status restoreInto (Instance& plugin)
    {
        const auto* iface = static_cast<const LV2_State_Interface*> (
            lilv_instance_get_extension_data (plugin.instance, LV2_STATE__interface));
        return iface->restore (lilv_instance_get_handle (plugin.instance),
                               retrieve,
                               this,
                               LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE,
                               nullptr);
    }

    // The text of the settings document saved under the bundle's key, or "" when there is none.
    std::string documentText()
    {
        auto& urids = world().urids;
        auto found = values.find (urids.map (ORVALIS_LV2_URI ":settings"));
        if (found == values.end() || found->second.first != urids.map (LV2_ATOM__Chunk)
            || found->second.second.size() < 9)
            return {};
        const auto& bytes = found->second.second;
        return std::string (bytes.begin() + 8, bytes.end() - 1);
    }
};

class Lv2Host : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE (world().plugin, nullptr)
            << ORVALIS_LV2_URI << " not found in " << ORVALIS_LV2_BUNDLE;
    }
};
} // namespace

TEST_F (Lv2Host, BundleDescribesALimiterWithFourAudioChannelsAndItsControls)
{
    auto& w = world();
    auto* p = w.plugin;
    const auto stringOf = [] (LilvNode* n)
    {
        std::string s = n != nullptr ? lilv_node_as_string (n) : "";
        lilv_node_free (n);
        return s;
    };
    EXPECT_EQ (stringOf (lilv_plugin_get_name (p)), "Orvalis");
    EXPECT_EQ (stringOf (lilv_plugin_get_author_name (p)), "Tarnwick");
    EXPECT_STREQ (lilv_node_as_uri (lilv_plugin_class_get_uri (lilv_plugin_get_class (p))),
                  LV2_CORE__LimiterPlugin);

    LilvNode* release = w.node ("http://usefulinc.com/ns/doap#release");
    LilvNode* revision = w.node ("http://usefulinc.com/ns/doap#revision");
    LilvNodes* releases = lilv_plugin_get_value (p, release);
    ASSERT_NE (releases, nullptr);
    EXPECT_EQ (
        stringOf (lilv_world_get (w.world, lilv_nodes_get_first (releases), revision, nullptr)),
        "1.0.0");
    lilv_nodes_free (releases);
    LilvNode* license = w.node ("http://usefulinc.com/ns/doap#license");
    LilvNodes* licenses = lilv_plugin_get_value (p, license);
    EXPECT_EQ (lilv_nodes_size (licenses), 1u);
    lilv_nodes_free (licenses);
    for (auto* n : { release, revision, license })
        lilv_node_free (n);

    LilvNodes* required = lilv_plugin_get_required_features (p);
    EXPECT_EQ (lilv_nodes_size (required), 0u) << "a host must not need any feature";
    lilv_nodes_free (required);

    // Four audio ports each way, no atom ports; the knobs in ms and dB with the window's ranges.
    LilvNode* audio = w.node (LV2_CORE__AudioPort);
    LilvNode* control = w.node (LV2_CORE__ControlPort);
    LilvNode* input = w.node (LV2_CORE__InputPort);
    LilvNode* output = w.node (LV2_CORE__OutputPort);
    EXPECT_EQ (lilv_plugin_get_num_ports_of_class (p, audio, input, nullptr), 4u);
    EXPECT_EQ (lilv_plugin_get_num_ports_of_class (p, audio, output, nullptr), 4u);
    EXPECT_EQ (lilv_plugin_get_num_ports_of_class (p, control, input, nullptr), 5u);
    EXPECT_EQ (lilv_plugin_get_num_ports_of_class (p, control, output, nullptr), 2u);
    EXPECT_EQ (lilv_plugin_get_num_ports (p), 15u);

    struct Expected
    {
        const char* name;
        const char* unit;
        float minimum, maximum, defaultValue;
    };
    const Expected expected[] = { { "Attack Time", LV2_UNITS__ms, 0.0f, 40.0f, 1.0f },
                                  { "Release Time", LV2_UNITS__ms, 0.0f, 1000.0f, 20.0f },
                                  { "Max Peak Level", LV2_UNITS__db, -10.0f, 10.0f, 0.0f },
                                  { "Input Gain", LV2_UNITS__db, 0.0f, 60.0f, 0.0f } };
    LilvNode* unit = w.node (LV2_UNITS__unit);
    for (size_t k = 0; k < 4; ++k)
    {
        const uint32_t index = w.portIndex (knobSymbols[k]);
        ASSERT_NE (index, UINT32_MAX) << knobSymbols[k];
        const LilvPort* port = lilv_plugin_get_port_by_index (p, index);
        EXPECT_TRUE (lilv_port_is_a (p, port, control) && lilv_port_is_a (p, port, input));
        EXPECT_EQ (stringOf (lilv_port_get_name (p, port)), expected[k].name);
        LilvNodes* units = lilv_port_get_value (p, port, unit);
        EXPECT_STREQ (units != nullptr ? lilv_node_as_uri (lilv_nodes_get_first (units)) : "",
                      expected[k].unit);
        lilv_nodes_free (units);
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range (p, port, &def, &min, &max);
        EXPECT_EQ (lilv_node_as_float (min), expected[k].minimum) << expected[k].name;
        EXPECT_EQ (lilv_node_as_float (max), expected[k].maximum) << expected[k].name;
        EXPECT_EQ (lilv_node_as_float (def), expected[k].defaultValue) << expected[k].name;
        for (auto* n : { def, min, max })
            lilv_node_free (n);
    }

    const auto designated = [&] (const char* designation, LilvNode* direction)
    {
        LilvNode* d = w.node (designation);
        const LilvPort* port = lilv_plugin_get_port_by_designation (p, direction, d);
        lilv_node_free (d);
        return port;
    };
    const LilvPort* enabled = designated (LV2_CORE__enabled, input);
    ASSERT_NE (enabled, nullptr);
    EXPECT_EQ (lilv_port_get_index (p, enabled), w.portIndex ("enabled"));
    EXPECT_EQ (lilv_plugin_get_latency_port_index (p), w.portIndex ("latency"));
    EXPECT_NE (w.portIndex ("gain_reduction"), UINT32_MAX);
    for (auto* n : { audio, control, input, output, unit })
        lilv_node_free (n);
}

TEST_F (Lv2Host, LatencyIsTheLookaheadOfTheSettingsTheFirstRunBrings)
{
    // The look-ahead set before the first run is prepared with, reported and measured: an impulse
    // below the ceiling comes out exactly that many samples later.
    for (auto [rate, attackMs, expected] : { std::tuple { 48000.0, 1.0f, 48 },
                                             std::tuple { 44100.0, 1.0f, 44 },
                                             std::tuple { 96000.0, 40.0f, 3840 },
                                             std::tuple { 48000.0, 0.0f, 0 } })
    {
        Instance plugin (rate);
        ASSERT_NE (plugin.instance, nullptr);
        plugin.port ("attack_time") = attackMs;
        Signal impulse (4, std::vector<float> (8192));
        for (auto& channel : impulse)
            channel[100] = 0.5f;
        const auto out = plugin.process (impulse, { 512 });
        EXPECT_EQ (plugin.port ("latency"), (float) expected)
            << rate << " Hz, " << attackMs << " ms";
        const auto& ch0 = out[0];
        EXPECT_EQ (std::max_element (ch0.begin(),
                                     ch0.end(),
                                     [] (float a, float b) { return std::abs (a) < std::abs (b); })
                       - ch0.begin(),
                   100 + expected)
            << rate << " Hz, " << attackMs << " ms";
    }

    // A look-ahead changed while running glides in; the latency follows when the host activates
    // the plug-in again, as a VST3 host's new preparation.
    Instance plugin (48000.0);
    const Signal silence (4, std::vector<float> (256));
    plugin.process (silence, { 256 });
    plugin.port ("attack_time") = 10.0f;
    plugin.process (silence, { 256 });
    EXPECT_EQ (plugin.port ("latency"), 48.0f);
    plugin.reactivate();
    plugin.process (silence, { 256 });
    EXPECT_EQ (plugin.port ("latency"), 480.0f);
}

TEST_F (Lv2Host, KnobsOnTheirPortsLimitAsTheRendererDoesWithAnyBuffersAndBlockLengths)
{
    const auto scene = makeScene (3 * 48000, 2024);
    const float values[] = { 5.0f, 50.0f, -1.0f, 6.0f }; // attack, release, ceiling, gain

    Instance separate (48000.0, false, Buffers::separate);
    Instance inPlace (48000.0, false, Buffers::inPlace);
    Instance crossed (48000.0, false, Buffers::crossed);
    std::vector<Signal> outputs;
    const std::vector<std::vector<uint32_t>> blockLengths { { 480 },
                                                            { 1, 17, 8191, 10000 },
                                                            { 64 } };
    size_t i = 0;
    for (auto* plugin : { &separate, &inPlace, &crossed })
    {
        ASSERT_NE (plugin->instance, nullptr);
        for (size_t k = 0; k < 4; ++k)
            plugin->port (knobSymbols[k]) = values[k];
        outputs.push_back (withoutLeadIn (plugin->process (withLeadIn (scene), blockLengths[i++])));
        EXPECT_EQ (plugin->port ("latency"), 240.0f);
    }
    EXPECT_TRUE (bitIdentical (outputs[0], outputs[1])) << "in place";
    EXPECT_TRUE (bitIdentical (outputs[0], outputs[2])) << "crossed buffers";

    // The host really limited: nothing above the -1 dB ceiling, the gain reduction reported.
    const float ceiling = std::pow (10.0f, -1.0f / 20.0f);
    EXPECT_LE (peakOf (outputs[0]), ceiling);
    EXPECT_GT (peakOf (outputs[0]), 0.5f * ceiling);
    EXPECT_GT (separate.port ("gain_reduction"), 0.0f);

    const auto rendered = render (
        scene, { "--attack", "5", "--release", "50", "--ceiling", "-1", "--gain", "6" }, 480);
    if (rendered.empty())
        GTEST_SKIP() << "orvalis-render is not built (" << ORVALIS_RENDER
                     << "); the comparison with the renderer's output did not run";
    EXPECT_TRUE (bitIdentical (outputs[0], rendered));

    // Between the knob's steps a port value is taken as it is, as the other formats take their
    // parameters, so that a host's automation moves the limiter smoothly (values exact in float
    // and in decimal, so that the renderer gets the same ones).
    const auto processed = [&scene] (const std::vector<float>& knobs)
    {
        Instance plugin (48000.0);
        for (size_t k = 0; k < 4; ++k)
            plugin.port (knobSymbols[k]) = knobs[k];
        return withoutLeadIn (plugin.process (withLeadIn (scene), { 480 }));
    };
    const auto between = processed ({ 5.25f, 49.5f, -1.25f, 6.5f });
    EXPECT_FALSE (bitIdentical (between, outputs[0]));
    EXPECT_TRUE (bitIdentical (
        between,
        render (scene,
                { "--attack", "5.25", "--release", "49.5", "--ceiling", "-1.25", "--gain", "6.5" },
                480)));

    // Beyond the range, infinities included, a value counts as the range's end; NaN is no value
    // and leaves the knob where it was.
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE (bitIdentical (processed ({ 41.0f, inf, -inf, 1e30f }),
                               processed ({ 40.0f, 1000.0f, -10.0f, 60.0f })));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE (
        bitIdentical (processed ({ nan, nan, nan, nan }), processed ({ 1.0f, 20.0f, 0.0f, 0.0f })));
}

TEST_F (Lv2Host, EnabledPortSwitchesTheTimeKeepingBypass)
{
    const auto scene = makeScene (48000, 7);
    const size_t latency = 48, third = 16000;
    Instance plugin (48000.0);
    ASSERT_NE (plugin.instance, nullptr);

    // Off from the start: the input delayed by the latency, not limited, no gain reduction.
    plugin.port ("enabled") = 0.0f;
    Signal out (4, std::vector<float> (scene[0].size()));
    for (size_t start = 0; start < third; start += 500)
        plugin.runBlock (scene, out, start, 500);
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t i = 0; i < third; ++i)
            ASSERT_EQ (out[ch][i], i < latency ? 0.0f : scene[ch][i - latency]) << ch << " " << i;
    EXPECT_EQ (plugin.port ("gain_reduction"), 0.0f);
    EXPECT_GT (peakOf (out, 0, third), 2.0f);

    // On: limited to the ceiling once the fade and the delay line are through.
    plugin.port ("enabled") = 1.0f;
    for (size_t start = third; start < 2 * third; start += 500)
        plugin.runBlock (scene, out, start, 500);
    EXPECT_LE (peakOf (out, third + 1000, 2 * third), 1.0f);
    EXPECT_GT (plugin.port ("gain_reduction"), 0.0f);

    // Off again: after the 5 ms fade the output is the delayed input once more.
    plugin.port ("enabled") = 0.0f;
    for (size_t start = 2 * third; start < 3 * third; start += 500)
        plugin.runBlock (scene, out, start, 500);
    for (size_t ch = 0; ch < 4; ++ch)
        for (size_t i = 2 * third + 500; i < 3 * third; ++i)
            ASSERT_EQ (out[ch][i], scene[ch][i - latency]) << ch << " " << i;
}

TEST_F (Lv2Host, RunAllocatesNothing)
{
    const auto scene = makeScene (30000, 3);
    Signal out (4, std::vector<float> (scene[0].size()));
    for (auto layout : { Buffers::separate, Buffers::inPlace, Buffers::crossed })
    {
        Instance plugin (48000.0, false, layout);
        ASSERT_NE (plugin.instance, nullptr);
        plugin.port ("attack_time") = 20.0f; // the first run prepares once more
        plugin.port ("input_gain") = 12.0f;
        ScopedAllocationCount allocations;
        plugin.runBlock (scene, out, 0, 1);
        plugin.runBlock (scene, out, 1, 10000); // longer than the processor takes at once
        plugin.port ("enabled") = 0.0f;
        plugin.runBlock (scene, out, 10001, 4000);
        plugin.port ("enabled") = 1.0f;
        plugin.port ("release_time") = 300.0f;
        plugin.port ("attack_time") = 3.0f;
        plugin.runBlock (scene, out, 14001, 8000);
        plugin.runBlock (scene, out, 22001, 0);
        EXPECT_EQ (allocations.count(), 0u);
    }
}

TEST_F (Lv2Host, StateIsTheSettingsDocumentAndKeepsEverySetting)
{
    // What the plug-in saves is the processor's settings document, the knobs as the window
    // writes them: 6 dB / 60, 5 ms / 40, 50 ms / 1000, (-1 dB + 10) / 20.
    Instance first (48000.0, true);
    ASSERT_NE (first.instance, nullptr);
    const float values[] = { 5.0f, 50.0f, -1.0f, 6.0f };
    for (size_t k = 0; k < 4; ++k)
        first.port (knobSymbols[k]) = values[k];
    first.process (Signal (4, std::vector<float> (64)), { 64 });
    auto saved = StateProperties::saveFrom (first);
    EXPECT_EQ (saved.values.size(), 1u);
    EXPECT_EQ (saved.documentText(),
               "<Root><Gain>0.1</Gain><Attack>0.125</Attack><Release>0.05</Release>"
               "<Threshold>0.45</Threshold><idxInputConfig>0</idxInputConfig></Root>");

    // A document with FuMa and settings of its own comes back whole, with the knob ports the
    // host restores beside it (10 ms, 300 ms, +5 dB, 30 dB); where the ports say otherwise, as
    // they do in a host that saved them after a change the plug-in had not yet run with, the
    // ports win.
    const std::string fuma = "<Root><Gain>0.5</Gain><Attack>0.25</Attack><Release>0.3</Release>"
                             "<Threshold>0.75</Threshold><idxInputConfig>1</idxInputConfig></Root>";
    StateProperties fumaState;
    fumaState.values[world().urids.map (ORVALIS_LV2_URI ":settings")] = {
        world().urids.map (LV2_ATOM__Chunk), settingsDocument (fuma)
    };
    Instance second (48000.0, true);
    const float fumaKnobs[] = { 10.0f, 300.0f, 5.0f, 30.0f };
    for (size_t k = 0; k < 4; ++k)
        second.port (knobSymbols[k]) = fumaKnobs[k];
    second.process (Signal (4, std::vector<float> (64)), { 64 });
    EXPECT_EQ (fumaState.restoreInto (second), LV2_STATE_SUCCESS);
    second.process (Signal (4, std::vector<float> (64)), { 64 });
    EXPECT_EQ (StateProperties::saveFrom (second).documentText(), fuma);
    second.port ("input_gain") = 12.0f;
    EXPECT_EQ (fumaState.restoreInto (second), LV2_STATE_SUCCESS);
    second.process (Signal (4, std::vector<float> (64)), { 64 });
    EXPECT_EQ (StateProperties::saveFrom (second).documentText(),
               "<Root><Gain>0.2</Gain><Attack>0.25</Attack><Release>0.3</Release>"
               "<Threshold>0.75</Threshold><idxInputConfig>1</idxInputConfig></Root>");

    // Sessions saved by the build on JUCE's LV2 wrapper kept the same block as text, in JUCE's
    // own base64 (MemoryBlock::toBase64Encoding: the byte count, a dot, then six bits at a time
    // from the lowest bit up, in the alphabet below).
    const auto block = settingsDocument (fuma);
    const char* alphabet = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";
    std::string text = std::to_string (block.size()) + ".";
    for (size_t bit = 0; bit < block.size() * 8; bit += 6)
    {
        int value = 0;
        for (size_t b = 0; b < 6 && (bit + b) / 8 < block.size(); ++b)
            value |= ((block[(bit + b) / 8] >> ((bit + b) % 8)) & 1) << b;
        text += alphabet[value];
    }
    StateProperties legacy;
    legacy.values[world().urids.map (ORVALIS_LV2_URI ":StateString")] = {
        world().urids.map (LV2_ATOM__String),
        std::vector<uint8_t> (text.c_str(), text.c_str() + text.size() + 1)
    };
    Instance third (48000.0, true);
    EXPECT_EQ (legacy.restoreInto (third), LV2_STATE_SUCCESS);
    EXPECT_EQ (StateProperties::saveFrom (third).documentText(), fuma);

    // Without urid:map there is nothing to save with.
    Instance unmapped (48000.0, false);
    const auto* iface = static_cast<const LV2_State_Interface*> (
        lilv_instance_get_extension_data (unmapped.instance, LV2_STATE__interface));
    StateProperties none;
    EXPECT_EQ (iface->save (lilv_instance_get_handle (unmapped.instance),
                            StateProperties::store,
                            &none,
                            0,
                            nullptr),
               LV2_STATE_ERR_NO_FEATURE);
}

TEST_F (Lv2Host, LilvStateRoundTripRestoresPortsAndDocumentIntoAnotherInstance)
{
    auto& w = world();
    const auto getValue = [] (const char* symbol, void* user, uint32_t* size, uint32_t* type)
    {
        *size = sizeof (float);
        *type = world().urids.map (LV2_ATOM__Float);
        return (const void*) &static_cast<Instance*> (user)->port (symbol);
    };
    const auto setValue = [] (const char* symbol, void* user, const void* value, uint32_t, uint32_t)
    { std::memcpy (&static_cast<Instance*> (user)->port (symbol), value, sizeof (float)); };

    Instance first (48000.0, true);
    const float values[] = { 2.5f, 300.0f, -4.0f, 12.0f };
    for (size_t k = 0; k < 4; ++k)
        first.port (knobSymbols[k]) = values[k];
    first.process (Signal (4, std::vector<float> (64)), { 64 });
    LilvState* saved = lilv_state_new_from_instance (w.plugin,
                                                     first.instance,
                                                     &w.urids.mapFeature,
                                                     nullptr,
                                                     nullptr,
                                                     nullptr,
                                                     nullptr,
                                                     getValue,
                                                     &first,
                                                     0,
                                                     nullptr);
    ASSERT_NE (saved, nullptr);
    EXPECT_EQ (lilv_state_get_num_properties (saved), 1u);

    Instance second (48000.0, true);
    lilv_state_restore (saved, second.instance, setValue, &second, 0, nullptr);
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ (second.port (knobSymbols[k]), values[k]) << knobSymbols[k];
    second.process (Signal (4, std::vector<float> (64)), { 64 });
    const auto scene = makeScene (48000, 11);
    EXPECT_TRUE (bitIdentical (first.process (scene, { 256 }), second.process (scene, { 256 })));

    LilvState* again = lilv_state_new_from_instance (w.plugin,
                                                     second.instance,
                                                     &w.urids.mapFeature,
                                                     nullptr,
                                                     nullptr,
                                                     nullptr,
                                                     nullptr,
                                                     getValue,
                                                     &second,
                                                     0,
                                                     nullptr);
    EXPECT_TRUE (lilv_state_equals (saved, again));
    lilv_state_free (saved);
    lilv_state_free (again);
}

TEST_F (Lv2Host, Lv2FileProcessesAFileBitExactToTheRenderer)
{
    const auto scene = makeScene (2 * 48000, 99);
    const auto rendered = render (
        scene, { "--attack", "5", "--release", "50", "--ceiling", "-1", "--gain", "6" }, 480);
    if (rendered.empty())
        GTEST_SKIP() << "orvalis-render is not built (" << ORVALIS_RENDER << ")";

    const auto dir =
        std::filesystem::temp_directory_path() / ("orvalis-lv2file-" + std::to_string (getpid()));
    std::filesystem::create_directories (dir);
    const auto inPath = (dir / "in.wav").string(), outPath = (dir / "out.wav").string();
    ASSERT_TRUE (writeFloatWav (inPath, withLeadIn (scene), 48000));
    const std::string lv2Path =
        std::filesystem::path (ORVALIS_LV2_BUNDLE).parent_path().string() + ":/usr/lib/lv2";
    EXPECT_EQ (runProgram ({ "/usr/bin/env",
                             "LV2_PATH=" + lv2Path,
                             ORVALIS_LV2FILE,
                             "-i",
                             inPath,
                             "-o",
                             outPath,
                             "-b",
                             "480",
                             "-p",
                             "attack_time:5",
                             "-p",
                             "release_time:50",
                             "-p",
                             "max_peak_level:-1",
                             "-p",
                             "input_gain:6",
                             ORVALIS_LV2_URI })
                   .exitCode,
               0);
    const auto processed = readFloatWav (outPath);
    std::filesystem::remove_all (dir);
    ASSERT_EQ (processed.channels.size(), 4u);
    EXPECT_TRUE (bitIdentical (withoutLeadIn (processed.channels), rendered));
}
