# Windows settings of the plug-in: the VST 2.4 module Orvalis.dll, cross-built with mingw-w64 by
# scripts/windows-build.sh. Included from plugin/CMakeLists.txt after juce_add_plugin.

# Debian's JUCE leaves out its bundled image and compression libraries; the Windows build links
# static copies: zlib from libz-mingw-w64-dev, libpng and libjpeg-turbo built by the script.
set(ORVALIS_WINDOWS_DEPS "" CACHE PATH "Folder with static Windows builds of libpng and libjpeg-turbo")
find_path(ORVALIS_WINDOWS_PNG_INCLUDE png.h PATHS "${ORVALIS_WINDOWS_DEPS}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(ORVALIS_WINDOWS_JPEG_INCLUDE jpegint.h PATHS "${ORVALIS_WINDOWS_DEPS}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(ORVALIS_WINDOWS_PNG_LIBRARY NAMES libpng16.a libpng.a PATHS "${ORVALIS_WINDOWS_DEPS}/lib"
             NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(ORVALIS_WINDOWS_JPEG_LIBRARY NAMES libjpeg.a PATHS "${ORVALIS_WINDOWS_DEPS}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(ORVALIS_WINDOWS_ZLIB_LIBRARY NAMES libz.a)
foreach (found PNG_INCLUDE JPEG_INCLUDE PNG_LIBRARY JPEG_LIBRARY ZLIB_LIBRARY)
    if (NOT ORVALIS_WINDOWS_${found})
        message(FATAL_ERROR "Windows build: ORVALIS_WINDOWS_${found} not found. "
                            "Build with scripts/windows-build.sh, or set ORVALIS_WINDOWS_DEPS.")
    endif()
endforeach()

target_include_directories(Orvalis PRIVATE "${ORVALIS_WINDOWS_PNG_INCLUDE}" "${ORVALIS_WINDOWS_JPEG_INCLUDE}")
target_link_libraries(Orvalis PRIVATE
    "${ORVALIS_WINDOWS_PNG_LIBRARY}" "${ORVALIS_WINDOWS_JPEG_LIBRARY}" "${ORVALIS_WINDOWS_ZLIB_LIBRARY}")

# The plug-in reads no audio files: FLAC and Ogg Vorbis (system libraries on Linux, which JUCE's
# CMake does not link itself) are left out of the Windows module.
target_compile_definitions(Orvalis PUBLIC JUCE_USE_FLAC=0 JUCE_USE_OGGVORBIS=0)
foreach (property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(libraries Orvalis ${property})
    if (libraries)
        list(REMOVE_ITEM libraries FLAC vorbisenc vorbisfile vorbis ogg)
        set_target_properties(Orvalis PROPERTIES ${property} "${libraries}")
    endif()
endforeach()

if (TARGET Orvalis_VST)
    # Hosts look for Orvalis.dll; CMake would call a MinGW module libOrvalis.dll.
    set_target_properties(Orvalis_VST PROPERTIES PREFIX "")
    # The static runtime libraries carry debugging sections; they would double the module's size.
    target_link_options(Orvalis_VST PRIVATE -s)
    # The version resource (company, description, file and product versions) from JUCE's own
    # generator, fed by juce_add_plugin's names and version; JUCE adds it to applications only.
    _juce_add_resources_rc(Orvalis Orvalis_VST)
endif()
