// Writes the LV2 bundle's description: manifest.ttl, orvalis.ttl (the plug-in and its ports) and
// orvalis-ui.ttl (the window), from the port table the module itself uses.
// usage: orvalis-lv2-ttl BUNDLE_DIR URI BINARY VERSION LICENSE_URI

#include "plugin/lv2/Lv2Ports.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace
{
const char* prefixes = "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
                       "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
                       "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
                       "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
                       "@prefix pprop: <http://lv2plug.in/ns/ext/port-props#> .\n"
                       "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
                       "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
                       "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                       "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
                       "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
                       "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n\n";

// A number as Turtle reads it as a decimal (always with a point).
std::string decimal (double value)
{
    std::ostringstream out;
    out.precision (10);
    out << std::showpoint << value;
    std::string text = out.str();
    while (text.size() > 2 && text.back() == '0' && text[text.size() - 2] != '.')
        text.pop_back();
    return text;
}

struct Settings
{
    std::string uri, binary, version, license;
    int minor = 0, micro = 0;
};

std::string manifest (const Settings& s)
{
    std::ostringstream out;
    out << prefixes;
    out << "<" << s.uri << ">\n"
        << "\ta lv2:Plugin ;\n"
        << "\tlv2:binary <" << s.binary << "> ;\n"
        << "\trdfs:seeAlso <orvalis.ttl> .\n\n";
    out << "<" << s.uri << ":UI>\n"
        << "\ta ui:X11UI ;\n"
        << "\tui:binary <" << s.binary << "> ;\n"
        << "\trdfs:seeAlso <orvalis-ui.ttl> .\n\n";
    // The one program of the other formats, "Default", as a preset of the knobs' defaults.
    out << "<" << s.uri << ":preset1>\n"
        << "\ta pset:Preset ;\n"
        << "\tlv2:appliesTo <" << s.uri << "> ;\n"
        << "\trdfs:label \"Default\" ;\n"
        << "\tlv2:port";
    for (size_t k = 0; k < lv2Ports::knobs.size(); ++k)
    {
        const auto& knob = lv2Ports::knobs[k];
        out << (k == 0 ? " [\n" : " , [\n") << "\t\tlv2:symbol \"" << knob.symbol << "\" ;\n"
            << "\t\tpset:value " << decimal (knob.defaultValue) << "\n\t]";
    }
    out << " .\n";
    return out.str();
}

// One port's statements, without the brackets.
std::string audioPort (const std::string& uri, std::uint32_t index, bool input, int channel)
{
    std::ostringstream out;
    out << "\t\ta lv2:AudioPort , lv2:" << (input ? "InputPort" : "OutputPort") << " ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol \"audio_" << (input ? "in_" : "out_") << channel << "\" ;\n"
        << "\t\tlv2:name \"Audio " << (input ? "In " : "Out ") << channel << "\" ;\n"
        << "\t\tpg:group <" << uri << (input ? ":input" : ":output") << ">\n";
    return out.str();
}

std::string knobPort (std::uint32_t index, const lv2Ports::Knob& knob)
{
    std::ostringstream out;
    out << "\t\ta lv2:ControlPort , lv2:InputPort ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol \"" << knob.symbol << "\" ;\n"
        << "\t\tlv2:name \"" << knob.name << "\" ;\n"
        << "\t\tlv2:default " << decimal (knob.defaultValue) << " ;\n"
        << "\t\tlv2:minimum " << decimal (knob.minimum) << " ;\n"
        << "\t\tlv2:maximum " << decimal (knob.maximum) << " ;\n"
        << "\t\tunits:unit units:" << knob.lv2Unit << "\n";
    return out.str();
}

std::string otherPorts()
{
    using namespace lv2Ports;
    std::ostringstream enabledPort, latencyPort, gainReductionPort;
    enabledPort << "\t\ta lv2:ControlPort , lv2:InputPort ;\n"
                << "\t\tlv2:index " << enabled << " ;\n"
                << "\t\tlv2:symbol \"enabled\" ;\n"
                << "\t\tlv2:name \"Enabled\" ;\n"
                << "\t\tlv2:designation lv2:enabled ;\n"
                << "\t\tlv2:portProperty lv2:toggled ;\n"
                << "\t\tlv2:default 1 ;\n\t\tlv2:minimum 0 ;\n\t\tlv2:maximum 1\n";
    latencyPort << "\t\ta lv2:ControlPort , lv2:OutputPort ;\n"
                << "\t\tlv2:index " << latency << " ;\n"
                << "\t\tlv2:symbol \"latency\" ;\n"
                << "\t\tlv2:name \"Latency\" ;\n"
                << "\t\tlv2:designation lv2:latency ;\n"
                << "\t\tlv2:portProperty lv2:reportsLatency , lv2:integer , pprop:notOnGUI ;\n"
                << "\t\tlv2:minimum 0 ;\n\t\tlv2:maximum " << maxLatencySamples << " ;\n"
                << "\t\tunits:unit units:frame\n";
    gainReductionPort << "\t\ta lv2:ControlPort , lv2:OutputPort ;\n"
                      << "\t\tlv2:index " << gainReduction << " ;\n"
                      << "\t\tlv2:symbol \"gain_reduction\" ;\n"
                      << "\t\tlv2:name \"Gain Reduction\" ;\n"
                      << "\t\tlv2:minimum 0.0 ;\n\t\tlv2:maximum " << decimal (maxGainReductionDb)
                      << " ;\n"
                      << "\t\tunits:unit units:db\n";
    return enabledPort.str() + "\t] , [\n" + latencyPort.str() + "\t] , [\n"
           + gainReductionPort.str();
}

std::string plugin (const Settings& s)
{
    using namespace lv2Ports;
    std::ostringstream out;
    out << prefixes;
    out << "<" << s.uri << ":input>\n\ta pg:InputGroup ;\n\tlv2:symbol \"input\" ;\n"
        << "\tlv2:name \"Input\" .\n\n"
        << "<" << s.uri << ":output>\n\ta pg:OutputGroup ;\n\tlv2:symbol \"output\" ;\n"
        << "\tlv2:name \"Output\" ;\n\tpg:source <" << s.uri << ":input> .\n\n";

    out << "<" << s.uri << ">\n"
        << "\ta lv2:Plugin , lv2:LimiterPlugin , doap:Project ;\n"
        << "\tdoap:name \"Orvalis\" ;\n"
        << "\trdfs:comment \"Look-ahead peak limiter for four-channel first-order ambisonic audio "
           "(ambiX or FuMa): one common gain on all four channels.\" ;\n"
        << "\tdoap:license <" << s.license << "> ;\n"
        << "\tdoap:maintainer [\n\t\ta foaf:Organization ;\n\t\tfoaf:name \"Tarnwick\" ;\n"
        << "\t\tfoaf:homepage <https://tarnwick.example/>\n\t] ;\n"
        << "\tdoap:release [\n\t\ta doap:Version ;\n\t\tdoap:revision \"" << s.version
        << "\"\n\t] ;\n"
        << "\tlv2:minorVersion " << s.minor << " ;\n"
        << "\tlv2:microVersion " << s.micro << " ;\n"
        << "\tlv2:optionalFeature lv2:hardRTCapable , urid:map ;\n"
        << "\tlv2:extensionData state:interface ;\n"
        << "\tui:ui <" << s.uri << ":UI> ;\n"
        << "\tpg:mainInput <" << s.uri << ":input> ;\n"
        << "\tpg:mainOutput <" << s.uri << ":output> ;\n";

    std::string ports;
    const auto add = [&ports] (const std::string& port)
    { ports += (ports.empty() ? "\tlv2:port [\n" : "\t] , [\n") + port; };
    for (int ch = 0; ch < numAudioChannels; ++ch)
        add (audioPort (s.uri, audioIn1 + static_cast<std::uint32_t> (ch), true, ch + 1));
    for (int ch = 0; ch < numAudioChannels; ++ch)
        add (audioPort (s.uri, audioOut1 + static_cast<std::uint32_t> (ch), false, ch + 1));
    for (std::uint32_t k = 0; k < numKnobs; ++k)
        add (knobPort (firstKnob + k, knobs[k]));
    add (otherPorts());
    out << ports << "\t] .\n";
    return out.str();
}

std::string window (const Settings& s)
{
    std::ostringstream out;
    out << prefixes;
    out << "<" << s.uri << ":UI>\n"
        << "\tlv2:requiredFeature ui:idleInterface , ui:parent ,\n"
        << "\t\t<http://lv2plug.in/ns/ext/instance-access> ;\n"
        << "\tlv2:optionalFeature ui:noUserResize , ui:resize , ui:touch ;\n"
        << "\tlv2:extensionData ui:idleInterface";
    for (const auto& knob : lv2Ports::knobs)
        out << " ;\n\tui:portNotification [\n\t\tui:plugin <" << s.uri << "> ;\n"
            << "\t\tlv2:symbol \"" << knob.symbol << "\" ;\n"
            << "\t\tui:protocol ui:floatProtocol\n\t]";
    out << " .\n";
    return out.str();
}

bool writeFile (const std::string& path, const std::string& text)
{
    std::ofstream file (path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (! file)
        std::cerr << "orvalis-lv2-ttl: cannot write " << path << "\n";
    return static_cast<bool> (file);
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 6)
    {
        std::cerr << "usage: orvalis-lv2-ttl BUNDLE_DIR URI BINARY VERSION LICENSE_URI\n";
        return 2;
    }
    const std::string dir = argv[1];
    Settings s { argv[2], argv[3], argv[4], argv[5] };
    int major = 0;
    if (std::sscanf (s.version.c_str(), "%d.%d.%d", &major, &s.minor, &s.micro) != 3)
    {
        std::cerr << "orvalis-lv2-ttl: version " << s.version << " is not MAJOR.MINOR.MICRO\n";
        return 2;
    }

    const bool ok = writeFile (dir + "/manifest.ttl", manifest (s))
                    && writeFile (dir + "/orvalis.ttl", plugin (s))
                    && writeFile (dir + "/orvalis-ui.ttl", window (s));
    return ok ? 0 : 1;
}
