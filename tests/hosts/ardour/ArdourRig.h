#pragma once

// What the Ardour tests share: running Ardour's programs with a deadline, reading what
// session.lua prints, and a scratch world for Ardour (home, configuration with the export preset,
// the plug-in cache written by Ardour's own scanners, sessions) in which each step of session.lua
// runs again when Ardour crashed, as Ardour 7.3 does now and then by itself.

#include "tests/hosts/HostSignals.h"
#include "tests/hosts/RunProgram.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ardour
{
namespace fs = std::filesystem;

// Ardour crashes by itself in about a fifth to a third of its exports of a 16-channel session,
// and in about half with Orvalis HOA on it; twelve attempts make a step that never gets through
// by chance rarer than one in four thousand.
constexpr int maxAttempts = 12;
constexpr int ardourTimeoutSeconds = 180;

void say (const std::string& line);

using RunResult = ProgramResult;

/** Runs a program with extra environment variables (an empty value removes one), its output
    going to logPath; kills its whole process group after timeoutSeconds. */
RunResult run (const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env,
               const fs::path& logPath,
               int timeoutSeconds);

using Report = std::multimap<std::string, std::string>;

/** What one step printed: every "orvalis: KEY VALUE" line, by key. */
Report reportOf (const std::string& output);
std::vector<std::string> valuesOf (const Report& report, const std::string& key);
std::string firstOf (const Report& report, const std::string& key);
std::string join (const std::vector<std::string>& items);

/** The crash message Ardour's process left, if any (glibc's heap checks print one line). */
std::string crashDescription (const RunResult& result);

struct CrashCount
{
    int runs = 0;
    int crashes = 0;
};

/** A plug-in product as Ardour sees it: its built formats, the identifiers Ardour loads them by,
    the name it lists and the channels of the session's track and master. */
struct Product
{
    std::string name; // as VST3 and VST 2.4 report it
    std::string lv2Name;
    int channels;
    fs::path vst2Module, vst3Bundle, lv2Bundle;
    std::string vst3ClassId, vst2UniqueId, lv2Uri;
};

/** Orvalis (four channels) and Orvalis HOA at third order (its 16-channel LV2 plug-in). */
const Product& orvalis();
const Product& orvalisHoa3();

/** The scratch world for one product: made, and the product's plug-ins indexed, on
    construction; removed on destruction when every test passed. ORVALIS_ARDOUR_WORK=DIR puts it
    in DIR (with "-" and the name given appended, when one is) and keeps it. */
class Rig
{
public:
    explicit Rig (const std::string& name = {}, const Product& product = orvalis());
    virtual ~Rig();

    struct Step
    {
        bool ok = false;
        Report report;
    };

    /** Runs session.lua STEP DIR NAME FRAMES ARGS... on a copy of the session in `from` (or a
        new one), up to maxAttempts times while Ardour crashes. */
    Step runStep (const std::string& label,
                  const fs::path& from,
                  const fs::path& session,
                  std::vector<std::string> args,
                  CrashCount& count);

    /** Makes the base session, a track whose region plays `signal` (the product's channels). */
    bool makeBaseSession (const Signal& signal, int sampleRate);

    /** The identifier ARDOUR.LuaAPI.new_plugin takes for "VST3", "VST" or "LV2". */
    std::string ardourId (const std::string& format) const;
    /** The name Ardour lists the format's plug-in by. */
    std::string nameIn (const std::string& format) const
    {
        return format == "LV2" ? product.lv2Name : product.name;
    }

    const Product& product;
    fs::path root;
    fs::path baseSession;
    size_t sessionFrames = 0;
    CrashCount making;
    bool setupFailed = false;
    bool keep = false; // a folder given by ORVALIS_ARDOUR_WORK stays
    const std::string sessionName = "orvalis";
    std::map<std::string, std::string> env;

private:
    Step failed (const std::string& label, const std::string& what, const std::string& output);
    void scan (const std::string& scanner, const std::string& item, const std::string& expected);
};
} // namespace ardour
