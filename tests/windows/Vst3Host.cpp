// A raw VST3 host on the SDK's interfaces (the pluginterfaces that ship inside Debian's JUCE; no
// JUCE hosting). The same source builds natively (loading Orvalis.vst3/Contents/x86_64-linux/
// Orvalis.so) and for Windows (Orvalis.vst3/Contents/x86_64-win/Orvalis.vst3 under Wine), so both
// modules are asked the same questions and fed the same samples:
//
//   orvalis-vst3-host info BUNDLE       what the module answers, one key=value a line
//   orvalis-vst3-host check BUNDLE      what hosts rely on, as PASS/FAIL lines
//   orvalis-vst3-host render BUNDLE OUT [--rate N] [--seconds S] [--param ID=VALUE ...]
//                                       processes the fixed four-channel signal (TestSignal.h)
//                                       into OUT; orvalis-vst2-host compare compares renders
//
// The host does what a DAW does: it loads the module, creates the component and its edit
// controller from the factory and connects them, sets the first-order ambisonic layout on both
// buses, prepares and activates the processor, hands parameter changes to the processor through
// IParameterChanges, and saves and restores the component's state through IBStream.
// check ends with "N passed, N failed" and exits non-zero on any failure.

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "tests/hosts/HostMessages.h"
#include "tests/windows/TestSignal.h"

// This file defines the interface IDs the host uses.
#define INIT_CLASS_IID
#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <pluginterfaces/vst/vstspeaker.h>
#undef INIT_CLASS_IID

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace Steinberg;
using namespace orvalis::testsignal;

namespace
{
std::string utf8Of (const Vst::TChar* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
    {
        const auto c = (uint32_t) *text;
        if (c < 0x80)
            out += (char) c;
        else if (c < 0x800)
            out += { (char) (0xc0 | (c >> 6)), (char) (0x80 | (c & 0x3f)) };
        else
            out += { (char) (0xe0 | (c >> 12)),
                     (char) (0x80 | ((c >> 6) & 0x3f)),
                     (char) (0x80 | (c & 0x3f)) };
    }
    return out;
}

/** A class ID as the SDK prints it: the same text on every platform, whereas the bytes of a TUID
    are laid out as a COM GUID on Windows only. */
std::string idText (const TUID id)
{
    char8 text[64] {};
    FUID::fromTUID (id).toString (text);
    return text;
}

std::string fingerprint (const std::vector<uint8_t>& bytes)
{
    // FNV-1a, as the VST 2.4 host prints its chunks.
    uint64_t hash = 1469598103934665603ull;
    for (uint8_t byte : bytes)
        hash = (hash ^ byte) * 1099511628211ull;
    char text[32];
    std::snprintf (text, sizeof (text), "%016llx", (unsigned long long) hash);
    return text;
}

std::string numberText (double value)
{
    char text[32];
    std::snprintf (text, sizeof (text), "%.9g", value);
    return text;
}

//==================================================================================================
// The host's objects. They live as long as the host needs them, so their reference counts are not
// kept; each answers for its own interface and FUnknown.
#define ORVALIS_HOST_OBJECT(Interface)                                                             \
    tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override                        \
    {                                                                                              \
        if (FUnknownPrivate::iidEqual (iid, Interface::iid)                                        \
            || FUnknownPrivate::iidEqual (iid, FUnknown::iid))                                     \
        {                                                                                          \
            *obj = this;                                                                           \
            return kResultOk;                                                                      \
        }                                                                                          \
        *obj = nullptr;                                                                            \
        return kNoInterface;                                                                       \
    }                                                                                              \
    uint32 PLUGIN_API addRef() override                                                            \
    {                                                                                              \
        return 1;                                                                                  \
    }                                                                                              \
    uint32 PLUGIN_API release() override                                                           \
    {                                                                                              \
        return 1;                                                                                  \
    }

class HostApplication : public Vst::IHostApplication
{
public:
    ORVALIS_HOST_OBJECT (Vst::IHostApplication)

