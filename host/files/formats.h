// The files the host saves of a record, one row per format: a new format is one row of the table in
// formats.cpp. A record's files form a set, written whole or not at all (whole_file.h). Data files
// are written as soon as a record is had; pictures when the plotter can (an acquisition draws them
// on a worker of their own, `dorvane plot` afterwards).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/files/interferogram_files.h"
#include "host/files/spectrum_files.h"
#include "host/files/whole_file.h"

namespace dorvane::host {

enum class FormatRole { Data, Picture };

struct OutputFormat {
  std::string_view extension;  // ".csv"
  FormatRole role;
  // The member that writes a record in this format at `path`; none when the format cannot be made
  // now (a picture without gnuplot).
  std::optional<FileSetMember> (*interferogram)(const InterferogramRecord& record, const std::string& path);
  std::optional<FileSetMember> (*spectrum)(const SpectrumRecord& record, const std::string& path);
};
// Reading back goes by a file's content, not its extension: readInterferogramFile and
// readSpectrumFile take the data formats' files alike.

std::span<const OutputFormat> outputFormats();

// The JCAMP-DX file names a saved record: its spectra, the live view and `dorvane view` go by it.
inline constexpr std::string_view kRecordExtension = ".jdx";

// Where a record's file set went: every file written, in the table's order.
struct SavedFiles {
  std::vector<std::string> paths;

  // The file of that extension, or "" when none was written.
  std::string path(std::string_view extension) const;
  std::string csv() const { return path(".csv"); }
  std::string jcamp() const { return path(kRecordExtension); }
  std::string png() const { return path(".png"); }
};

struct SavedSet {
  std::string failure;  // "" or the one line of the failure, after which nothing of the set is written
  SavedFiles files;
  bool plotterMissing = false;  // a picture was asked for, but gnuplot is not installed
};

// Which of a set's members a write makes.
enum class SetMembers { All, Data, Pictures };

// Writes a record's file set at <base><extension>, the pictures only with `pictures`. Every name of
// the set counts, also those this write makes no member for (a picture not drawn, or drawn later):
// with Existing::Keep a file there refuses the set, with Existing::Replace an old one is removed,
// so that no file of an old set stays beside the new one. A picture written on its own
// (SetMembers::Pictures) counts only its own names.
SavedSet saveInterferogramSet(const InterferogramRecord& record, const std::string& base, bool pictures,
                              Existing existing, SetMembers members = SetMembers::All);
SavedSet saveSpectrumSet(const SpectrumRecord& record, const std::string& base, bool pictures, Existing existing,
                         SetMembers members = SetMembers::All);

// Every name of the set at `base`, for the check before the first file (nameInTheWay).
std::vector<std::string> setNames(const std::string& base);

// The saved files beside `path` of the same stem, in the table's order.
std::vector<std::string> savedSiblings(const std::string& path);

}  // namespace dorvane::host
