# Read by the Debian package's build (tools/release.sh passes it as CMAKE_PROJECT_INCLUDE, so it
# runs right after project()): no build paths in the objects. The source folder reads as "." and
# the build folder as "build" in __FILE__ and in any debug information; GCC tries the last matching
# map first, so the build folder (often inside the source folder) comes last.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