    tresult PLUGIN_API getName (Vst::String128 name) override
    {
        const char* text = "Orvalis VST3 test host";
        int i = 0;
        for (; text[i] != 0; ++i)
            name[i] = (Vst::TChar) text[i];
        name[i] = 0;
        return kResultOk;
    }
    tresult PLUGIN_API createInstance (TUID, TUID, void** obj) override
    {
        // No host-made messages: the host connects component and controller directly.
        *obj = nullptr;
        return kNotImplemented;
    }
};

class ComponentHandler : public Vst::IComponentHandler
{
public:
    ORVALIS_HOST_OBJECT (Vst::IComponentHandler)

    tresult PLUGIN_API beginEdit (Vst::ParamID) override { return kResultOk; }
    tresult PLUGIN_API performEdit (Vst::ParamID, Vst::ParamValue) override { return kResultOk; }
    tresult PLUGIN_API endEdit (Vst::ParamID) override { return kResultOk; }
    tresult PLUGIN_API restartComponent (int32 flags) override
    {
        restartFlags |= flags;
        return kResultOk;
    }

    std::atomic<int32> restartFlags { 0 };
};

HostApplication hostApplication;
ComponentHandler componentHandler;

class MemoryStream : public IBStream
{
public:
    ORVALIS_HOST_OBJECT (IBStream)

    MemoryStream() = default;
    explicit MemoryStream (std::vector<uint8_t> content) : bytes (std::move (content)) {}

    tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
    {
        const auto n =
            (int32) std::min<int64> (std::max (0, numBytes), (int64) bytes.size() - position);
        if (n > 0)
            std::memcpy (buffer, bytes.data() + position, (size_t) n);
        position += n;
        if (numBytesRead != nullptr)
            *numBytesRead = n;
        return kResultOk;
    }
    tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numBytesWritten) override
    {
        if (numBytes < 0)
            return kInvalidArgument;
        if ((size_t) (position + numBytes) > bytes.size())
            bytes.resize ((size_t) (position + numBytes));
        std::memcpy (bytes.data() + position, buffer, (size_t) numBytes);
        position += numBytes;
        if (numBytesWritten != nullptr)
            *numBytesWritten = numBytes;
        return kResultOk;
    }
    tresult PLUGIN_API seek (int64 pos, int32 mode, int64* result) override
    {
        const int64 base = mode == kIBSeekSet   ? 0
                           : mode == kIBSeekCur ? position
                                                : (int64) bytes.size();
        if (base + pos < 0)
            return kInvalidArgument;
        position = base + pos;
        if (result != nullptr)
            *result = position;
        return kResultOk;
    }
    tresult PLUGIN_API tell (int64* pos) override
    {
        if (pos == nullptr)
            return kInvalidArgument;
        *pos = position;
        return kResultOk;
    }

    std::vector<uint8_t> bytes;
    int64 position = 0;
};

class ParamValueQueue : public Vst::IParamValueQueue
{
public:
    ORVALIS_HOST_OBJECT (Vst::IParamValueQueue)

    explicit ParamValueQueue (Vst::ParamID parameter) : id (parameter) {}

    Vst::ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return (int32) points.size(); }
    tresult PLUGIN_API getPoint (int32 index, int32& sampleOffset, Vst::ParamValue& value) override
    {
        if (index < 0 || index >= getPointCount())
            return kInvalidArgument;
        sampleOffset = points[(size_t) index].first;
        value = points[(size_t) index].second;
        return kResultOk;
    }
    tresult PLUGIN_API addPoint (int32 sampleOffset, Vst::ParamValue value, int32& index) override
    {
        index = getPointCount();
        points.emplace_back (sampleOffset, value);
        return kResultOk;
    }

    Vst::ParamID id;
    std::vector<std::pair<int32, Vst::ParamValue>> points;
};

class ParameterChanges : public Vst::IParameterChanges
{
public:
    ORVALIS_HOST_OBJECT (Vst::IParameterChanges)

    int32 PLUGIN_API getParameterCount() override { return (int32) queues.size(); }
    Vst::IParamValueQueue* PLUGIN_API getParameterData (int32 index) override
    {
        return index >= 0 && index < getParameterCount() ? &queues[(size_t) index] : nullptr;
    }
    Vst::IParamValueQueue* PLUGIN_API addParameterData (const Vst::ParamID& id,
                                                        int32& index) override
    {
        for (size_t i = 0; i < queues.size(); ++i)
            if (queues[i].id == id)
            {
                index = (int32) i;
                return &queues[i];
            }
        index = getParameterCount();
        queues.emplace_back (id);
        return &queues.back();
    }

