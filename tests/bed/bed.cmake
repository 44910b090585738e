# Test bed for tests that run the real programs under Wine: an Xvfb display,
# a Wine prefix that trusts a throwaway CA, the bed's HTTPS server on
# localhost and a real NTFS volume as drive N: (see setup.sh).
#
# Include it from tests/CMakeLists.txt with include(bed/bed.cmake).  It gives
#   trustca                 target: the prefix's CA installer and WinHTTP probe
#   QUILLMERE_BED_DIR       ${CMAKE_BINARY_DIR}/testbed
#   QUILLMERE_BED_RUN       in_bed.sh;${QUILLMERE_BED_DIR} - put it in front of
#                           any command that must run inside the bed
#   tests bed.setup / bed.cleanup   the "bed" fixture
#   quillmere_bed_test(NAME name COMMAND cmd [args...]
#                      [TIMEOUT seconds]          default 300
#                      [WORKING_DIRECTORY dir]
#                      [LABELS label...])
#       a test running ${QUILLMERE_BED_RUN} cmd args... that requires the bed
#       fixture and runs serially.  For a Windows program pass
#       COMMAND wine $<TARGET_FILE:prog> ...; for a Python script
#       COMMAND /usr/bin/python3 script.py ...
# Inside the test the variables of BED_DIR/env.sh are set (WINEPREFIX,
# DISPLAY, QM_HTTPS_PORT, QM_NTFS_DRIVE, QM_REQUEST_LOG, ...).

add_executable(trustca ${CMAKE_CURRENT_LIST_DIR}/trustca.cpp)
target_compile_options(trustca PRIVATE -municode)
target_link_options(trustca PRIVATE -static -municode)
target_link_libraries(trustca PRIVATE winhttp crypt32)

set(QUILLMERE_BED_DIR ${CMAKE_BINARY_DIR}/testbed)
set(QUILLMERE_BED_RUN ${CMAKE_CURRENT_LIST_DIR}/in_bed.sh ${QUILLMERE_BED_DIR})

add_test(NAME bed.setup
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/setup.sh ${QUILLMERE_BED_DIR} $<TARGET_FILE:trustca>)
set_tests_properties(bed.setup PROPERTIES
    FIXTURES_SETUP bed
    RUN_SERIAL TRUE
    TIMEOUT 300)

add_test(NAME bed.cleanup
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/cleanup.sh ${QUILLMERE_BED_DIR})
set_tests_properties(bed.cleanup PROPERTIES
    FIXTURES_CLEANUP bed
    RUN_SERIAL TRUE
    TIMEOUT 120)

function(quillmere_bed_test)
    cmake_parse_arguments(PARSE_ARGV 0 QBT "" "NAME;TIMEOUT;WORKING_DIRECTORY" "COMMAND;LABELS")
    if(NOT QBT_NAME)
        message(FATAL_ERROR "quillmere_bed_test: NAME is required")
    endif()
    if(NOT QBT_COMMAND)
        message(FATAL_ERROR "quillmere_bed_test(${QBT_NAME}): COMMAND is required")
    endif()
    if(QBT_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "quillmere_bed_test(${QBT_NAME}): unknown arguments ${QBT_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT QBT_TIMEOUT)
        set(QBT_TIMEOUT 300)
    endif()
    set(wd)
    if(QBT_WORKING_DIRECTORY)
        set(wd WORKING_DIRECTORY ${QBT_WORKING_DIRECTORY})
    endif()
    add_test(NAME ${QBT_NAME}
             COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/in_bed.sh ${CMAKE_BINARY_DIR}/testbed
                     ${QBT_COMMAND}
             ${wd})
    set_tests_properties(${QBT_NAME} PROPERTIES
        FIXTURES_REQUIRED bed
        RUN_SERIAL TRUE
        TIMEOUT ${QBT_TIMEOUT})
    if(QBT_LABELS)
        set_tests_properties(${QBT_NAME} PROPERTIES LABELS "${QBT_LABELS}")
    endif()
endfunction()

# The bed's own check: every route of the HTTPS server, byte for byte, and
# the bad-certificate ports failing for their intended reasons.
quillmere_bed_test(NAME bed.server
                   COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/check_server.py
                   TIMEOUT 120)
