# CLI11, the option parser of the console programs (monitor-sim, kelvanectl), from Debian's
# header-only package libcli11-dev. Provides the INTERFACE target cli11, for the host build and the
# mingw build alike: `target_link_libraries(PROGRAM PRIVATE cli11)`, then `#include <CLI/CLI.hpp>`.
#
# The headers are copied into the build tree at configure time and only that copy goes on the
# include path: /usr/include on the cross compiler's path would put the host's C library headers
# in front of mingw's own.
include_guard(GLOBAL)

set(CLI11_HEADERS /usr/include/CLI CACHE PATH "CLI11's headers (Debian: libcli11-dev)")
if(NOT EXISTS ${CLI11_HEADERS}/CLI.hpp)
    message(FATAL_ERROR "No CLI11 in ${CLI11_HEADERS}: install libcli11-dev (scripts/setup.sh does)")
endif()

set(CLI11_COPY ${CMAKE_BINARY_DIR}/third_party)
file(COPY ${CLI11_HEADERS}/ DESTINATION ${CLI11_COPY}/CLI FILES_MATCHING PATTERN "*.hpp")

add_library(cli11 INTERFACE)
# SYSTEM: the library's own warnings are not ours to fix.
target_include_directories(cli11 SYSTEM INTERFACE ${CLI11_COPY})
