# cmake -DOUTPUT=file.cpp -DBASE=dir -DFILES=a|b -DHEADER=x.h -DNAMESPACE=ns -DFUNCTION=f -P EmbedFiles.cmake
# Writes a C++ source holding the bytes of FILES (paths relative to BASE) and
# a function FUNCTION() that lists them as {path, bytes} pairs, so that a
# program carries them inside itself.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" FILES "${FILES}")
set(_arrays "")
set(_entries "")
set(_index 0)
foreach(_file IN LISTS FILES)
  file(READ "${BASE}/${_file}" _hex HEX)
  string(LENGTH "${_hex}" _digits)
  math(EXPR _size "${_digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  # Eight bytes a line keep the generated source readable.
  string(REGEX REPLACE "((0x..,)(0x..,)(0x..,)(0x..,)(0x..,)(0x..,)(0x..,)(0x..,))" "\\1\n" _bytes "${_bytes}")
  string(APPEND _arrays "const unsigned char file${_index}[] = {\n${_bytes}0};\n")
  string(APPEND _entries "      {\"${_file}\", std::string_view(reinterpret_cast<const char*>(file${_index}), ${_size})},\n")
  math(EXPR _index "${_index} + 1")
endforeach()
set(_content "// Generated from ${BASE} by EmbedFiles.cmake; do not edit.
#include \"${HEADER}\"

namespace ${NAMESPACE} {
namespace {
${_arrays}} // namespace

std::span<const EmbeddedFile> ${FUNCTION}() {
  static const EmbeddedFile files[] = {
${_entries}  };
  return files;
}

} // namespace ${NAMESPACE}
")
include(${CMAKE_CURRENT_LIST_DIR}/WriteIfChanged.cmake)
write_if_changed("${OUTPUT}" "${_content}")
