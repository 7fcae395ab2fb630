// The PNG plot: gnuplot started without a shell, its script fed through its standard input, its
// chatter kept aside and shown only when it fails.
#include "host/files/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

#include "host/files/file_text.h"
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

// The spectrum's frame on the 1200 px picture, fixed so that a band's place in pixels is known.
constexpr double kFrameLeft = 0.07, kFrameRight = 0.975;
constexpr double kPictureWidthPx = 1200;
// Band labels stand upright in a strip above the spectrum, each joined to its band's line by a
// short leader; this many pixels apart (the 8-point text's height and a gap), none overlap.
constexpr double kLabelSpacingPx = 13;
// Room above the highest point for the strip, as a share of the values' span; where the dashed
// lines end and the leaders begin, and where the labels start (graph fractions).
constexpr double kLabelHeadroom = 0.3;
constexpr double kLeaderFrom = 0.8, kLeaderTo = 0.84;

}  // namespace

std::vector<double> bandLabelPlaces(const std::vector<double>& bands, double low, double high) {
  const double widthPx = (kFrameRight - kFrameLeft) * kPictureWidthPx;
  const double pxPerUnit = widthPx / std::max(high - low, 1e-9);
  // Pixels from the left, where the highest wavenumber is.
  std::vector<std::size_t> order(bands.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&bands](std::size_t a, std::size_t b) { return bands[a] > bands[b]; });
  // Labels that would crowd each other are pooled into a run, evenly spaced and centred on their
  // bands' mean, within the frame; a run that then reaches the one before is pooled with it too.
  struct Run {
    std::size_t first, count;
    double sumPx, startPx;
  };
  std::vector<Run> runs;
  const auto place = [widthPx](Run& run) {
    const double span = static_cast<double>(run.count - 1) * kLabelSpacingPx;
    run.startPx = std::clamp(run.sumPx / static_cast<double>(run.count) - span / 2, 0.0, std::max(widthPx - span, 0.0));
  };
  for (std::size_t k = 0; k < order.size(); ++k) {
    runs.push_back({k, 1, (high - bands[order[k]]) * pxPerUnit, 0});
    place(runs.back());
    while (runs.size() > 1) {
      Run& before = runs[runs.size() - 2];
      const Run& last = runs.back();
      if (before.startPx + static_cast<double>(before.count) * kLabelSpacingPx <= last.startPx) break;
      before.count += last.count;
      before.sumPx += last.sumPx;
      runs.pop_back();
      place(runs.back());
    }
  }
  std::vector<double> places(bands.size());
  for (const Run& run : runs) {
    for (std::size_t j = 0; j < run.count; ++j) {
      places[order[run.first + j]] = high - (run.startPx + static_cast<double>(j) * kLabelSpacingPx) / pxPerUnit;
    }
  }
  return places;
}

namespace {

// High wavenumbers on the left; each band a dashed line, its position in the strip above.
std::string spectrumScript(const SpectrumRecord& record, const std::string& outputPath) {
  std::string text = scriptStart(outputPath, printableAscii(record.title));
  const std::string values = record.kind == SpectrumKind::SingleBeam ? "single beam (arbitrary units)" : spectrumKindName(record.kind);
  text += "set xlabel 'wavenumber (cm-1)'\nset ylabel '" + values + "'\n";
  text += "set lmargin at screen " + numberText(kFrameLeft) + "\nset rmargin at screen " + numberText(kFrameRight) + "\n";
  const double low = record.wavenumbers.front();
  const double high = record.wavenumbers.back();
  text += "set xrange [";
  appendNumber(text, high > low ? high : low + 1);
  text += ":";
  appendNumber(text, low);
  text += "]\n";
  if (!record.bands.empty()) text += "set offsets 0, 0, graph " + numberText(kLabelHeadroom) + ", 0\n";
  const std::vector<double> places = bandLabelPlaces(record.bands, std::min(low, high), std::max(low, high));
  for (std::size_t i = 0; i < record.bands.size(); ++i) {
    char band[32], place[32];
    std::snprintf(band, sizeof band, "%.1f", record.bands[i]);
    std::snprintf(place, sizeof place, "%.3f", places[i]);
    const std::string colour = " linecolor rgb '#b03030'\n";
    text += "set arrow from " + std::string(band) + ", graph 0 to " + band + ", graph " + numberText(kLeaderFrom) +
            " nohead dashtype 2" + colour;
    text += "set arrow from " + std::string(band) + ", graph " + numberText(kLeaderFrom) + " to " + place + ", graph " +
            numberText(kLeaderTo) + " nohead" + colour;
    text += "set label '" + std::string(band) + "' at " + place + ", graph " + numberText(kLeaderTo + 0.01) +
            " left rotate by 90 offset 0.45,0 font ',8' textcolor rgb '#b03030'\n";
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
