// A small LV2 host on Debian's lilv, the reference LV2 host library: it loads Orvalis.lv2 the way
// LV2 hosts do, connects every port, sets parameters with patch:Set messages on the control atom
// port, reads the reported latency, and compares the audio with the command-line renderer's.

#include "tests/hosts/HostSignals.h"
#include "tests/hosts/WavFile.h"

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>
#include <lv2/port-props/port-props.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace
{
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
    LV2_URID_Unmap unmapFeature { this, [] (LV2_URID_Unmap_Handle h, LV2_URID id) {
                                     return static_cast<UridMap*> (h)->unmap (id);
                                 } };

private:
    std::mutex lock;
    std::vector<std::string> uris;
    std::map<std::string, LV2_URID> ids;
};

// One lilv world with the bundle loaded, shared by all tests.
struct World
{
    World()
    {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri (world, nullptr, ORVALIS_LV2_BUNDLE "/");
        lilv_world_load_bundle (world, bundle);
        lilv_node_free (bundle);

        LilvNode* uri = lilv_new_uri (world, ORVALIS_LV2_URI);
        plugin = lilv_plugins_get_by_uri (lilv_world_get_all_plugins (world), uri);
        lilv_node_free (uri);
        // lilv reads a plug-in's data file on first use; the parameter queries go to the world.
        if (plugin != nullptr)
            lilv_plugin_get_num_ports (plugin);
    }

    ~World() { lilv_world_free (world); }

    LilvNode* node (const char* uri) { return lilv_new_uri (world, uri); }

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    UridMap urids;
};

World& world()
{
    static World instance;
    return instance;
}

struct Parameter
{
    std::string uri;
    std::string label;
    float defaultValue = 0.0f;
};

std::vector<Parameter> writableParameters()
{
    auto& w = world();
    std::vector<Parameter> result;
    LilvNode* writable = w.node (LV2_PATCH__writable);
    LilvNode* label = w.node (LILV_NS_RDFS "label");
    LilvNode* defaultValue = w.node (LV2_CORE__default);
    LilvNodes* params =
        lilv_world_find_nodes (w.world, lilv_plugin_get_uri (w.plugin), writable, nullptr);

    LILV_FOREACH (nodes, i, params)
    {
        const LilvNode* param = lilv_nodes_get (params, i);
        Parameter p;
        p.uri = lilv_node_as_uri (param);
        if (LilvNode* text = lilv_world_get (w.world, param, label, nullptr))
        {
            p.label = lilv_node_as_string (text);
            lilv_node_free (text);
        }
        if (LilvNode* value = lilv_world_get (w.world, param, defaultValue, nullptr))
        {
            p.defaultValue = lilv_node_as_float (value);
            lilv_node_free (value);
        }
        result.push_back (p);
    }
    lilv_nodes_free (params);
    lilv_node_free (writable);
    lilv_node_free (label);
    lilv_node_free (defaultValue);
    // In the order of the processor's parameter indices, found by their labels; parameters that
    // share one URI stay as lilv found them, so the count shows the collision.
    const char* labels[] = { "Attack Time", "Release Time", "Max Peak Level", "Input Gain" };
    std::vector<Parameter> ordered;
    for (const char* label : labels)
        for (const auto& p : result)
            if (p.label == label)
                ordered.push_back (p);
    return ordered.size() == result.size() ? ordered : result;
}

