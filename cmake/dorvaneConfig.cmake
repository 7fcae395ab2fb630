# find_package(dorvane): the imported targets dorvane::dorvane (the driver, dorvane.h) and
# dorvane::spectra (the spectra library, dorvane_spectra.h).
include(${CMAKE_CURRENT_LIST_DIR}/dorvaneTargets.cmake)