    /** One value for a parameter at the start of the block. */
    void set (Vst::ParamID id, Vst::ParamValue value)
    {
        int32 index = 0;
        addParameterData (id, index)->addPoint (0, value, index);
    }

    std::vector<ParamValueQueue> queues;
};

//==================================================================================================
// The module: its binary inside the bundle, its entry and exit functions and its factory.
class Module
{
public:
    explicit Module (const std::string& bundle)
    {
        auto binary = bundle;
        const auto slash = bundle.find_last_of ("/\\");
        auto stem = bundle.substr (slash == std::string::npos ? 0 : slash + 1);
        if (stem.size() > 5 && stem.compare (stem.size() - 5, 5, ".vst3") == 0)
            stem.resize (stem.size() - 5);
#ifdef _WIN32
        if (GetFileAttributesA (bundle.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            binary = bundle + "\\Contents\\x86_64-win\\" + stem + ".vst3";
        handle = LoadLibraryA (binary.c_str());
        if (handle == nullptr)
        {
            std::fprintf (stderr, "cannot load %s (error %lu)\n", binary.c_str(), GetLastError());
            return;
        }
        const auto entry = (bool (*)()) (void*) GetProcAddress (handle, "InitDll");
        exit = (bool (*)()) (void*) GetProcAddress (handle, "ExitDll");
        const auto getFactory =
            (IPluginFactory * (PLUGIN_API*) ()) (void*) GetProcAddress (handle, "GetPluginFactory");
        entered = entry != nullptr && entry();
#else
        binary = bundle + "/Contents/x86_64-linux/" + stem + ".so";
        handle = dlopen (binary.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
        {
            std::fprintf (stderr, "cannot load %s: %s\n", binary.c_str(), dlerror());
            return;
        }
        const auto entry = (bool (*) (void*)) dlsym (handle, "ModuleEntry");
        exit = (bool (*)()) dlsym (handle, "ModuleExit");
        const auto getFactory =
            (IPluginFactory * (PLUGIN_API*) ()) dlsym (handle, "GetPluginFactory");
        entered = entry != nullptr && entry (handle);
#endif
        if (getFactory != nullptr)
            factory = getFactory();
    }

    ~Module()
    {
        if (factory != nullptr)
            factory->release();
        if (entered && exit != nullptr)
            exit();
        // The module stays loaded, as hosts keep theirs until they quit.
    }

    Module (const Module&) = delete;
    Module& operator= (const Module&) = delete;

    /** The first class of the given category, as a host picks an effect or its controller. */
    bool findClass (const char* category, PClassInfo& info) const
    {
        for (int32 i = 0; factory != nullptr && i < factory->countClasses(); ++i)
            if (factory->getClassInfo (i, &info) == kResultOk
                && std::strcmp (info.category, category) == 0)
                return true;
        return false;
    }

#ifdef _WIN32
    HMODULE handle = nullptr;
#else
    void* handle = nullptr;
#endif
    bool entered = false;
    bool (*exit)() = nullptr;
    IPluginFactory* factory = nullptr;
};

/** What a host holds for one plug-in: its component (with the audio processor) and its edit
    controller, created from the factory, initialised and connected; taken down in reverse. */
class Instance
{
public:
    explicit Instance (const Module& module)
    {
        PClassInfo info {};
        if (! module.findClass (kVstAudioEffectClass, info))
            return;
        void* object = nullptr;
        if (module.factory->createInstance (info.cid, Vst::IComponent::iid, &object) != kResultOk)
            return;
        component = static_cast<Vst::IComponent*> (object);
        component->initialize (&hostApplication);
        component->queryInterface (Vst::IAudioProcessor::iid, &object);
        processor = static_cast<Vst::IAudioProcessor*> (object);

        TUID controllerId {};
        if (component->getControllerClassId (controllerId) == kResultOk
            && module.factory->createInstance (controllerId, Vst::IEditController::iid, &object)
                   == kResultOk)
        {
            controller = static_cast<Vst::IEditController*> (object);
            controller->initialize (&hostApplication);
            controller->setComponentHandler (&componentHandler);
            component->queryInterface (Vst::IConnectionPoint::iid, &object);
            componentPoint = static_cast<Vst::IConnectionPoint*> (object);
            controller->queryInterface (Vst::IConnectionPoint::iid, &object);
            controllerPoint = static_cast<Vst::IConnectionPoint*> (object);
            if (componentPoint != nullptr && controllerPoint != nullptr)
            {
                componentPoint->connect (controllerPoint);
                controllerPoint->connect (componentPoint);
            }
            // The controller starts from the component's state, as hosts hand it over.
            setControllerState (state());
        }
    }

    ~Instance()
    {
        if (active)
            deactivate();
        if (componentPoint != nullptr && controllerPoint != nullptr)
        {
            componentPoint->disconnect (controllerPoint);
            controllerPoint->disconnect (componentPoint);
        }
        for (FUnknown* point : { (FUnknown*) componentPoint, (FUnknown*) controllerPoint })
            if (point != nullptr)
                point->release();
        if (controller != nullptr)
        {
            controller->setComponentHandler (nullptr);
            controller->terminate();
            controller->release();
        }
        if (processor != nullptr)
            processor->release();
        if (component != nullptr)
        {
            component->terminate();
            component->release();
        }
    }

    Instance (const Instance&) = delete;
    Instance& operator= (const Instance&) = delete;

    bool ok() const { return processor != nullptr && controller != nullptr; }

    tresult setLayout (Vst::SpeakerArrangement in, Vst::SpeakerArrangement out)
    {
        return processor->setBusArrangements (&in, 1, &out, 1);
    }

    Vst::SpeakerArrangement layout (Vst::BusDirection direction)
    {
        Vst::SpeakerArrangement arrangement = 0;
        processor->getBusArrangement (direction, 0, arrangement);
        return arrangement;
    }

    /** The ambisonic layout on both buses, the rate and the block size; then active, processing. */
    bool activate (double rate, int blockSize)
    {
        Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, blockSize, rate };
        if (setLayout (Vst::SpeakerArr::kAmbi1stOrderACN, Vst::SpeakerArr::kAmbi1stOrderACN)
                != kResultTrue
            || processor->setupProcessing (setup) != kResultOk)
            return false;
        component->activateBus (Vst::kAudio, Vst::kInput, 0, true);
        component->activateBus (Vst::kAudio, Vst::kOutput, 0, true);
        active = component->setActive (true) == kResultOk;
        processing = active && processor->setProcessing (true) == kResultOk;
        return processing;
    }

    void deactivate()
    {
        if (processing)
            processor->setProcessing (false);
        component->setActive (false);
        active = processing = false;
    }

    /** One block through the processor, the changes at its start; channel-separate buffers. */
    tresult process (float* const* in, float* const* out, int numSamples, ParameterChanges* changes)
    {
        Vst::AudioBusBuffers inputs {}, outputs {};
        inputs.numChannels = outputs.numChannels = numChannels;
        inputs.channelBuffers32 = const_cast<float**> (in);
        outputs.channelBuffers32 = const_cast<float**> (out);
        ParameterChanges none, fromPlugin;
        Vst::ProcessData data;
        data.processMode = Vst::kRealtime;
        data.symbolicSampleSize = Vst::kSample32;
        data.numSamples = numSamples;
        data.numInputs = data.numOutputs = 1;
        data.inputs = &inputs;
        data.outputs = &outputs;
        data.inputParameterChanges = changes != nullptr ? changes : &none;
        data.outputParameterChanges = &fromPlugin;
        return processor->process (data);
    }

    std::vector<uint8_t> state()
    {
        MemoryStream stream;
        component->getState (&stream);
        return stream.bytes;
    }
    tresult setState (const std::vector<uint8_t>& bytes)
    {
        MemoryStream stream (bytes);
        return component->setState (&stream);
    }
    tresult setControllerState (const std::vector<uint8_t>& componentState)
    {
        MemoryStream stream (componentState);
        return controller->setComponentState (&stream);
    }

    /** The parameter whose title is the name, or -1. */
    Vst::ParamID parameterNamed (const std::string& name)
    {
        for (int32 i = 0; i < controller->getParameterCount(); ++i)
        {
            Vst::ParameterInfo info {};
            if (controller->getParameterInfo (i, info) == kResultOk && utf8Of (info.title) == name)
                return info.id;
        }
        return (Vst::ParamID) -1;
    }

    std::string valueText (Vst::ParamID id, Vst::ParamValue value)
    {
        Vst::String128 text {};
        if (controller->getParamStringByValue (id, value, text) != kResultOk)
            return "(none)";
        return utf8Of (text);
    }

    Vst::IComponent* component = nullptr;
    Vst::IAudioProcessor* processor = nullptr;
    Vst::IEditController* controller = nullptr;
    Vst::IConnectionPoint* componentPoint = nullptr;
    Vst::IConnectionPoint* controllerPoint = nullptr;
    bool active = false, processing = false;
};

/** Waits up to 2 s, delivering messages, until the condition holds. */
template <typename Condition>
bool waitFor (Condition condition)
{
    for (int i = 0; i < 200 && ! condition(); ++i)
    {
        dispatchHostMessages();
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }
    return condition();
}

/** Whether the plug-in asked the host for a restart with the flag (within 2 s). */
bool hostToldOf (int32 flag)
{
    return waitFor ([flag] { return (componentHandler.restartFlags & flag) != 0; });
}

//==================================================================================================
using Answers = std::vector<std::pair<std::string, std::string>>;

void add (Answers& a, const std::string& key, const std::string& value)
{
    a.emplace_back (key, value);
}

void add (Answers& a, const std::string& key, long long value)
{
    a.emplace_back (key, std::to_string (value));
}

std::string resultText (tresult result)
{
    switch (result)
    {
        case kResultTrue:
            return "kResultTrue";
        case kResultFalse:
            return "kResultFalse";
        case kNotImplemented:
            return "kNotImplemented";
        case kInvalidArgument:
            return "kInvalidArgument";
        default:
            return std::to_string (result);
    }
}

std::string arrangementText (Vst::SpeakerArrangement arrangement)
{
    char text[64];
    std::snprintf (text,
                   sizeof (text),
                   "0x%llx (%d channels)",
                   (unsigned long long) arrangement,
                   Vst::SpeakerArr::getChannelCount (arrangement));
    return text;
}

// Everything the module answers, in a fixed order, for the side-by-side listing.
Answers collect (const Module& module)
{
    Answers a;
    if (module.factory == nullptr)
    {
        add (a, "factory", "none");
        return a;
    }
    add (a, "module entry", module.entered ? "true" : "false");
    PFactoryInfo factoryInfo;
    module.factory->getFactoryInfo (&factoryInfo);
    add (a, "factory vendor", factoryInfo.vendor);
    add (a, "factory url", factoryInfo.url);
    add (a, "factory email", factoryInfo.email);
    add (a, "factory flags", factoryInfo.flags);
    add (a, "classes", module.factory->countClasses());
    void* object = nullptr;
    module.factory->queryInterface (IPluginFactory2::iid, &object);
    auto* factory2 = static_cast<IPluginFactory2*> (object);
    for (int32 i = 0; i < module.factory->countClasses(); ++i)
    {
        const auto key = "class " + std::to_string (i);
        PClassInfo info;
        module.factory->getClassInfo (i, &info);
        add (a, key + " category", info.category);
        add (a, key + " name", info.name);
        add (a, key + " id", idText (info.cid));
        add (a, key + " cardinality", info.cardinality);
        PClassInfo2 info2;
        if (factory2 != nullptr && factory2->getClassInfo2 (i, &info2) == kResultOk)
        {
            add (a, key + " subcategories", info2.subCategories);
            add (a, key + " vendor", info2.vendor);
            add (a, key + " version", info2.version);
            add (a, key + " SDK version", info2.sdkVersion);
        }
    }
    if (factory2 != nullptr)
        factory2->release();

    Instance plugin (module);
    if (! plugin.ok())
    {
        add (a, "instance", "no component with a controller");
        return a;
    }
    TUID controllerId {};
    plugin.component->getControllerClassId (controllerId);
    add (a, "controller class id", idText (controllerId));
    for (auto direction : { Vst::kInput, Vst::kOutput })
    {
        const std::string side = direction == Vst::kInput ? "input" : "output";
        add (a, side + " audio buses", plugin.component->getBusCount (Vst::kAudio, direction));
        add (a, side + " event buses", plugin.component->getBusCount (Vst::kEvent, direction));
        Vst::BusInfo bus {};
        if (plugin.component->getBusInfo (Vst::kAudio, direction, 0, bus) == kResultOk)
            add (a,
                 side + " bus 0",
                 utf8Of (bus.name) + ", " + std::to_string (bus.channelCount) + " channels, "
                     + (bus.busType == Vst::kMain ? "main" : "aux") + ", flags "
                     + std::to_string (bus.flags));
        add (a, side + " layout at first", arrangementText (plugin.layout (direction)));
    }
    add (a, "32-bit samples", resultText (plugin.processor->canProcessSampleSize (Vst::kSample32)));
    add (a, "64-bit samples", resultText (plugin.processor->canProcessSampleSize (Vst::kSample64)));
    struct Request
    {
        const char* name;
        Vst::SpeakerArrangement arrangement;
    };
    for (auto request :
         { Request { "stereo", Vst::SpeakerArr::kStereo },
           Request { "quad", Vst::SpeakerArr::k40Music },
           Request { "5.0", Vst::SpeakerArr::k50 },
           Request { "first-order ambisonics", Vst::SpeakerArr::kAmbi1stOrderACN },
           Request { "second-order ambisonics", Vst::SpeakerArr::kAmbi2cdOrderACN } })
    {
        const auto answer = plugin.setLayout (request.arrangement, request.arrangement);
        add (a,
             std::string ("layout ") + request.name,
             resultText (answer) + ", then in " + arrangementText (plugin.layout (Vst::kInput))
                 + ", out " + arrangementText (plugin.layout (Vst::kOutput)));
    }

    const auto parameters = plugin.controller->getParameterCount();
    add (a, "parameters", parameters);
    for (int32 i = 0; i < parameters; ++i)
    {
        Vst::ParameterInfo info {};
        plugin.controller->getParameterInfo (i, info);
        const auto key = "parameter " + std::to_string (i);
        add (a, key + " id", (long long) info.id);
        add (a, key + " title", utf8Of (info.title));
        add (a, key + " units", utf8Of (info.units));
        add (a, key + " steps", info.stepCount);
        add (a, key + " flags", info.flags);
        add (a, key + " default", numberText (info.defaultNormalizedValue));
        add (a, key + " value", numberText (plugin.controller->getParamNormalized (info.id)));
        add (a,
             key + " text",
             plugin.valueText (info.id, plugin.controller->getParamNormalized (info.id)));
    }

    const auto saved = plugin.state();
    add (a, "state size", (long long) saved.size());
    add (a, "state fingerprint", fingerprint (saved));

    componentHandler.restartFlags = 0;
    plugin.activate (48000.0, maxBlock);
    add (a, "latency at 48000", plugin.processor->getLatencySamples());
    add (a, "tail samples", plugin.processor->getTailSamples());
    add (a, "host told that the latency changed", hostToldOf (Vst::kLatencyChanged) ? "yes" : "no");
    plugin.deactivate();
    plugin.activate (96000.0, 512);
    add (a, "latency at 96000", plugin.processor->getLatencySamples());
    return a;
}

int info (const std::string& bundle)
{
    Module module (bundle);
    if (module.factory == nullptr)
        return 2;
    for (auto& [key, value] : collect (module))
        std::printf ("%s=%s\n", key.c_str(), value.c_str());
    return 0;
}

//==================================================================================================
// What hosts rely on, checked.
class Checks
{
public:
    void check (bool ok, const std::string& what, const std::string& got = {})
    {
        std::printf ("%s  %s%s\n",
                     ok ? "PASS" : "FAIL",
                     what.c_str(),
                     got.empty() ? "" : (" (" + got + ")").c_str());
        (ok ? passed : failed)++;
    }
    int finish()
    {
        std::printf ("%d passed, %d failed\n", passed, failed);
        return failed == 0 ? 0 : 1;
    }

private:
    int passed = 0, failed = 0;
};

int check (const std::string& bundle)
{
    Checks c;
    Module module (bundle);
    c.check (module.factory != nullptr && module.entered,
             "the module loads, enters and has a factory");
    if (module.factory == nullptr)
        return c.finish();
    PFactoryInfo factoryInfo;
    module.factory->getFactoryInfo (&factoryInfo);
    c.check (std::string (factoryInfo.vendor) == "Tarnwick",
             "factory vendor Tarnwick",
             factoryInfo.vendor);
    PClassInfo effect, controllerClass;
    const bool hasEffect = module.findClass (kVstAudioEffectClass, effect);
    c.check (hasEffect && std::string (effect.name) == "Orvalis",
             "an audio effect class named Orvalis",
             hasEffect ? effect.name : "none");
    const bool hasController = module.findClass (kVstComponentControllerClass, controllerClass);
    c.check (hasController, "a controller class");

    Instance plugin (module);
    c.check (plugin.ok(), "component and controller created, initialised and connected");
    if (! plugin.ok())
        return c.finish();
    TUID controllerId {};
    plugin.component->getControllerClassId (controllerId);
    c.check (hasController && FUnknownPrivate::iidEqual (controllerId, controllerClass.cid),
             "the component names the factory's controller class");

    // The ambisonic bus on both sides; a layout of another channel count is refused.
    c.check (plugin.setLayout (Vst::SpeakerArr::kStereo, Vst::SpeakerArr::kStereo) != kResultTrue,
             "stereo buses refused");
    c.check (plugin.setLayout (Vst::SpeakerArr::kAmbi1stOrderACN, Vst::SpeakerArr::kAmbi1stOrderACN)
                 == kResultTrue,
             "first-order ambisonic buses accepted");
    c.check (plugin.layout (Vst::kInput) == Vst::SpeakerArr::kAmbi1stOrderACN
                 && plugin.layout (Vst::kOutput) == Vst::SpeakerArr::kAmbi1stOrderACN,
             "both buses then report the first-order ambisonic layout",
             arrangementText (plugin.layout (Vst::kInput)) + ", "
                 + arrangementText (plugin.layout (Vst::kOutput)));

    // A parameter set by the host's window reads back, and so does one the processor receives.
    const auto gain = plugin.parameterNamed ("Input Gain");
    c.check (gain != (Vst::ParamID) -1, "an Input Gain parameter");
    plugin.controller->setParamNormalized (gain, 0.25);
    const auto fromController = plugin.controller->getParamNormalized (gain);
    c.check (fromController == 0.25,
             "Input Gain set to 0.25 through the controller reads back",
             numberText (fromController));

    c.check (plugin.activate (48000.0, maxBlock), "prepared at 48000 Hz and activated");
    c.check (plugin.processor->getLatencySamples() == 48,
             "latency 48 samples at 48000 Hz",
             std::to_string (plugin.processor->getLatencySamples()));
    std::vector<std::vector<float>> ins (numChannels, std::vector<float> (maxBlock, 0.0f));
    auto outs = ins;
    float* inPtrs[numChannels];
    float* outPtrs[numChannels];
    for (int ch = 0; ch < numChannels; ++ch)
    {
        inPtrs[ch] = ins[(size_t) ch].data();
        outPtrs[ch] = outs[(size_t) ch].data();
    }
    ParameterChanges changes;
    changes.set (gain, 0.125);
    c.check (plugin.process (inPtrs, outPtrs, 256, &changes) == kResultOk, "a block processed");
    // The state round trip: a second instance restores the first's state, which holds the value
    // the processor received (JUCE tells the controller nothing of it: a host updates its
    // controller itself).
    const auto saved = plugin.state();
    c.check (
        ! saved.empty(), "the component saves a state", std::to_string (saved.size()) + " bytes");
    {
        Instance second (module);
        c.check (second.ok() && second.setState (saved) == kResultOk,
                 "a second instance takes the state");
        c.check (second.state() == saved, "and saves the same bytes");
        second.setControllerState (second.state());
        c.check (second.controller->getParamNormalized (gain) == 0.125,
                 "its controller shows the Input Gain the first processor received",
                 numberText (second.controller->getParamNormalized (gain)));
    }
    plugin.deactivate();
    return c.finish();
}

//==================================================================================================
struct RenderSettings
{
    double rate = 48000.0;
    double seconds = 3.0;
    std::vector<std::pair<Vst::ParamID, double>> parameters;
};

// The signal in blocks of changing length; the parameters set through the controller before the
// processor is activated (as a host restores a project) and handed to the processor with the first
// block.
std::vector<float> render (const Module& module, const RenderSettings& settings, int& latency)
{
    Instance plugin (module);
    if (! plugin.ok())
        return {};
    ParameterChanges changes;
    for (auto& [id, value] : settings.parameters)
    {
        plugin.controller->setParamNormalized (id, value);
        changes.set (id, value);
    }
    if (! plugin.activate (settings.rate, maxBlock))
        return {};
    latency = (int) plugin.processor->getLatencySamples();

    const auto total = (int64_t) (settings.rate * settings.seconds);
    std::vector<float> out;
    out.reserve ((size_t) total * numChannels);
    std::vector<std::vector<float>> ins (numChannels, std::vector<float> (maxBlock));
    std::vector<std::vector<float>> outs (numChannels, std::vector<float> (maxBlock));
    float* inPtrs[numChannels];
    float* outPtrs[numChannels];
    for (int c = 0; c < numChannels; ++c)
    {
        inPtrs[c] = ins[(size_t) c].data();
        outPtrs[c] = outs[(size_t) c].data();
    }
    Signal signal;
    for (int64_t done = 0, block = 0; done < total; ++block)
    {
        const int n = (int) std::min<int64_t> (blockLengths[block % 8], total - done);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < numChannels; ++c)
                ins[(size_t) c][(size_t) i] = signal.next (c);
        if (plugin.process (inPtrs, outPtrs, n, block == 0 ? &changes : nullptr) != kResultOk)
            return {};
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < numChannels; ++c)
                out.push_back (outs[(size_t) c][(size_t) i]);
        done += n;
    }
    return out;
}

