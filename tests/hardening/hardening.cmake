# Hardening tests: the real quillmere.exe driven from outside like a user, against untrustworthy
# certificates, a library planted beside it, hostile servers and a long run of downloads in one
# process, checking what the user sees and what is left on disk. They run in the test bed with
# tests/ui's driver, plus qmprobe.exe, which reads the program's handles and memory from outside.
if(NOT COMMAND quillmere_bed_test OR NOT TARGET qmdriver)
    message(WARNING "tests/hardening needs the test bed and the UI driver; hardening tests not registered")
    return()
endif()

set(QM_HARD_DIR ${CMAKE_CURRENT_LIST_DIR})

add_executable(qmprobe ${QM_HARD_DIR}/qmprobe.cpp)
target_link_libraries(qmprobe PRIVATE psapi advapi32)
set_target_properties(qmprobe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/hardening)

# A winhttp.dll that exports every function the program binds from the real one (the list in
# download/winhttp.def), each failing, and leaves a marker file when it is loaded.
file(STRINGS ${CMAKE_SOURCE_DIR}/windows/download/winhttp.def winhttp_functions REGEX "^WinHttp[A-Za-z]+$")
list(TRANSFORM winhttp_functions APPEND "=PlantedFailure")
list(JOIN winhttp_functions "\n" winhttp_exports)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/planted/winhttp.def
     CONTENT "LIBRARY winhttp.dll\nEXPORTS\n${winhttp_exports}\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/windows/download/winhttp.def)
add_library(qmplanted SHARED ${QM_HARD_DIR}/planted_winhttp.cpp
                             ${CMAKE_CURRENT_BINARY_DIR}/planted/winhttp.def)
set_target_properties(qmplanted PROPERTIES PREFIX "" OUTPUT_NAME winhttp
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted)

# quillmere_hardening_test(NAME script TIMEOUT s): one Python unittest script.
function(quillmere_hardening_test name script timeout)
    quillmere_bed_test(NAME ${name}
        COMMAND env
            QM_APP=$<TARGET_FILE:quillmere>
            QM_DRIVER=$<TARGET_FILE:qmdriver>
            QM_PROBE=$<TARGET_FILE:qmprobe>
            QM_PLANTED_WINHTTP=$<TARGET_FILE:qmplanted>
            QM_UI_OUT=${CMAKE_CURRENT_BINARY_DIR}/hardening/out
            QM_UI_LANG=en_US.UTF-8
            PYTHONDONTWRITEBYTECODE=1
            /usr/bin/python3 ${QM_HARD_DIR}/${script}
        TIMEOUT ${timeout}
        LABELS hardening)
endfunction()

quillmere_hardening_test(hardening.certificates test_certificates.py 120)
quillmere_hardening_test(hardening.servers test_servers.py 180)
quillmere_hardening_test(hardening.long_run test_long_run.py 300)
