# Unit tests of the program's pure logic (texts, language rule, decimal and progress texts, session
# list lines): one GoogleTest program, run under Wine in a few groups to keep Wine starts few.
add_executable(unit_tests
    ${CMAKE_CURRENT_LIST_DIR}/texts_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ui_language_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decimal_text_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress_text_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/session_entry_test.cpp
)
target_link_libraries(unit_tests PRIVATE quillmere_engine gtest_main)
target_link_options(unit_tests PRIVATE -static)

# Group name, then the GoogleTest filter of its suites. Every suite belongs to exactly one group.
set(QUILLMERE_UNIT_GROUPS
    texts "Texts.*:UiLanguage.*"
    numbers "DecimalText.*:ProgressText.*"
    session "SessionListLine.*:SessionEntry.*:FileNameOfPath.*"
)

if(NOT COMMAND quillmere_bed_test)
    # No bed: run in a Wine prefix of our own in the build tree. The first start makes the prefix;
    # a persistent wineserver then keeps each further start short until the cleanup stops it.
    set(QUILLMERE_UNIT_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/unit-pfx)
    set(QUILLMERE_UNIT_ENV WINEPREFIX=${QUILLMERE_UNIT_PREFIX} WINEDEBUG=-all)
    find_program(QUILLMERE_WINESERVER NAMES wineserver)
    if(QUILLMERE_WINESERVER)
        # $0 the emulator, $1 the test program, $2 wineserver. The first start also launches
        # Wine's background services, which live as long as the server: neither they nor the
        # server may hold ctest's output pipe, so their output goes to a log file.
        set(quillmere_unit_start
            "mkdir -p \"$WINEPREFIX\""
            "\"$2\" -p </dev/null >\"$WINEPREFIX.log\" 2>&1"
            "\"$0\" \"$1\" --gtest_list_tests </dev/null >>\"$WINEPREFIX.log\" 2>&1"
            "echo prefix ready: $WINEPREFIX"
        )
        list(JOIN quillmere_unit_start " && " quillmere_unit_start)
        string(APPEND quillmere_unit_start " || { cat \"$WINEPREFIX.log\"; exit 1; }")
        add_test(NAME unit.prefix
                 COMMAND sh -c "${quillmere_unit_start}"
                         ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:unit_tests>
                         ${QUILLMERE_WINESERVER})
        add_test(NAME unit.prefix_stop COMMAND ${QUILLMERE_WINESERVER} -k)
        set_tests_properties(unit.prefix_stop PROPERTIES
            FIXTURES_CLEANUP unit_prefix ENVIRONMENT "${QUILLMERE_UNIT_ENV}")
    else()
        add_test(NAME unit.prefix COMMAND unit_tests --gtest_list_tests)
    endif()
    set_tests_properties(unit.prefix PROPERTIES
        FIXTURES_SETUP unit_prefix ENVIRONMENT "${QUILLMERE_UNIT_ENV}" TIMEOUT 300)
endif()

set(quillmere_unit_rest ${QUILLMERE_UNIT_GROUPS})
while(quillmere_unit_rest)
    list(POP_FRONT quillmere_unit_rest quillmere_unit_group quillmere_unit_filter)
    set(quillmere_unit_name unit.${quillmere_unit_group})
    if(COMMAND quillmere_bed_test)
        quillmere_bed_test(NAME ${quillmere_unit_name}
                           COMMAND wine $<TARGET_FILE:unit_tests>
                                   --gtest_filter=${quillmere_unit_filter}
                           TIMEOUT 120)
    else()
        # A target name as the command gets CMAKE_CROSSCOMPILING_EMULATOR put in front.
        add_test(NAME ${quillmere_unit_name}
                 COMMAND unit_tests --gtest_filter=${quillmere_unit_filter})
        set_tests_properties(${quillmere_unit_name} PROPERTIES
            FIXTURES_REQUIRED unit_prefix ENVIRONMENT "${QUILLMERE_UNIT_ENV}" TIMEOUT 120)
    endif()
    # A filter that matches nothing, or a program that dies before its summary, must not pass.
    set_tests_properties(${quillmere_unit_name} PROPERTIES
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* tests?"
        FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endwhile()
