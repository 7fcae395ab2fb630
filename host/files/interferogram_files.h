// Saving an interferogram as the host hands it out: CSV for spreadsheets and scripts, JCAMP-DX 4.24
// for spectroscopy software. Both carry the exact values the driver returned (the JCAMP-DX file as
// whole numbers times a power of two, exact whenever the values span at most 53 bits, as the
// driver's always do), and both are members of the record's file set, written whole or not at all
// (whole_file.h). Both also carry what turning them into spectra needs: the bench's sampling (its
// reference laser and undersampling ratio), the ZPD, the points and the scans; and what people
// look for: the sample, the operator, a comment, the date and time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/files/whole_file.h"

namespace dorvane::host {

// An interferogram and what the host knows about it.
struct InterferogramRecord {
  std::string title;          // e.g. "file 2 of 3", "stored block 0"
  std::vector<double> volts;  // exactly as the driver returned them
  double timestampMs = 0;     // ms since 1970-01-01 00:00:00 UTC; 0: unknown (a stored block)
  std::string benchDate;      // the bench's own date line of a stored block; empty otherwise
  std::optional<std::int32_t> scans;  // co-added scans; none: unknown
  std::optional<std::int32_t> gain;   // none: unknown (a stored block)
  std::int32_t benchIdentity = 0;  // "whoAreYou": (family << 16) | model; 0: unknown
  std::string setupText;           // getSetup's text; empty: none
  // The sampling: points lie r / (2 sigmaL) cm apart. sigmaL is the reference laser's wavenumber
  // (cm-1) and r the undersampling ratio, taken from the settings' lasersamp (undersamplingOf).
  // None: not known (files saved before the host wrote them).
  std::optional<double> laserWavenumber;
  std::optional<std::int32_t> undersampling;
  // What the user says of the measurement (--sample, --operator, --comment); empty: not said.
  std::string sample;
  std::string operatorName;
  std::string comment;
  // When the host asked for the file, in ms since 1970 UTC: a timed series counts its seconds
  // from it. 0: not known (a stored block, files saved before the host kept it).
  double startedMs = 0;
};

// The undersampling ratio r for a `lasersamp` setting: 1, 2, 4 and 8 as they are, anything else
// (a missing key reads as 0) 2, which is what the driver sends the bench for it. Reading lasersamp
// as r is an assumption until a real bench confirms it; the files say so beside the value.
std::int32_t undersamplingOf(std::int32_t lasersamp);
// The reference laser's wavenumber the spectra library takes by default (cm-1).
double defaultLaserWavenumber();
inline constexpr const char* kUndersamplingNote = "lasersamp, assumed until a real bench confirms it";

// The zero path difference: the point processing takes for it by default (the largest distance
// from the mean). None for an interferogram it cannot process (too short, flat, not finite).
std::optional<std::int32_t> zpdIndexOf(const std::vector<double>& volts);

// The CSV and JCAMP-DX members of the record's file set (writeFileSet), to be written while the
// record lives. The JCAMP-DX file refuses a record without points or with a value that is not a
// finite number ("cannot write PATH: point 3 is not a finite number").
FileSetMember interferogramCsv(const InterferogramRecord& record, const std::string& path);
FileSetMember interferogramJcamp(const InterferogramRecord& record, const std::string& path);

// The file stem of a stored block, from its time as the bench lists it ("Mon Dec 07 11:02:10:33":
// weekday, month, day, hh:mm:ss and hundredths, no year): "stored-block-Dec07-110210.33", which
// sorts by time within a month and holds no ':' (Windows refuses it). The list comes from the
// serial line, so anything else gives "stored-block-<index>-undated", built from no byte of it.
std::string storedBlockStem(std::string_view benchDate, std::int32_t index);

// The number on the "name value" line of getSetup's text (e.g. "  scanTime 50 0x32"); none when the
// text has no such line or no whole number there.
std::optional<std::int64_t> setupValue(std::string_view setupText, std::string_view name);

// The scans a stored block co-added, from the setup text (getSetup's "  sampScans N ..." and
// "  bkgScans M ..." lines): a sample block co-adds N and a background block M, and which one the
// block is the host cannot see, so N when M is N or 0 (no background scans set), else none.
std::optional<std::int32_t> storedBlockScans(std::string_view setupText);

// What the PNG plot shares with the saved files.

// "family 9 model 60" for a "whoAreYou" identity; "unknown" for 0.
std::string benchName(std::int32_t identity);

// When the record was taken, for people: "2026-12-07T10:53:26.123Z" (UTC), else the bench's own date
// of a stored block, else "". Printable ASCII only.
std::string recordTimeText(const InterferogramRecord& record);

// A moment (ms since 1970-01-01 00:00:00 UTC) in UTC, written by strftime's `format`.
std::string utcTimeText(const char* format, double timestampMs);

}  // namespace dorvane::host
