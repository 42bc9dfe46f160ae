// Writes an LV2 bundle's description: manifest.ttl, and for each plug-in of the bundle <stem>.ttl
// (the plug-in and its ports) and <stem>-ui.ttl (its window), from the tables the module itself
// uses (Lv2Plugins.h, Lv2Ports.h). PRODUCT is orvalis (orvalis.ttl, orvalis-ui.ttl) or orvalis-hoa
// (one plug-in per order).
// usage: orvalis-lv2-ttl BUNDLE_DIR PRODUCT URI BINARY VERSION LICENSE_URI

#include "plugin/lv2/Lv2Plugins.h"

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
    std::string binary, version, license;
    int minor = 0, micro = 0;
};

using lv2Plugins::Plugin;

std::string manifestEntries (const Settings& s, const Plugin& p)
{
    std::ostringstream out;
    out << "<" << p.uri << ">\n"
        << "\ta lv2:Plugin ;\n"
        << "\tlv2:binary <" << s.binary << "> ;\n"
        << "\trdfs:seeAlso <" << p.fileStem << ".ttl> .\n\n";
    out << "<" << p.uiUri() << ">\n"
        << "\ta ui:X11UI ;\n"
        << "\tui:binary <" << s.binary << "> ;\n"
        << "\trdfs:seeAlso <" << p.fileStem << "-ui.ttl> .\n\n";
    // The one program of the other formats, "Default", as a preset of the knobs' defaults.
    out << "<" << p.uri << ":preset1>\n"
        << "\ta pset:Preset ;\n"
        << "\tlv2:appliesTo <" << p.uri << "> ;\n"
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

std::string manifest (const Settings& s, const std::vector<Plugin>& plugins)
{
    std::string out = prefixes;
    for (size_t i = 0; i < plugins.size(); ++i)
        out += (i == 0 ? "" : "\n") + manifestEntries (s, plugins[i]);
    return out;
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

std::string otherPorts (const lv2Ports::Layout& ports)
{
    using namespace lv2Ports;
    std::ostringstream enabledPort, latencyPort, gainReductionPort;
    enabledPort << "\t\ta lv2:ControlPort , lv2:InputPort ;\n"
                << "\t\tlv2:index " << ports.enabled() << " ;\n"
                << "\t\tlv2:symbol \"enabled\" ;\n"
                << "\t\tlv2:name \"Enabled\" ;\n"
                << "\t\tlv2:designation lv2:enabled ;\n"
                << "\t\tlv2:portProperty lv2:toggled ;\n"
                << "\t\tlv2:default 1 ;\n\t\tlv2:minimum 0 ;\n\t\tlv2:maximum 1\n";
    latencyPort << "\t\ta lv2:ControlPort , lv2:OutputPort ;\n"
                << "\t\tlv2:index " << ports.latency() << " ;\n"
                << "\t\tlv2:symbol \"latency\" ;\n"
                << "\t\tlv2:name \"Latency\" ;\n"
                << "\t\tlv2:designation lv2:latency ;\n"
                << "\t\tlv2:portProperty lv2:reportsLatency , lv2:integer , pprop:notOnGUI ;\n"
                << "\t\tlv2:minimum 0 ;\n\t\tlv2:maximum " << maxLatencySamples << " ;\n"
                << "\t\tunits:unit units:frame\n";
    gainReductionPort << "\t\ta lv2:ControlPort , lv2:OutputPort ;\n"
                      << "\t\tlv2:index " << ports.gainReduction() << " ;\n"
                      << "\t\tlv2:symbol \"gain_reduction\" ;\n"
                      << "\t\tlv2:name \"Gain Reduction\" ;\n"
                      << "\t\tlv2:minimum 0.0 ;\n\t\tlv2:maximum " << decimal (maxGainReductionDb)
                      << " ;\n"
                      << "\t\tunits:unit units:db\n";
    return enabledPort.str() + "\t] , [\n" + latencyPort.str() + "\t] , [\n"
           + gainReductionPort.str();
}

std::string description (const Plugin& p)
{
    if (p.product->maxOrder == 1)
        return "Look-ahead peak limiter for four-channel first-order ambisonic audio (ambiX or "
               "FuMa): one common gain on all four channels.";
    const auto channels = std::to_string (p.numChannels());
    return "Look-ahead peak limiter for " + lv2Plugins::ordinal (p.order)
           + "-order ambisonic audio (" + channels
           + " channels, ACN order): one common gain on all " + channels + " channels.";
}

std::string plugin (const Settings& s, const Plugin& p)
{
    using namespace lv2Ports;
    const auto ports = p.ports();
    std::ostringstream out;
    out << prefixes;
    out << "<" << p.uri << ":input>\n\ta pg:InputGroup ;\n\tlv2:symbol \"input\" ;\n"
        << "\tlv2:name \"Input\" .\n\n"
        << "<" << p.uri << ":output>\n\ta pg:OutputGroup ;\n\tlv2:symbol \"output\" ;\n"
        << "\tlv2:name \"Output\" ;\n\tpg:source <" << p.uri << ":input> .\n\n";

    out << "<" << p.uri << ">\n"
        << "\ta lv2:Plugin , lv2:LimiterPlugin , doap:Project ;\n"
        << "\tdoap:name \"" << p.name << "\" ;\n"
        << "\trdfs:comment \"" << description (p) << "\" ;\n"
        << "\tdoap:license <" << s.license << "> ;\n"
        << "\tdoap:maintainer [\n\t\ta foaf:Organization ;\n\t\tfoaf:name \"Tarnwick\" ;\n"
        << "\t\tfoaf:homepage <https://tarnwick.example/>\n\t] ;\n"
        << "\tdoap:release [\n\t\ta doap:Version ;\n\t\tdoap:revision \"" << s.version
        << "\"\n\t] ;\n"
        << "\tlv2:minorVersion " << s.minor << " ;\n"
        << "\tlv2:microVersion " << s.micro << " ;\n"
        << "\tlv2:optionalFeature lv2:hardRTCapable , urid:map ;\n"
        << "\tlv2:extensionData state:interface ;\n"
        << "\tui:ui <" << p.uiUri() << "> ;\n"
        << "\tpg:mainInput <" << p.uri << ":input> ;\n"
        << "\tpg:mainOutput <" << p.uri << ":output> ;\n";

    std::string portText;
    const auto add = [&portText] (const std::string& port)
    { portText += (portText.empty() ? "\tlv2:port [\n" : "\t] , [\n") + port; };
    for (std::uint32_t ch = 0; ch < ports.numChannels; ++ch)
        add (audioPort (p.uri, ports.audioIn (ch), true, static_cast<int> (ch) + 1));
    for (std::uint32_t ch = 0; ch < ports.numChannels; ++ch)
        add (audioPort (p.uri, ports.audioOut (ch), false, static_cast<int> (ch) + 1));
    for (std::uint32_t k = 0; k < static_cast<std::uint32_t> (numKnobs); ++k)
        add (knobPort (ports.firstKnob() + k, knobs[k]));
    add (otherPorts (ports));
    out << portText << "\t] .\n";
    return out.str();
}

std::string window (const Plugin& p)
{
    std::ostringstream out;
    out << "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n" << prefixes;
    out << "<" << p.uiUri() << ">\n"
        << "\tlv2:requiredFeature ui:idleInterface , ui:parent ,\n"
        << "\t\t<http://lv2plug.in/ns/ext/instance-access> ;\n"
        << "\tlv2:optionalFeature ui:noUserResize , ui:resize , ui:touch , opts:options ,\n"
        << "\t\turid:map ;\n"
        << "\topts:supportedOption ui:scaleFactor ;\n"
        << "\tlv2:extensionData ui:idleInterface , opts:interface";
    for (const auto& knob : lv2Ports::knobs)
        out << " ;\n\tui:portNotification [\n\t\tui:plugin <" << p.uri << "> ;\n"
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
    const char* usage =
        "usage: orvalis-lv2-ttl BUNDLE_DIR orvalis|orvalis-hoa URI BINARY VERSION LICENSE_URI\n";
    if (argc != 7)
    {
        std::cerr << usage;
        return 2;
    }
    const std::string dir = argv[1], productName = argv[2];
    if (productName != "orvalis" && productName != "orvalis-hoa")
    {
        std::cerr << usage;
        return 2;
    }
    const auto plugins =
        lv2Plugins::of (productName == "orvalis" ? product::orvalis : product::orvalisHoa, argv[3]);
    Settings s { argv[4], argv[5], argv[6] };
    int major = 0;
    if (std::sscanf (s.version.c_str(), "%d.%d.%d", &major, &s.minor, &s.micro) != 3)
    {
        std::cerr << "orvalis-lv2-ttl: version " << s.version << " is not MAJOR.MINOR.MICRO\n";
        return 2;
    }

    bool ok = writeFile (dir + "/manifest.ttl", manifest (s, plugins));
    for (const auto& p : plugins)
        ok = ok && writeFile (dir + "/" + p.fileStem + ".ttl", plugin (s, p))
             && writeFile (dir + "/" + p.fileStem + "-ui.ttl", window (p));
    return ok ? 0 : 1;
}