// One plug-in instance with every port connected to a buffer of its own.
class Instance
{
public:
    Instance (double sampleRate, int maxBlock) : maxBlockLength (maxBlock)
    {
        auto& w = world();
        auto& urids = w.urids;
        const LV2_URID intType = urids.map (LV2_ATOM__Int);
        const LV2_URID floatType = urids.map (LV2_ATOM__Float);
        rate = (float) sampleRate;
        options = {
            { LV2_OPTIONS_INSTANCE,
              0,
              urids.map (LV2_BUF_SIZE__maxBlockLength),
              sizeof (int32_t),
              intType,
              &maxBlockLength },
            { LV2_OPTIONS_INSTANCE,
              0,
              urids.map (LV2_BUF_SIZE__minBlockLength),
              sizeof (int32_t),
              intType,
              &minBlockLength },
            { LV2_OPTIONS_INSTANCE,
              0,
              urids.map (LV2_BUF_SIZE__nominalBlockLength),
              sizeof (int32_t),
              intType,
              &maxBlockLength },
            { LV2_OPTIONS_INSTANCE,
              0,
              urids.map (LV2_PARAMETERS__sampleRate),
              sizeof (float),
              floatType,
              &rate },
            { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr },
        };
        mapFeature = { LV2_URID__map, &urids.mapFeature };
        unmapFeature = { LV2_URID__unmap, &urids.unmapFeature };
        optionsFeature = { LV2_OPTIONS__options, options.data() };
        boundedFeature = { LV2_BUF_SIZE__boundedBlockLength, nullptr };
        features = { &mapFeature, &unmapFeature, &optionsFeature, &boundedFeature, nullptr };

        instance = lilv_plugin_instantiate (w.plugin, sampleRate, features.data());
        if (instance == nullptr)
            return;
        connectPorts();
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

    // Queues a patch:Set for the next block, as a host does when the user moves a control.
    void setParameter (const std::string& uri, float value)
    {
        pendingSets.emplace_back (world().urids.map (uri.c_str()), value);
    }

    Signal process (const Signal& input, int blockSize)
    {
        const size_t numFrames = input[0].size();
        Signal output (4, std::vector<float> (numFrames));

        for (size_t start = 0; start < numFrames; start += (size_t) blockSize)
        {
            const auto n = std::min ((size_t) blockSize, numFrames - start);
            for (size_t ch = 0; ch < 4; ++ch)
                std::copy_n (input[ch].begin() + (long) start, n, audioIn[ch].begin());
            prepareAtomBuffers();
            lilv_instance_run (instance, (uint32_t) n);
            for (size_t ch = 0; ch < 4; ++ch)
                std::copy_n (audioOut[ch].begin(), n, output[ch].begin() + (long) start);
        }
        return output;
    }

    LilvInstance* instance = nullptr;
    float latency = -1.0f;
    size_t numAudioInputs = 0, numAudioOutputs = 0, numAtomInputs = 0, numOtherPorts = 0;

private:
    void connectPorts()
    {
        auto& w = world();
        LilvNode* audio = w.node (LV2_CORE__AudioPort);
        LilvNode* control = w.node (LV2_CORE__ControlPort);
        LilvNode* atom = w.node (LV2_ATOM__AtomPort);
        LilvNode* input = w.node (LV2_CORE__InputPort);
        LilvNode* reportsLatency = w.node (LV2_CORE__reportsLatency);

        const uint32_t numPorts = lilv_plugin_get_num_ports (w.plugin);
        controlValues.resize (numPorts, 0.0f);
        std::vector<float> mins (numPorts), maxs (numPorts), defaults (numPorts);
        lilv_plugin_get_port_ranges_float (w.plugin, mins.data(), maxs.data(), defaults.data());

        for (uint32_t index = 0; index < numPorts; ++index)
        {
            const LilvPort* port = lilv_plugin_get_port_by_index (w.plugin, index);
            const bool isInput = lilv_port_is_a (w.plugin, port, input);

            if (lilv_port_is_a (w.plugin, port, audio))
            {
                auto& buffers = isInput ? audioIn : audioOut;
                auto& count = isInput ? numAudioInputs : numAudioOutputs;
                if (count < buffers.size())
                    lilv_instance_connect_port (instance, index, buffers[count].data());
                ++count;
            }
            else if (lilv_port_is_a (w.plugin, port, atom))
            {
                lilv_instance_connect_port (
                    instance, index, isInput ? atomIn.data() : atomOut.data());
                if (isInput)
                    ++numAtomInputs;
            }
            else if (lilv_port_is_a (w.plugin, port, control))
            {
                if (! isInput && lilv_port_has_property (w.plugin, port, reportsLatency))
                    lilv_instance_connect_port (instance, index, &latency);
                else
                {
                    controlValues[index] = std::isnan (defaults[index]) ? 0.0f : defaults[index];
                    lilv_instance_connect_port (instance, index, &controlValues[index]);
                    ++numOtherPorts;
                }
            }
        }

        for (auto* n : { audio, control, atom, input, reportsLatency })
            lilv_node_free (n);
    }

    void prepareAtomBuffers()
    {
        auto& urids = world().urids;
        LV2_Atom_Forge forge;
        lv2_atom_forge_init (&forge, &urids.mapFeature);
        lv2_atom_forge_set_buffer (
            &forge, reinterpret_cast<uint8_t*> (atomIn.data()), atomIn.size() * sizeof (uint64_t));
        LV2_Atom_Forge_Frame sequence;
        lv2_atom_forge_sequence_head (&forge, &sequence, 0);

        for (const auto& [property, value] : pendingSets)
        {
            LV2_Atom_Forge_Frame object;
            lv2_atom_forge_frame_time (&forge, 0);
            lv2_atom_forge_object (&forge, &object, 0, urids.map (LV2_PATCH__Set));
            lv2_atom_forge_key (&forge, urids.map (LV2_PATCH__property));
            lv2_atom_forge_urid (&forge, property);
            lv2_atom_forge_key (&forge, urids.map (LV2_PATCH__value));
            lv2_atom_forge_float (&forge, value);
            lv2_atom_forge_pop (&forge, &object);
        }
        lv2_atom_forge_pop (&forge, &sequence);
        pendingSets.clear();

        auto* out = reinterpret_cast<LV2_Atom*> (atomOut.data());
        out->type = urids.map (LV2_ATOM__Chunk);
        out->size = (uint32_t) (atomOut.size() * sizeof (uint64_t) - sizeof (LV2_Atom));
    }

    int32_t maxBlockLength;
    int32_t minBlockLength = 1;
    float rate = 0.0f;
    std::vector<LV2_Options_Option> options;
    LV2_Feature mapFeature {}, unmapFeature {}, optionsFeature {}, boundedFeature {};
    std::vector<const LV2_Feature*> features;

    std::vector<std::vector<float>> audioIn { 4, std::vector<float> (8192) };
    std::vector<std::vector<float>> audioOut { 4, std::vector<float> (8192) };
    std::vector<uint64_t> atomIn = std::vector<uint64_t> (8192);
    std::vector<uint64_t> atomOut = std::vector<uint64_t> (8192);
    std::vector<float> controlValues;
    std::vector<std::pair<LV2_URID, float>> pendingSets;
};

int runProgram (const std::vector<std::string>& args)
{
    const pid_t child = fork();
    if (child == 0)
    {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back (const_cast<char*> (a.c_str()));
        argv.push_back (nullptr);
        execv (argv[0], argv.data());
        _exit (127);
    }
    int status = 0;
    waitpid (child, &status, 0);
    return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
}

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

TEST_F (Lv2Host, BundleDescribesFourInFourOutAndFourParameters)
{
    auto& w = world();
    LilvNode* name = lilv_plugin_get_name (w.plugin);
    EXPECT_STREQ (lilv_node_as_string (name), "Orvalis");
    lilv_node_free (name);

    LilvNode* revision = w.node ("http://usefulinc.com/ns/doap#revision");
    LilvNode* release = w.node ("http://usefulinc.com/ns/doap#release");
    LilvNodes* releases = lilv_plugin_get_value (w.plugin, release);
    ASSERT_NE (releases, nullptr);
    LilvNode* version =
        lilv_world_get (w.world, lilv_nodes_get_first (releases), revision, nullptr);
    ASSERT_NE (version, nullptr);
    EXPECT_STREQ (lilv_node_as_string (version), "1.0.0");
    for (auto* n : { revision, release, version })
        lilv_node_free (n);
    lilv_nodes_free (releases);

    LilvNodes* required = lilv_plugin_get_required_features (w.plugin);
    const std::vector<std::string> offered {
        LV2_URID__map, LV2_URID__unmap, LV2_OPTIONS__options, LV2_BUF_SIZE__boundedBlockLength
    };
    LILV_FOREACH (nodes, i, required)
    {
        const std::string feature = lilv_node_as_uri (lilv_nodes_get (required, i));
        EXPECT_NE (std::find (offered.begin(), offered.end(), feature), offered.end()) << feature;
    }
    lilv_nodes_free (required);

    Instance plugin (48000.0, 512);
    ASSERT_NE (plugin.instance, nullptr);
    EXPECT_EQ (plugin.numAudioInputs, 4u);
    EXPECT_EQ (plugin.numAudioOutputs, 4u);
    EXPECT_EQ (plugin.numAtomInputs, 1u);

    const auto params = writableParameters();
    ASSERT_EQ (params.size(), 4u);
    const char* labels[] = { "Attack Time", "Release Time", "Max Peak Level", "Input Gain" };
    const float defaults[] = { 0.025f, 0.02f, 0.5f, 0.0f };
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ (params[i].label, labels[i]);
        EXPECT_FLOAT_EQ (params[i].defaultValue, defaults[i]) << labels[i];
    }
}

