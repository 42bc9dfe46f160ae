// The plug-in's window through its LV2 UI, hosted the way an LV2 host embeds an X11 UI: a host
// window of its own as ui:parent, the plug-in instance (lilv) through instance-access, idle calls
// on this thread, and the host's side of the control ports. Needs an X display (CTest runs it in
// xvfb-run); writes a screenshot of the host window next to the test binary.

#include "tests/hosts/HostSignals.h"
#include "tests/hosts/RunProgram.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

// After GoogleTest: Xlib's macros (None, Bool) would break its headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr uint32_t attackPort = 8, releasePort = 9, inputGainPort = 11;

struct Host
{
    Host()
    {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri (world, nullptr, ORVALIS_LV2_BUNDLE "/");
        lilv_world_load_bundle (world, bundle);
        lilv_node_free (bundle);
        LilvNode* uri = lilv_new_uri (world, ORVALIS_LV2_URI);
        plugin = lilv_plugins_get_by_uri (lilv_world_get_all_plugins (world), uri);
        lilv_node_free (uri);
        display = XOpenDisplay (nullptr);
    }

    ~Host()
    {
        if (display != nullptr)
            XCloseDisplay (display);
        lilv_world_free (world);
    }

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    Display* display = nullptr;
};

Host& host()
{
    static Host instance;
    return instance;
}

// The plug-in running with its window open in a host window.
class HostedWindow
{
public:
    // scale > 0 offers it as ui:scaleFactor.
    explicit HostedWindow (bool offerInstanceAccess = true, float scale = 0.0f)
    {
        auto& h = host();
        const LV2_Feature* none[] = { nullptr };
        instance = lilv_plugin_instantiate (h.plugin, 48000.0, none);
        if (instance == nullptr)
            return;
        controls.resize (lilv_plugin_get_num_ports (h.plugin));
        std::vector<float> mins (controls.size()), maxs (controls.size()),
            defaults (controls.size());
        lilv_plugin_get_port_ranges_float (h.plugin, mins.data(), maxs.data(), defaults.data());
        for (uint32_t i = 0; i < controls.size(); ++i)
        {
            if (i < 8)
                lilv_instance_connect_port (instance, i, audio[i].data());
            else
            {
                controls[i] = std::isnan (defaults[i]) ? 0.0f : defaults[i];
                lilv_instance_connect_port (instance, i, &controls[i]);
            }
        }
        lilv_instance_activate (instance);

        parent = XCreateSimpleWindow (
            h.display, DefaultRootWindow (h.display), 0, 0, 500, 400, 0, 0, 0x202020);
        XStoreName (h.display, parent, "LV2 host");
        XMapWindow (h.display, parent);
        XSync (h.display, False);

        // The UI binary is the plug-in's own module.
        LilvUIs* uis = lilv_plugin_get_uis (h.plugin);
        const LilvUI* ui = lilv_uis_get (uis, lilv_uis_begin (uis));
        char* path = lilv_file_uri_parse (lilv_node_as_uri (lilv_ui_get_binary_uri (ui)), nullptr);
        uiUri = lilv_node_as_uri (lilv_ui_get_uri (ui));
        library = dlopen (path, RTLD_NOW);
        lilv_free (path);
        lilv_uis_free (uis);
        if (library == nullptr)
            return;
        auto* entry = reinterpret_cast<const LV2UI_Descriptor* (*) (uint32_t)> (
            dlsym (library, "lv2ui_descriptor"));
        descriptor = entry != nullptr ? entry (0) : nullptr;
        if (descriptor == nullptr)
            return;

        touchFeature = {
            this,
            [] (LV2UI_Feature_Handle self, uint32_t port, bool grabbed) {
                static_cast<HostedWindow*> (self)->touches.push_back ({ port, grabbed });
            }
        };
        resizeFeature = { this,
                          [] (LV2UI_Feature_Handle self, int width, int height)
                          {
                              static_cast<HostedWindow*> (self)->requestedSize = { width, height };
                              return 0;
                          } };
        featureList = { { LV2_UI__parent, reinterpret_cast<void*> (parent) },
                        { LV2_INSTANCE_ACCESS_URI, lilv_instance_get_handle (instance) },
                        { LV2_UI__touch, &touchFeature },
                        { LV2_UI__resize, &resizeFeature },
                        { LV2_URID__map, &mapFeature } };
        uris = { LV2_UI__scaleFactor, LV2_ATOM__Float };
        mapFeature = { this,
                       [] (LV2_URID_Map_Handle self, const char* uri) -> LV2_URID
                       {
                           auto& known = static_cast<HostedWindow*> (self)->uris;
                           for (size_t i = 0; i < known.size(); ++i)
                               if (known[i] == uri)
                                   return static_cast<LV2_URID> (i + 1);
                           known.push_back (uri);
                           return static_cast<LV2_URID> (known.size());
                       } };
        hostScale = scale;
        options[0] = scaleOption (hostScale);
        if (scale > 0.0f)
            featureList.push_back ({ LV2_OPTIONS__options, options });
        std::vector<const LV2_Feature*> features;
        for (auto& f : featureList)
            if (offerInstanceAccess || std::strcmp (f.URI, LV2_INSTANCE_ACCESS_URI) != 0)
                features.push_back (&f);
        features.push_back (nullptr);

        handle = descriptor->instantiate (
            descriptor,
            ORVALIS_LV2_URI,
            ORVALIS_LV2_BUNDLE "/",
            [] (LV2UI_Controller self,
                uint32_t port,
                uint32_t size,
                uint32_t protocol,
                const void* data)
            {
                float value = 0.0f;
                if (protocol == 0 && size == sizeof value)
                    std::memcpy (&value, data, sizeof value);
                static_cast<HostedWindow*> (self)->writes.push_back ({ port, value });
            },
            this,
            &widget,
            features.data());
        if (handle != nullptr)
            idle = static_cast<const LV2UI_Idle_Interface*> (
                descriptor->extension_data (LV2_UI__idleInterface));
    }

