// The CSV and JCAMP-DX files of a spectrum, built from the shared file text (file_text.h).
#include "host/files/spectrum_files.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "host/files/interferogram_files.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

std::string csvText(const SpectrumRecord& record) {
  std::string text;
  text.reserve(1024 + record.values.size() * 44);
  text += "# dorvane spectrum: " + printableAscii(record.title) + "\n";
  text += std::string("# values: ") + spectrumKindName(record.kind) + "\n";
  text += "# points: " + std::to_string(record.values.size()) + "\n";
  appendCsvParameters(text, record.parameters);
  text += "wavenumber,value\n";
  for (std::size_t i = 0; i < record.values.size(); ++i) {
    appendNumber(text, record.wavenumbers[i]);
    text += ',';
    if (std::isfinite(record.values[i])) appendNumber(text, record.values[i]);
    text += '\n';
  }
  return text;
}

std::string jcampText(const SpectrumRecord& record) {
  const std::size_t points = record.values.size();
  std::string text;
  text.reserve(2048 + points * 48);
  // The title alone: a long one would lose its end to the line width.
  appendJcampOpening(text, record.title, "INFRARED SPECTRUM");
  appendLabel(text, "SPECTROMETER/DATA SYSTEM", "FTIR bench");
  appendJcampParameters(text, record.parameters);
  appendLabel(text, "XUNITS", "1/CM");
  std::string units = record.kind == SpectrumKind::SingleBeam ? "ARBITRARY UNITS" : spectrumKindName(record.kind);
  std::transform(units.begin(), units.end(), units.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  appendLabel(text, "YUNITS", units);
  appendLabel(text, "XFACTOR", "1");
  appendLabel(text, "YFACTOR", "1");
  appendLabel(text, "FIRSTX", jcampNumberText(record.wavenumbers.front()));
  appendLabel(text, "LASTX", jcampNumberText(record.wavenumbers.back()));
  if (points > 1) {
    appendLabel(text, "DELTAX", jcampNumberText((record.wavenumbers.back() - record.wavenumbers.front()) / static_cast<double>(points - 1)));
  }
  // The labels that describe values say nothing when no value is there to describe.
  std::vector<double> present;
  std::copy_if(record.values.begin(), record.values.end(), std::back_inserter(present), [](double v) { return std::isfinite(v); });
  if (std::isfinite(record.values.front())) appendLabel(text, "FIRSTY", jcampNumberText(record.values.front()));
  if (!present.empty()) {
    const auto [lowest, highest] = std::minmax_element(present.begin(), present.end());
    appendLabel(text, "MAXY", jcampNumberText(*highest));
    appendLabel(text, "MINY", jcampNumberText(*lowest));
  }
  appendLabel(text, "NPOINTS", std::to_string(points));
  appendLabel(text, "XYDATA", "(XY..XY)");
  for (std::size_t i = 0; i < points; ++i) {
    text += jcampNumberText(record.wavenumbers[i]);
    text += ", ";
    text += !std::isfinite(record.values[i]) ? std::string("?") : jcampNumberText(record.values[i]);
    text += '\n';
  }
  appendLabel(text, "END", "");
  return text;
}

// A member holding `text` of the record, once the record is checked.
FileSetMember checkedMember(const SpectrumRecord& record, const std::string& path, std::string (*text)(const SpectrumRecord&)) {
  return {path, [&record, text](TemporaryFile& file) {
            if (record.values.empty()) return cannotWrite(file.target(), "the spectrum has no points");
            if (record.wavenumbers.size() != record.values.size()) {
              return cannotWrite(file.target(), "the spectrum's axis and values differ in length");
            }
            return file.write(text(record));
          }};
}

}  // namespace

const char* spectrumKindName(SpectrumKind kind) {
  switch (kind) {
    case SpectrumKind::Transmittance: return "transmittance";
    case SpectrumKind::Absorbance: return "absorbance";
    case SpectrumKind::SingleBeam: break;
  }
  return "single beam";
}

FileSetMember spectrumCsv(const SpectrumRecord& record, const std::string& path) { return checkedMember(record, path, csvText); }

FileSetMember spectrumJcamp(const SpectrumRecord& record, const std::string& path) {
  return checkedMember(record, path, jcampText);
}

}  // namespace dorvane::host
