# User-mode modules of the simulated Windows.
#
# winsim_add_dll(<target> [ENTRY <name>] [OUTPUT_NAME <name>] EXPORTS <name>... SOURCES <file>...)
#
# Builds <target> as a shared object that LoadLibraryA can load (dlopen with RTLD_LOCAL),
# linked with a version script that plays the part of the module's .def file: only the EXPORTS
# (and the record of the entry point) are visible, whatever visibility the sources give their
# symbols, so that modules exporting the same names live side by side. The EXPORTS must have
# C linkage (extern "C"). Inline functions are compiled hidden. ENTRY names the module's entry point (DllMain or LibMain, declared
# extern "C" BOOL WINAPI name(HINSTANCE, DWORD, LPVOID)); the loader calls it with
# DLL_PROCESS_ATTACH and DLL_PROCESS_DETACH. The Windows API is not linked in: the host
# process provides it (winsim_user_host).
function(winsim_add_dll target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "ENTRY;OUTPUT_NAME" "EXPORTS;SOURCES")
    if(NOT ARG_SOURCES)
        message(FATAL_ERROR "winsim_add_dll(${target}): no SOURCES")
    endif()
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_winsim)
    set(globals ${ARG_EXPORTS})
    set(sources ${ARG_SOURCES})
    if(ARG_ENTRY)
        set(entry_source ${generated}/entry.cpp)
        file(CONFIGURE OUTPUT ${entry_source} CONTENT
"// Generated: the record of ${target}'s entry point for the module loader.
#include <windows.h>

extern \"C\" BOOL WINAPI @ARG_ENTRY@(HINSTANCE, DWORD, LPVOID);
extern \"C\" __attribute__((visibility(\"default\"))) const PDLL_ENTRY winsim_dll_entry = @ARG_ENTRY@;
" @ONLY)
        list(APPEND sources ${entry_source})
        list(APPEND globals winsim_dll_entry)
    endif()
    set(script_text "{\n  global:\n")
    foreach(name IN LISTS globals)
        string(APPEND script_text "    ${name};\n")
    endforeach()
    string(APPEND script_text "  local:\n    *;\n};\n")
    set(script ${generated}/exports.map)
    file(CONFIGURE OUTPUT ${script} CONTENT "${script_text}")

    add_library(${target} MODULE ${sources})
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        VISIBILITY_INLINES_HIDDEN ON
        LINK_DEPENDS ${script})
    if(ARG_OUTPUT_NAME)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
    endif()
    target_include_directories(${target} PRIVATE ${WINSIM_INCLUDE_DIR})
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    target_link_options(${target} PRIVATE -Wl,--version-script=${script})
endfunction()

# winsim_user_host(<executable>): the executable provides the Windows API to the modules it
# loads: the whole of winsim_user is linked in and its symbols are exported (-rdynamic).
function(winsim_user_host target)
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,winsim_user>")
    set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()