TEST_F (Lv2Host, ReportsTheLookaheadAsLatency)
{
    // The default 1 ms look-ahead at three rates; the latency port is written by every run.
    for (auto [rate, expected] : { std::pair { 48000.0, 48.0f },
                                   std::pair { 44100.0, 44.0f },
                                   std::pair { 96000.0, 96.0f } })
    {
        Instance plugin (rate, 256);
        ASSERT_NE (plugin.instance, nullptr);
        plugin.process (Signal (4, std::vector<float> (256)), 256);
        EXPECT_EQ (plugin.latency, expected) << rate << " Hz";
    }
}

TEST_F (Lv2Host, StateSavedFromOneInstanceRestoresIntoAnother)
{
    auto& w = world();
    const auto params = writableParameters();
    ASSERT_EQ (params.size(), 4u);

    Instance first (48000.0, 256);
    ASSERT_NE (first.instance, nullptr);
    const float values[] = { 0.25f, 0.125f, 0.75f, 0.5f };
    for (size_t i = 0; i < 4; ++i)
        first.setParameter (params[i].uri, values[i]);
    first.process (Signal (4, std::vector<float> (256)), 256);

    auto* mapFeature = &w.urids.mapFeature;
    LilvState* saved = lilv_state_new_from_instance (
        w.plugin,
        first.instance,
        mapFeature,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        [] (const char*, void*, uint32_t* size, uint32_t* type) -> const void*
        {
            *size = 0;
            *type = 0;
            return nullptr;
        },
        nullptr,
        0,
        nullptr);
    ASSERT_NE (saved, nullptr);
    EXPECT_GT (lilv_state_get_num_properties (saved), 0u);

    Instance second (48000.0, 256);
    ASSERT_NE (second.instance, nullptr);
    lilv_state_restore (saved, second.instance, nullptr, nullptr, 0, nullptr);
    LilvState* again = lilv_state_new_from_instance (
        w.plugin,
        second.instance,
        mapFeature,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        [] (const char*, void*, uint32_t* size, uint32_t* type) -> const void*
        {
            *size = 0;
            *type = 0;
            return nullptr;
        },
        nullptr,
        0,
        nullptr);
    ASSERT_NE (again, nullptr);
    EXPECT_TRUE (lilv_state_equals (saved, again));

    Instance fresh (48000.0, 256);
    LilvState* untouched = lilv_state_new_from_instance (
        w.plugin,
        fresh.instance,
        mapFeature,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        [] (const char*, void*, uint32_t* size, uint32_t* type) -> const void*
        {
            *size = 0;
            *type = 0;
            return nullptr;
        },
        nullptr,
        0,
        nullptr);
    EXPECT_FALSE (lilv_state_equals (saved, untouched))
        << "the saved state does not carry the settings";

    lilv_state_free (saved);
    lilv_state_free (again);
    lilv_state_free (untouched);
}

