// The PNG plot: gnuplot started without a shell, its script fed through its standard input, its
// chatter kept aside and shown only when it fails.
#include "host/files/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>

#include "host/os/gnuplot_process.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

// The centre burst's panel: 1/256 of the points on each side of the ZPD, within these bounds.
constexpr std::int64_t kZoomFraction = 256;
constexpr std::int64_t kLeastZoomHalfWidth = 32;
constexpr std::int64_t kMostZoomHalfWidth = 512;
constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string cannotDraw(const std::string& path, const std::string& reason) {
  return "cannot draw " + shownPath(path) + ": " + reason;
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

// noenhanced: a title is text, not markup ('_' and '^' would become sub- and superscripts).
std::string scriptStart(const std::string& outputPath, const std::string& title) {
  return "set terminal pngcairo noenhanced size 1200,700\nset output " + quoted(outputPath) + "\nset title " +
         quoted(title) + "\nset grid\n";
}

// The whole interferogram above, and below it the points about the ZPD, where the centre burst
// carries the spectrum's information and the full view shows only a spike.
std::string script(const InterferogramRecord& record, const std::string& outputPath) {
  std::string title = printableAscii(record.title);
  if (const std::string sample = trimmed(printableAscii(record.sample)); !sample.empty()) title = sample + ", " + title;
  if (const std::string time = recordTimeText(record); !time.empty()) title += ", " + time;
  std::string text = scriptStart(outputPath, title);
  text.reserve(text.size() + record.volts.size() * 26 + 1024);
  text += "$volts << EOD\n";
  for (const double value : record.volts) {
    appendNumber(text, value);
    text += '\n';
  }
  text += "EOD\nset xlabel 'point'\nset ylabel 'volts (V)'\n";
  const std::optional<std::int32_t> zpd = zpdIndexOf(record.volts);
  if (!zpd) return text + "plot $volts using 0:1 with lines notitle\nunset output\nquit\n";

  const auto last = static_cast<std::int64_t>(record.volts.size()) - 1;
  const std::int64_t halfWidth = std::clamp<std::int64_t>(last / kZoomFraction, kLeastZoomHalfWidth, kMostZoomHalfWidth);
  const std::int64_t from = std::max<std::int64_t>(0, *zpd - halfWidth);
  const std::int64_t to = std::min<std::int64_t>(last, *zpd + halfWidth);
  text += "set multiplot\nset size 1,0.58\nset origin 0,0.42\nset xrange [0:" + std::to_string(std::max<std::int64_t>(last, 1)) + "]\n";
  text += "plot $volts using 0:1 with lines notitle\n";
  text += "set size 1,0.42\nset origin 0,0\nset title " +
          quoted("centre burst: points " + std::to_string(from) + " to " + std::to_string(to) + ", the ZPD at point " +
                 std::to_string(*zpd)) +
          "\n";
  text += "set xrange [" + std::to_string(from) + ":" + std::to_string(std::max(to, from + 1)) + "]\n";
  text += "plot $volts using 0:1 with linespoints pointtype 7 pointsize 0.4 notitle\n";
  return text + "unset multiplot\nunset output\nquit\n";
}

// "x y" lines of inline data; a value that is not a number is gnuplot's NaN, a gap in the line.
void appendPoints(std::string& text, const std::vector<double>& x, const std::vector<double>& y) {
  for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
    appendNumber(text, x[i]);
    text += ' ';
    if (std::isfinite(y[i])) {
      appendNumber(text, y[i]);
    } else {
      text += "NaN";
    }
    text += '\n';
  }
}

