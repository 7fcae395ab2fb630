// Reference positions a wavenumber axis is checked against.
#pragma once

namespace dorvane::spectra {

// Polystyrene film's bands (cm-1), from the highest down: the positions certified for NIST SRM 1921,
// the film sold as an infrared wavenumber standard; 3060.0, 2849.5, 1942.9, 1601.2, 1583.0, 1154.5
// and 1028.3 are also the European Pharmacopoeia's wavenumber check.
inline constexpr double kPolystyreneBands[] = {3060.0, 3026.4, 3001.4, 2849.5, 1942.9, 1871.0, 1801.6,
                                               1601.2, 1583.0, 1154.5, 1069.1, 1028.3, 906.7,  698.9};

}  // namespace dorvane::spectra
