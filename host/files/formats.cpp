#include "host/files/formats.h"

#include <array>
#include <exception>
#include <filesystem>
#include <system_error>

#include "host/files/plot.h"

namespace dorvane::host {
namespace {

// The writers that always make their member, as the table's rows take them.
template <typename Record, FileSetMember (*write)(const Record&, const std::string&)>
std::optional<FileSetMember> always(const Record& record, const std::string& path) {
  return write(record, path);
}

constexpr std::array kFormats{
    OutputFormat{".csv", FormatRole::Data, always<InterferogramRecord, interferogramCsv>,
                 always<SpectrumRecord, spectrumCsv>},
    OutputFormat{kRecordExtension, FormatRole::Data, always<InterferogramRecord, interferogramJcamp>,
                 always<SpectrumRecord, spectrumJcamp>},
    OutputFormat{".png", FormatRole::Picture, interferogramPlot, spectrumPlot},
};

bool written(const OutputFormat& format, bool pictures, SetMembers members) {
  if (format.role == FormatRole::Picture) return pictures && members != SetMembers::Data;
  return members != SetMembers::Pictures;
}

template <typename Record>
SavedSet saveSet(const Record& record, const std::string& base, bool pictures, Existing existing, SetMembers members,
                 std::optional<FileSetMember> (*OutputFormat::*writer)(const Record&, const std::string&)) {
  try {
    SavedSet saved;
    std::vector<FileSetMember> writing;
    std::vector<std::string> leftOut;
    for (const OutputFormat& format : kFormats) {
      const std::string path = base + std::string(format.extension);
      const bool asked = written(format, pictures, members);
      std::optional<FileSetMember> member = asked ? (format.*writer)(record, path) : std::nullopt;
      if (member) {
        writing.push_back(std::move(*member));
        saved.files.paths.push_back(path);
        continue;
      }
      saved.plotterMissing = saved.plotterMissing || asked;
      if (members != SetMembers::Pictures) leftOut.push_back(path);
    }
    if (writing.empty()) return saved;
    saved.failure = writeFileSet(writing, existing, leftOut);
    if (!saved.failure.empty()) saved.files = {};
    return saved;
  } catch (const std::exception& thrown) {
    return {thrownFailure(base + std::string(kFormats.front().extension), thrown), {}, false};
  }
}

}  // namespace

std::span<const OutputFormat> outputFormats() { return kFormats; }

std::string SavedFiles::path(std::string_view extension) const {
  for (const std::string& saved : paths) {
    if (saved.size() >= extension.size() && saved.compare(saved.size() - extension.size(), extension.size(), extension) == 0) {
      return saved;
    }
  }
  return {};
}

SavedSet saveInterferogramSet(const InterferogramRecord& record, const std::string& base, bool pictures,
                              Existing existing, SetMembers members) {
  return saveSet(record, base, pictures, existing, members, &OutputFormat::interferogram);
}

SavedSet saveSpectrumSet(const SpectrumRecord& record, const std::string& base, bool pictures, Existing existing,
                         SetMembers members) {
  return saveSet(record, base, pictures, existing, members, &OutputFormat::spectrum);
}

std::vector<std::string> setNames(const std::string& base) {
  std::vector<std::string> names;
  for (const OutputFormat& format : kFormats) names.push_back(base + std::string(format.extension));
  return names;
}

std::vector<std::string> savedSiblings(const std::string& path) {
  namespace fs = std::filesystem;
  std::vector<std::string> siblings;
  std::error_code error;
  for (const OutputFormat& format : kFormats) {
    const fs::path sibling = fs::path(path).replace_extension(format.extension);
    if (fs::exists(sibling, error)) siblings.push_back(sibling.string());
  }
  return siblings;
}

}  // namespace dorvane::host
