# orvalis_vst2_module: the raw VST 2.4 hosts' module loader and effect instance (Vst2Module.cpp),
# built once for the host tests (tests/hosts) and once for the Windows comparison host
# (tests/windows, a project of its own), on the VST 2.4 headers in the given folder.
function(orvalis_add_vst2_module_library vst2_headers)
    add_library(orvalis_vst2_module STATIC
        "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Vst2Module.cpp"
        "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Vst2Module.h")
    get_filename_component(root "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../.." ABSOLUTE)
    target_include_directories(orvalis_vst2_module PUBLIC "${vst2_headers}" "${root}")
    target_compile_options(orvalis_vst2_module PRIVATE -Wall -Wextra -Werror)
    if (NOT WIN32)
        target_link_libraries(orvalis_vst2_module PUBLIC ${CMAKE_DL_LIBS})
    endif()
endfunction()
