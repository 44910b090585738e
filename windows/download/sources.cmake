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
# folder (often Downloads) before wWinMain can restrict the search. Delay-loaded, it is bound at the
# first call instead, after SetDefaultDllDirectories has limited loading to the system folder.
quillmere_delay_import(quillmere_winhttp_delay ${CMAKE_CURRENT_LIST_DIR}/winhttp.def)

set(QUILLMERE_DOWNLOAD_LIBRARIES quillmere_winhttp_delay kernel32)
