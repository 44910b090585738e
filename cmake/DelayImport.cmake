# Delay-load import libraries: a DLL bound this way is left out of the executable's import table and
# loaded at the first call of one of its functions, after wWinMain has limited the library search to
# the system folder. Each .def file lists the DLL and the functions the program calls.
if(NOT MINGW_DLLTOOL)
    find_program(MINGW_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)
endif()

# quillmere_delay_import(<target> <def file>): an INTERFACE library that links the delay-load
# import library made from <def file>.
function(quillmere_delay_import target def_file)
    get_filename_component(stem ${def_file} NAME_WE)
    set(library ${CMAKE_BINARY_DIR}/delayimp/lib${stem}_delay.a)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayimp)
    add_custom_command(
        OUTPUT ${library}
        COMMAND ${MINGW_DLLTOOL} --input-def ${def_file} --output-delaylib lib${stem}_delay.a
        DEPENDS ${def_file}
        # dlltool names its symbols after the output path as given: a bare name keeps the build
        # folder out of the executable's symbols.
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delayimp
        COMMENT "Delay-load import library for ${stem}.dll"
        VERBATIM
    )
    add_custom_target(${target}_library DEPENDS ${library})
    add_library(${target} INTERFACE)
    add_dependencies(${target} ${target}_library)
    target_link_libraries(${target} INTERFACE ${library})
endfunction()
