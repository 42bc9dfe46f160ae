// A raw VST 2.4 host on the fst headers. The same source builds natively (loading Orvalis.so) and
// for Windows (loading Orvalis.dll under Wine), so that both modules are asked the same questions
// and fed the same samples:
//
//   orvalis-vst2-host info MODULE                  what the module answers, one key=value a line
//   orvalis-vst2-host version MODULE [PRODUCT]     checks the version resource (Windows) of
//                                                  Orvalis, or of the product named
//   orvalis-vst2-host render MODULE OUT [--rate N] [--seconds S] [--param INDEX=VALUE ...]
//                                  [--channels N]  processes a fixed four-channel signal into OUT
//                                                  (N channels: asks the module for N in and out)
//   orvalis-vst2-host compare A B                  compares two renders sample by sample
//   orvalis-vst2-host mathsweep DIR                writes the single-precision powers and
//                                                  logarithms the processor computes
//   orvalis-vst2-host mathcompare DIR_A DIR_B      counts where two sweeps differ
//   orvalis-vst2-host editor MODULE SECONDS        opens the window in a host window (Windows)
//
// The checks hosts rely on (identity, canDo, speaker arrangements, chunks, latency, audio) are the
// VST 2.4 host tests in tests/hosts/vst2, built for both platforms; this program lists, compares
// and measures. version ends with "N passed, N failed" and exits non-zero on any failure.

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "tests/hosts/vst2/Vst2Module.h"
#include "tests/windows/TestSignal.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace orvalis::vst2;
using namespace orvalis::testsignal;

VstIntPtr hostVersionAnswer = 2400;

// Host callback opcodes the plug-in sent, in order (the plug-in may call from its own threads).
std::mutex hostCallsLock;
std::vector<int> hostCalls;

bool hostWasCalledWith (int opcode)
{
    std::lock_guard<std::mutex> guard (hostCallsLock);
    return std::find (hostCalls.begin(), hostCalls.end(), opcode) != hostCalls.end();
}

VstIntPtr VSTCALLBACK hostCallback (AEffect*, int opcode, int, VstIntPtr, void*, float)
{
    {
        std::lock_guard<std::mutex> guard (hostCallsLock);
        hostCalls.push_back (opcode);
    }
    // No audioMasterGetSampleRate answer: a plug-in resumed without effSetSampleRate has to fall
    // back on its own default rate.
    return opcode == audioMasterVersion ? hostVersionAnswer : 0;
}

PluginMain loadModule (const std::string& path)
{
    return loadPluginMain (path.c_str());
}

// An instance calling this host back.
struct Plugin : Instance
{
    explicit Plugin (PluginMain main) : Instance (main, hostCallback) {}
};

std::string hexOf (const std::vector<uint8_t>& bytes)
{
    // FNV-1a: a short fingerprint of a chunk for the side-by-side listing.
    uint64_t hash = 1469598103934665603ull;
    for (uint8_t byte : bytes)
        hash = (hash ^ byte) * 1099511628211ull;
    char text[32];
    std::snprintf (text, sizeof (text), "%016llx", (unsigned long long) hash);
    return text;
}

std::string fourCharText (int32_t code)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s += (char) ((code >> shift) & 0xff);
    return s;
}

struct RenderSettings
{
    double rate = 48000.0;
    double seconds = 3.0;
    std::vector<std::pair<int, float>> parameters;
    int channels = 0; // asked for with effSetSpeakerArrangement when set
};