int renderCommand (int argc, char** argv)
{
    if (argc < 4)
        return 2;
    RenderSettings settings;
    for (int i = 4; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--rate")
            settings.rate = std::atof (value.c_str());
        else if (option == "--seconds")
            settings.seconds = std::atof (value.c_str());
        else if (option == "--param" && value.find ('=') != std::string::npos)
            settings.parameters.emplace_back (
                (Vst::ParamID) std::strtoul (value.c_str(), nullptr, 10),
                std::atof (value.substr (value.find ('=') + 1).c_str()));
        else
        {
            std::fprintf (stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }
    Module module (argv[2]);
    if (module.factory == nullptr)
        return 2;
    int latency = 0;
    const auto out = render (module, settings, latency);
    if (out.empty() || ! writeFloats (argv[3], out))
    {
        std::fprintf (stderr, "render failed\n");
        return 1;
    }
    size_t nonFinite = 0;
    float peak = 0.0f;
    for (float x : out)
    {
        nonFinite += std::isfinite (x) ? 0 : 1;
        peak = std::max (peak, std::fabs (x));
    }
    std::printf ("rendered %zu frames, latency %d, output peak %.9g, %zu non-finite\n",
                 out.size() / numChannels,
                 latency,
                 (double) peak,
                 nonFinite);
    return nonFinite == 0 ? 0 : 1;
}

int usage()
{
    std::fprintf (stderr,
                  "usage: orvalis-vst3-host info|check|render BUNDLE ...\n"
                  "(see the comment at the top of tests/windows/Vst3Host.cpp)\n");
    return 2;
}
} // namespace

int main (int argc, char** argv)
{
#ifdef _WIN32
    // Plain "\n" line ends, so that Linux and Windows listings compare line by line.
    _setmode (_fileno (stdout), _O_BINARY);
#endif
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    if (command == "info")
        return info (argv[2]);
    if (command == "check")
        return check (argv[2]);
    if (command == "render")
        return renderCommand (argc, argv);
    return usage();
}
