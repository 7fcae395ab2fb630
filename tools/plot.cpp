// The PNG plot: gnuplot started without a shell, its script fed through its standard input, its
// chatter kept aside and shown only when it fails.
#include "tools/plot.h"

#include <charconv>
#include <cstring>
#include <exception>
#include <optional>

#include "tools/gnuplot_process.h"
#include "tools/whole_file.h"

namespace dorvane::host {
namespace {

constexpr const char* kNoPlotter = "gnuplot is not installed: no plot drawn (install gnuplot-nox)";
constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string cannotDraw(const std::string& path, const std::string& reason) {
  return "cannot draw " + shownPath(path) + ": " + reason;
}

// For a failure that threw (in practice std::bad_alloc); when even its line cannot be built, a line
// short enough to need no memory.
PlotResult thrownFailure(const std::string& path, const std::exception& thrown) noexcept {
  try {
    return {PlotOutcome::Failed, cannotDraw(path, thrown.what())};
  } catch (...) {
    return {PlotOutcome::Failed, "out of memory"};
  }
}

// A gnuplot single-quoted string takes everything literally except the quote, written twice.
std::string quoted(std::string_view text) {
  std::string result = "'";
  for (const char c : text) {
    result += c;
    if (c == '\'') result += '\'';
  }
  return result + "'";
}

std::string script(const InterferogramRecord& record, const std::string& outputPath) {
  std::string title = printableAscii(record.title);
  if (const std::string time = recordTimeText(record); !time.empty()) title += ", " + time;

  // noenhanced: a title is text, not markup ('_' and '^' would become sub- and superscripts).
  std::string text = "set terminal pngcairo noenhanced size 1200,700\n";
  text += "set output " + quoted(outputPath) + "\n";
  text += "set title " + quoted(title) + "\n";
  text += "set xlabel 'point'\nset ylabel 'volts (V)'\nset grid\n";
  text += "plot '-' with lines notitle\n";
  text.reserve(text.size() + record.volts.size() * 26 + 32);
  char digits[32];
  for (const double value : record.volts) {
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, error == std::errc{} ? end : digits);
    text += '\n';
  }
  text += "e\nunset output\nquit\n";
  return text;
}

// gnuplot echoes the failing command and points at it with '^' before saying what went wrong; the
// first line of that, with its padding squeezed out.
std::string firstComplaint(std::string_view rest) {
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string line = printableAscii(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    std::string compact;
    for (const char c : line) {
      if (c != ' ' || (!compact.empty() && compact.back() != ' ')) compact += c;
    }
    if (!compact.empty() && compact.back() == ' ') compact.pop_back();
    if (compact.empty() || compact == "^" || compact.starts_with("gnuplot>")) continue;
    return compact;
  }
  return {};
}

}  // namespace

std::string gnuplotFailure(std::string_view errorOutput, const std::string& exitStatus) {
  const std::string complaint = firstComplaint(errorOutput);
  return "gnuplot: " + (complaint.empty() ? exitStatus : complaint);
}

PlotResult plotPng(const InterferogramRecord& record, const std::string& pngPath) {
  try {
    const std::optional<std::string> gnuplot = findGnuplot();
    if (!gnuplot) return {PlotOutcome::NoPlotter, kNoPlotter};
    if (record.volts.empty())
      return {PlotOutcome::Failed, cannotDraw(pngPath, "the interferogram has no points")};
    // gnuplot reads its commands line by line: a line break in the name would end one early.
    if (shownPath(pngPath) != pngPath) {
      return {PlotOutcome::Failed, cannotDraw(pngPath, "the name holds control characters")};
    }
    const std::string failure = replaceFileWhole(pngPath, [&](TemporaryFile& file) {
      if (const std::string reason = runGnuplot(*gnuplot, script(record, file.path())); !reason.empty()) {
        return cannotDraw(pngPath, reason);
      }
      const std::string start = file.readStart(sizeof kPngSignature);
      if (start.size() != sizeof kPngSignature || std::memcmp(start.data(), kPngSignature, start.size()) != 0) {
        return cannotDraw(pngPath, "gnuplot wrote no PNG");
      }
      return std::string();
    });
    if (!failure.empty()) return {PlotOutcome::Failed, failure};
    return {PlotOutcome::Drawn, ""};
  } catch (const std::exception& thrown) {
    return thrownFailure(pngPath, thrown);
  }
}

}  // namespace dorvane::host