// Processes the signal in blocks of changing length (1 sample to the announced maximum) and
// returns the interleaved output.
std::vector<float> render (PluginMain main, const RenderSettings& settings, int& latency)
{
    Plugin instance (main);
    if (instance.effect == nullptr)
        return {};
    for (auto& [index, value] : settings.parameters)
        instance.effect->setParameter (instance.effect, index, value);
    const int channels = settings.channels > 0 ? settings.channels : numChannels;
    if (settings.channels > 0)
    {
        WideArrangement in (channels), out (channels);
        if (instance.dispatch (effSetSpeakerArrangement, 0, in.value(), out.pointer()) != 1)
            return {};
    }
    instance.resume (settings.rate, maxBlock);
    latency = instance.effect->initialDelay;

    // Every buffer the module announces; those beyond the signal's channels silent, or dropped.
    const int numBuffers =
        std::max ({ channels, instance.effect->numInputs, instance.effect->numOutputs });
    const auto total = (int64_t) (settings.rate * settings.seconds);
    std::vector<float> out;
    out.reserve ((size_t) total * (size_t) channels);
    std::vector<std::vector<float>> ins ((size_t) numBuffers, std::vector<float> (maxBlock));
    std::vector<std::vector<float>> outs ((size_t) numBuffers, std::vector<float> (maxBlock));
    std::vector<float*> inPtrs ((size_t) numBuffers), outPtrs ((size_t) numBuffers);
    Signal signal (channels);

    for (int64_t done = 0, block = 0; done < total; ++block)
    {
        const int n = (int) std::min<int64_t> (blockLengths[block % 8], total - done);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                ins[(size_t) c][(size_t) i] = signal.next (c);
        for (int c = 0; c < numBuffers; ++c)
        {
            inPtrs[(size_t) c] = ins[(size_t) c].data();
            outPtrs[(size_t) c] = outs[(size_t) c].data();
        }
        instance.effect->processReplacing (instance.effect, inPtrs.data(), outPtrs.data(), n);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                out.push_back (outs[(size_t) c][(size_t) i]);
        done += n;
    }
    return out;
}

// Distance in units in the last place between two finite floats of the same sign region.
int64_t ulpDistance (float a, float b)
{
    auto ordered = [] (float x)
    {
        int32_t i;
        std::memcpy (&i, &x, sizeof (i));
        return i < 0 ? (int64_t) INT32_MIN - i : (int64_t) i;
    };
    return std::llabs (ordered (a) - ordered (b));
}

struct Difference
{
    size_t count = 0;
    int64_t maxUlps = 0;
    double maxAbs = 0.0;
    double maxRel = 0.0;
    size_t first = 0;
};

Difference differences (const std::vector<float>& a, const std::vector<float>& b)
{
    Difference d;
    for (size_t i = 0; i < std::min (a.size(), b.size()); ++i)
    {
        if (std::memcmp (&a[i], &b[i], sizeof (float)) == 0)
            continue;
        if (d.count++ == 0)
            d.first = i;
        d.maxUlps = std::max (d.maxUlps, ulpDistance (a[i], b[i]));
        const double abs = std::fabs ((double) a[i] - (double) b[i]);
        d.maxAbs = std::max (d.maxAbs, abs);
        if (a[i] != 0.0f)
            d.maxRel = std::max (d.maxRel, abs / std::fabs ((double) a[i]));
    }
    return d;
}

//==================================================================================================
using Answers = std::vector<std::pair<std::string, std::string>>;

void add (Answers& answers, const std::string& key, const std::string& value)
{
    answers.emplace_back (key, value);
}

void add (Answers& answers, const std::string& key, long long value)
{
    answers.emplace_back (key, std::to_string (value));
}

