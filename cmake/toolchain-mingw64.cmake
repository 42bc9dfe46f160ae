# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (package mingw-w64).
# The posix flavour of the compiler brings std::thread and friends; everything links statically, so
# the module needs no MinGW runtime DLL beside it.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVALIS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORVALIS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVALIS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVALIS_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot (zlib: libz-mingw-w64-dev), programs (juceaide)
# from the build machine. The libraries scripts/windows-build.sh builds are named by their folder.
set(CMAKE_FIND_ROOT_PATH /usr/${ORVALIS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's JUCE is a build-machine package; its CMake files are found outside the sysroot.
set(JUCE_DIR /usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 CACHE PATH "Debian's JUCE CMake package")

# Only Windows system DLLs at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
