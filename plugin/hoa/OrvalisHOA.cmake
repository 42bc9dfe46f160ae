# Orvalis HOA: the same processor and window for ambisonic orders 1 to 7 (4 to 64 channels), under
# an identity of its own, so that it never replaces Orvalis in a session: its own name, VST 2.4
# unique ID (TkOh), VST3 class IDs (JUCE derives them from the manufacturer and plug-in codes),
# LV2 URIs and file names (OrvalisHOA.so, OrvalisHOA.vst3, OrvalisHOA.lv2).
#
# Its shared-code target compiles no JUCE module: it links Orvalis's shared code, which holds
# them, and compiles only what JUCE gives every shared-code target (the plug-in utilities source)
# and the product's createPluginFilter. Orvalis's identity stays on Orvalis's own format targets
# (orvalis_keep_identity_private), so these format targets see only this one. Included from
# plugin/CMakeLists.txt after Orvalis.

set(ORVALIS_HOA_FORMATS VST3)
if (ORVALIS_VST2_SDK_PATH)
    list(APPEND ORVALIS_HOA_FORMATS VST)
endif()

juce_add_plugin(OrvalisHOA
    PRODUCT_NAME "OrvalisHOA"
    PLUGIN_NAME "Orvalis HOA"
    DESCRIPTION "Orvalis HOA"
    COMPANY_NAME "Tarnwick"
    BUNDLE_ID "com.Tarnwick.OrvalisHOA"
    PLUGIN_MANUFACTURER_CODE Tarn
    PLUGIN_CODE TkOh
    VERSION 1.0.0
    IS_SYNTH FALSE
    NEEDS_MIDI_INPUT TRUE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    VST2_CATEGORY kPlugCategSpacializer
    AAX_IDENTIFIER com.Tarnwick.OrvalisHOA
    AAX_CATEGORY ePlugInCategory_SoundField
    COPY_PLUGIN_AFTER_BUILD FALSE
    FORMATS ${ORVALIS_HOA_FORMATS})

# Windows' version resource (ProductName, FileDescription) names the product as hosts show it;
# JUCE writes the resource from the product's name, which here is also its files' name.
if (WIN32)
    get_target_property(orvalis_hoa_info OrvalisHOA JUCE_INFO_FILE)
    file(READ "${orvalis_hoa_info}" orvalis_hoa_text)
    string(ASCII 30 record_end)
    string(ASCII 31 unit)
    string(REPLACE "PROJECT_NAME${unit}OrvalisHOA${record_end}" "PROJECT_NAME${unit}Orvalis HOA${record_end}"
           orvalis_hoa_text "${orvalis_hoa_text}")
    file(WRITE "${orvalis_hoa_info}" "${orvalis_hoa_text}")
endif()

target_sources(OrvalisHOA PRIVATE "${CMAKE_CURRENT_LIST_DIR}/HoaFactory.cpp")
set_source_files_properties("${CMAKE_CURRENT_LIST_DIR}/HoaFactory.cpp" PROPERTIES COMPILE_OPTIONS
    "$<TARGET_PROPERTY:juce_recommended_warning_flags,INTERFACE_COMPILE_OPTIONS>;-Werror")
# The channel count follows the host's buses: no fixed configuration, the wrappers negotiate.
target_compile_definitions(OrvalisHOA PUBLIC
    JucePlugin_MaxNumInputChannels=64
    JucePlugin_MaxNumOutputChannels=64)
# Orvalis's include folders (JUCE's modules among them); JUCE's format targets copy these too.
target_include_directories(OrvalisHOA PRIVATE $<TARGET_PROPERTY:Orvalis,INCLUDE_DIRECTORIES>)
target_link_libraries(OrvalisHOA PUBLIC Orvalis)
orvalis_keep_identity_private(OrvalisHOA)
orvalis_configure_formats(OrvalisHOA)

# One LV2 plug-in per order, <base>/order-1 to <base>/order-7 (Lv2Plugins.h).
set(ORVALIS_HOA_LV2_URI "https://tarnwick.example/plugins/orvalis-hoa")
set(ORVALIS_HOA_LV2_URI "${ORVALIS_HOA_LV2_URI}" PARENT_SCOPE)
if (NOT WIN32)
    orvalis_add_lv2_module(OrvalisHOA_LV2 orvalisHoa orvalis-hoa "${ORVALIS_HOA_LV2_URI}" OrvalisHOA)
endif()