    ~HostedWindow()
    {
        if (handle != nullptr)
            descriptor->cleanup (handle);
        if (parent != 0)
        {
            XDestroyWindow (host().display, parent);
            XSync (host().display, False);
        }
        if (instance != nullptr)
        {
            lilv_instance_deactivate (instance);
            lilv_instance_free (instance);
        }
        if (library != nullptr)
            dlclose (library);
    }

    // The host's loop: idle calls at 100 Hz and audio blocks, for the given time.
    void runFor (int milliseconds, bool audio = true)
    {
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds (milliseconds);
        while (std::chrono::steady_clock::now() < end)
        {
            if (idle != nullptr)
                idle->idle (handle);
            if (audio)
                lilv_instance_run (instance, 480);
            std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }
    }

    // What the host window shows in an area of the embedded window.
    std::vector<uint32_t> pixels (int x, int y, int width, int height)
    {
        auto* d = host().display;
        XSync (d, False);
        XImage* image = XGetImage (
            d, (Window) widget, x, y, (unsigned) width, (unsigned) height, AllPlanes, ZPixmap);
        std::vector<uint32_t> result;
        if (image == nullptr)
            return result;
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i)
                result.push_back ((uint32_t) XGetPixel (image, i, j) & 0xffffff);
        XDestroyImage (image);
        return result;
    }

    // A host window with the UI in it, as the user sees it: the children's geometry.
    bool embeddedSize (unsigned& width, unsigned& height)
    {
        Window root, parentOfWidget, *children = nullptr;
        unsigned count = 0;
        if (! XQueryTree (
                host().display, (Window) widget, &root, &parentOfWidget, &children, &count))
            return false;
        if (children != nullptr)
            XFree (children);
        int x, y;
        unsigned border, depth;
        XGetGeometry (
            host().display, (Window) widget, &root, &x, &y, &width, &height, &border, &depth);
        return parentOfWidget == parent;
    }

    // The host's inputs from now on: a 1 kHz tone on all four channels.
    void playTone (float amplitude)
    {
        for (size_t ch = 0; ch < 4; ++ch)
            for (size_t i = 0; i < audio[ch].size(); ++i)
                audio[ch][i] =
                    amplitude * (float) std::sin (2.0 * M_PI * 1000.0 * (double) i / 48000.0);
    }

    void portEvent (uint32_t port, float value)
    {
        descriptor->port_event (handle, port, sizeof value, 0, &value);
    }

    LilvInstance* instance = nullptr;
    std::vector<float> controls;
    Window parent = 0;
    std::string uiUri;
    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle handle = nullptr;
    LV2UI_Widget widget = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    std::vector<std::pair<uint32_t, float>> writes;
    std::vector<std::pair<uint32_t, bool>> touches;
    std::pair<int, int> requestedSize { 0, 0 };

    // The host's display scale changed: told through the options interface.
    void changeScale (float scale)
    {
        hostScale = scale;
        const LV2_Options_Option changed[] = { scaleOption (hostScale), {} };
        const auto* interface = static_cast<const LV2_Options_Interface*> (
            descriptor->extension_data (LV2_OPTIONS__interface));
        ASSERT_NE (interface, nullptr);
        EXPECT_EQ (interface->set (handle, changed), (uint32_t) LV2_OPTIONS_SUCCESS);
    }

