// The series table read back: the bands from its column names and their "#" lines, then each row's
// seconds and measures, the file's name between them taken as it stands (a comma in it included).
#include "host/files/series_reader.h"

#include <cmath>
#include <string_view>

#include "host/files/text_reading.h"

namespace dorvane::host {
namespace {

using text_reading::bad;
using text_reading::Lines;
using text_reading::quoted;

constexpr std::uintmax_t kLargestSeriesFile = 512ull << 20;
constexpr std::string_view kMeasures[] = {" area", " height", " position"};

// "seconds,file,NAME area,NAME height,NAME position,...": the band names, which hold no comma.
std::vector<TrackedBand> bandsOf(const Lines& lines, std::string_view columns) {
  const std::vector<std::string_view> names = text_reading::csvFields(columns);
  if (names.size() < 5 || names[0] != "seconds" || names[1] != "file" || (names.size() - 2) % 3 != 0) {
    bad(lines.at() + quoted(columns) + " where the column names seconds,file,NAME area,NAME height,NAME position belong");
  }
  std::vector<TrackedBand> bands;
  for (std::size_t column = 2; column < names.size(); column += 3) {
    const std::string_view area = names[column];
    if (!area.ends_with(kMeasures[0])) bad(lines.at() + "the column " + quoted(area) + " is not a band's area");
    TrackedBand band;
    band.name = std::string(area.substr(0, area.size() - kMeasures[0].size()));
    for (std::size_t k = 1; k < 3; ++k) {
      if (names[column + k] != band.name + std::string(kMeasures[k])) {
        bad(lines.at() + "the column " + quoted(names[column + k]) + " is not " + band.name + std::string(kMeasures[k]));
      }
    }
    bands.push_back(std::move(band));
  }
  return bands;
}

// "# NAME: LO to HI cm-1; ...": the band's range, told by its name's line.
void takeRange(std::vector<TrackedBand>& bands, const Lines& lines, std::string_view comment) {
  for (TrackedBand& band : bands) {
    const std::string opening = "# " + band.name + ": ";
    if (!comment.starts_with(opening)) continue;
    std::string_view range = comment.substr(opening.size());
    range = range.substr(0, range.find(" cm-1"));
    const std::size_t to = range.find(" to ");
    if (to == std::string_view::npos) bad(lines.at() + "the range of " + quoted(band.name) + " is not LO to HI cm-1");
    band.low = text_reading::finiteValue(lines, range.substr(0, to));
    band.high = text_reading::finiteValue(lines, range.substr(to + 4));
  }
}

double measureOf(const Lines& lines, std::string_view text) {
  return text.empty() ? NAN : text_reading::finiteValue(lines, text);
}

SeriesTable readTable(std::string_view text) {
  SeriesTable table;
  Lines lines(text);
  std::string_view line;
  lines.next(line);
  if (!line.starts_with(kSeriesTitleStart) || !line.ends_with(kSeriesTitleEnd)) bad(lines.at() + quoted(line) + " is not a series table's title");
  table.values = std::string(line.substr(kSeriesTitleStart.size(), line.size() - kSeriesTitleStart.size() - kSeriesTitleEnd.size()));
  std::vector<std::string_view> comments;
  while (lines.next(line) && line.starts_with("#")) comments.push_back(line);
  table.bands = bandsOf(lines, line);
  for (const std::string_view comment : comments) takeRange(table.bands, lines, comment);
  table.measures.resize(table.bands.size());
  const std::size_t columns = 2 + 3 * table.bands.size();
  while (text_reading::nextCsvRow(lines, line)) {
    const std::vector<std::string_view> row = text_reading::csvFields(line);
    if (row.size() < columns) {
      bad(lines.at() + "the row holds " + std::to_string(row.size()) + " fields where " + std::to_string(columns) + " belong");
    }
    table.seconds.push_back(text_reading::finiteValue(lines, row[0]));
    // The file's name may hold commas: the measures are the row's last fields.
    const std::size_t first = row.size() - 3 * table.bands.size();
    for (std::size_t band = 0; band < table.bands.size(); ++band) {
      const std::size_t at = first + 3 * band;
      table.measures[band].push_back({measureOf(lines, row[at]), measureOf(lines, row[at + 1]), measureOf(lines, row[at + 2])});
    }
  }
  if (table.seconds.empty()) bad("it holds no rows");
  return table;
}

}  // namespace

SeriesReading readSeriesFile(const std::string& path) {
  SeriesReading reading;
  reading.failure = text_reading::contentFailure([&] {
    reading.table = readTable(text_reading::savedFileText(path, kLargestSeriesFile, "series table"));
  });
  return reading;
}

bool isSavedSeries(const std::string& path) {
  return text_reading::fileOpening(path, kSeriesTitleStart.size()) == kSeriesTitleStart;
}

}  // namespace dorvane::host