// Everything the module answers, in a fixed order, for the side-by-side listing.
Answers collect (PluginMain main)
{
    Answers a;
    hostVersionAnswer = 0;
    AEffect* refused = main (hostCallback);
    add (a, "main with host version 0", refused == nullptr ? "no effect" : "an effect");
    hostVersionAnswer = 2400;

    Plugin plugin (main);
    AEffect* e = plugin.effect;
    if (e == nullptr)
    {
        add (a, "main", "no effect");
        return a;
    }
    add (a, "magic", fourCharText (e->magic));
    add (a, "unique ID", fourCharText (e->uniqueID));
    add (a, "version", e->version);
    add (a, "inputs", e->numInputs);
    add (a, "outputs", e->numOutputs);
    const uint32_t flags = plugin.flags();
    add (a, "flag HasEditor", (flags & effFlagsHasEditor) != 0);
    add (a, "flag CanReplacing", (flags & effFlagsCanReplacing) != 0);
    add (a, "flag ProgramChunks", (flags & effFlagsProgramChunks) != 0);
    add (a, "flag IsSynth", (flags & effFlagsIsSynth) != 0);
    add (a, "flag CanDoubleReplacing", (flags & effFlagsCanDoubleReplacing) != 0);
    add (a, "flag NoSoundInStop", (flags & effFlagsNoSoundInStop) != 0);
    add (a, "programs", e->numPrograms);
    add (a, "parameters", e->numParams);
    add (a, "effect name", plugin.text (effGetEffectName));
    add (a, "vendor string", plugin.text (effGetVendorString));
    add (a, "product string", plugin.text (effGetProductString));
    add (a, "vendor version", plugin.dispatch (effGetVendorVersion));
    add (a, "category", plugin.dispatch (effGetPlugCategory));
    add (a, "VST version", plugin.dispatch (effGetVstVersion));
    add (a, "program name", plugin.text (effGetProgramName));
    for (int i = 0; i < e->numParams; ++i)
    {
        const auto p = "parameter " + std::to_string (i);
        add (a, p + " name", plugin.text (effGetParamName, i));
        add (a,
             p + " text",
             plugin.text (effGetParamDisplay, i) + " " + plugin.text (effGetParamLabel, i));
        char value[32];
        std::snprintf (value, sizeof (value), "%.9g", (double) e->getParameter (e, i));
        add (a, p + " value", value);
    }

    for (const char* query : { "receiveVstEvents",
                               "receiveVstMidiEvent",
                               "receiveVstMidiEvents",
                               "sendVstEvents",
                               "sendVstMidiEvent",
                               "sendVstMidiEvents",
                               "receiveVstTimeInfo",
                               "conformsToWindowRules",
                               "bypass",
                               "openCloseAnyThread",
                               "offline",
                               "noRealTime",
                               "somethingElse" })
        add (a,
             std::string ("canDo ") + query,
             plugin.dispatch (effCanDo, 0, 0, const_cast<char*> (query)));

    struct Request
    {
        const char* name;
        SpeakerArrangement in, out;
    };
    const Request requests[] = {
        { "stereo",
          makeArrangement (speakerArrStereo, { 1, 2 }),
          makeArrangement (speakerArrStereo, { 1, 2 }) },
        { "5.1",
          makeArrangement (speakerArr51, { 1, 2, 3, 4, 5, 6 }),
          makeArrangement (speakerArr51, { 1, 2, 3, 4, 5, 6 }) },
        { "quad",
          makeArrangement (speakerArrQuad, { 1, 2, 5, 6 }),
          makeArrangement (speakerArrQuad, { 1, 2, 5, 6 }) },
    };
    for (auto request : requests)
    {
        const auto answer =
            plugin.dispatch (effSetSpeakerArrangement, 0, (VstIntPtr) &request.in, &request.out);
        add (a,
             std::string ("speakers ") + request.name,
             std::to_string (answer) + ", then " + std::to_string (e->numInputs) + " in "
                 + std::to_string (e->numOutputs) + " out");
    }

    // State: a second instance restores what the first saved; empty chunks change nothing.
    for (int i = 0; i < e->numParams; ++i)
        e->setParameter (e, i, 0.125f + 0.25f * (float) i);
    const auto saved = plugin.chunk();
    add (a, "chunk size", (long long) saved.size());
    add (a, "chunk fingerprint", hexOf (saved));
    char zero = 0;
    plugin.dispatch (effSetChunk, 0, 0, &zero);
    plugin.dispatch (effSetChunk, 0, 16, nullptr);
    plugin.dispatch (effSetChunk, 1, 0, &zero);
    add (a, "chunk after empty chunks", plugin.chunk() == saved ? "unchanged" : "changed");
    {
        Plugin second (main);
        std::vector<uint8_t> copy = saved;
        second.dispatch (effSetChunk, 0, (VstIntPtr) copy.size(), copy.data());
        bool sameValues = true;
        for (int i = 0; i < e->numParams; ++i)
            sameValues =
                sameValues
                && second.effect->getParameter (second.effect, i) == e->getParameter (e, i);
        add (a,
             "chunk restored into a second instance",
             std::string (second.chunk() == saved ? "same chunk" : "different chunk")
                 + (sameValues ? ", same values" : ", different values"));
    }

    {
        Plugin fresh (main);
        {
            std::lock_guard<std::mutex> guard (hostCallsLock);
            hostCalls.clear();
        }
        fresh.resume (0.0, 512);
        add (a, "latency after resume without rate", fresh.effect->initialDelay);
        // The plug-in tells the host asynchronously; a host's GUI thread keeps delivering messages.
        bool told = false;
        for (int i = 0; i < 200 && ! told; ++i)
        {
            dispatchHostMessages();
            told = hostWasCalledWith (hostOpcodeIOChanged);
            std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }
        add (a, "host told that the delay changed", told ? "yes" : "no");
        add (a, "tail size", fresh.dispatch (effOpcodeGetTailSize));
    }
    {
        Plugin fresh (main);
        fresh.resume (96000.0, 512);
        add (a, "latency after resume at 96000", fresh.effect->initialDelay);
        add (a, "bypass request", fresh.dispatch (effOpcodeSetBypass, 0, 1));
    }
    return a;
}

