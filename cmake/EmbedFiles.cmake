# Writes a C++ source that holds files as arrays of bytes, so that a program carries them in
# itself (kelvaned's page). Run as a build step, not included:
#   cmake -DOUTPUT=Files.cpp -DHEADER=service/Page.h -DNAMESPACE=service "-DFILES=a.html|b.ico"
#         -P cmake/EmbedFiles.cmake
# The source defines EmbeddedFiles() of HEADER: each file by its name (without its folder), in
# the order given. FILES is |-separated: a ;-list does not survive a custom command's line.
string(REPLACE "|" ";" FILES "${FILES}")

set(arrays "")
set(rows "")
set(index 0)
foreach(file IN LISTS FILES)
    get_filename_component(name "${file}" NAME)
    file(READ "${file}" bytes HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
    # Thirty-two bytes a line, for a compiler's line buffer and a reader's editor.
    string(REGEX REPLACE "((0x..,){32})" "\\1\n    " bytes "${bytes}")
    string(APPEND arrays "const unsigned char FILE_${index}[] = {\n    ${bytes}\n};\n")
    string(APPEND rows "    {\"${name}\", FILE_${index}, sizeof FILE_${index}},\n")
    math(EXPR index "${index} + 1")
endforeach()

set(text "// Made at build time by cmake/EmbedFiles.cmake: edit the files it names, not this.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

namespace {

${arrays}
const EmbeddedFile FILES[] = {
${rows}};

} // namespace

std::span<const EmbeddedFile> EmbeddedFiles() {
    return FILES;
}

} // namespace ${NAMESPACE}
")

# Written only when it changed, so that a build step that ran for nothing recompiles nothing.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
    if(old STREQUAL text)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
