# Files embedded in a program at build time, as a C++ source that defines `FUNCTION()` returning a
# span of dorvane::host::live::Asset (path, content type, bytes).
#
#   dorvane_embed_assets(OUTPUT out.cpp FUNCTION name ASSETS path type file [path type file ...])
#
# The source is made again whenever one of the files changes. Run as a script (-P) it writes it.
if(NOT CMAKE_SCRIPT_MODE_FILE)
  function(dorvane_embed_assets)
    cmake_parse_arguments(EMBED "" "OUTPUT;FUNCTION" "ASSETS" ${ARGN})
    set(manifest "${EMBED_OUTPUT}.assets")
    set(lines "")
    set(files "")
    list(LENGTH EMBED_ASSETS count)
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last} 3)
      math(EXPR j "${i} + 1")
      math(EXPR k "${i} + 2")
      list(GET EMBED_ASSETS ${i} path)
      list(GET EMBED_ASSETS ${j} type)
      list(GET EMBED_ASSETS ${k} file)
      if(NOT EXISTS "${file}")
        message(FATAL_ERROR "${file} is missing: the live view embeds it (npm ci --prefix host/live/web installs "
                            "the chart library; ./dev does this)")
      endif()
      string(APPEND lines "${path}|${type}|${file}\n")
      list(APPEND files "${file}")
    endforeach()
    # Written only when it changes: the source depends on it, and a manifest rewritten at every
    # configure would embed the assets and relink the program again each time.
    set(written "")
    if(EXISTS "${manifest}")
      file(READ "${manifest}" written)
    endif()
    if(NOT written STREQUAL lines)
      file(WRITE "${manifest}" "${lines}")
    endif()
    add_custom_command(
      OUTPUT "${EMBED_OUTPUT}"
      COMMAND "${CMAKE_COMMAND}" "-DMANIFEST=${manifest}" "-DOUTPUT=${EMBED_OUTPUT}" "-DFUNCTION=${EMBED_FUNCTION}"
              -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
      DEPENDS ${files} "${manifest}" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
      COMMENT "Embedding the live view's page and assets"
      VERBATIM)
  endfunction()
  return()
endif()

file(STRINGS "${MANIFEST}" entries)
string(CONCAT source "// Made by cmake/embed_assets.cmake from ${MANIFEST}: do not edit.\n#include <span>\n\n"
           "#include \"host/live/live_assets.h\"\n\nnamespace dorvane::host::live {\nnamespace {\n\n")
set(table "")
set(n 0)
foreach(entry IN LISTS entries)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 path)
  list(GET parts 1 type)
  list(GET parts 2 file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # A line break every 16 bytes keeps the lines short for compilers and editors.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 sixteen)
  string(REGEX REPLACE "(${sixteen})" "\\1\n" bytes "${bytes}")
  string(APPEND source "const unsigned char asset${n}[${size} + 1] = {\n${bytes}0};\n\n")
  string(APPEND table "    {\"${path}\", \"${type}\", {reinterpret_cast<const char*>(asset${n}), ${size}}},\n")
  math(EXPR n "${n} + 1")
endforeach()
string(APPEND source "const Asset kAssets[] = {\n${table}};\n\n}  // namespace\n\n"
                     "std::span<const Asset> ${FUNCTION}() { return kAssets; }\n\n}  // namespace dorvane::host::live\n")
file(WRITE "${OUTPUT}.new" "${source}")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
