# The LV2 plug-in: a module of our own on the LV2 C headers (Debian's lv2-dev) around the shared
# code's processor and window, in the bundle JUCE's formats sit beside:
#   Orvalis_artefacts/<config>/LV2/Orvalis.lv2/{Orvalis.so, manifest.ttl, orvalis.ttl, orvalis-ui.ttl}
# The description is written after every link by orvalis-lv2-ttl from the module's own port table.

find_package(PkgConfig REQUIRED)
pkg_check_modules(ORVALIS_LV2_HEADERS REQUIRED lv2)

# The licence the description names. The module links Debian's JUCE, which it uses under the GPL
# v3; a build under a commercial JUCE licence gives its own.
set(ORVALIS_LV2_LICENSE "https://spdx.org/licenses/GPL-3.0-or-later" CACHE STRING
    "Licence URI written into the LV2 description")

set(orvalis_lv2_sources
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2Entry.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2Instance.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2MessageLoop.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2UiInstance.cpp")
add_library(Orvalis_LV2 MODULE ${orvalis_lv2_sources})
target_include_directories(Orvalis_LV2 PRIVATE
    $<TARGET_PROPERTY:Orvalis,INCLUDE_DIRECTORIES> ${ORVALIS_LV2_HEADERS_INCLUDE_DIRS})
target_compile_definitions(Orvalis_LV2 PRIVATE
    ORVALIS_LV2_URI="${ORVALIS_LV2_URI}"
    ORVALIS_LV2_UI_URI="${ORVALIS_LV2_URI}:UI")
target_compile_options(Orvalis_LV2 PRIVATE -Werror)
target_link_libraries(Orvalis_LV2 PRIVATE Orvalis)
# Only lv2_descriptor and lv2ui_descriptor leave the module (the shared code is built hidden too),
# so the JUCE inside never meets a host's own JUCE.
set_target_properties(Orvalis_LV2 PROPERTIES
    OUTPUT_NAME Orvalis
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/Orvalis_artefacts/$<CONFIG>/LV2/Orvalis.lv2"
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN TRUE)
target_link_options(Orvalis_LV2 PRIVATE LINKER:--exclude-libs,ALL)
# A library the module needs but does not link shows at build time, not in a host. (Sanitizer
# runtimes come from the executable, so their builds leave this out.)
if (NOT ORVALIS_SANITIZE)
    target_link_options(Orvalis_LV2 PRIVATE LINKER:--no-undefined)
endif()

add_executable(orvalis-lv2-ttl "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2TurtleWriter.cpp")
target_include_directories(orvalis-lv2-ttl PRIVATE "${PROJECT_SOURCE_DIR}")
target_compile_options(orvalis-lv2-ttl PRIVATE -Wall -Wextra -Werror)
add_dependencies(Orvalis_LV2 orvalis-lv2-ttl)

add_custom_command(TARGET Orvalis_LV2 POST_BUILD
    # What the build on JUCE's LV2 wrapper left in an older build folder would describe the
    # plug-in a second time.
    COMMAND "${CMAKE_COMMAND}" -E rm -f
            "$<TARGET_FILE_DIR:Orvalis_LV2>/dsp.ttl" "$<TARGET_FILE_DIR:Orvalis_LV2>/ui.ttl"
            "$<TARGET_FILE_DIR:Orvalis_LV2>/libOrvalis.so"
    COMMAND orvalis-lv2-ttl "$<TARGET_FILE_DIR:Orvalis_LV2>" "${ORVALIS_LV2_URI}"
            "$<TARGET_FILE_NAME:Orvalis_LV2>" "${PROJECT_VERSION}" "${ORVALIS_LV2_LICENSE}"
    COMMENT "Writing the LV2 bundle's description"
    VERBATIM)