#ifdef _WIN32
// The version resource as Windows shows it in a file's properties.
Answers versionResource (const std::string& path)
{
    Answers a;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA (path.c_str(), &ignored);
    std::vector<char> data (size);
    if (size == 0 || ! GetFileVersionInfoA (path.c_str(), 0, size, data.data()))
    {
        add (a, "version resource", "missing");
        return a;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA (data.data(), "\\", reinterpret_cast<void**> (&fixed), &length)
        && fixed != nullptr)
    {
        auto quad = [] (DWORD ms, DWORD ls)
        {
            return std::to_string (HIWORD (ms)) + "." + std::to_string (LOWORD (ms)) + "."
                   + std::to_string (HIWORD (ls)) + "." + std::to_string (LOWORD (ls));
        };
        add (a, "fixed file version", quad (fixed->dwFileVersionMS, fixed->dwFileVersionLS));
        add (a,
             "fixed product version",
             quad (fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    }
    struct Translation
    {
        WORD language, codePage;
    }* translation = nullptr;
    if (! VerQueryValueA (data.data(),
                          "\\VarFileInfo\\Translation",
                          reinterpret_cast<void**> (&translation),
                          &length)
        || translation == nullptr)
    {
        add (a, "translation", "missing");
        return a;
    }
    char block[64];
    std::snprintf (block,
                   sizeof (block),
                   "\\StringFileInfo\\%04x%04x\\",
                   translation->language,
                   translation->codePage);
    for (const char* name :
         { "CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion" })
    {
        char* value = nullptr;
        const bool found = VerQueryValueA (data.data(),
                                           (std::string (block) + name).c_str(),
                                           reinterpret_cast<void**> (&value),
                                           &length)
                           && value != nullptr;
        add (a, name, found ? std::string (value) : "(missing)");
    }
    return a;
}
#endif

int info (const std::string& path)
{
    auto main = loadModule (path);
    if (main == nullptr)
        return 2;
    for (auto& [key, value] : collect (main))
        std::printf ("%s=%s\n", key.c_str(), value.c_str());
    return 0;
}

#ifdef _WIN32
int versionCommand (const std::string& path, const std::string& product)
{
    const auto answers = versionResource (path);
    std::map<std::string, std::string> got (answers.begin(), answers.end());
    int passed = 0, failed = 0;
    for (const auto& [key, wanted] :
         std::vector<std::pair<std::string, std::string>> { { "fixed file version", "1.0.0.0" },
                                                            { "fixed product version", "0.0.0.0" },
                                                            { "CompanyName", "Tarnwick" },
                                                            { "FileDescription", product },
                                                            { "FileVersion", "1.0.0" },
                                                            { "ProductName", product },
                                                            { "ProductVersion", "1.0.0" } })
    {
        const auto it = got.find (key);
        const std::string value = it == got.end() ? "(missing)" : it->second;
        const bool ok = value == wanted;
        std::printf ("%s  %s = %s%s\n",
                     ok ? "PASS" : "FAIL",
                     key.c_str(),
                     value.c_str(),
                     ok ? "" : ("   (expected " + wanted + ")").c_str());
        (ok ? passed : failed)++;
    }
    std::printf ("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
#endif

int renderCommand (int argc, char** argv)
{
    if (argc < 4)
        return 2;
    RenderSettings settings;
    for (int i = 4; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--rate")
            settings.rate = std::atof (value.c_str());
        else if (option == "--seconds")
            settings.seconds = std::atof (value.c_str());
        else if (option == "--channels")
            settings.channels = std::atoi (value.c_str());
        else if (option == "--param" && value.find ('=') != std::string::npos)
            settings.parameters.emplace_back (
                std::atoi (value.c_str()),
                (float) std::atof (value.substr (value.find ('=') + 1).c_str()));
        else
        {
            std::fprintf (stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }
    auto main = loadModule (argv[2]);
    if (main == nullptr)
        return 2;
    int latency = 0;
    const auto out = render (main, settings, latency);
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
                 out.size() / (size_t) (settings.channels > 0 ? settings.channels : numChannels),
                 latency,
                 (double) peak,
                 nonFinite);
    return nonFinite == 0 ? 0 : 1;
}

int compareCommand (const std::string& pathA, const std::string& pathB)
{
    const auto a = readFloats (pathA);
    const auto b = readFloats (pathB);
    if (a.empty() || a.size() != b.size())
    {
        std::printf ("renders differ in length (%zu and %zu samples)\n", a.size(), b.size());
        return 1;
    }
    const auto d = differences (a, b);
    if (d.count == 0)
    {
        std::printf ("bit-identical (%zu samples)\n", a.size());
        return 0;
    }
    std::printf (
        "%zu of %zu samples differ; largest difference %.3g (%lld ulp, relative %.3g); first at "
        "frame %zu channel %zu\n",
        d.count,
        a.size(),
        d.maxAbs,
        (long long) d.maxUlps,
        d.maxRel,
        d.first / numChannels,
        d.first % numChannels);
    return 1;
}

//==================================================================================================
// The processor's single-precision conversions: decibels to a gain, 10^(dB * 0.05), for Input Gain
// (60 v dB) and Max Peak Level (20 v - 10 dB) over a fine grid of normalised values v; 20 log10 of
// meter peaks; and the limiter's coefficient 0.1^(1 / k) in double precision for release times.
constexpr int gridSteps = 1 << 20;

// Each sweep: its inputs, the processor's formula, and the same formula in extended precision
// (rounded once to float at the end) to tell which results are correctly rounded.
struct Sweep
{
    const char* name;
    std::vector<float> inputs;
    float (*compute) (float);
    float (*reference) (float);
};

float gainOf (float db)
{
    return std::pow (10.0f, db * 0.05f);
}
float gainReference (float db)
{
    return (float) std::pow (10.0L, (long double) (db * 0.05f));
}
float meterOf (float peak)
{
    return 20.0f * std::log10 (peak);
}
float meterReference (float peak)
{
    return (float) (20.0L * (long double) (float) std::log10 ((long double) peak));
}
double releaseSteps (float ms, int rate)
{
    return (double) ((float) rate * ms / 1000.0f + 1.0f);
}
// Release inputs pack the rate index into the integer part: 0.5 ms at 96000 Hz is 2000.5.
float releaseOf (float packed)
{
    static constexpr int rates[] = { 44100, 48000, 96000, 192000 };
    const int which = (int) (packed / 1000.0f);
    const float ms = packed - 1000.0f * (float) which;
    return (float) std::pow (0.1, 1.0 / releaseSteps (ms, rates[which]));
}
float releaseReference (float packed)
{
    static constexpr int rates[] = { 44100, 48000, 96000, 192000 };
    const int which = (int) (packed / 1000.0f);
    const float ms = packed - 1000.0f * (float) which;
    return (float) (double) std::pow (0.1L, 1.0L / (long double) releaseSteps (ms, rates[which]));
}

std::vector<Sweep> sweeps()
{
    std::vector<Sweep> all;
    Sweep gain { "gain", {}, gainOf, gainReference };       // Input Gain: 60 v dB
    Sweep ceiling { "ceiling", {}, gainOf, gainReference }; // Max Peak Level: 20 v - 10 dB
    for (int k = 0; k <= gridSteps; ++k)
    {
        const float v = (float) k / (float) gridSteps;
        gain.inputs.push_back (0.0f + 60.0f * v);
        ceiling.inputs.push_back (-10.0f + 20.0f * v);
    }
    Sweep meter { "meter", {}, meterOf, meterReference }; // peaks 2^-20 to 4
    for (int k = 1; k <= 4 * gridSteps; ++k)
        meter.inputs.push_back ((float) k / (float) gridSteps);
    // The limiter's release coefficient (double precision) for Release Time 1000 v ms at four rates;
    // the offset of 1000 per rate is exact in float for these ms values.
    Sweep release { "release", {}, releaseOf, releaseReference };
    for (int which = 0; which < 4; ++which)
        for (int k = 0; k < (1 << 12); ++k)
            release.inputs.push_back (1000.0f * (float) which + 999.0f * ((float) k / 4096.0f));
    all.push_back (std::move (gain));
    all.push_back (std::move (ceiling));
    all.push_back (std::move (meter));
    all.push_back (std::move (release));
    return all;
}

int mathSweep (const std::string& dir)
{
    for (auto& sweep : sweeps())
    {
        std::vector<float> out;
        for (float x : sweep.inputs)
            out.push_back (sweep.compute (x));
        if (! writeFloats (dir + "/" + sweep.name + ".f32", out))
            return 1;
    }
    return 0;
}

// Compares two sweeps (A and B, e.g. Linux and Windows) with each other and with the
// extended-precision reference computed here.
int mathCompare (const std::string& dirA, const std::string& dirB)
{
    int differing = 0;
    for (auto& sweep : sweeps())
    {
        const auto a = readFloats (dirA + "/" + sweep.name + ".f32");
        const auto b = readFloats (dirB + "/" + sweep.name + ".f32");
        if (a.size() != sweep.inputs.size() || b.size() != sweep.inputs.size())
        {
            std::printf ("%s: missing or of the wrong length\n", sweep.name);
            return 2;
        }
        std::vector<float> reference;
        for (float x : sweep.inputs)
            reference.push_back (sweep.reference (x));
        const auto d = differences (a, b);
        const auto wrongA = differences (reference, a);
        const auto wrongB = differences (reference, b);
        std::printf (
            "%-8s A and B differ in %zu of %zu values (%.4f %%), at most %lld ulp (relative %.3g);"
            " not correctly rounded: A %zu (at most %lld ulp), B %zu (at most %lld ulp)",
            sweep.name,
            d.count,
            a.size(),
            100.0 * (double) d.count / (double) a.size(),
            (long long) d.maxUlps,
            d.maxRel,
            wrongA.count,
            (long long) wrongA.maxUlps,
            wrongB.count,
            (long long) wrongB.maxUlps);
        if (d.count > 0)
            std::printf ("; first at input %.9g", (double) sweep.inputs[d.first]);
        std::printf ("\n");
        differing += d.count > 0 ? 1 : 0;
    }
    return differing == 0 ? 0 : 1;
}

//==================================================================================================
#ifdef _WIN32
LRESULT CALLBACK hostWindowProc (HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_CLOSE)
    {
        DestroyWindow (window);
        return 0;
    }
    return DefWindowProcW (window, message, w, l);
}
#endif

// Opens the plug-in's window inside a host window and keeps it up for a while, pumping messages
// and sending idle calls like a host, so that a screenshot can be taken.
int editor (const std::string& path, double seconds)
{
    auto main = loadModule (path);
    if (main == nullptr)
        return 2;
    Plugin plugin (main);
    if (plugin.effect == nullptr)
        return 2;
    if ((plugin.flags() & effFlagsHasEditor) == 0)
    {
        std::printf ("the plug-in has no editor (effFlagsHasEditor cleared)\n");
        return 3;
    }
    plugin.resume (48000.0, 1024);
#ifdef _WIN32
    ERect* rect = nullptr;
    plugin.dispatch (effEditGetRect, 0, 0, &rect);
    int width = rect != nullptr ? rect->right - rect->left : 0;
    int height = rect != nullptr ? rect->bottom - rect->top : 0;
    std::printf ("editor rectangle before opening: %d x %d\n", width, height);

    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = GetModuleHandleW (nullptr);
    windowClass.lpszClassName = L"OrvalisTestHost";
    windowClass.hCursor = LoadCursor (nullptr, IDC_ARROW);
    RegisterClassW (&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT frame { 0, 0, std::max (width, 100), std::max (height, 100) };
    AdjustWindowRect (&frame, style, FALSE);
    HWND window = CreateWindowW (L"OrvalisTestHost",
                                 L"Orvalis (test host)",
                                 style,
                                 40,
                                 40,
                                 frame.right - frame.left,
                                 frame.bottom - frame.top,
                                 nullptr,
                                 nullptr,
                                 windowClass.hInstance,
                                 nullptr);
    if (window == nullptr)
    {
        std::printf ("cannot create the host window\n");
        return 1;
    }
    const auto opened = plugin.dispatch (effEditOpen, 0, 0, window);
    rect = nullptr;
    plugin.dispatch (effEditGetRect, 0, 0, &rect);
    if (rect != nullptr)
    {
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
        frame = { 0, 0, width, height };
        AdjustWindowRect (&frame, style, FALSE);
        SetWindowPos (window,
                      nullptr,
                      0,
                      0,
                      frame.right - frame.left,
                      frame.bottom - frame.top,
                      SWP_NOMOVE | SWP_NOZORDER);
    }
    ShowWindow (window, SW_SHOW);
    UpdateWindow (window);
    std::printf ("effEditOpen answered %lld; editor %d x %d\n", (long long) opened, width, height);
    std::fflush (stdout);

    // The test signal plays meanwhile (about in real time, 960 frames per 20 ms), so that the
    // meters move.
    constexpr int blockLength = 960;
    std::vector<std::vector<float>> ins (numChannels, std::vector<float> (blockLength));
    std::vector<std::vector<float>> outs (numChannels, std::vector<float> (blockLength));
    float* inPtrs[numChannels];
    float* outPtrs[numChannels];
    Signal signal;
    const DWORD end = GetTickCount() + (DWORD) (seconds * 1000.0);
    while (GetTickCount() < end)
    {
        dispatchHostMessages();
        plugin.dispatch (effEditIdle);
        for (int i = 0; i < blockLength; ++i)
            for (int c = 0; c < numChannels; ++c)
                ins[(size_t) c][(size_t) i] = signal.next (c);
        for (int c = 0; c < numChannels; ++c)
        {
            inPtrs[c] = ins[(size_t) c].data();
            outPtrs[c] = outs[(size_t) c].data();
        }
        plugin.effect->processReplacing (plugin.effect, inPtrs, outPtrs, blockLength);
        // JUCE paints what it has marked dirty when the display signals a vertical blank through
        // DXGI's WaitForVBlank, which Wine leaves unimplemented: under Wine a plug-in window
        // would show its first picture for ever. The host redraws its window itself instead.
        RedrawWindow (window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        Sleep (20);
    }
    plugin.dispatch (effEditClose);
    DestroyWindow (window);
    std::printf ("editor closed\n");
    return opened != 0 ? 0 : 1;
#else
    (void) seconds;
    std::printf ("the editor command needs the Windows build of this host\n");
    return 2;
#endif
}

int usage()
{
    std::fprintf (
        stderr,
        "usage: orvalis-vst2-host info|version|render|compare|mathsweep|mathcompare|editor ...\n"
        "(see the comment at the top of tests/windows/Vst2Host.cpp)\n");
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
#ifdef _WIN32
    if (command == "version")
        return versionCommand (argv[2], argc >= 4 ? argv[3] : "Orvalis");
#endif
    if (command == "render")
        return renderCommand (argc, argv);
    if (command == "compare" && argc >= 4)
        return compareCommand (argv[2], argv[3]);
    if (command == "mathsweep")
        return mathSweep (argv[2]);
    if (command == "mathcompare" && argc >= 4)
        return mathCompare (argv[2], argv[3]);
    if (command == "editor")
        return editor (argv[2], argc >= 4 ? std::atof (argv[3]) : 5.0);
    return usage();
}
