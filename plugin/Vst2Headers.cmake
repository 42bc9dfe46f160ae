# Debian's fst-dev headers (a free, independently written VST 2.4 interface) leave some opcodes and
# constants unnamed: they get placeholder values above 100000. JUCE's wrapper uses several of them,
# so a module built on the headers as installed ignores a host's soft-bypass request (opcode 44)
# and never tells the host that its delay changed (audioMasterIOChanged, 13). The headers also
# declare VstSpeakerArrangement::speakers[] as a flexible array where hosts and JUCE expect 8
# entries, and print #warning lines in every file that includes them.
#
# orvalis_make_vst2_headers writes a copy under <out>/pluginterfaces/vst2.x with the numbers every
# VST 2.4 host uses on the wire, speakers[8], and no #warning lines. Each replacement must match,
# so a changed fst release stops the configure step instead of building a deaf module.

function(orvalis_make_vst2_headers fst_root out_dir)
    set(source "${fst_root}/pluginterfaces/vst2.x/fst.h")
    if (NOT EXISTS "${source}")
        message(FATAL_ERROR "fst header not found at ${source} (install fst-dev)")
    endif()
    file(READ "${source}" text)

    # kind|name|value
    set(replacements
        HOST_OPCODE|Idle|3 HOST_OPCODE|PinConnected|4 HOST_OPCODE|SetTime|9
        HOST_OPCODE|GetNumAutomatableParameters|11 HOST_OPCODE|GetParameterQuantization|12
        HOST_OPCODE|IOChanged|13 HOST_OPCODE|NeedIdle|14 HOST_OPCODE|GetInputLatency|18
        HOST_OPCODE|GetOutputLatency|19 HOST_OPCODE|GetPreviousPlug|20 HOST_OPCODE|GetNextPlug|21
        HOST_OPCODE|WillReplaceOrAccumulate|22 HOST_OPCODE|GetAutomationState|24
        HOST_OPCODE|OfflineStart|25 HOST_OPCODE|OfflineRead|26 HOST_OPCODE|OfflineWrite|27
        HOST_OPCODE|OfflineGetCurrentPass|28 HOST_OPCODE|OfflineGetCurrentMetaPass|29
        HOST_OPCODE|SetOutputSampleRate|30 HOST_OPCODE|GetOutputSpeakerArrangement|31
        HOST_OPCODE|VendorSpecific|35 HOST_OPCODE|SetIcon|36 HOST_OPCODE|GetLanguage|38
        HOST_OPCODE|OpenWindow|39 HOST_OPCODE|CloseWindow|40 HOST_OPCODE|GetDirectory|41
        HOST_OPCODE|UpdateDisplay|42 HOST_OPCODE|OpenFileSelector|45
        HOST_OPCODE|CloseFileSelector|46 HOST_OPCODE|EditFile|47 HOST_OPCODE|GetChunkFile|48
        HOST_OPCODE|GetInputSpeakerArrangement|49
        EFFECT_OPCODE|EditDraw|16 EFFECT_OPCODE|EditMouse|17 EFFECT_OPCODE|EditTop|20
        EFFECT_OPCODE|EditSleep|21 EFFECT_OPCODE|ConnectInput|31 EFFECT_OPCODE|ConnectOutput|32
        EFFECT_OPCODE|SetBypass|44 EFFECT_OPCODE|GetTailSize|52 EFFECT_OPCODE|Idle|53
        EFFECT_OPCODE|KeysRequired|57 EFFECT_OPCODE|BeginSetProgram|67
        EFFECT_OPCODE|EndSetProgram|68 EFFECT_OPCODE|GetNumMidiInputChannels|78
        EFFECT_OPCODE|GetNumMidiOutputChannels|79
        SPEAKER|ArrStereoSurround|2 SPEAKER|ArrStereoCenter|3 SPEAKER|ArrStereoSide|4
        SPEAKER|ArrStereoCLfe|5 SPEAKER|Arr30Cine|6 SPEAKER|Arr30Music|7 SPEAKER|Arr31Cine|8
        SPEAKER|Arr31Music|9 SPEAKER|Arr40Cine|10 SPEAKER|Arr40Music|11 SPEAKER|Arr41Cine|12
        SPEAKER|Arr41Music|13 SPEAKER|Arr50|14 SPEAKER|Arr51|15 SPEAKER|Arr60Cine|16
        SPEAKER|Arr60Music|17 SPEAKER|Arr61Cine|18 SPEAKER|Arr61Music|19 SPEAKER|Arr70Cine|20
        SPEAKER|Arr70Music|21 SPEAKER|Arr71Cine|22 SPEAKER|Arr71Music|23 SPEAKER|Arr80Cine|24
        SPEAKER|Arr80Music|25 SPEAKER|Arr81Cine|26 SPEAKER|Arr81Music|27
        SPEAKER|C|3 SPEAKER|Lfe|4 SPEAKER|Ls|5 SPEAKER|Rs|6 SPEAKER|Lc|7 SPEAKER|Rc|8 SPEAKER|S|9
        SPEAKER|Sl|10 SPEAKER|Sr|11 SPEAKER|Tm|12 SPEAKER|Tfl|13 SPEAKER|Tfc|14 SPEAKER|Tfr|15
        SPEAKER|Trl|16 SPEAKER|Trc|17 SPEAKER|Trr|18 SPEAKER|Lfe2|19
        FLAG|AutomationReading|6 FLAG|AutomationWriting|7
        FLAG|PinIsActive|0 FLAG|PinIsStereo|1 FLAG|PinUseSpeaker|2
        CONSTANT|Smpte24fps|0 CONSTANT|Smpte25fps|1 CONSTANT|Smpte2997fps|2 CONSTANT|Smpte30fps|3
        CONSTANT|Smpte2997dfps|4 CONSTANT|Smpte30dfps|5 CONSTANT|SmpteFilm16mm|6
        CONSTANT|SmpteFilm35mm|7 CONSTANT|Smpte239fps|10 CONSTANT|Smpte249fps|11
        CONSTANT|Smpte599fps|12 CONSTANT|Smpte60fps|13
        CONSTANT|ProcessLevelUser|1 CONSTANT|LangEnglish|1)

    foreach (entry IN LISTS replacements)
        string(REPLACE "|" ";" fields "${entry}")
        list(GET fields 0 kind)
        list(GET fields 1 name)
        list(GET fields 2 value)
        set(unknown "FST_${kind}_UNKNOWN(${name})")
        string(FIND "${text}" "${unknown}" at)
        if (at EQUAL -1)
            message(FATAL_ERROR "fst header: ${unknown} not found; check the fst-dev version")
        endif()
        string(REPLACE "${unknown}" "FST_${kind}(${name}, ${value})" text "${text}")
    endforeach()

    set(flexible "t_fstSpeakerProperties speakers[];")
    string(FIND "${text}" "${flexible}" at)
    if (at EQUAL -1)
        message(FATAL_ERROR "fst header: speaker arrangement declaration not found")
    endif()
    string(REPLACE "${flexible}" "t_fstSpeakerProperties speakers[8];" text "${text}")
    string(REGEX REPLACE "\n# *warning[^\n]*" "\n" text "${text}")

    set(dest "${out_dir}/pluginterfaces/vst2.x")
    file(WRITE "${dest}/fst.h.new" "${text}")
    file(COPY_FILE "${dest}/fst.h.new" "${dest}/fst.h" ONLY_IF_DIFFERENT)
    file(REMOVE "${dest}/fst.h.new")
    foreach (header aeffect.h aeffectx.h)
        file(COPY_FILE "${fst_root}/pluginterfaces/vst2.x/${header}" "${dest}/${header}"
             ONLY_IF_DIFFERENT)
    endforeach()
endfunction()
