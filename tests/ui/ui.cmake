# End-to-end tests of the real quillmere.exe window, run inside the test bed: a test driver that
# acts on the window from outside the way a user does (qmdriver.exe, with qmhook.dll for what can
# only be read from inside the program's process), and Python scenarios that use it.
if(NOT COMMAND quillmere_bed_test)
    message(WARNING "tests/ui needs the test bed (tests/bed/bed.cmake); UI tests not registered")
    return()
endif()

set(QM_UI_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QM_UI_DRIVER_DIR ${CMAKE_CURRENT_BINARY_DIR}/ui-driver)
set(QM_UI_OUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/ui-out)

add_executable(qmdriver ${QM_UI_DIR}/driver/qmdriver.cpp)
target_link_options(qmdriver PRIVATE -municode)
target_link_libraries(qmdriver PRIVATE user32 gdi32 ole32 uuid)

add_library(qmhook SHARED ${QM_UI_DIR}/driver/qmhook.cpp)
set_target_properties(qmhook PROPERTIES PREFIX "" OUTPUT_NAME qmhook)
target_link_libraries(qmhook PRIVATE user32 gdi32)

# The program a test file type opens with (see test_journey.py).
add_executable(qmopened WIN32 ${QM_UI_DIR}/driver/qmopened.cpp)
target_link_options(qmopened PRIVATE -municode)

# The driver loads the hook from its own folder.
set_target_properties(qmdriver qmhook qmopened PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${QM_UI_DRIVER_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${QM_UI_DRIVER_DIR})

# quillmere_ui_test(NAME script [LANG locale] [TIMEOUT s]): one Python unittest script against
# the real executable, with the interface language chosen by the locale Wine sees.
function(quillmere_ui_test name script)
    cmake_parse_arguments(PARSE_ARGV 2 QUT "" "LANG;TIMEOUT" "")
    if(NOT QUT_LANG)
        set(QUT_LANG en_US.UTF-8)
    endif()
    if(NOT QUT_TIMEOUT)
        set(QUT_TIMEOUT 300)
    endif()
    quillmere_bed_test(NAME ${name}
        COMMAND env
            QM_APP=$<TARGET_FILE:quillmere>
            QM_DRIVER=$<TARGET_FILE:qmdriver>
            QM_OPENED=$<TARGET_FILE:qmopened>
            QM_PROBE=$<$<TARGET_EXISTS:qmprobe>:$<TARGET_FILE:qmprobe>>
            QM_UI_OUT=${QM_UI_OUT_DIR}
            QM_UI_LANG=${QUT_LANG}
            PYTHONDONTWRITEBYTECODE=1
            /usr/bin/python3 ${QM_UI_DIR}/${script}
        TIMEOUT ${QUT_TIMEOUT}
        LABELS ui)
endfunction()

# The window as it opens: layout, texts, fonts, styles, Tab order, a fixed size, closing.
quillmere_ui_test(ui.window.en_US test_window.py LANG en_US.UTF-8)
quillmere_ui_test(ui.window.uk_UA test_window.py LANG uk_UA.UTF-8)
quillmere_ui_test(ui.window.ru_RU test_window.py LANG ru_RU.UTF-8)
quillmere_ui_test(ui.window.ru_MD test_window.py LANG ru_MD.UTF-8)

# The user's journey: Browse, Download, progress, Cancel, outcomes, the session list, closing.
quillmere_ui_test(ui.journey.en_US test_journey.py LANG en_US.UTF-8 TIMEOUT 600)
quillmere_ui_test(ui.journey.ru_RU test_journey.py LANG ru_RU.UTF-8 TIMEOUT 600)

# A real Windows desk: the user's proxy, ports the URL splitter would wrap, TLS on Windows 7,
# files another program holds open for a while (qmprobe.exe from
# tests/hardening plays that program), paths past 260 characters, logoff while a download runs,
# the keyboard, and what Save As chooses.
quillmere_ui_test(ui.desk.en_US test_desk.py LANG en_US.UTF-8 TIMEOUT 600)
quillmere_ui_test(ui.desk.ru_RU test_desk.py LANG ru_RU.UTF-8 TIMEOUT 600)
