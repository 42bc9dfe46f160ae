// Orvalis HOA's LV2 bundle through lilv: one plug-in per ambisonic order 1 to 7, each with
// (order + 1)^2 audio inputs and outputs and a URI of its own, none of them Orvalis's; the
// third- and seventh-order plug-ins limit every channel with one gain.

#include "tests/hosts/HostSignals.h"

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace
{
struct World
{
    World()
    {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri (world, nullptr, ORVALIS_HOA_LV2_BUNDLE "/");
        lilv_world_load_bundle (world, bundle);
        lilv_node_free (bundle);
    }
    ~World() { lilv_world_free (world); }

    const LilvPlugin* plugin (const std::string& uri) const
    {
        LilvNode* node = lilv_new_uri (world, uri.c_str());
        const auto* found = lilv_plugins_get_by_uri (lilv_world_get_all_plugins (world), node);
        lilv_node_free (node);
        return found;
    }

    uint32_t count (const LilvPlugin* p, const char* a, const char* b) const
    {
        LilvNode* x = lilv_new_uri (world, a);
        LilvNode* y = lilv_new_uri (world, b);
        const uint32_t n = lilv_plugin_get_num_ports_of_class (p, x, y, nullptr);
        lilv_node_free (x);
        lilv_node_free (y);
        return n;
    }

    LilvWorld* world;
};

std::string orderUri (int order)
{
    return std::string (ORVALIS_HOA_LV2_URI) + "/order-" + std::to_string (order);
}

/** Runs the scene through the plug-in at its defaults, in blocks of 512, in place; or with the
    outputs of every channel from the fifth on sharing one buffer, as a host connects outputs it
    ignores (those channels then come back as that buffer holds them). */
Signal run (const World& w, const LilvPlugin* p, Signal audio, bool shareSpareOutputs = false)
{
    const uint32_t numPorts = lilv_plugin_get_num_ports (p);
    std::vector<float> mins (numPorts), maxs (numPorts), defaults (numPorts), controls (numPorts);
    lilv_plugin_get_port_ranges_float (p, mins.data(), maxs.data(), defaults.data());
    LilvInstance* instance = lilv_plugin_instantiate (p, 48000.0, nullptr);
    EXPECT_NE (instance, nullptr);
    if (instance == nullptr)
        return {};
    LilvNode* audioClass = lilv_new_uri (w.world, LV2_CORE__AudioPort);
    LilvNode* inputClass = lilv_new_uri (w.world, LV2_CORE__InputPort);
    const size_t channels = audio.size();
    std::vector<std::vector<float>> buffers (channels, std::vector<float> (512));
    std::vector<float> spare (512);
    size_t nextIn = 0, nextOut = 0;
    for (uint32_t index = 0; index < numPorts; ++index)
    {
        const auto* port = lilv_plugin_get_port_by_index (p, index);
        if (! lilv_port_is_a (p, port, audioClass))
        {
            controls[index] = std::isnan (defaults[index]) ? 0.0f : defaults[index];
            lilv_instance_connect_port (instance, index, &controls[index]);
        }
        else if (lilv_port_is_a (p, port, inputClass))
            lilv_instance_connect_port (instance, index, buffers[nextIn++].data());
        else
        {
            const size_t ch = nextOut++;
            lilv_instance_connect_port (
                instance, index, shareSpareOutputs && ch >= 4 ? spare.data() : buffers[ch].data());
        }
    }
    lilv_node_free (audioClass);
    lilv_node_free (inputClass);
    EXPECT_EQ (nextIn, channels);
    EXPECT_EQ (nextOut, channels);

    lilv_instance_activate (instance);
    for (size_t start = 0; start < audio[0].size(); start += 512)
    {
        const size_t n = std::min<size_t> (512, audio[0].size() - start);
        for (size_t ch = 0; ch < channels; ++ch)
            std::copy_n (audio[ch].begin() + (long) start, n, buffers[ch].begin());
        lilv_instance_run (instance, (uint32_t) n);
        for (size_t ch = 0; ch < channels; ++ch)
            std::copy_n ((shareSpareOutputs && ch >= 4 ? spare : buffers[ch]).begin(),
                         n,
                         audio[ch].begin() + (long) start);
    }
    lilv_instance_deactivate (instance);
    lilv_instance_free (instance);
    return audio;
}
} // namespace

TEST (Lv2Hoa, OnePluginPerOrderWithItsChannelsAndItsOwnUri)
{
    World w;
    EXPECT_EQ (lilv_plugins_size (lilv_world_get_all_plugins (w.world)), 7u);
    EXPECT_EQ (w.plugin ("https://tarnwick.example/plugins/orvalis"), nullptr);
    for (int order = 1; order <= 7; ++order)
    {
        const auto* p = w.plugin (orderUri (order));
        ASSERT_NE (p, nullptr) << orderUri (order);
        const uint32_t channels = (uint32_t) ((order + 1) * (order + 1));
        EXPECT_EQ (w.count (p, LV2_CORE__AudioPort, LV2_CORE__InputPort), channels) << order;
        EXPECT_EQ (w.count (p, LV2_CORE__AudioPort, LV2_CORE__OutputPort), channels) << order;
        EXPECT_EQ (w.count (p, LV2_CORE__ControlPort, LV2_CORE__InputPort), 5u) << order;
        EXPECT_EQ (w.count (p, LV2_CORE__ControlPort, LV2_CORE__OutputPort), 2u) << order;
        LilvNode* name = lilv_plugin_get_name (p);
        EXPECT_EQ (std::string (lilv_node_as_string (name)).rfind ("Orvalis HOA ", 0), 0u);
        lilv_node_free (name);
    }
}

TEST (Lv2Hoa, EveryChannelIsLimitedWithOneGain)
{
    World w;
    for (int order : { 3, 7 })
    {
        const size_t channels = (size_t) ((order + 1) * (order + 1));
        const auto scene = makeScene (24000, 9, channels);
        const auto out = run (w, w.plugin (orderUri (order)), scene);
        ASSERT_EQ (out.size(), channels);
        constexpr size_t latency = 48; // the default 1 ms look-ahead
        float peak = 0.0f, spread = 0.0f;
        for (size_t i = latency; i < out[0].size(); ++i)
        {
            const float loud = scene[channels - 1][i - latency];
            for (size_t ch = 0; ch < channels; ++ch)
                peak = std::max (peak, std::abs (out[ch][i]));
            if (std::abs (loud) < 1.0f || std::abs (scene[0][i - latency]) < 0.01f)
                continue;
            spread = std::max (
                spread, std::abs (out[0][i] / scene[0][i - latency] - out[channels - 1][i] / loud));
        }
        EXPECT_LE (peak, 1.0f) << order;
        EXPECT_LT (spread, 1e-4f) << order << ": the first channel's gain is not the last one's";

        // Outputs sharing a buffer disturb neither the other channels nor the detector.
        const auto shared = run (w, w.plugin (orderUri (order)), scene, true);
        ASSERT_EQ (shared.size(), channels);
        for (size_t ch = 0; ch < 4; ++ch)
            EXPECT_EQ (shared[ch], out[ch]) << "order " << order << ", channel " << ch;
    }
}
