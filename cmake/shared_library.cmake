# The form every shared library of the project takes: on Windows NAME.dll (no lib prefix) with its
# import library NAME.lib and a module definition file NAME.def beside it, for hosts that link at
# build time (Microsoft's tools make their own import library from the .def); on Linux nothing but
# the library's own symbols and no undefined ones, named by the project's version:
# libNAME.so.0.1.0 with the SONAME libNAME.so.0, which changes only when the interface breaks.
function(dorvane_shared_library_form target)
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib"
                                               ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    target_link_options(${target} PRIVATE -Wl,--output-def,${CMAKE_BINARY_DIR}/$<TARGET_FILE_BASE_NAME:${target}>.def)
  elseif(DORVANE_FUZZ)
    # The coverage and sanitizer hooks of an instrumented library come from the fuzzer program.
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
  else()
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
  endif()
endfunction()
