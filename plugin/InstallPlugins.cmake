# Copies the built plug-ins into the user's plug-in folders:
#   Orvalis.so -> ~/.vst, Orvalis.vst3 -> ~/.vst3, Orvalis.lv2 -> ~/.lv2
# Run through the build:  cmake --build build --target install-plugins
# The folders can be changed with -DVST_DIR=..., -DVST3_DIR=..., -DLV2_DIR=...

if (NOT DEFINED ENV{HOME} OR "$ENV{HOME}" STREQUAL "")
    message(FATAL_ERROR "HOME is not set; give VST_DIR, VST3_DIR and LV2_DIR")
endif()

foreach (kind VST VST3 LV2)
    string(TOLOWER "${kind}" lower)
    if (NOT ${kind}_DIR)
        set(${kind}_DIR "$ENV{HOME}/.${lower}")
    endif()
endforeach()

function(install_item source dest_dir)
    get_filename_component(source "${source}" ABSOLUTE)
    if (NOT EXISTS "${source}")
        message(FATAL_ERROR "${source} has not been built")
    endif()
    get_filename_component(name "${source}" NAME)
    file(MAKE_DIRECTORY "${dest_dir}")
    if (IS_DIRECTORY "${source}")
        # A stale bundle could keep files the new build no longer has.
        file(REMOVE_RECURSE "${dest_dir}/${name}")
        file(COPY "${source}" DESTINATION "${dest_dir}")
    else()
        file(COPY "${source}" DESTINATION "${dest_dir}")
    endif()
    message(STATUS "Installed ${dest_dir}/${name}")
endfunction()

if (VST_MODULE)
    install_item("${VST_MODULE}" "${VST_DIR}")
endif()
install_item("${VST3_BUNDLE}" "${VST3_DIR}")
install_item("${LV2_BUNDLE}" "${LV2_DIR}")
