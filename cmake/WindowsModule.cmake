# Windows settings of a plug-in product: its VST 2.4 module (<Product>.dll) and VST3 bundle
# (<Product>.vst3/Contents/x86_64-win/<Product>.vst3), cross-built with mingw-w64 by
# scripts/windows-build.sh. plugin/CMakeLists.txt includes this file and calls
# orvalis_windows_plugin (Orvalis) after juce_add_plugin; a second product calls it for its own
# shared-code target.

# Debian's JUCE leaves out its bundled image, compression and audio-codec libraries; the Windows
# build links static copies: zlib from libz-mingw-w64-dev; libpng, libjpeg-turbo, libogg,
# libvorbis, libFLAC and libebur128 built from Debian's sources by the script into
# ORVALIS_WINDOWS_DEPS.
set(ORVALIS_WINDOWS_DEPS "" CACHE PATH "Folder with the static Windows libraries scripts/windows-build.sh builds")
find_path(ORVALIS_WINDOWS_PNG_INCLUDE png.h PATHS "${ORVALIS_WINDOWS_DEPS}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(ORVALIS_WINDOWS_JPEG_INCLUDE jpegint.h PATHS "${ORVALIS_WINDOWS_DEPS}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(ORVALIS_WINDOWS_FLAC_INCLUDE FLAC/all.h PATHS "${ORVALIS_WINDOWS_DEPS}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(ORVALIS_WINDOWS_PNG_LIBRARY NAMES libpng16.a libpng.a PATHS "${ORVALIS_WINDOWS_DEPS}/lib"
             NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(ORVALIS_WINDOWS_JPEG_LIBRARY NAMES libjpeg.a PATHS "${ORVALIS_WINDOWS_DEPS}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(ORVALIS_WINDOWS_FLAC_LIBRARY NAMES libFLAC.a PATHS "${ORVALIS_WINDOWS_DEPS}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(ORVALIS_WINDOWS_ZLIB_LIBRARY NAMES libz.a)
foreach (found PNG_INCLUDE JPEG_INCLUDE FLAC_INCLUDE PNG_LIBRARY JPEG_LIBRARY FLAC_LIBRARY ZLIB_LIBRARY)
    if (NOT ORVALIS_WINDOWS_${found})
        message(FATAL_ERROR "Windows build: ORVALIS_WINDOWS_${found} not found. "
                            "Build with scripts/windows-build.sh, or set ORVALIS_WINDOWS_DEPS.")
    endif()
endforeach()

# Every product's format targets, for scripts/windows-build.sh: one line per target in
# <build>/windows-products/<target>.txt, "<kind> <target> <file or bundle folder>".
function(_orvalis_windows_product_line target kind artefact)
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/windows-products/${target}.txt"
         CONTENT "${kind} ${target} ${artefact}\n")
endfunction()

function(orvalis_windows_plugin shared_target)
    target_include_directories(${shared_target} PRIVATE
        "${ORVALIS_WINDOWS_PNG_INCLUDE}" "${ORVALIS_WINDOWS_JPEG_INCLUDE}")
    target_link_libraries(${shared_target} PRIVATE
        "${ORVALIS_WINDOWS_PNG_LIBRARY}" "${ORVALIS_WINDOWS_JPEG_LIBRARY}" "${ORVALIS_WINDOWS_ZLIB_LIBRARY}")
    # FLAC, Ogg Vorbis and libebur128 are linked by name (FLAC vorbisenc vorbisfile vorbis ogg, as
    # on Linux, and ebur128 by orvalis-render): the static copies are found in the folder. libFLAC's
    # header declares its functions as DLL imports unless told that the library is static.
    target_include_directories(${shared_target} PUBLIC "${ORVALIS_WINDOWS_FLAC_INCLUDE}")
    target_link_directories(${shared_target} PUBLIC "${ORVALIS_WINDOWS_DEPS}/lib")
    target_compile_definitions(${shared_target} PUBLIC FLAC__NO_DLL)

    foreach (format VST VST3)
        set(target ${shared_target}_${format})
        if (NOT TARGET ${target})
            continue()
        endif()
        # The static runtime libraries carry debugging sections; they would double the size.
        target_link_options(${target} PRIVATE -s)
        # The version resource (company, description, file and product versions) from JUCE's
        # own generator, fed by juce_add_plugin's names and version; JUCE adds it to
        # applications only.
        _juce_add_resources_rc(${shared_target} ${target})
    endforeach()
    if (TARGET ${shared_target}_VST)
        # Hosts look for <Product>.dll; CMake would call a MinGW module lib<Product>.dll.
        set_target_properties(${shared_target}_VST PROPERTIES PREFIX "")
        _orvalis_windows_product_line(${shared_target}_VST vst2 "$<TARGET_FILE:${shared_target}_VST>")
    endif()
    if (TARGET ${shared_target}_VST3)
        _orvalis_windows_product_line(${shared_target}_VST3 vst3 "$<TARGET_FILE_DIR:${shared_target}_VST3>/../..")
    endif()
endfunction()
