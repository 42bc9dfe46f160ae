# What the plug-in products (Orvalis, Orvalis HOA) set up alike on their juce_add_plugin targets.
#
# JUCE puts a product's identity (the JucePlugin_* settings and JUCE_STANDALONE_APPLICATION) PUBLIC
# on its shared-code target, where every source linking it sees them. Only JUCE's format wrappers
# read them (and, inside the shared code, the utilities and the accessibility and JACK names), so
# orvalis_keep_identity_private takes them off the interface and gives them to the product's own
# format targets. A second product can then link Orvalis's shared code, which compiles the JUCE
# modules, instead of compiling them again, and its format targets see only their own identity.
# The shared code itself keeps them (target_compile_definitions PUBLIC put them into both lists).

function(orvalis_keep_identity_private shared_target)
    get_target_property(definitions ${shared_target} INTERFACE_COMPILE_DEFINITIONS)
    set(identity)
    set(rest)
    foreach (definition IN LISTS definitions)
        if (definition MATCHES "^(JucePlugin_|JUCE_STANDALONE_APPLICATION=)")
            list(APPEND identity "${definition}")
        else()
            list(APPEND rest "${definition}")
        endif()
    endforeach()
    # JUCE also re-exports the shared code's own definitions (for its JUCE_MODULE_AVAILABLE_*
    # flags, which the wrappers need), all but JucePlugin_Build_* and JUCE_SHARED_CODE; the identity
    # among them stays behind too.
    set(juce_filter "EXCLUDE,JucePlugin_Build_|JUCE_SHARED_CODE>")
    string(FIND "${rest}" "${juce_filter}" at)
    if (at EQUAL -1)
        message(FATAL_ERROR "JUCE's re-export of ${shared_target}'s definitions was not found: "
                            "check orvalis_keep_identity_private against this JUCE version")
    endif()
    string(REPLACE "${juce_filter}"
                   "EXCLUDE,^JucePlugin_|^JUCE_STANDALONE_APPLICATION=|JUCE_SHARED_CODE>" rest "${rest}")
    set_property(TARGET ${shared_target} PROPERTY INTERFACE_COMPILE_DEFINITIONS "${rest}")
    set_property(TARGET ${shared_target} PROPERTY ORVALIS_IDENTITY_DEFINITIONS "${identity}")
    foreach (format VST VST3 Standalone AAX)
        if (TARGET ${shared_target}_${format})
            target_compile_definitions(${shared_target}_${format} PRIVATE ${identity})
        endif()
    endforeach()
endfunction()

# The format targets' settings both products share.
function(orvalis_configure_formats shared_target)
    # The format targets compile only JUCE's wrapper sources: not ours, and they trip the warnings.
    foreach (format VST VST3 Standalone AAX)
        if (TARGET ${shared_target}_${format})
            target_compile_options(${shared_target}_${format} PRIVATE -w)
        endif()
    endforeach()

    # VST 2.4 hosts on Linux scan for <name>.so; CMake would call the module lib<name>.so.
    # VST 2.4 hosts see version 1.0.0 as the decimal 100 (major x 100 + minor x 10 + build), both
    # in AEffect::version and in the vendor version. JUCE 7 would hand them 0x10000 itself; it takes
    # the first from JucePlugin_VSTChunkStructureVersion and computes the second from the version
    # code, so the VST wrapper alone gets the code whose decimal encoding is 100 (0x100 = 0.1.0 ->
    # 100). The options come after the definitions on the command line, so they win.
    if (TARGET ${shared_target}_VST)
        set_target_properties(${shared_target}_VST PROPERTIES PREFIX "")
        target_compile_options(${shared_target}_VST PRIVATE
            -UJucePlugin_VersionCode -DJucePlugin_VersionCode=0x100
            -DJucePlugin_VSTChunkStructureVersion=100)
    endif()

    # The plug-ins ignore MIDI; without this the VST3 build would show hosts 2080 MIDI-controller
    # parameters (16 channels x 130) beside the four knobs.
    if (TARGET ${shared_target}_VST3)
        target_compile_definitions(${shared_target}_VST3 PRIVATE JUCE_VST3_EMULATE_MIDI_CC_WITH_PARAMETERS=0)
    endif()
endfunction()
