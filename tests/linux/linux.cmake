# The Linux edition's tests, built and run natively: the core's pure logic, the engine against the
# bed's HTTPS server on the build tree's file system and on an ntfs-3g drive, and the differential
# tests of the parsers against the Linux URL splitter. Each runs twice: plainly, and built with
# AddressSanitizer and UndefinedBehaviorSanitizer (LeakSanitizer included).
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# GCC 12 warns about GoogleTest's own code; its warnings are not ours to fix.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)

set(QUILLMERE_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all
                       -fno-omit-frame-pointer)
get_target_property(quillmere_core_sources quillmere_core SOURCES)
list(TRANSFORM quillmere_core_sources PREPEND ${PROJECT_SOURCE_DIR}/core/)

# quillmere_linux_test(NAME name SOURCES files... [ENGINE]): the program `name`, and
# `name_sanitized` built from the same sources plus the core (and with ENGINE the engine) compiled
# anew with the sanitizers.
function(quillmere_linux_test)
    cmake_parse_arguments(PARSE_ARGV 0 QLT "ENGINE" "NAME" "SOURCES")
    add_executable(${QLT_NAME} ${QLT_SOURCES})
    target_include_directories(${QLT_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/linux)
    if(QLT_ENGINE)
        target_link_libraries(${QLT_NAME} PRIVATE quillmere_engine GTest::gtest_main)
    else()
        target_link_libraries(${QLT_NAME} PRIVATE quillmere_core GTest::gtest_main)
    endif()

    set(sources ${QLT_SOURCES} ${quillmere_core_sources})
    if(QLT_ENGINE)
        list(APPEND sources ${QUILLMERE_LINUX_ENGINE_SOURCES})
    endif()
    add_executable(${QLT_NAME}_sanitized ${sources})
    target_include_directories(${QLT_NAME}_sanitized PRIVATE ${PROJECT_SOURCE_DIR}
                                                             ${PROJECT_SOURCE_DIR}/linux)
    target_compile_options(${QLT_NAME}_sanitized PRIVATE ${QUILLMERE_SANITIZE} -O1 -g)
    target_link_options(${QLT_NAME}_sanitized PRIVATE ${QUILLMERE_SANITIZE})
    target_link_libraries(${QLT_NAME}_sanitized PRIVATE GTest::gtest_main)
    if(QLT_ENGINE)
        target_link_libraries(${QLT_NAME}_sanitized PRIVATE PkgConfig::CURL PkgConfig::LIBPROXY)
    endif()
endfunction()

quillmere_linux_test(NAME core_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/../core/core_test.cpp)
quillmere_linux_test(NAME linux_engine_tests ENGINE SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/harness.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/files_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/seam_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/error_text_test.cpp
)
foreach(target linux_engine_tests linux_engine_tests_sanitized)
    target_compile_definitions(${target} PRIVATE
        QM_PROXY_SERVER="${CMAKE_CURRENT_LIST_DIR}/../bed/proxy_server.py")
endforeach()
quillmere_linux_test(NAME linux_fuzz_tests SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../fuzz/models.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fuzz/linux_fuzz.cpp
    ${PROJECT_SOURCE_DIR}/linux/download/url_target.cpp
)

set(quillmere_pass PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* tests?"
                   FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]|ERROR: .*Sanitizer|runtime error")
foreach(variant "" _sanitized)
    add_test(NAME linux.core${variant} COMMAND core_tests${variant})
    add_test(NAME linux.fuzz${variant} COMMAND linux_fuzz_tests${variant})
    # The engine runs in a bed of its own per variant (certificates, HTTPS server, ntfs-3g drive,
    # the test CA trusted in a private mount namespace), so the two may run side by side.
    add_test(NAME linux.engine${variant}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/bed.sh ${CMAKE_BINARY_DIR}/linux-bed${variant}
                     $<TARGET_FILE:linux_engine_tests${variant}>)
    set_tests_properties(linux.core${variant} linux.fuzz${variant} linux.engine${variant}
                         PROPERTIES ${quillmere_pass} TIMEOUT 300)
    if(variant)
        set_tests_properties(linux.core${variant} linux.fuzz${variant} linux.engine${variant}
            PROPERTIES ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp")
    endif()
endforeach()

# The journey through the real window, in process on Qt's offscreen platform, in each language, in
# a bed of its own per language. Its expectations are the Windows journey's, written out as a
# header.
find_package(Qt6 REQUIRED COMPONENTS Widgets DBus Test)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/journey_expected.h
    COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/expected_header.py
            ${CMAKE_CURRENT_BINARY_DIR}/journey_expected.h
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/expected_header.py ${CMAKE_CURRENT_LIST_DIR}/../ui/expected.py)
add_executable(linux_journey_tests ${CMAKE_CURRENT_LIST_DIR}/journey_test.cpp
                                   ${CMAKE_CURRENT_BINARY_DIR}/journey_expected.h)
set_target_properties(linux_journey_tests PROPERTIES AUTOMOC ON)
target_include_directories(linux_journey_tests PRIVATE ${PROJECT_SOURCE_DIR}
                           ${PROJECT_SOURCE_DIR}/linux ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(linux_journey_tests PRIVATE quillmere_window Qt6::Test)
# The same journey with the window, the engine and the core built with the sanitizers: the
# outcome's hand-over between the threads, and who frees it, under AddressSanitizer and
# LeakSanitizer.
add_executable(linux_journey_tests_sanitized ${CMAKE_CURRENT_LIST_DIR}/journey_test.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/journey_expected.h ${QUILLMERE_LINUX_APP_SOURCES}
    ${QUILLMERE_LINUX_ENGINE_SOURCES} ${quillmere_core_sources})
set_target_properties(linux_journey_tests_sanitized PROPERTIES AUTOMOC ON)
target_include_directories(linux_journey_tests_sanitized PRIVATE ${PROJECT_SOURCE_DIR}
                           ${PROJECT_SOURCE_DIR}/linux ${CMAKE_CURRENT_BINARY_DIR})
target_compile_options(linux_journey_tests_sanitized PRIVATE ${QUILLMERE_SANITIZE} -O1 -g)
target_compile_definitions(linux_journey_tests_sanitized PRIVATE
                           QUILLMERE_APP_ID="${QUILLMERE_APP_ID}")
target_link_options(linux_journey_tests_sanitized PRIVATE ${QUILLMERE_SANITIZE})
target_link_libraries(linux_journey_tests_sanitized PRIVATE Qt6::Widgets Qt6::DBus Qt6::Test
                                                            PkgConfig::CURL PkgConfig::LIBPROXY)
foreach(language en ru)
    foreach(variant "" _sanitized)
        set(name linux.journey.${language}${variant})
        add_test(NAME ${name}
                 COMMAND ${CMAKE_CURRENT_LIST_DIR}/bed.sh --session-bus
                         ${CMAKE_BINARY_DIR}/linux-bed-journey-${language}${variant}
                         $<TARGET_FILE:linux_journey_tests${variant}>)
        set_tests_properties(${name} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANGUAGE=${language};LC_ALL=C.UTF-8;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp"
            PASS_REGULAR_EXPRESSION "Totals: [1-9][0-9]* passed, 0 failed"
            FAIL_REGULAR_EXPRESSION "FAIL!|ERROR: .*Sanitizer|runtime error"
            TIMEOUT 300)
    endforeach()
    # The same journey once more on a real X server (a private Xvfb, Qt's X11 platform, no window
    # manager), which also takes the README's screenshots of the Linux window.
    add_test(NAME linux.screens.${language}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/bed.sh --x11 --session-bus
                     ${CMAKE_BINARY_DIR}/linux-bed-screens-${language}
                     $<TARGET_FILE:linux_journey_tests>)
    set_tests_properties(linux.screens.${language} PROPERTIES
        ENVIRONMENT "QM_SCREENSHOT_DIR=${CMAKE_CURRENT_BINARY_DIR}/ui-out;LANGUAGE=${language};LC_ALL=C.UTF-8"
        PASS_REGULAR_EXPRESSION "Totals: [1-9][0-9]* passed, 0 failed"
        FAIL_REGULAR_EXPRESSION "FAIL!"
        TIMEOUT 300)
endforeach()

# The installed tree (into a staging folder) against the desktop's validators, the options without a
# display, and what matches the window to its desktop entry on X11 and on Wayland.
add_test(NAME linux.install
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/bed.sh --x11 --wayland ${CMAKE_BINARY_DIR}/linux-bed-install
                 ${CMAKE_CURRENT_LIST_DIR}/install_check.sh ${CMAKE_BINARY_DIR} ${QUILLMERE_APP_ID}
                 ${PROJECT_VERSION})
set_tests_properties(linux.install PROPERTIES PASS_REGULAR_EXPRESSION "install check passed"
                     FAIL_REGULAR_EXPRESSION "FAIL:" TIMEOUT 120)
# The journey once more on Wayland: a headless weston of the bed's, Qt's Wayland platform, no X;
# with the desktop portal's theme that the program asks for, where no portal runs: Qt's own dialog.
add_test(NAME linux.wayland.en
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/bed.sh --wayland --session-bus
                 ${CMAKE_BINARY_DIR}/linux-bed-wayland-en
                 $<TARGET_FILE:linux_journey_tests>)
set_tests_properties(linux.wayland.en PROPERTIES
    ENVIRONMENT "LANGUAGE=en;LC_ALL=C.UTF-8;QT_QPA_PLATFORMTHEME=xdgdesktopportal"
    PASS_REGULAR_EXPRESSION "Totals: [1-9][0-9]* passed, 0 failed"
    FAIL_REGULAR_EXPRESSION "FAIL!"
    TIMEOUT 300)
