// Saving a spectrum: CSV (wavenumber,value) and JCAMP-DX 4.24 (INFRARED SPECTRUM), each with the
// sampling and processing parameters that made it, values exact, missing points never written as
// numbers. Both are members of the spectrum's file set (whole_file.h).
#pragma once

#include <string>
#include <vector>

#include "host/files/file_text.h"

namespace dorvane::host {

enum class SpectrumKind { SingleBeam, Transmittance, Absorbance };

// "single beam", "transmittance", "absorbance": the spectrum's name in files, titles and file names.
const char* spectrumKindName(SpectrumKind kind);

struct SpectrumRecord {
  std::string title;  // e.g. "absorbance of sample-001.jdx against background-001.jdx"
  SpectrumKind kind = SpectrumKind::SingleBeam;
  std::vector<double> wavenumbers;  // cm-1, increasing, as many as values
  std::vector<double> values;       // NaN (any value not finite): missing, e.g. where a ratio is undefined
  std::vector<FileParameter> parameters;
  std::vector<double> bands;  // cm-1: marked on the plot
};

// The members of the spectrum's file set (writeFileSet), to be written while the record lives. Each
// refuses a record without points or whose axis and values differ in length.
// CSV: "#" comment lines, then "wavenumber,value", a missing value left empty.
FileSetMember spectrumCsv(const SpectrumRecord& record, const std::string& path);
// JCAMP-DX: the pairs as ##XYDATA=(XY..XY), each number in its shortest exact text (jcampconverter,
// which ignores ##XYPOINTS, reads this form back bit for bit); a missing value is JCAMP-DX's "?".
FileSetMember spectrumJcamp(const SpectrumRecord& record, const std::string& path);

}  // namespace dorvane::host
