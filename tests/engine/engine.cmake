# Tests of the download engine: one GoogleTest program that runs the real worker under Wine against
# the bed's HTTPS server and NTFS drive, registered as a few groups to keep Wine starts few; and a
# check of the executable's import table, which needs no bed.
add_executable(engine_tests
    ${CMAKE_CURRENT_LIST_DIR}/alloc_count.cpp
    ${CMAKE_CURRENT_LIST_DIR}/harness.cpp
    ${CMAKE_CURRENT_LIST_DIR}/request_log.cpp
    ${CMAKE_CURRENT_LIST_DIR}/logic_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/url_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/request_log_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ntfs_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/seam_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cancel_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stall_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/outcome_texts_test.cpp
)
# A message table that stands in for winhttp.dll's in the tests of where error texts come from.
set(stand_in_dir ${CMAKE_CURRENT_BINARY_DIR}/stand_in_texts)
find_program(MINGW_WINDMC NAMES x86_64-w64-mingw32-windmc windmc REQUIRED)
add_custom_command(
    OUTPUT ${stand_in_dir}/stand_in_texts.rc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stand_in_dir}
    COMMAND ${MINGW_WINDMC} -U -r ${stand_in_dir} -h ${stand_in_dir}
            ${CMAKE_CURRENT_LIST_DIR}/stand_in_texts.mc
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/stand_in_texts.mc
    VERBATIM)
target_sources(engine_tests PRIVATE ${stand_in_dir}/stand_in_texts.rc)
target_link_libraries(engine_tests PRIVATE quillmere_engine GTest::gtest_main user32)
target_link_options(engine_tests PRIVATE -static)

# Group name, the GoogleTest filter of its suites, its time limit in seconds. Every suite belongs
# to exactly one group.
set(QUILLMERE_ENGINE_GROUPS
    logic "ContentLength.*:RequestTarget.*:StagingName.*:OutcomePrecedence.*:SystemError.*" 60
    url "UrlAcceptance.*:UrlRefusal.*" 60
    http "HttpStatus.*:HttpContentLength.*:HttpBody.*:HttpRedirect.*:HttpCertificate.*:HttpErrorText.*" 180
    request "RequestLog.*" 60
    ntfs "StagingFile.*:Commit.*:ZoneMark.*" 120
    seam "SeamWrite.*:SeamFlush.*:SeamMove.*:SeamPost.*" 120
    cancel "Cancel.*" 120
    texts "Languages/OutcomeTexts.*" 120
    stall "Stall.*" 90
)
if(COMMAND quillmere_bed_test)
    set(filters)
    list(LENGTH QUILLMERE_ENGINE_GROUPS count)
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last} 3)
        math(EXPR f "${i} + 1")
        math(EXPR t "${i} + 2")
        list(GET QUILLMERE_ENGINE_GROUPS ${i} group)
        list(GET QUILLMERE_ENGINE_GROUPS ${f} filter)
        list(GET QUILLMERE_ENGINE_GROUPS ${t} limit)
        quillmere_bed_test(NAME engine.${group}
                           COMMAND wine $<TARGET_FILE:engine_tests> --gtest_filter=${filter}
                           TIMEOUT ${limit})
        list(APPEND filters ${filter})
    endforeach()
    quillmere_bed_test(NAME engine.groups
                       COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/check_groups.py
                               $<TARGET_FILE:engine_tests> ${filters}
                       TIMEOUT 60)
endif()

# winhttp.dll and every other library that is no KnownDLL must stay out of the import table.
add_test(NAME engine.import_table
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/check_imports.py
                 ${MINGW_OBJDUMP} $<TARGET_FILE:quillmere>)
set_tests_properties(engine.import_table PROPERTIES TIMEOUT 60)
