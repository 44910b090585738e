# Seeded random differential tests of the parsers that read outside input (Content-Length text,
# URL split and request target, session list entry) against small independent models: one
# GoogleTest program run under Wine in three groups, each with a fixed number of inputs. The
# native libFuzzer harnesses in native/ are built by native/run.sh with the host clang.
add_executable(fuzz_tests
    ${CMAKE_CURRENT_LIST_DIR}/models.cpp
    ${CMAKE_CURRENT_LIST_DIR}/content_length_fuzz.cpp
    ${CMAKE_CURRENT_LIST_DIR}/url_fuzz.cpp
    ${CMAKE_CURRENT_LIST_DIR}/session_entry_fuzz.cpp
)
target_link_libraries(fuzz_tests PRIVATE quillmere_engine gtest_main)
target_link_options(fuzz_tests PRIVATE -static)

# Group name, the GoogleTest filter of its suites, its time limit in seconds.
set(QUILLMERE_FUZZ_GROUPS
    content_length "FuzzContentLength.*" 60
    url "FuzzRequestTarget.*:FuzzAcceptUrl.*" 60
    session "FuzzSessionEntry.*" 60
)

set(quillmere_fuzz_rest ${QUILLMERE_FUZZ_GROUPS})
while(quillmere_fuzz_rest)
    list(POP_FRONT quillmere_fuzz_rest quillmere_fuzz_group quillmere_fuzz_filter quillmere_fuzz_limit)
    set(quillmere_fuzz_name fuzz.${quillmere_fuzz_group})
    if(COMMAND quillmere_bed_test)
        quillmere_bed_test(NAME ${quillmere_fuzz_name}
                           COMMAND wine $<TARGET_FILE:fuzz_tests>
                                   --gtest_filter=${quillmere_fuzz_filter}
                           TIMEOUT ${quillmere_fuzz_limit})
    else()
        # No bed: the unit tests' own prefix when they made one, else Wine's default prefix. A
        # target name as the command gets CMAKE_CROSSCOMPILING_EMULATOR put in front.
        add_test(NAME ${quillmere_fuzz_name}
                 COMMAND fuzz_tests --gtest_filter=${quillmere_fuzz_filter})
        set_tests_properties(${quillmere_fuzz_name} PROPERTIES TIMEOUT ${quillmere_fuzz_limit})
        if(TEST unit.prefix)
            set_tests_properties(${quillmere_fuzz_name} PROPERTIES
                FIXTURES_REQUIRED unit_prefix ENVIRONMENT "${QUILLMERE_UNIT_ENV}")
        endif()
    endif()
    # A filter that matches nothing, or a program that dies before its summary, must not pass.
    set_tests_properties(${quillmere_fuzz_name} PROPERTIES
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* tests?"
        FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endwhile()

# The native harnesses need the host's clang with libFuzzer and take about 25 s to build and run,
# so they join the suite only when asked for.
option(QUILLMERE_FUZZ_NATIVE "Also run the native libFuzzer harnesses (host clang) as fuzz.native"
       OFF)
if(QUILLMERE_FUZZ_NATIVE)
    add_test(NAME fuzz.native
             COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/native/run.sh
                     ${CMAKE_CURRENT_BINARY_DIR}/fuzz-native 200000)
    set_tests_properties(fuzz.native PROPERTIES TIMEOUT 180)
endif()
