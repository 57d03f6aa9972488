# The header-only libraries from Debian that the console programs use, for the host build and the
# mingw build alike:
#   cli11          the option parser (libcli11-dev): #include <CLI/CLI.hpp>
#   nlohmann_json  JSON (nlohmann-json3-dev): #include <nlohmann/json.hpp>
# `target_link_libraries(PROGRAM PRIVATE cli11)`. Each library's folder is a cache variable
# (CLI11_HEADERS, NLOHMANN_JSON_HEADERS), for a machine that keeps them elsewhere.
#
# The headers are copied into the build tree at configure time and only that copy goes on the
# include path: /usr/include on the cross compiler's path would put the host's C library headers
# in front of mingw's own.
include_guard(GLOBAL)

set(HEADER_LIBRARY_COPY ${CMAKE_BINARY_DIR}/third_party)

# Copies the library's folder (where its main header must be) to third_party/FOLDER and gives
# the INTERFACE target NAME with that copy on its include path.
function(add_header_library NAME VARIABLE DEFAULT FOLDER MAIN_HEADER PACKAGE)
    set(${VARIABLE} ${DEFAULT} CACHE PATH "${NAME}'s headers (Debian: ${PACKAGE})")
    if(NOT EXISTS ${${VARIABLE}}/${MAIN_HEADER})
        message(FATAL_ERROR
            "No ${NAME} in ${${VARIABLE}}: install ${PACKAGE} (scripts/setup.sh does)")
    endif()
    file(COPY ${${VARIABLE}}/ DESTINATION ${HEADER_LIBRARY_COPY}/${FOLDER}
         FILES_MATCHING PATTERN "*.hpp" PATTERN "*.h")
    add_library(${NAME} INTERFACE)
    # SYSTEM: the library's own warnings are not ours to fix.
    target_include_directories(${NAME} SYSTEM INTERFACE ${HEADER_LIBRARY_COPY})
endfunction()

add_header_library(cli11 CLI11_HEADERS /usr/include/CLI CLI CLI.hpp libcli11-dev)
add_header_library(nlohmann_json NLOHMANN_JSON_HEADERS /usr/include/nlohmann nlohmann json.hpp
                   nlohmann-json3-dev)
