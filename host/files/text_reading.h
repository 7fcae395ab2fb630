// What the readers of the host's saved files share: the file read whole once its size is bounded,
// its lines counted, each number parsed whole and checked, and one line for what is wrong. For
// host/files' readers only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::host::text_reading {

// As much of an offending piece of text as a failure line quotes.
inline constexpr std::size_t kQuotedLength = 40;

// A failure of the file's content, caught at the top and turned into the reading's line.
struct BadContent {
  std::string what;
};

[[noreturn]] void bad(std::string what);

// Runs `read`, which throws BadContent for what is wrong with the file: "" or that line.
std::string contentFailure(const std::function<void()>& read);

// The whole file, when it is a file of at most `largest` bytes with more than blanks in it; else
// BadContent ("no such file", "it is larger than 512 MiB: no NOUN of dorvane's is", ...).
std::string savedFileText(const std::string& path, std::uintmax_t largest, std::string_view noun);

// Up to `bytes` of the file's first bytes (fewer when it is shorter; none when it cannot be read):
// enough to tell a file's kind without reading it whole.
std::string fileOpening(const std::string& path, std::size_t bytes);

// How every JCAMP-DX file of the host's starts.
inline constexpr std::string_view kJcampStart = "##TITLE=";

// The host's two formats of one kind of record, and how a file of the kind is told and read.
template <typename Record>
struct SavedFormats {
  std::string_view noun;      // "interferogram"
  std::uintmax_t largest;     // bytes
  std::string_view csvStart;  // the CSV file's first line begins so, e.g. "# dorvane interferogram:"
  std::string_view foreign;   // what any other file is told
  Record (*csv)(std::string_view text);
  Record (*jcamp)(std::string_view text);
};

// "" with `record` read from the file by its format's reader, or the line that says what is wrong.
template <typename Record>
std::string readSavedFile(const std::string& path, const SavedFormats<Record>& formats, Record& record) {
  return contentFailure([&] {
    const std::string text = savedFileText(path, formats.largest, formats.noun);
    if (text.starts_with(formats.csvStart)) {
      record = formats.csv(text);
    } else if (text.starts_with(kJcampStart)) {
      record = formats.jcamp(text);
    } else {
      bad(std::string(formats.foreign));
    }
  });
}

// `text` in quotes, cut to kQuotedLength and made printable.
std::string quoted(std::string_view text);

// The file's lines one by one, each without its line end ("\n" or "\r\n"), counted from 1.
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}
  bool next(std::string_view& line);
  std::string at() const { return "line " + std::to_string(number_) + ": "; }

 private:
  std::string_view rest_;
  std::size_t number_ = 0;
};

// The whole of `text` as a finite number (no blanks, nothing after it), or BadContent.
double finiteValue(const Lines& lines, std::string_view text);
// The whole of `text` as a whole number from low to high, or BadContent naming it as `what`.
long long integerIn(const Lines& lines, std::string_view what, std::string_view text, long long low, long long high);

// BadContent unless the file holds points, as many as it says when it says.
void checkPointCount(std::size_t count, std::optional<long long> declared);

// "##NAME=value" with the value's "$$" comment and its surrounding blanks dropped.
struct Label {
  std::string_view name, value;
};
Label labelOf(std::string_view line);

// What a reader does with each label or comment line of a header that it knows.
using TakeLabel = std::function<void(std::string_view name, std::string_view value)>;

// Reads a CSV file's header: the title on its first line after `start`, each comment line
// "# name: value" to `take`, then the column names, which must be `columns`. Returns the title.
std::string readCsvHeader(Lines& lines, std::string_view start, std::string_view columns, const TakeLabel& take);
// A CSV row's fields, split at every comma (the host's tables quote nothing).
std::vector<std::string_view> csvFields(std::string_view line);

// The next row of a CSV file's table; false at its end: the end of the file, or a blank line after
// which only blank lines come (BadContent at a line that is not).
bool nextCsvRow(Lines& lines, std::string_view& line);

// What a reader takes for a JCAMP-DX file of its kind.
struct JcampKind {
  std::string_view dataType;  // "INFRARED INTERFEROGRAM"
  std::string_view named;     // "an interferogram", for "not an interferogram"
  std::string_view dataForm;  // "(X++(Y..Y))", as dorvane writes the kind
  std::size_t largestPoints;
};
// The labels of the header that every reader checks alike.
struct JcampHeader {
  std::string_view title;             // ##TITLE=
  bool typed = false;                 // ##DATA TYPE= named the kind
  bool data = false;                  // ##XYDATA= was reached: the data follow
  std::optional<long long> declared;  // ##NPOINTS=
};
// Reads a JCAMP-DX file's header up to ##XYDATA=, or up to ##END= or the end of the file. The data
// type, the data's form and the point count are checked here (another type or form is refused at
// once); every label goes to `take` as well. Other lines (comments, continued values) are passed over.
JcampHeader readJcampHeader(Lines& lines, const JcampKind& kind, const TakeLabel& take);
// The next line of a JCAMP-DX file's data; false at ##END=, BadContent at any other label or at the
// end of the file.
bool nextJcampDataLine(Lines& lines, std::string_view& line);

}  // namespace dorvane::host::text_reading
