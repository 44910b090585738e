# The published release: tools/release.sh run as a user runs it (twice, in folders of different
# path lengths, and once signed), and the executable it publishes read from outside; its MSI
# installed under Wine in a prefix of its own. Needs no test bed; the release builds go to
# release/ in the build tree.
add_test(NAME release
         COMMAND env
             QM_SOURCE=${CMAKE_SOURCE_DIR}
             QM_WORK=${CMAKE_CURRENT_BINARY_DIR}/release
             QM_OBJDUMP=${MINGW_OBJDUMP}
             QM_DEV_EXE=$<TARGET_FILE:quillmere>
             QM_VERSION=${PROJECT_VERSION}
             QM_DRIVER=$<$<TARGET_EXISTS:qmdriver>:$<TARGET_FILE:qmdriver>>
             PYTHONDONTWRITEBYTECODE=1
             /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/test_release.py
)
set_tests_properties(release PROPERTIES TIMEOUT 900 LABELS release)