private:
    LV2_Options_Option scaleOption (const float& scale)
    {
        return { LV2_OPTIONS_INSTANCE, 0, 1, sizeof scale, 2, &scale };
    }

    std::vector<std::string> uris;
    LV2_URID_Map mapFeature {};
    float hostScale = 0.0f;
    LV2_Options_Option options[2] {};

    std::vector<std::vector<float>> audio { 8, std::vector<float> (480) };
    LV2UI_Touch touchFeature {};
    LV2UI_Resize resizeFeature {};
    std::vector<LV2_Feature> featureList;
};

class Lv2Ui : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE (host().plugin, nullptr);
        ASSERT_NE (host().display, nullptr) << "no X display (run inside xvfb-run)";
    }
};
} // namespace

TEST_F (Lv2Ui, WindowOpensInTheHostWindowAndClosesAgain)
{
    for (int round = 0; round < 2; ++round)
    {
        HostedWindow window;
        ASSERT_NE (window.handle, nullptr) << "round " << round;
        EXPECT_EQ (window.uiUri, ORVALIS_LV2_URI ":UI");
        ASSERT_NE (window.idle, nullptr);
        window.runFor (1500);

        unsigned width = 0, height = 0;
        EXPECT_TRUE (window.embeddedSize (width, height)) << "the window is not inside ui:parent";
        EXPECT_EQ (width, 435u);
        EXPECT_EQ (height, 373u);
        EXPECT_EQ (window.requestedSize, std::make_pair (435, 373));

        // The window shows its pictures, not an empty area.
        const auto shown = window.pixels (0, 0, 435, 373);
        ASSERT_EQ (shown.size(), 435u * 373u);
        size_t distinct = 0;
        for (size_t i = 1; i < shown.size(); ++i)
            distinct += shown[i] != shown[i - 1];
        EXPECT_GT (distinct, 10000u);

        if (round == 0)
        {
            const std::string shot = std::string (ORVALIS_SCREENSHOT_DIR) + "/lv2-window.png";
            EXPECT_EQ (std::system (("import -window " + std::to_string (window.parent) + " " + shot
                                     + " 2>/dev/null")
                                        .c_str()),
                       0);
            std::printf ("screenshot: %s\n", shot.c_str());
        }
    }
}

TEST_F (Lv2Ui, WindowFollowsTheHostsScaleFactorAndTellsTheHostItsSize)
{
    HostedWindow window (true, 2.0f);
    ASSERT_NE (window.handle, nullptr);
    window.runFor (500, false);
    unsigned width = 0, height = 0;
    EXPECT_TRUE (window.embeddedSize (width, height));
    EXPECT_EQ (std::make_pair (width, height), std::make_pair (870u, 746u));
    EXPECT_EQ (window.requestedSize, std::make_pair (870, 746));

    window.changeScale (1.5f);
    window.runFor (300, false);
    EXPECT_EQ (window.requestedSize, std::make_pair (653, 560));
    EXPECT_TRUE (window.embeddedSize (width, height));
    EXPECT_EQ (std::make_pair (width, height), std::make_pair (653u, 560u));
    // Drawn, not left empty, out to the far corner.
    const auto corner = window.pixels (400, 300, 250, 250);
    size_t distinct = 0;
    for (size_t i = 1; i < corner.size(); ++i)
        distinct += corner[i] != corner[i - 1];
    EXPECT_GT (distinct, 1000u);
}

