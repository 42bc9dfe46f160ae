#include "tests/hosts/ardour/ArdourRig.h"

#include "tests/hosts/WavFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace ardour
{
namespace
{
    const std::string exportPresetId = "4b1c6a52-0d6e-4f1a-9a43-6f7e1c2d9b10";

    void writePreset (const fs::path& path)
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
} // namespace

const Product& orvalis()
{
    // JUCE's VST3 class ID for manufacturer code Tarn and plug-in code TkOr, and the VST 2.4 ID TkOr.
    static const Product product { "Orvalis",
                                   "Orvalis",
                                   4,
                                   ORVALIS_VST2_MODULE,
                                   fs::path (ORVALIS_VST3_BINARY_DIR).parent_path().parent_path(),
                                   ORVALIS_LV2_BUNDLE,
                                   "ABCDEF019182FAEB5461726E546B4F72",
                                   "1416318834",
                                   ORVALIS_LV2_URI };
    return product;
}

const Product& orvalisHoa3()
{
    // Plug-in code TkOh; the LV2 bundle holds one plug-in per order.
    static const Product product {
        "Orvalis HOA",
        "Orvalis HOA 3rd order",
        16,
        ORVALIS_HOA_VST2_MODULE,
        fs::path (ORVALIS_HOA_VST3_BINARY_DIR).parent_path().parent_path(),
        ORVALIS_HOA_LV2_BUNDLE,
        "ABCDEF019182FAEB5461726E546B4F68",
        "1416318824",
        ORVALIS_HOA_LV2_URI "/order-3"
    };
    return product;
}

void say (const std::string& line)
{
    std::cout << "[ardour] " << line << std::endl;
}

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

Report reportOf (const std::string& output)
{
    Report report;
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

std::vector<std::string> valuesOf (const Report& report, const std::string& key)
{
    std::vector<std::string> values;
    for (auto [i, end] = report.equal_range (key); i != end; ++i)
        values.push_back (i->second);
    return values;
}

std::string firstOf (const Report& report, const std::string& key)
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

Rig::Rig (const std::string& name, const Product& p) : product (p)
{
    const char* chosen = std::getenv ("ORVALIS_ARDOUR_WORK");
    keep = chosen != nullptr;
    const std::string suffix = name.empty() ? "" : "-" + name;
    root = keep ? fs::path (std::string (chosen) + suffix)
                : fs::temp_directory_path()
                      / ("orvalis-ardour" + suffix + "-" + std::to_string (getpid()));
    fs::remove_all (root);
    const auto home = root / "home";
    for (const auto& dir : { home / ".config/ardour7/export",
                             home / ".cache",
                             home / ".local",
                             root / "exports",
                             root / "logs" })
        fs::create_directories (dir);
    writePreset (home / ".config/ardour7/export/orvalis-test.preset");

    env = { { "HOME", home.string() },
            { "XDG_CONFIG_HOME", (home / ".config").string() },
            { "XDG_CACHE_HOME", (home / ".cache").string() },
            { "XDG_DATA_HOME", (home / ".local").string() },
            { "LXVST_PATH", product.vst2Module.parent_path().string() },
            { "VST_PATH", "" },
            { "VST3_PATH", product.vst3Bundle.parent_path().string() },
            { "LV2_PATH", product.lv2Bundle.parent_path().string() },
            { "ORVALIS_EXPORT_PRESET", exportPresetId },
            { "ORVALIS_ARDOUR_CHANNELS", std::to_string (product.channels) },
            { "DISPLAY", "" } };
    if (const char* preload = std::getenv ("ORVALIS_ARDOUR_PRELOAD"))
        env["LD_PRELOAD"] = preload;

    scan (ORVALIS_ARDOUR_VST3_SCANNER,
          product.vst3Bundle.string(),
          "uid=\"" + product.vst3ClassId + "\"");
    scan (ORVALIS_ARDOUR_VST_SCANNER,
          product.vst2Module.string(),
          "id=\"" + product.vst2UniqueId + "\"");
}

Rig::~Rig()
{
    if (! keep && ! setupFailed && ::testing::UnitTest::GetInstance()->Passed())
        fs::remove_all (root);
    else
        say ("kept " + root.string() + " for a look at what went wrong");
}

Rig::Step Rig::runStep (const std::string& label,
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
                                     std::to_string (product.channels),
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
            session.string(),   sessionName,           std::to_string (sessionFrames)
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

bool Rig::makeBaseSession (const Signal& signal, int sampleRate)
{
    baseSession = root / "base";
    sessionFrames = signal.empty() ? 0 : signal[0].size();
    const auto made = runStep ("make", {}, baseSession, { "make" }, making);
    const auto sources = valuesOf (made.report, "source");
    if (! made.ok || sources.size() != signal.size())
    {
        setupFailed = true;
        ADD_FAILURE() << "the base session has " << sources.size() << " sources, not "
                      << signal.size();
        return false;
    }
    for (size_t ch = 0; ch < sources.size(); ++ch)
        if (! writeFloatWav (sources[ch], { signal[ch] }, sampleRate))
        {
            setupFailed = true;
            ADD_FAILURE() << "cannot write " << sources[ch];
        }
    return ! setupFailed;
}

std::string Rig::ardourId (const std::string& format) const
{
    if (format == "VST3")
        return product.vst3ClassId;
    if (format == "VST")
        return product.vst2UniqueId;
    return product.lv2Uri;
}

Rig::Step Rig::failed (const std::string& label, const std::string& what, const std::string& output)
{
    ADD_FAILURE() << label << ": " << what << "\n" << output;
    return {};
}

void Rig::scan (const std::string& scanner, const std::string& item, const std::string& expected)
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
} // namespace ardour