// High wavenumbers on the left; each band a dashed line with its position beside it.
std::string spectrumScript(const SpectrumRecord& record, const std::string& outputPath) {
  std::string text = scriptStart(outputPath, printableAscii(record.title));
  const std::string values = record.kind == SpectrumKind::SingleBeam ? "single beam (arbitrary units)" : spectrumKindName(record.kind);
  text += "set xlabel 'wavenumber (cm-1)'\nset ylabel '" + values + "'\n";
  const double low = record.wavenumbers.front();
  const double high = record.wavenumbers.back();
  text += "set xrange [";
  appendNumber(text, high > low ? high : low + 1);
  text += ":";
  appendNumber(text, low);
  text += "]\n";
  for (const double band : record.bands) {
    char position[32];
    std::snprintf(position, sizeof position, "%.1f", band);
    text += "set arrow from " + std::string(position) + ", graph 0 to " + position +
            ", graph 1 nohead dashtype 2 linecolor rgb '#b03030'\n";
    text += "set label '" + std::string(position) + "' at " + position +
            ", graph 0.98 right rotate by 90 offset -0.6,0 font ',8' textcolor rgb '#b03030'\n";
  }
  text += "plot '-' using 1:2 with lines notitle\n";
  text.reserve(text.size() + record.values.size() * 48 + 32);
  appendPoints(text, record.wavenumbers, record.values);
  return text + "e\nunset output\nquit\n";
}

std::string trendScript(const TrendPicture& trend, const std::string& outputPath) {
  std::string text = scriptStart(outputPath, printableAscii(trend.title));
  text += "set xlabel 'seconds since the first file began'\nset ylabel " + quoted(printableAscii(trend.values)) + "\n";
  text += "set key bottom right\n$points << EOD\n";
  appendPoints(text, trend.seconds, trend.points);
  text += "EOD\nplot $points using 1:2 with linespoints pointtype 7 pointsize 0.8 title 'measured'";
  if (const std::optional<ExponentialRise>& fit = trend.fit) {
    char curve[160];
    std::snprintf(curve, sizeof curve, ", %.17g - %.17g * exp(-x / %.17g) with lines linewidth 2 title 'a - b exp(-t / %.3g s)'",
                  fit->a, fit->b, fit->tau, fit->tau);
    text += curve;
  }
  return text + "\nunset output\nquit\n";
}

// gnuplot draws the script that `scriptFor` makes for the temporary file's name, and what it wrote
// is checked to be a PNG before the set moves it into place.
std::optional<FileSetMember> plotMember(const std::string& pngPath, bool empty,
                                        std::function<std::string(const std::string&)> scriptFor) {
  std::optional<std::string> gnuplot = findGnuplot();
  if (!gnuplot) return std::nullopt;
  return FileSetMember{pngPath, [empty, gnuplot = std::move(*gnuplot), scriptFor = std::move(scriptFor)](TemporaryFile& file) {
                         const std::string& png = file.target();
                         if (empty) return cannotDraw(png, "there are no points to draw");
                         // gnuplot reads its commands line by line: a line break in the name would end one early.
                         if (shownPath(png) != png) return cannotDraw(png, "the name holds control characters");
                         if (const std::string reason = runGnuplot(gnuplot, scriptFor(file.path())); !reason.empty()) {
                           return cannotDraw(png, reason);
                         }
                         const std::string start = file.readStart(sizeof kPngSignature);
                         if (start.size() != sizeof kPngSignature || std::memcmp(start.data(), kPngSignature, start.size()) != 0) {
                           return cannotDraw(png, "gnuplot wrote no PNG");
                         }
                         return std::string();
                       }};
}

}  // namespace

std::optional<FileSetMember> interferogramPlot(const InterferogramRecord& record, const std::string& pngPath) {
  return plotMember(pngPath, record.volts.empty(), [&record](const std::string& path) { return script(record, path); });
}

std::optional<FileSetMember> spectrumPlot(const SpectrumRecord& record, const std::string& pngPath) {
  const bool empty = record.values.empty() || record.wavenumbers.size() != record.values.size();
  return plotMember(pngPath, empty, [&record](const std::string& path) { return spectrumScript(record, path); });
}

std::optional<FileSetMember> trendPlot(const TrendPicture& trend, const std::string& pngPath) {
  return plotMember(pngPath, trend.points.empty(), [&trend](const std::string& path) { return trendScript(trend, path); });
}

}  // namespace dorvane::host
