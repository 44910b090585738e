# Sources of the download engine and the libraries it binds.
set(QUILLMERE_DOWNLOAD_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/download_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_worker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/url_target.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_exchange.cpp
    ${CMAKE_CURRENT_LIST_DIR}/content_length.cpp
    ${CMAKE_CURRENT_LIST_DIR}/staging.cpp
    ${CMAKE_CURRENT_LIST_DIR}/system_error.cpp
    ${CMAKE_CURRENT_LIST_DIR}/outcome_precedence.cpp
    ${CMAKE_CURRENT_LIST_DIR}/platform_seam.cpp
)

# winhttp.dll is not a KnownDLL, so a static import would be looked for in the executable's own
# folder before wWinMain can restrict the search. A delay-load import library binds it at the
# first call instead, after SetDefaultDllDirectories has limited loading to the system folder.
set(QUILLMERE_WINHTTP_DELAYLIB ${CMAKE_BINARY_DIR}/download/libwinhttp_delay.a)
add_custom_command(
    OUTPUT ${QUILLMERE_WINHTTP_DELAYLIB}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/download
    COMMAND ${MINGW_DLLTOOL} --input-def ${CMAKE_CURRENT_LIST_DIR}/winhttp.def
            --output-delaylib ${QUILLMERE_WINHTTP_DELAYLIB}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/winhttp.def
    COMMENT "Delay-load import library for winhttp.dll"
    VERBATIM
)
add_custom_target(quillmere_winhttp_delaylib DEPENDS ${QUILLMERE_WINHTTP_DELAYLIB})
add_library(quillmere_winhttp_delay INTERFACE)
add_dependencies(quillmere_winhttp_delay quillmere_winhttp_delaylib)
target_link_libraries(quillmere_winhttp_delay INTERFACE ${QUILLMERE_WINHTTP_DELAYLIB})

set(QUILLMERE_DOWNLOAD_LIBRARIES quillmere_winhttp_delay kernel32)
