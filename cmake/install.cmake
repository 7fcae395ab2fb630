# The installed tree (GNUInstallDirs, relocatable):
#   lib/libdorvane.so.0.1.0, .so.0, .so and the same for libdorvane_spectra (Windows: bin/*.dll,
#   lib/*.lib and lib/*.def), include/dorvane.h, dorvane_helpers.h and dorvane_spectra.h, bin/dorvane and
#   bin/dorvane-benchsim, lib/pkgconfig/dorvane.pc and dorvane_spectra.pc, and lib/cmake/dorvane/
#   for find_package(dorvane), which gives dorvane::dorvane and dorvane::spectra.
# The static layers and the test libraries stay in the build.
include(CMakePackageConfigHelpers)

set(dorvane_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/dorvane)

install(TARGETS dorvane dorvane_spectra EXPORT dorvaneTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/dorvane.h ${PROJECT_SOURCE_DIR}/include/dorvane_helpers.h
              ${PROJECT_SOURCE_DIR}/include/dorvane_spectra.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS dorvane_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET dorvane-benchsim)
  install(TARGETS dorvane-benchsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(WIN32)
  # For Microsoft's tools, which make their own import library from the module definition.
  install(FILES ${PROJECT_BINARY_DIR}/dorvane.def ${PROJECT_BINARY_DIR}/dorvane_spectra.def
          DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT dorvaneTargets NAMESPACE dorvane:: FILE dorvaneTargets.cmake DESTINATION ${dorvane_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dorvaneConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/dorvaneConfig.cmake ${PROJECT_BINARY_DIR}/dorvaneConfigVersion.cmake
        DESTINATION ${dorvane_cmake_dir})

# The .pc files find the prefix from their own place, so the tree can move.
file(RELATIVE_PATH pkgconfig_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pkgconfig_to_prefix "${pkgconfig_to_prefix}")
foreach(library dorvane dorvane_spectra)
  if(library STREQUAL dorvane)
    set(pc_description "Data-acquisition driver for the dorvane FTIR spectrometer bench")
  else()
    set(pc_description "Interferograms into single-beam, transmittance and absorbance spectra")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${PROJECT_BINARY_DIR}/${library}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${library}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
