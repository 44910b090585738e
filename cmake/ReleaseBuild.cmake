# The published build, switched on with -DQUILLMERE_RELEASE=ON (tools/release.sh does so): the
# same program as the developer build, plus
#  - hardening: stack protector (libssp linked statically), _FORTIFY_SOURCE, and the PE flags for
#    ASLR with high-entropy addresses, NX and a base relocation table, all set explicitly;
#  - reproducibility: no build paths (source and build folders are mapped to fixed names), no
#    build time (the PE timestamp is the commit date from QUILLMERE_SOURCE_DATE_EPOCH),
#    deterministic static libraries;
#  - symbols split off: quillmere.exe is stripped and names quillmere-VERSION-win64.exe.debug,
#    which keeps its symbols, by a .gnu_debuglink; then padded to 8 bytes for signing (pe_pad.py).
# The developer build (option off) is left exactly as it is.
option(QUILLMERE_RELEASE "Build the published, hardened and reproducible executable" OFF)

# quillmere_release_executable(<target>): strips <target> after linking and writes its debug file.
# Does nothing in the developer build.
function(quillmere_release_executable target)
    if(NOT QUILLMERE_RELEASE)
        return()
    endif()
    set(debug_file ${QUILLMERE_RELEASE_NAME}.exe.debug)
    # The stack protector's runtime (see the file); it must not protect itself.
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/windows/runtime/stack_guard.c)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/windows/runtime/stack_guard.c
                                PROPERTIES COMPILE_OPTIONS -fno-stack-protector)
    # libssp's checked copies, which _FORTIFY_SOURCE calls, whether or not the stack protector
    # would bring the library in.
    target_link_libraries(${target} PRIVATE ssp)
    # objcopy stamps the PE header it writes with SOURCE_DATE_EPOCH, or with the time of day.
    set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUILLMERE_SOURCE_DATE_EPOCH}
                ${QUILLMERE_OBJCOPY})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE_NAME:${target}> ${debug_file}
        COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${debug_file} $<TARGET_FILE_NAME:${target}>
        COMMAND ${QUILLMERE_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/pe_pad.py $<TARGET_FILE_NAME:${target}>
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
        COMMENT "Splitting the symbols of ${target} off into ${debug_file}"
        VERBATIM)
endfunction()

if(NOT QUILLMERE_RELEASE)
    return()
endif()

set(QUILLMERE_RELEASE_NAME quillmere-${PROJECT_VERSION}-win64)
set(QUILLMERE_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}" CACHE STRING
    "Seconds since 1970 of the commit being built: the date stamped into the release")
if(NOT QUILLMERE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "QUILLMERE_RELEASE needs QUILLMERE_SOURCE_DATE_EPOCH (or SOURCE_DATE_EPOCH): "
                        "the commit date in seconds since 1970, e.g. git log -1 --format=%ct")
endif()
if(NOT QUILLMERE_OBJCOPY)
    find_program(QUILLMERE_OBJCOPY NAMES x86_64-w64-mingw32-objcopy objcopy REQUIRED)
endif()
find_program(QUILLMERE_PYTHON NAMES python3 REQUIRED)

# Build paths: the source folder reads as "." and the build folder as "build" in the symbols and in
# __FILE__. GCC tries the last matching map first, so the build folder (often inside the source
# folder) comes last.
add_compile_options(-g
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

# Stack protector on every function with an array or an address-taken local. The guard and the
# failure handlers come from windows/runtime/stack_guard.c; libssp, linked statically (-static above),
# supplies only the checked copies, so no libssp-0.dll and no advapi32.dll is imported.
add_compile_options(-fstack-protector-strong)
add_link_options(-fstack-protector-strong)

# MinGW-w64's own headers check memcpy, memset, strcpy, sprintf and their kind against object sizes
# the compiler knows (levels 1 and 2; a higher level counts as 2), in optimised code only. Set only
# where the headers have it; the configure log says which.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -O2)
set(CMAKE_REQUIRED_DEFINITIONS -D_FORTIFY_SOURCE=2)
check_cxx_source_compiles([[
    #include <string.h>
    #if !defined(__MINGW_FORTIFY_LEVEL) || __MINGW_FORTIFY_LEVEL < 2
    #error no checked string functions
    #endif
    int main() { return 0; }
]] QUILLMERE_HAVE_FORTIFY)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_DEFINITIONS)
if(QUILLMERE_HAVE_FORTIFY)
    add_compile_definitions(_FORTIFY_SOURCE=2)
endif()

# PE flags: ASLR with 64-bit (high-entropy) addresses, NX, and the base relocation table ASLR needs.
# Recent binutils set all of these by default; the release does not rely on defaults. No timestamp
# at link time; the stripping step stamps the commit date.
add_link_options(LINKER:--dynamicbase,--high-entropy-va,--nxcompat,--enable-reloc-section
                 LINKER:--no-insert-timestamp)

# Static libraries with zero dates, owners and modes in their headers.
foreach(lang C CXX)
    set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

message(STATUS "Release build ${QUILLMERE_RELEASE_NAME}, dated ${QUILLMERE_SOURCE_DATE_EPOCH}, "
               "_FORTIFY_SOURCE: ${QUILLMERE_HAVE_FORTIFY}")
