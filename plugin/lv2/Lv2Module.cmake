# The LV2 plug-ins: modules of our own on the LV2 C headers (Debian's lv2-dev) around the shared
# code's processor and window, in the bundle JUCE's formats sit beside:
#   <Product>_artefacts/<config>/LV2/<Product>.lv2/{<Product>.so, manifest.ttl, <plug-in>.ttl, ...}
# The adapter is one library, compiled once; each product's module adds only its entry points
# (Lv2Entry.cpp, built for that product). The description is written after every link by
# orvalis-lv2-ttl from the tables the module itself uses (Lv2Plugins.h, Lv2Ports.h).

find_package(PkgConfig REQUIRED)
pkg_check_modules(ORVALIS_LV2_HEADERS REQUIRED lv2)

# The licence the description names. The module links Debian's JUCE, which it uses under the GPL
# v3; a build under a commercial JUCE licence gives its own.
set(ORVALIS_LV2_LICENSE "https://spdx.org/licenses/GPL-3.0-or-later" CACHE STRING
    "Licence URI written into the LV2 description")

add_library(orvalis_lv2_core STATIC
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2Descriptors.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2Instance.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2MessageLoop.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2UiInstance.cpp")
target_include_directories(orvalis_lv2_core PUBLIC
    $<TARGET_PROPERTY:Orvalis,INCLUDE_DIRECTORIES> ${ORVALIS_LV2_HEADERS_INCLUDE_DIRS})
target_compile_options(orvalis_lv2_core PRIVATE -Werror)
target_link_libraries(orvalis_lv2_core PUBLIC Orvalis)
set_target_properties(orvalis_lv2_core PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN TRUE)

add_executable(orvalis-lv2-ttl "${CMAKE_CURRENT_SOURCE_DIR}/lv2/Lv2TurtleWriter.cpp")
target_include_directories(orvalis-lv2-ttl PRIVATE "${PROJECT_SOURCE_DIR}")
target_compile_options(orvalis-lv2-ttl PRIVATE -Wall -Wextra -Werror)

# orvalis_add_lv2_module(<target> <product> <tool name> <base URI> <file name>): the module
# <file name>.so in <file name>.lv2 beside the product's other formats, with <product>'s plug-ins
# (product::<product> in processor/Product.h) below <base URI>.
function(orvalis_add_lv2_module target product tool_name base_uri file_name)
    add_library(${target} MODULE "${PROJECT_SOURCE_DIR}/plugin/lv2/Lv2Entry.cpp")
    target_compile_definitions(${target} PRIVATE
        ORVALIS_LV2_PRODUCT=product::${product}
        ORVALIS_LV2_URI="${base_uri}")
    target_compile_options(${target} PRIVATE -Werror)
    target_link_libraries(${target} PRIVATE orvalis_lv2_core)
    # Only lv2_descriptor and lv2ui_descriptor leave the module (the shared code is built hidden
    # too), so the JUCE inside never meets a host's own JUCE.
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${file_name}
        PREFIX ""
        LIBRARY_OUTPUT_DIRECTORY
            "${CMAKE_CURRENT_BINARY_DIR}/${file_name}_artefacts/$<CONFIG>/LV2/${file_name}.lv2"
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN TRUE)
    target_link_options(${target} PRIVATE LINKER:--exclude-libs,ALL)
    # A library the module needs but does not link shows at build time, not in a host. (Sanitizer
    # runtimes come from the executable, so their builds leave this out.)
    if (NOT ORVALIS_SANITIZE)
        target_link_options(${target} PRIVATE LINKER:--no-undefined)
    endif()
    add_dependencies(${target} orvalis-lv2-ttl)

    add_custom_command(TARGET ${target} POST_BUILD
        # What the build on JUCE's LV2 wrapper left in an older build folder would describe the
        # plug-in a second time.
        COMMAND "${CMAKE_COMMAND}" -E rm -f
                "$<TARGET_FILE_DIR:${target}>/dsp.ttl" "$<TARGET_FILE_DIR:${target}>/ui.ttl"
                "$<TARGET_FILE_DIR:${target}>/lib${file_name}.so"
        COMMAND orvalis-lv2-ttl "$<TARGET_FILE_DIR:${target}>" ${tool_name} "${base_uri}"
                "$<TARGET_FILE_NAME:${target}>" "${PROJECT_VERSION}" "${ORVALIS_LV2_LICENSE}"
        COMMENT "Writing the LV2 bundle's description"
        VERBATIM)
endfunction()

orvalis_add_lv2_module(Orvalis_LV2 orvalis orvalis "${ORVALIS_LV2_URI}" Orvalis)