TEST_F (Lv2Ui, MetersShowTheInstanceAndHostPortChangesMoveTheKnobs)
{
    HostedWindow window;
    ASSERT_NE (window.handle, nullptr);
    window.runFor (800);

    // The meters read the processor the host runs: input and output meters and the gain
    // reduction light up with a tone above the ceiling.
    const auto metersBefore = window.pixels (40, 70, 260, 180);
    window.playTone (2.0f);
    window.runFor (600);
    EXPECT_NE (window.pixels (40, 70, 260, 180), metersBefore) << "the meters stayed dark";
    const std::string shot = std::string (ORVALIS_SCREENSHOT_DIR) + "/lv2-window-playing.png";
    EXPECT_EQ (std::system (("import -window " + std::to_string (window.parent) + " " + shot
                             + " 2>/dev/null")
                                .c_str()),
               0);
    std::printf ("screenshot: %s\n", shot.c_str());

    // Through the plug-in: the host sets Input Gain's port and runs its audio.
    const auto gainBefore = window.pixels (10, 298, 114, 70);
    window.controls[inputGainPort] = 30.0f;
    window.runFor (400);
    EXPECT_NE (window.pixels (10, 298, 114, 70), gainBefore) << "the Input Gain knob did not move";

    // Through port_event alone, with no audio running: Attack Time.
    const auto attackBefore = window.pixels (153, 310, 113, 56);
    window.portEvent (attackPort, 20.0f);
    window.runFor (400, false);
    EXPECT_NE (window.pixels (153, 310, 113, 56), attackBefore)
        << "the Attack Time knob did not move";
    EXPECT_TRUE (window.writes.empty()) << "a host change was written back to the host";
}

TEST_F (Lv2Ui, DraggingAKnobWritesItsPortFramedByTouch)
{
    HostedWindow window;
    ASSERT_NE (window.handle, nullptr);
    window.runFor (800);

    // Drag the Release Time knob upwards with the mouse.
    Window child;
    int x = 0, y = 0;
    XTranslateCoordinates (host().display,
                           (Window) window.widget,
                           DefaultRootWindow (host().display),
                           312 + 28,
                           310 + 28,
                           &x,
                           &y,
                           &child);
    // The host keeps its loop going while xdotool runs, as a host's UI thread does.
    ProgramOptions hostLoopRuns;
    hostLoopRuns.whileRunning = [&window] { window.runFor (20); };
    ASSERT_EQ (runProgram ({ "xdotool",
                             "mousemove",
                             "--sync",
                             std::to_string (x),
                             std::to_string (y),
                             "mousedown",
                             "1",
                             "sleep",
                             "0.2",
                             "mousemove",
                             "--sync",
                             std::to_string (x),
                             std::to_string (y - 60),
                             "sleep",
                             "0.2",
                             "mouseup",
                             "1" },
                           hostLoopRuns)
                   .exitCode,
               0);
    window.runFor (500);

    ASSERT_FALSE (window.writes.empty()) << "no port write reached the host";
    for (const auto& [port, value] : window.writes)
    {
        EXPECT_EQ (port, releasePort);
        EXPECT_GE (value, 0.0f);
        EXPECT_LE (value, 1000.0f);
        EXPECT_EQ (value, std::round (value)) << "not on the knob's 1 ms steps";
    }
    EXPECT_GT (window.writes.back().second, 20.0f);
    ASSERT_EQ (window.touches.size(), 2u);
    EXPECT_EQ (window.touches.front(), std::make_pair (releasePort, true));
    EXPECT_EQ (window.touches.back(), std::make_pair (releasePort, false));

    // The host takes the value over as it does its automation; the window keeps it.
    const auto released = window.pixels (312, 310, 113, 56);
    window.controls[releasePort] = window.writes.back().second;
    window.portEvent (releasePort, window.writes.back().second);
    window.runFor (300);
    EXPECT_EQ (window.pixels (312, 310, 113, 56), released);
}

TEST_F (Lv2Ui, WithoutInstanceAccessTheHostKeepsItsGenericControls)
{
    HostedWindow window (false);
    EXPECT_EQ (window.handle, nullptr);
}

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    XInitThreads();
    // As hosts' toolkits do: an X error is reported, not fatal. On a server without a window
    // manager JUCE asks for the WM_STATE property, an atom that does not exist there.
    XSetErrorHandler (
        [] (Display*, XErrorEvent* e)
        {
            std::fprintf (stderr, "X error %d (request %d)\n", e->error_code, e->request_code);
            return 0;
        });
    return RUN_ALL_TESTS();
}