TEST_F (Lv2Host, OutputMatchesTheRendererBitForBit)
{
    const auto params = writableParameters();
    ASSERT_EQ (params.size(), 4u);

    const auto input = makeScene (4 * 48000, 2024);
    const int blockSize = 480;

    // Attack Time stays at its default: an LV2 plug-in is prepared once, when it is instantiated,
    // so a new look-ahead set afterwards glides in and is not reported as latency, where the
    // renderer sets it before preparing.
    Instance plugin (48000.0, blockSize);
    ASSERT_NE (plugin.instance, nullptr);
    plugin.setParameter (params[3].uri, (float) (6.0 / 60.0));           // Input Gain +6 dB
    plugin.setParameter (params[1].uri, (float) (50.0 / 1000.0));        // Release 50 ms
    plugin.setParameter (params[2].uri, (float) ((-1.0 + 10.0) / 20.0)); // Max Peak Level -1 dB
    const auto hosted = withoutLeadIn (plugin.process (withLeadIn (input), blockSize));
    EXPECT_EQ (plugin.latency, 48.0f);

    // The host really limited: nothing above the -1 dB ceiling, and the loud bursts are there.
    const float ceiling = std::pow (10.0f, -1.0f / 20.0f);
    float peak = 0.0f;
    for (const auto& channel : hosted)
        for (float sample : channel)
            peak = std::max (peak, std::abs (sample));
    EXPECT_LE (peak, ceiling);
    EXPECT_GT (peak, 0.5f * ceiling);

    if (! std::filesystem::exists (ORVALIS_RENDER))
        GTEST_SKIP() << "orvalis-render is not built (" << ORVALIS_RENDER
                     << "); the comparison with the renderer's output did not run";

    const auto dir =
        std::filesystem::temp_directory_path() / ("orvalis-lv2-host-" + std::to_string (getpid()));
    std::filesystem::create_directories (dir);
    const auto inPath = (dir / "scene.wav").string();
    const auto outPath = (dir / "rendered.wav").string();
    ASSERT_TRUE (writeFloatWav (inPath, input, 48000));
    ASSERT_EQ (runProgram ({ ORVALIS_RENDER,
                             inPath,
                             outPath,
                             "--raw",
                             "--settled",
                             "--gain",
                             "6",
                             "--release",
                             "50",
                             "--ceiling",
                             "-1",
                             "--block",
                             std::to_string (blockSize) }),
               0);
    const auto rendered = readFloatWav (outPath);
    std::filesystem::remove_all (dir);

    ASSERT_EQ (rendered.sampleRate, 48000);
    ASSERT_EQ (rendered.channels.size(), 4u);
    for (size_t ch = 0; ch < 4; ++ch)
    {
        ASSERT_EQ (rendered.channels[ch].size(), hosted[ch].size());
        const auto mismatch = std::mismatch (hosted[ch].begin(),
                                             hosted[ch].end(),
                                             rendered.channels[ch].begin(),
                                             [] (float a, float b)
                                             { return std::memcmp (&a, &b, sizeof (float)) == 0; });
        EXPECT_EQ (mismatch.first, hosted[ch].end())
            << "channel " << ch << " differs first at frame "
            << (mismatch.first - hosted[ch].begin()) << ": host "
            << (mismatch.first == hosted[ch].end() ? 0.0f : *mismatch.first) << ", renderer "
            << (mismatch.first == hosted[ch].end() ? 0.0f : *mismatch.second);
    }
}
