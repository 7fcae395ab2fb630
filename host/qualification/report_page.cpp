// The report page: tables from qualification.json as it stands, pictures drawn as SVG in the page.
// Nothing in the report is trusted to be present or of its type: a test that could not run is null,
// and a report read back from a folder may have been edited.
#include "host/qualification/report_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

namespace dorvane::host::qualification {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kNone = "—";

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;  // every attribute of the page is in double quotes
      default: out += c;
    }
  }
  return out;
}

// ---- the report's values, whatever is there ------------------------------------------------------

// The member `key` of `object`, or nullptr when `object` is no object or the member is missing or null.
const Json* member(const Json* object, std::string_view key) {
  if (object == nullptr || !object->is_object()) return nullptr;
  const auto found = object->find(key);
  if (found == object->end() || found->is_null()) return nullptr;
  return &*found;
}

// A test's record, or nullptr when the run has none (null, missing, or not a record at all).
const Json* testOf(const Json* tests, std::string_view key) {
  const Json* test = member(tests, key);
  return test != nullptr && test->is_object() ? test : nullptr;
}

std::optional<double> number(const Json* value) {
  if (value == nullptr || !value->is_number()) return std::nullopt;
  const double got = value->get<double>();
  if (!std::isfinite(got)) return std::nullopt;
  return got;
}

std::optional<bool> flag(const Json* value) {
  if (value == nullptr || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

std::string fixed(std::optional<double> value, int decimals) {
  if (!value) return std::string(kNone);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, *value);
  return buffer;
}

// A string as it is, a number or a flag as JSON writes it: escaped, or "—" when there is none.
std::string shown(const Json* value) {
  if (value == nullptr) return std::string(kNone);
  if (value->is_string()) return escaped(value->get_ref<const std::string&>());
  if (value->is_number_float()) {
    // JSON writes 1.2e6 as 1200000.0; a level is read better whole.
    const double got = value->get<double>();
    if (std::abs(got) >= 1e4 && std::abs(got) < 1e15 && got == std::floor(got)) return fixed(got, 0);
  }
  if (value->is_number() || value->is_boolean()) return escaped(value->dump());
  return std::string(kNone);
}

std::string shown(const Json* object, std::string_view key) { return shown(member(object, key)); }

std::string text(const Json* object, std::string_view key) {
  const Json* value = member(object, key);
  return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

// The elements of an array member; none when it is missing or no array.
std::vector<const Json*> items(const Json* object, std::string_view key) {
  std::vector<const Json*> found;
  const Json* list = member(object, key);
  if (list == nullptr || !list->is_array()) return found;
  for (const Json& item : *list) found.push_back(&item);
  return found;
}

std::string percentOfShare(const Json* object, std::string_view key) {
  const std::optional<double> share = number(member(object, key));
  return share ? fixed(*share * 100, 1) + " %" : std::string(kNone);
}

std::string signedNumber(const Json* object, std::string_view key) {
  const std::optional<double> value = number(member(object, key));
  if (!value) return std::string(kNone);
  return (*value > 0 ? "+" : "") + shown(member(object, key));
}

std::string verdictWord(std::optional<bool> passed) {
  if (!passed) return "<span class=\"verdict none\">NONE</span>";
  return *passed ? "<span class=\"verdict pass\">PASS</span>" : "<span class=\"verdict fail\">FAIL</span>";
}

std::string verdictCell(const Json* row) { return "<td class=\"verdict-cell\">" + verdictWord(flag(member(row, "passed"))) + "</td>"; }

// A row's failure line under it, across the table.
std::string failureRow(const Json* row, int columns) {
  const std::string failure = text(row, "failure");
  if (failure.empty()) return {};
  return "<tr class=\"failure-row\"><td colspan=\"" + std::to_string(columns) + "\">" + escaped(failure) + "</td></tr>\n";
}

std::string table(const std::vector<std::string>& headings, const std::string& rows) {
  std::string html = "<table>\n<thead><tr>";
  for (const std::string& heading : headings) html += "<th>" + heading + "</th>";
  return html + "</tr></thead>\n<tbody>\n" + rows + "</tbody>\n</table>\n";
}

// ---- pictures -----------------------------------------------------------------------------------

std::string coordinate(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  return buffer;
}

// Tick values at 1, 2 or 5 times a power of ten, about `count` of them across [low, high].
std::vector<double> niceTicks(double low, double high, int count) {
  std::vector<double> ticks;
  const double span = high - low;
  if (!(span > 0) || !std::isfinite(span)) return ticks;
  const double rough = span / count;
  const double power = std::pow(10, std::floor(std::log10(rough)));
  double step = power;
  for (const double times : {1.0, 2.0, 5.0, 10.0}) {
    step = times * power;
    if (step >= rough) break;
  }
  for (double tick = std::ceil(low / step) * step; tick <= high + step * 1e-9; tick += step) {
    ticks.push_back(std::abs(tick) < step * 1e-9 ? 0 : tick);
  }
  return ticks;
}

std::string tickText(double value, double step) {
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  return fixed(value, std::clamp(decimals, 0, 6));
}

struct Axis {
  double low = 0, high = 1;
  bool reversed = false;  // a spectrum's wavenumbers fall from left to right, as IR spectra are drawn
  std::string label;
};

// An interval of x shaded (a band's tolerance window, a range the noise is taken over).
struct Shade {
  double low, high;
  std::string kind;
};
// A vertical line at x, or a horizontal one at y, with a short label.
struct Rule {
  double at;
  std::string kind, label;
  bool tick = false;  // a short mark under the top edge, leaving the curve beneath it clear
};
struct Dot {
  double x, y;
  std::string kind;
};

struct Plot {
  std::string id;  // unique in the page: its clip path's name
  double width = 900, height = 300;
  std::string title;
  Axis x, y;
  std::vector<Shade> xShades;
  std::optional<Shade> yShade;  // a band of y: a limit either side of a target
  const Curve* curve = nullptr;
  std::vector<Rule> xRules, yRules;
  std::vector<Dot> dots;
  int xTickCount = 8, yTickCount = 5;
  bool wholeXTicks = false;  // x counts runs: no tick between two
};

struct Frame {
  double left, top, width, height;
  Axis x, y;
  double px(double value) const {
    const double share = (value - x.low) / (x.high - x.low);
    return left + (x.reversed ? 1 - share : share) * width;
  }
  double py(double value) const { return top + (1 - (value - y.low) / (y.high - y.low)) * height; }
};

// The curve's points in the frame's x range as a path, thinned to a lowest and a highest point per
// column of the drawing (in their order along x), so that 65 536 points make a few thousand and a
// band one column wide keeps its depth. A missing value breaks the line.
std::string thinnedPath(const Curve& curve, const Frame& frame) {
  std::string path;
  const std::size_t count = std::min(curve.wavenumbers.size(), curve.values.size());
  bool penDown = false;
  long column = std::numeric_limits<long>::min();
  std::size_t lowest = 0, highest = 0;
  bool open = false;
  const auto point = [&](std::size_t i) {
    path += (penDown ? "L" : "M") + coordinate(frame.px(curve.wavenumbers[i])) + "," + coordinate(frame.py(curve.values[i]));
    penDown = true;
  };
  const auto flush = [&] {
    if (!open) return;
    point(std::min(lowest, highest));
    if (lowest != highest) point(std::max(lowest, highest));
    open = false;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const double x = curve.wavenumbers[i], y = curve.values[i];
    if (!std::isfinite(x) || x < frame.x.low || x > frame.x.high) continue;
    if (!std::isfinite(y)) {
      flush();
      penDown = false;
      continue;
    }
    const long at = static_cast<long>(std::floor(frame.px(x)));
    if (!open || at != column) {
      flush();
      column = at;
      lowest = highest = i;
      open = true;
    } else {
      if (y < curve.values[lowest]) lowest = i;
      if (y > curve.values[highest]) highest = i;
    }
  }
  flush();
  return path;
}

// The lowest and highest values of the curve within [low, high] of x; none when it has none there.
std::optional<std::pair<double, double>> valueRange(const Curve& curve, double low, double high) {
  std::optional<std::pair<double, double>> range;
  const std::size_t count = std::min(curve.wavenumbers.size(), curve.values.size());
  for (std::size_t i = 0; i < count; ++i) {
    const double x = curve.wavenumbers[i], y = curve.values[i];
    if (!(x >= low && x <= high) || !std::isfinite(y)) continue;
    if (!range) range = std::pair{y, y};
    range->first = std::min(range->first, y);
    range->second = std::max(range->second, y);
  }
  return range;
}

// The curve's x extent, none when it has no point with a value.
std::optional<std::pair<double, double>> xExtent(const Curve& curve) {
  std::optional<std::pair<double, double>> extent;
  const std::size_t count = std::min(curve.wavenumbers.size(), curve.values.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(curve.wavenumbers[i]) || !std::isfinite(curve.values[i])) continue;
    if (!extent) extent = std::pair{curve.wavenumbers[i], curve.wavenumbers[i]};
    extent->first = std::min(extent->first, curve.wavenumbers[i]);
    extent->second = std::max(extent->second, curve.wavenumbers[i]);
  }
  return extent;
}

// [low, high] widened by a share of its span either side (or by 1 when it is a single value).
std::pair<double, double> padded(double low, double high, double share) {
  const double pad = high > low ? (high - low) * share : 1;
  return {low - pad, high + pad};
}

std::string svgPlot(const Plot& plot) {
  const bool small = plot.width < 500;
  const bool labelled = std::any_of(plot.xRules.begin(), plot.xRules.end(), [](const Rule& rule) { return !rule.label.empty(); });
  Frame frame{small ? 46.0 : 58.0, (plot.title.empty() ? 10.0 : 24.0) + (labelled ? 22.0 : 0.0), 0, 0, plot.x, plot.y};
  frame.width = plot.width - frame.left - 12;
  frame.height = plot.height - frame.top - (small ? 34 : 40);
  std::string svg = "<svg class=\"plot\" viewBox=\"0 0 " + coordinate(plot.width) + " " + coordinate(plot.height) +
                    "\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" aria-label=\"" + escaped(plot.title) + "\">\n";
  svg += "<defs><clipPath id=\"" + plot.id + "\"><rect x=\"" + coordinate(frame.left) + "\" y=\"" + coordinate(frame.top) +
         "\" width=\"" + coordinate(frame.width) + "\" height=\"" + coordinate(frame.height) + "\"/></clipPath></defs>\n";
  if (!plot.title.empty()) svg += "<text class=\"title\" x=\"" + coordinate(frame.left) + "\" y=\"15\">" + escaped(plot.title) + "</text>\n";
  const bool drawable = plot.x.high > plot.x.low && plot.y.high > plot.y.low;
  if (drawable) {
    // Grid and tick labels.
    std::vector<double> xTicks = niceTicks(plot.x.low, plot.x.high, plot.xTickCount);
    if (plot.wholeXTicks) {
      std::erase_if(xTicks, [](double tick) { return tick != std::floor(tick); });
      if (xTicks.empty()) xTicks.push_back(std::ceil(plot.x.low));
    }
    const std::vector<double> yTicks = niceTicks(plot.y.low, plot.y.high, plot.yTickCount);
    const double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1.0, yStep = yTicks.size() > 1 ? yTicks[1] - yTicks[0] : 1;
    const std::string bottom = coordinate(frame.top + frame.height);
    for (const double tick : xTicks) {
      const std::string at = coordinate(frame.px(tick));
      svg += "<line class=\"grid\" x1=\"" + at + "\" x2=\"" + at + "\" y1=\"" + coordinate(frame.top) + "\" y2=\"" + bottom + "\"/>";
      svg += "<text class=\"tick\" text-anchor=\"middle\" x=\"" + at + "\" y=\"" + coordinate(frame.top + frame.height + 13) + "\">" +
             tickText(tick, xStep) + "</text>\n";
    }
    for (const double tick : yTicks) {
      const std::string at = coordinate(frame.py(tick));
      svg += "<line class=\"grid\" x1=\"" + coordinate(frame.left) + "\" x2=\"" + coordinate(frame.left + frame.width) + "\" y1=\"" + at +
             "\" y2=\"" + at + "\"/>";
      svg += "<text class=\"tick\" text-anchor=\"end\" x=\"" + coordinate(frame.left - 4) + "\" y=\"" + coordinate(frame.py(tick) + 3.5) +
             "\">" + tickText(tick, yStep) + "</text>\n";
    }
    svg += "<g clip-path=\"url(#" + plot.id + ")\">\n";
    for (const Shade& shade : plot.xShades) {
      // At least two units wide, so that a window of 3 cm-1 on a 3400 cm-1 axis is still seen.
      double from = std::min(frame.px(shade.low), frame.px(shade.high)), to = std::max(frame.px(shade.low), frame.px(shade.high));
      if (to - from < 2) {
        const double middle = (from + to) / 2;
        from = middle - 1;
        to = middle + 1;
      }
      svg += "<rect class=\"shade " + shade.kind + "\" x=\"" + coordinate(from) + "\" y=\"" + coordinate(frame.top) + "\" width=\"" +
             coordinate(to - from) + "\" height=\"" + coordinate(frame.height) + "\"/>\n";
    }
    if (plot.yShade) {
      const double from = frame.py(plot.yShade->high), to = frame.py(plot.yShade->low);
      svg += "<rect class=\"shade " + plot.yShade->kind + "\" x=\"" + coordinate(frame.left) + "\" y=\"" + coordinate(from) +
             "\" width=\"" + coordinate(frame.width) + "\" height=\"" + coordinate(to - from) + "\"/>\n";
    }
    if (plot.curve != nullptr) svg += "<path class=\"trace\" d=\"" + thinnedPath(*plot.curve, frame) + "\"/>\n";
    for (const Rule& rule : plot.yRules) {
      const std::string at = coordinate(frame.py(rule.at));
      svg += "<line class=\"rule " + rule.kind + "\" x1=\"" + coordinate(frame.left) + "\" x2=\"" + coordinate(frame.left + frame.width) +
             "\" y1=\"" + at + "\" y2=\"" + at + "\"/>\n";
    }
    for (const Rule& rule : plot.xRules) {
      const std::string at = coordinate(frame.px(rule.at));
      svg += "<line class=\"rule " + rule.kind + "\" x1=\"" + at + "\" x2=\"" + at + "\" y1=\"" + coordinate(frame.top) + "\" y2=\"" +
             (rule.tick ? coordinate(frame.top + 14) : bottom) + "\"/>\n";
    }
    for (const Dot& dot : plot.dots) {
      svg += "<circle class=\"dot " + dot.kind + "\" cx=\"" + coordinate(frame.px(dot.x)) + "\" cy=\"" + coordinate(frame.py(dot.y)) +
             "\" r=\"" + (small ? "2.5" : "3.5") + "\"/>\n";
    }
    svg += "</g>\n";
    // Labels outside the clip: a rule's label above its top, on a second row where it would touch the
    // label before it (1601 and 1583 cm-1 lie a few units apart on a whole spectrum).
    std::vector<const Rule*> labels;
    for (const Rule& rule : plot.xRules) {
      if (!rule.label.empty()) labels.push_back(&rule);
    }
    std::sort(labels.begin(), labels.end(), [&](const Rule* a, const Rule* b) { return frame.px(a->at) < frame.px(b->at); });
    double lastOnRow[2] = {-1e9, -1e9};
    for (const Rule* rule : labels) {
      const double at = frame.px(rule->at);
      const int row = at - lastOnRow[0] >= 34 ? 0 : 1;
      lastOnRow[row] = at;
      svg += "<line class=\"rule-lead\" x1=\"" + coordinate(at) + "\" x2=\"" + coordinate(at) + "\" y1=\"" + coordinate(frame.top - (row == 0 ? 2 : 12)) +
             "\" y2=\"" + coordinate(frame.top) + "\"/>";
      svg += "<text class=\"rule-label " + rule->kind + "\" text-anchor=\"middle\" x=\"" + coordinate(at) + "\" y=\"" +
             coordinate(frame.top - (row == 0 ? 4 : 14)) + "\">" + escaped(rule->label) + "</text>\n";
    }
    for (const Rule& rule : plot.yRules) {
      if (rule.label.empty()) continue;
      svg += "<text class=\"rule-label " + rule.kind + "\" text-anchor=\"end\" x=\"" + coordinate(frame.left + frame.width - 3) + "\" y=\"" +
             coordinate(frame.py(rule.at) - 3) + "\">" + escaped(rule.label) + "</text>\n";
    }
  } else {
    svg += "<text class=\"empty\" x=\"" + coordinate(plot.width / 2) + "\" y=\"" + coordinate(plot.height / 2) +
           "\" text-anchor=\"middle\">nothing to draw</text>\n";
  }
  svg += "<rect class=\"frame\" x=\"" + coordinate(frame.left) + "\" y=\"" + coordinate(frame.top) + "\" width=\"" + coordinate(frame.width) +
         "\" height=\"" + coordinate(frame.height) + "\"/>\n";
  svg += "<text class=\"axis-label\" text-anchor=\"middle\" x=\"" + coordinate(frame.left + frame.width / 2) + "\" y=\"" +
         coordinate(plot.height - 6) + "\">" + escaped(plot.x.label) + "</text>\n";
  svg += "<text class=\"axis-label\" text-anchor=\"middle\" transform=\"translate(12," + coordinate(frame.top + frame.height / 2) +
         ") rotate(-90)\">" + escaped(plot.y.label) + "</text>\n";
  return svg + "</svg>\n";
}

const std::string kWavenumberLabel = "wavenumber / cm⁻¹";
const std::string kTransmittanceLabel = "transmittance / %T";

// A %T axis for the curve over [low, high] of x: 0 to 100 for the film, but wide enough for all of it.
Axis transmittanceAxis(const Curve& curve, double low, double high) {
  Axis axis{0, 100, false, kTransmittanceLabel};
  if (const auto range = valueRange(curve, low, high)) {
    axis.low = std::max(std::min(0.0, std::floor(range->first / 10) * 10), -20.0);
    axis.high = std::min(std::max(100.0, std::ceil(range->second / 10) * 10), 140.0);
  }
  return axis;
}

// ---- the sections --------------------------------------------------------------------------------

std::string testHeading(const std::string& title, const Json* test) {
  return "<h2>" + title + " " + verdictWord(test == nullptr ? std::optional<bool>(false) : flag(member(test, "passed"))) + "</h2>\n";
}

// The method or note, and the test's own failure line.
std::string testPreamble(const Json* test) {
  std::string html;
  if (test == nullptr) {
    return "<p class=\"failure\">This run has no result for this test: it could not be computed (see the failures above).</p>\n";
  }
  for (const char* key : {"method", "note"}) {
    if (const std::string said = text(test, key); !said.empty()) html += "<p class=\"method\">" + escaped(said) + "</p>\n";
  }
  if (const std::string failure = text(test, "failure"); !failure.empty()) html += "<p class=\"failure\">" + escaped(failure) + "</p>\n";
  return html;
}

// The film's bands the accuracy test checks: (listed, tolerance, found or none, passed).
struct CheckedBand {
  double listed, tolerance;
  std::optional<double> found;
  bool passed;
};

std::vector<CheckedBand> checkedBands(const Json* test) {
  std::vector<CheckedBand> bands;
  for (const Json* band : items(test, "bands")) {
    const std::optional<double> listed = number(member(band, "listed")), tolerance = number(member(band, "tolerance"));
    if (!listed || !tolerance) continue;
    bands.push_back({*listed, *tolerance, number(member(band, "found")), flag(member(band, "passed")).value_or(false)});
  }
  return bands;
}

std::string filmPictures(const Curve& film, const Json* accuracy) {
  const std::optional<std::pair<double, double>> extent = xExtent(film);
  if (!extent) return "<p class=\"failure\">No film spectrum to draw.</p>\n";
  const std::vector<CheckedBand> bands = checkedBands(accuracy);
  Plot whole;
  whole.id = "film-whole";
  whole.title = "The film's transmittance, each checked band's tolerance window shaded and the position found marked";
  whole.x = {std::max(extent->first, 600.0), std::min(extent->second, 4000.0), true, kWavenumberLabel};
  if (whole.x.high <= whole.x.low) whole.x = {extent->first, extent->second, true, kWavenumberLabel};
  whole.y = transmittanceAxis(film, whole.x.low, whole.x.high);
  whole.curve = &film;
  whole.height = 320;
  whole.xTickCount = 12;
  for (const CheckedBand& band : bands) {
    whole.xShades.push_back({band.listed - band.tolerance, band.listed + band.tolerance, "window"});
    whole.xRules.push_back({band.found.value_or(band.listed), band.found ? (band.passed ? "found" : "found-out") : "missing",
                            fixed(band.listed, 0) + (band.found ? "" : "?"), true});
  }
  std::string html = "<figure>" + svgPlot(whole) + "</figure>\n";
  if (bands.empty()) return html;
  // Each band close up: at this scale its window and the found position are seen apart.
  html += "<div class=\"multiples\">\n";
  int index = 0;
  for (const CheckedBand& band : bands) {
    Plot zoom;
    zoom.id = "film-band-" + std::to_string(index++);
    zoom.width = 280;
    zoom.height = 170;
    zoom.title = fixed(band.listed, 1) + " cm⁻¹ ±" + fixed(band.tolerance, 1);
    const double half = std::max(4 * band.tolerance, 4.0);
    zoom.x = {band.listed - half, band.listed + half, true, kWavenumberLabel};
    const auto range = valueRange(film, zoom.x.low, zoom.x.high);
    const auto [low, high] = range ? padded(range->first, range->second, 0.1) : std::pair{0.0, 100.0};
    zoom.y = {low, high, false, "%T"};
    zoom.curve = &film;
    zoom.xTickCount = 4;
    zoom.yTickCount = 4;
    zoom.xShades.push_back({band.listed - band.tolerance, band.listed + band.tolerance, "window"});
    zoom.xRules.push_back({band.listed, "listed", ""});
    if (band.found) zoom.xRules.push_back({*band.found, band.passed ? "found" : "found-out", ""});
    html += "<figure class=\"small\">" + svgPlot(zoom) + "</figure>\n";
  }
  return html + "</div>\n<p class=\"caption\">Shaded: the tolerance window about each listed position; dashed grey: the listed "
                "position; solid line: the position found (green within the window, red outside). On the whole spectrum each band "
                "found is marked under the top edge; a band not found is marked at its listed position, red, with a question "
                "mark.</p>\n";
}

std::string accuracySection(const Json* test, const Curve& film) {
  std::string rows;
  for (const Json* band : items(test, "bands")) {
    rows += "<tr><td>" + shown(band, "listed") + "</td><td>" + shown(band, "found") + "</td><td>" + signedNumber(band, "error") + "</td><td>±" +
            shown(band, "tolerance") + "</td>" + verdictCell(band) + "</tr>\n" + failureRow(band, 5);
  }
  std::string html = "<section class=\"test\">\n" + testHeading("Wavenumber accuracy", test) + testPreamble(test);
  if (!rows.empty()) html += table({"listed / cm⁻¹", "found / cm⁻¹", "error / cm⁻¹", "tolerance / cm⁻¹", "verdict"}, rows);
  return html + filmPictures(film, test) + "</section>\n";
}

std::string resolutionSection(const Json* test, const Curve& film) {
  std::string rows, zooms;
  int index = 0;
  for (const Json* pair : items(test, "pairs")) {
    rows += "<tr><td>" + shown(pair, "maximum_near") + " / " + shown(pair, "minimum_near") + "</td><td>" + shown(pair, "maximum_at") + " / " +
            shown(pair, "minimum_at") + "</td><td>" + shown(pair, "maximum") + " / " + shown(pair, "minimum") + "</td><td>" +
            shown(pair, "difference") + "</td><td>&gt; " + shown(pair, "least") + "</td>" + verdictCell(pair) + "</tr>\n" +
            failureRow(pair, 6);
    const std::optional<double> maximumNear = number(member(pair, "maximum_near")), minimumNear = number(member(pair, "minimum_near"));
    if (!maximumNear || !minimumNear || !xExtent(film)) continue;
    Plot zoom;
    zoom.id = "resolution-" + std::to_string(index++);
    zoom.width = 430;
    zoom.height = 230;
    zoom.title = "maximum near " + shown(pair, "maximum_near") + ", minimum near " + shown(pair, "minimum_near") + " cm⁻¹";
    // Wider on the high side: the band above the pair (1601.2 above 1589/1583) shapes the maximum.
    zoom.x = {std::min(*maximumNear, *minimumNear) - 10, std::max(*maximumNear, *minimumNear) + 15, true, kWavenumberLabel};
    const bool passed = flag(member(pair, "passed")).value_or(false);
    const std::optional<double> maximum = number(member(pair, "maximum")), minimum = number(member(pair, "minimum"));
    std::optional<std::pair<double, double>> range = valueRange(film, zoom.x.low, zoom.x.high);
    for (const std::optional<double>& level : {maximum, minimum}) {
      if (!level) continue;
      if (!range) range = std::pair{*level, *level};
      range->first = std::min(range->first, *level);
      range->second = std::max(range->second, *level);
    }
    const auto [low, high] = range ? padded(range->first, range->second, 0.12) : std::pair{0.0, 100.0};
    zoom.y = {low, high, false, kTransmittanceLabel};
    zoom.curve = &film;
    zoom.xTickCount = 5;
    const std::optional<double> maximumAt = number(member(pair, "maximum_at")), minimumAt = number(member(pair, "minimum_at"));
    if (maximum) zoom.yRules.push_back({*maximum, "level", "maximum " + fixed(maximum, 1)});
    if (minimum) zoom.yRules.push_back({*minimum, "level", "minimum " + fixed(minimum, 1)});
    if (maximum && maximumAt) zoom.dots.push_back({*maximumAt, *maximum, passed ? "pass" : "fail"});
    if (minimum && minimumAt) zoom.dots.push_back({*minimumAt, *minimum, passed ? "pass" : "fail"});
    zooms += "<figure class=\"medium\">" + svgPlot(zoom) + "</figure>\n";
  }
  std::string html = "<section class=\"test\">\n" + testHeading("Resolution", test) + testPreamble(test);
  if (test != nullptr) {
    html += "<p>Nominal resolution " + shown(test, "nominal_resolution") + " cm⁻¹; the coarsest that can resolve both pairs: " +
            shown(test, "coarsest") + " cm⁻¹.</p>\n";
  }
  if (!rows.empty()) {
    html += table({"maximum / minimum near (cm⁻¹)", "found at (cm⁻¹)", "maximum / minimum (%T)", "difference (%T)", "limit (%T)", "verdict"}, rows);
  }
  if (!zooms.empty()) {
    html += "<div class=\"pair\">\n" + zooms + "</div>\n<p class=\"caption\">The difference is taken between the two levels "
            "marked: the transmittance maximum and the minimum beside it.</p>\n";
  }
  return html + "</section>\n";
}

std::string hundredPercentSection(const Json* test, const Curve& line) {
  std::string rows;
  Plot plot;
  plot.id = "hundred-percent-line";
  plot.title = "The 100 % line: two backgrounds ratioed";
  for (const Json* range : items(test, "ranges")) {
    rows += "<tr><td>" + shown(range, "low") + "–" + shown(range, "high") + "</td><td>" + shown(range, "mean") + "</td><td>" + shown(range, "rms") +
            " (≤ " + shown(test, "rms_most") + ")</td><td>" + shown(range, "peak_to_peak") + " (≤ " + shown(test, "peak_to_peak_most") +
            ")</td><td>" + shown(range, "difference_rms") + "</td>" + verdictCell(range) + "</tr>\n" + failureRow(range, 6);
    const std::optional<double> low = number(member(range, "low")), high = number(member(range, "high"));
    if (low && high) plot.xShades.push_back({*low, *high, "noise"});
  }
  std::string departureRow;
  const Json* departure = member(test, "departure");
  std::optional<double> most;
  if (departure != nullptr) {
    most = number(member(departure, "most"));
    departureRow = table({"range / cm⁻¹", "largest departure from 100 %T", "at / cm⁻¹", "limit", "verdict"},
                         "<tr><td>" + shown(departure, "low") + "–" + shown(departure, "high") + "</td><td>" + signedNumber(departure, "value") +
                             "</td><td>" + shown(departure, "at") + "</td><td>± " + shown(departure, "most") + "</td>" + verdictCell(departure) +
                             "</tr>\n" + failureRow(departure, 5));
  }
  std::string html = "<section class=\"test\">\n" + testHeading("100 % line", test) + testPreamble(test);
  if (!rows.empty()) {
    html += table({"range / cm⁻¹", "mean (%T)", "RMS noise (%T)", "peak to peak (%T)", "RMS from successive differences (%T)", "verdict"}, rows);
  }
  html += departureRow;
  const std::optional<std::pair<double, double>> extent = xExtent(line);
  if (!extent) return html + "<p class=\"failure\">No 100 % line to draw.</p>\n</section>\n";
  plot.x = {extent->first, extent->second, true, kWavenumberLabel};
  if (departure != nullptr) {
    const std::optional<double> low = number(member(departure, "low")), high = number(member(departure, "high"));
    if (low && high && *high > *low) plot.x = {std::max(*low, extent->first), std::min(*high, extent->second), true, kWavenumberLabel};
    if (plot.x.high <= plot.x.low) plot.x = {extent->first, extent->second, true, kWavenumberLabel};
  }
  const auto range = valueRange(line, plot.x.low, plot.x.high);
  double low = range ? range->first : 99, high = range ? range->second : 101;
  if (most) {
    plot.yShade = Shade{100 - *most, 100 + *most, "limit"};
    low = std::min(low, 100 - *most);
    high = std::max(high, 100 + *most);
  }
  std::tie(low, high) = padded(low, high, 0.08);
  plot.y = {low, high, false, kTransmittanceLabel};
  plot.curve = &line;
  plot.xTickCount = 12;
  plot.yRules.push_back({100, "target", ""});
  if (const std::optional<double> at = number(member(departure, "at"))) plot.xRules.push_back({*at, "departure", "largest departure"});
  html += "<figure>" + svgPlot(plot) + "</figure>\n<p class=\"caption\">Band: 100 %T ± the departure allowed; shaded columns: the "
          "ranges the noise is measured over.</p>\n";
  return html + "</section>\n";
}

// Bars of each level's and the burst's share of the reference, with the least share allowed.
std::string energyChart(const Json* test) {
  struct Bar {
    std::string label;
    double share;
    bool passed;
  };
  std::vector<Bar> bars;
  for (const Json* level : items(test, "levels")) {
    if (const auto share = number(member(level, "share"))) {
      bars.push_back({shown(level, "wavenumber") + " cm⁻¹", *share * 100, flag(member(level, "passed")).value_or(false)});
    }
  }
  const Json* burst = member(test, "burst");
  if (const auto share = number(member(burst, "share"))) bars.push_back({"centre burst", *share * 100, flag(member(burst, "passed")).value_or(false)});
  if (bars.empty()) return {};
  const std::optional<double> least = number(member(test, "least_share"));
  double top = 120;
  for (const Bar& bar : bars) top = std::max(top, std::ceil(bar.share / 20) * 20);
  const double width = 560, height = 260, left = 58, plotTop = 24, plotWidth = width - left - 12, plotHeight = height - plotTop - 40;
  const auto py = [&](double value) { return plotTop + (1 - std::clamp(value, 0.0, top) / top) * plotHeight; };
  std::string svg = "<svg class=\"plot\" viewBox=\"0 0 " + coordinate(width) + " " + coordinate(height) +
                    "\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" aria-label=\"energy against the reference\">\n";
  svg += "<text class=\"title\" x=\"" + coordinate(left) + "\" y=\"15\">Energy as a share of the reference</text>\n";
  for (const double tick : niceTicks(0, top, 6)) {
    const std::string at = coordinate(py(tick));
    svg += "<line class=\"grid\" x1=\"" + coordinate(left) + "\" x2=\"" + coordinate(left + plotWidth) + "\" y1=\"" + at + "\" y2=\"" + at + "\"/>";
    svg += "<text class=\"tick\" text-anchor=\"end\" x=\"" + coordinate(left - 4) + "\" y=\"" + coordinate(py(tick) + 3.5) + "\">" + fixed(tick, 0) +
           "</text>\n";
  }
  const double slot = plotWidth / static_cast<double>(bars.size());
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const double x = left + slot * static_cast<double>(i) + slot * 0.25;
    svg += "<rect class=\"bar " + std::string(bars[i].passed ? "pass" : "fail") + "\" x=\"" + coordinate(x) + "\" y=\"" + coordinate(py(bars[i].share)) +
           "\" width=\"" + coordinate(slot * 0.5) + "\" height=\"" + coordinate(py(0) - py(bars[i].share)) + "\"/>\n";
    svg += "<text class=\"tick\" text-anchor=\"middle\" x=\"" + coordinate(x + slot * 0.25) + "\" y=\"" + coordinate(py(bars[i].share) - 4) + "\">" +
           fixed(bars[i].share, 1) + " %</text>\n";
    svg += "<text class=\"tick\" text-anchor=\"middle\" x=\"" + coordinate(x + slot * 0.25) + "\" y=\"" + coordinate(plotTop + plotHeight + 14) +
           "\">" + bars[i].label + "</text>\n";
  }
  const auto rule = [&](double value, const std::string& kind, const std::string& label) {
    const std::string at = coordinate(py(value));
    svg += "<line class=\"rule " + kind + "\" x1=\"" + coordinate(left) + "\" x2=\"" + coordinate(left + plotWidth) + "\" y1=\"" + at + "\" y2=\"" + at +
           "\"/><text class=\"rule-label " + kind + "\" text-anchor=\"end\" x=\"" + coordinate(left + plotWidth - 3) + "\" y=\"" +
           coordinate(py(value) - 3) + "\">" + label + "</text>\n";
  };
  rule(100, "target", "reference");
  if (least) rule(*least * 100, "limit-line", "least share " + fixed(*least * 100, 0) + " %");
  svg += "<rect class=\"frame\" x=\"" + coordinate(left) + "\" y=\"" + coordinate(plotTop) + "\" width=\"" + coordinate(plotWidth) + "\" height=\"" +
         coordinate(plotHeight) + "\"/>\n";
  svg += "<text class=\"axis-label\" text-anchor=\"middle\" transform=\"translate(12," + coordinate(plotTop + plotHeight / 2) +
         ") rotate(-90)\">share of the reference / %</text>\n";
  return "<figure class=\"medium\">" + svg + "</svg></figure>\n";
}

std::string energySection(const Json* test) {
  std::string rows;
  for (const Json* level : items(test, "levels")) {
    rows += "<tr><td>single beam at " + shown(level, "wavenumber") + " cm⁻¹</td><td>" + shown(level, "level") + "</td><td>" +
            shown(level, "reference") + "</td><td>" + percentOfShare(level, "share") + "</td><td>≥ " + percentOfShare(test, "least_share") +
            "</td>" + verdictCell(level) + "</tr>\n" + failureRow(level, 6);
  }
  if (const Json* burst = member(test, "burst")) {
    rows += "<tr><td>interferogram's centre burst</td><td>" + shown(burst, "amplitude") + "</td><td>" + shown(burst, "reference") + "</td><td>" +
            percentOfShare(burst, "share") + "</td><td>≥ " + percentOfShare(test, "least_share") + "</td>" + verdictCell(burst) + "</tr>\n" +
            failureRow(burst, 6);
  }
  std::string html = "<section class=\"test\">\n" + testHeading("Energy", test) + testPreamble(test);
  if (const Json* reference = member(test, "reference")) {
    html += flag(member(reference, "self")).value_or(false)
                ? "<p>This run is its bench's first: it is its own reference.</p>\n"
                : "<p>Reference: the qualification in " + shown(reference, "folder") + ", made " + shown(reference, "made") + ".</p>\n";
  }
  if (!rows.empty()) html += table({"figure", "this run", "reference", "share", "limit", "verdict"}, rows);
  return html + energyChart(test) + "</section>\n";
}

std::string repeatabilitySection(const Json* test) {
  std::string positions, percents;
  for (const Json* position : items(test, "positions")) {
    positions += "<tr><td>band at " + shown(position, "listed") + " cm⁻¹</td><td>" + shown(position, "mean") + " cm⁻¹</td><td>" +
                 shown(position, "standard_deviation") + " cm⁻¹</td><td>≤ " + shown(test, "position_most") + " cm⁻¹</td>" + verdictCell(position) +
                 "</tr>\n" + failureRow(position, 5);
  }
  for (const Json* percent : items(test, "percents")) {
    percents += "<tr><td>%T at " + shown(percent, "band") + " cm⁻¹</td><td>" + shown(percent, "mean") + " %T</td><td>" +
                shown(percent, "standard_deviation") + " %T</td><td>≤ " + shown(test, "percent_most") + " %T</td>" + verdictCell(percent) +
                "</tr>\n" + failureRow(percent, 5);
  }
  std::string html = "<section class=\"test\">\n" + testHeading("Repeatability", test) + testPreamble(test);
  if (test != nullptr) html += "<p>Over " + shown(test, "samples") + " sample measurements.</p>\n";
  if (!positions.empty() || !percents.empty()) {
    html += table({"figure", "mean", "standard deviation", "limit", "verdict"}, positions + percents);
  }
  return html + "</section>\n";
}

std::string trendsSection(const std::vector<FigureTrend>& trends) {
  std::string html = "<section class=\"history\">\n<h2>History</h2>\n";
  if (trends.empty()) return html + "<p>No history yet: this is the first run recorded.</p>\n</section>\n";
  html += "<p>Each figure over this bench's qualifications, oldest on the left, this run's point ringed; dashed: the limits.</p>\n"
          "<div class=\"multiples\">\n";
  int index = 0;
  for (const FigureTrend& trend : trends) {
    Curve points;
    Plot plot;
    plot.id = "trend-" + std::to_string(index++);
    plot.width = 280;
    plot.height = 170;
    plot.title = trend.name;  // the unit is on the axis
    const std::size_t count = trend.values.size();
    std::optional<std::pair<double, double>> range;
    for (std::size_t i = 0; i < count; ++i) {
      points.wavenumbers.push_back(static_cast<double>(i + 1));
      points.values.push_back(trend.values[i]);
      if (!std::isfinite(trend.values[i])) continue;
      const bool outside = (trend.least && trend.values[i] < *trend.least) || (trend.most && trend.values[i] > *trend.most);
      plot.dots.push_back({static_cast<double>(i + 1), trend.values[i], std::string(i + 1 == count ? "latest" : "earlier") + (outside ? " outside" : "")});
      if (!range) range = std::pair{trend.values[i], trend.values[i]};
      range->first = std::min(range->first, trend.values[i]);
      range->second = std::max(range->second, trend.values[i]);
    }
    for (const std::optional<double>& limit : {trend.least, trend.most}) {
      if (!limit || !std::isfinite(*limit)) continue;
      plot.yRules.push_back({*limit, "limit-line", ""});
      if (!range) range = std::pair{*limit, *limit};
      range->first = std::min(range->first, *limit);
      range->second = std::max(range->second, *limit);
    }
    const auto [low, high] = range ? padded(range->first, range->second, 0.12) : std::pair{0.0, 1.0};
    plot.x = {0.5, static_cast<double>(std::max<std::size_t>(count, 1)) + 0.5, false, "run"};
    plot.y = {low, high, false, trend.unit};
    plot.curve = &points;
    plot.xTickCount = 4;
    plot.yTickCount = 4;
    plot.wholeXTicks = true;
    // The days, not the times: "2026-12-01 to 2026-12-09".
    const auto day = [](const std::string& made) { return escaped(made.substr(0, made.find('T'))); };
    std::string caption;
    if (!trend.made.empty()) caption = day(trend.made.front()) + (trend.made.size() > 1 ? " to " + day(trend.made.back()) : "");
    html += "<figure class=\"small\">" + svgPlot(plot) + "<figcaption>" + caption + "</figcaption></figure>\n";
  }
  return html + "</div>\n</section>\n";
}

std::string limitsSection(const Json& report) {
  const Json* limits = member(&report, "limits");
  std::string html = "<section>\n<h2>Limits used</h2>\n";
  const Json* file = member(limits, "file");
  html += file != nullptr ? "<p>From the settings file " + shown(file) + "; any limit it does not set has its default.</p>\n"
                          : "<p>The defaults: no settings file was given.</p>\n";
  const Json* values = member(limits, "values");
  const Json* sources = member(limits, "sources");
  std::string rows;
  if (values != nullptr && values->is_object()) {
    for (const auto& [name, value] : values->items()) {
      rows += "<tr><td class=\"code\">" + escaped(name) + "</td><td>" + shown(&value) + "</td><td>" + shown(member(sources, name)) + "</td></tr>\n";
    }
  }
  if (!rows.empty()) html += table({"limit", "value", "source"}, rows);
  return html + "</section>\n";
}

std::string filesSection(const Json& report) {
  std::string rows;
  for (const Json* file : items(&report, "files")) {
    rows += "<tr><td class=\"code\">" + shown(file, "name") + "</td><td>" + shown(file, "role") + "</td><td class=\"code digest\">" +
            shown(file, "sha256") + "</td></tr>\n";
  }
  std::string html = "<section>\n<h2>Raw files</h2>\n";
  if (rows.empty()) return html + "<p>The report lists no raw files.</p>\n</section>\n";
  return html + "<p>Each file this report was computed from, with its SHA-256: a file whose digest differs is not the one measured.</p>\n" +
         table({"file", "role", "SHA-256"}, rows) + "</section>\n";
}

std::string summary(const Json& report) {
  const Json* bench = member(&report, "bench");
  const Json* software = member(&report, "software");
  const Json* acquisition = member(&report, "acquisition");
  std::string processing;
  if (const Json* steps = member(acquisition, "processing"); steps != nullptr && steps->is_object()) {
    for (const auto& [name, value] : steps->items()) processing += (processing.empty() ? "" : "; ") + escaped(name) + " " + shown(&value);
  }
  std::string html = "<table class=\"summary\">\n";
  const auto row = [&](const std::string& heading, const std::string& value) { html += "<tr><th>" + heading + "</th><td>" + value + "</td></tr>\n"; };
  row("Bench", shown(bench, "name") + " · serial " + shown(bench, "serial") + " · identity " + shown(bench, "identity"));
  row("Software", "host " + shown(software, "host") + " · driver " + shown(software, "driver") + " · spectra " + shown(software, "spectra"));
  row("Measured", shown(&report, "measured"));
  row("Report made", shown(&report, "made"));
  row("Acquisition", shown(acquisition, "points") + " points · " + shown(acquisition, "scans") + " scans · " + shown(acquisition, "samples") +
                         " samples · nominal resolution " + shown(acquisition, "nominal_resolution") + " cm⁻¹");
  if (!processing.empty()) row("Processing", processing);
  return html + "</table>\n";
}

std::string failuresList(const Json& report) {
  const std::vector<const Json*> failures = items(&report, "failures");
  if (failures.empty()) return {};
  std::string html = "<section class=\"failures\">\n<h2>Failures</h2>\n<ul>\n";
  for (const Json* failure : failures) html += "<li>" + shown(failure) + "</li>\n";
  return html + "</ul>\n</section>\n";
}

constexpr std::string_view kStyle = R"css(
:root { --pass: #1b6e34; --fail: #b3261e; --ink: #1d1d1f; --muted: #5b5f66; --rule: #c9ccd1; --window: #9cc3ea; }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 60rem; padding: 1.5rem 2rem 3rem; color: var(--ink); background: #fff;
       font: 15px/1.45 "DejaVu Sans", "Segoe UI", Helvetica, Arial, sans-serif; }
header { border-bottom: 3px solid var(--ink); padding-bottom: 0.8rem; margin-bottom: 1rem; }
header .kind { margin: 0; font-size: 0.85rem; letter-spacing: 0.08em; text-transform: uppercase; color: var(--muted); }
h1 { margin: 0.2rem 0 0.6rem; font-size: 1.7rem; display: flex; align-items: center; gap: 1rem; flex-wrap: wrap; }
h1 .outcome { font-size: 2.4rem; font-weight: 800; padding: 0.1rem 1.1rem; border-radius: 0.3rem; color: #fff; letter-spacing: 0.06em; }
h1 .outcome.pass { background: var(--pass); } h1 .outcome.fail { background: var(--fail); } h1 .outcome.none { background: var(--muted); }
h2 { font-size: 1.2rem; margin: 1.8rem 0 0.5rem; padding-bottom: 0.2rem; border-bottom: 1px solid var(--rule);
     display: flex; align-items: center; gap: 0.7rem; }
table { border-collapse: collapse; width: 100%; margin: 0.5rem 0 0.8rem; font-variant-numeric: tabular-nums; font-size: 0.9rem; }
th, td { text-align: left; padding: 0.25rem 0.5rem; border-bottom: 1px solid var(--rule); vertical-align: top; }
thead th { border-bottom: 2px solid var(--ink); font-weight: 600; }
table.summary th { width: 9rem; color: var(--muted); font-weight: 600; }
.verdict { display: inline-block; font-weight: 700; font-size: 0.8rem; padding: 0 0.45rem; border-radius: 0.2rem; border: 1.5px solid; }
.verdict.pass { color: var(--pass); } .verdict.fail { color: var(--fail); } .verdict.none { color: var(--muted); }
.verdict-cell { width: 5rem; }
.failure-row td { color: var(--fail); font-size: 0.85rem; border-bottom-style: dashed; padding-left: 1.5rem; }
.failure { color: var(--fail); font-weight: 600; }
.failures { border: 2px solid var(--fail); border-radius: 0.3rem; padding: 0 1rem 0.3rem; margin: 1rem 0; }
.failures h2 { color: var(--fail); border: 0; margin-top: 0.7rem; }
.failures li { margin: 0.2rem 0; }
.method { color: var(--muted); font-style: italic; }
.code { font-family: "DejaVu Sans Mono", Consolas, monospace; font-size: 0.82rem; }
.digest { word-break: break-all; }
pre.setup { white-space: pre-wrap; word-break: break-word; font-size: 0.8rem; background: #f5f6f7; padding: 0.6rem; border-radius: 0.2rem; }
figure { margin: 0.6rem 0; }
figure.small { margin: 0; } figure.medium { margin: 0; max-width: 34rem; }
.pair { display: grid; grid-template-columns: 1fr 1fr; gap: 1rem; margin: 0.6rem 0; }
figure figcaption { font-size: 0.75rem; color: var(--muted); text-align: center; }
.multiples { display: grid; grid-template-columns: repeat(auto-fill, minmax(15rem, 1fr)); gap: 0.6rem 1rem; margin: 0.6rem 0; }
.caption { font-size: 0.8rem; color: var(--muted); margin-top: 0.2rem; }
svg.plot { width: 100%; height: auto; display: block; font-family: "DejaVu Sans", Helvetica, Arial, sans-serif; }
svg .title { font-size: 12px; font-weight: 600; fill: var(--ink); }
svg .tick { font-size: 10.5px; fill: var(--muted); }
svg .axis-label { font-size: 11.5px; fill: var(--ink); }
svg .empty { font-size: 13px; fill: var(--muted); }
svg .frame { fill: none; stroke: var(--ink); stroke-width: 1; }
svg .grid { stroke: #e4e6e9; stroke-width: 0.8; }
svg .trace { fill: none; stroke: #1f3f8a; stroke-width: 1; stroke-linejoin: round; }
svg .shade.window { fill: var(--window); fill-opacity: 0.55; }
svg .shade.noise { fill: #f3d9a4; fill-opacity: 0.6; }
svg .shade.limit { fill: #cfe8d5; fill-opacity: 0.7; }
svg .rule { stroke-width: 1.3; }
svg .rule.found { stroke: var(--pass); } svg .rule.found-out { stroke: var(--fail); stroke-width: 2; }
svg .rule.listed { stroke: #7d828a; stroke-dasharray: 3 3; }
svg .rule.level { stroke: #7d828a; stroke-dasharray: 4 3; }
svg .rule.target { stroke: var(--ink); stroke-width: 0.8; }
svg .rule.departure { stroke: #c26a00; stroke-dasharray: 5 3; }
svg .rule.limit-line { stroke: var(--fail); stroke-dasharray: 6 3; }
svg .rule-label { font-size: 10px; fill: var(--ink); }
svg .rule-label.found-out, svg .rule-label.limit-line { fill: var(--fail); }
svg .dot.pass, svg .dot.earlier { fill: #1f3f8a; } svg .dot.fail { fill: var(--fail); }
svg .dot.latest { fill: #fff; stroke: #1f3f8a; stroke-width: 2; }
svg .dot.earlier.outside { fill: var(--fail); } svg .dot.latest.outside { stroke: var(--fail); }
svg .rule.missing { stroke: var(--fail); stroke-dasharray: 2 2; } svg .rule-label.missing { fill: var(--fail); }
svg .rule-lead { stroke: #9aa0a8; stroke-width: 0.6; }
svg .bar.pass { fill: #6f9bd1; } svg .bar.fail { fill: var(--fail); }
footer { margin-top: 2rem; border-top: 1px solid var(--rule); padding-top: 0.5rem; font-size: 0.8rem; color: var(--muted); }
@page { size: A4; margin: 14mm 13mm 16mm; }
@media print {
  body { max-width: none; padding: 0; font-size: 9.5pt; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  h2 { break-after: avoid; }
  figure, table.summary, tr, .failures { break-inside: avoid; }
  section.test, section.history { break-before: auto; }
  .multiples { grid-template-columns: repeat(3, 1fr); }
}
)css";

}  // namespace

std::string reportPage(const nlohmann::ordered_json& report, const Curve& film, const Curve& line, const std::vector<FigureTrend>& trends) {
  const Json* tests = member(&report, "tests");
  const std::string verdict = text(&report, "verdict");
  const std::string outcome = verdict == "pass" ? "pass" : verdict == "fail" ? "fail" : "none";
  const std::string word = outcome == "pass" ? "PASS" : outcome == "fail" ? "FAIL" : "NO VERDICT";
  const std::string benchName = text(member(&report, "bench"), "name");
  std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                     "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; img-src data:\">\n"
                     "<title>" + word + ": performance qualification of " + escaped(benchName.empty() ? "a bench" : benchName) + ", " +
                     shown(&report, "measured") + "</title>\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
  page += "<header>\n<p class=\"kind\">FTIR bench · performance qualification</p>\n<h1><span class=\"outcome " + outcome + "\">" + word +
          "</span> <span>" + escaped(benchName.empty() ? "bench unnamed" : benchName) + "</span></h1>\n" + summary(report) + "</header>\n";
  page += failuresList(report);
  page += accuracySection(testOf(tests, "wavenumber_accuracy"), film);
  page += resolutionSection(testOf(tests, "resolution"), film);
  page += hundredPercentSection(testOf(tests, "hundred_percent_line"), line);
  page += energySection(testOf(tests, "energy"));
  page += repeatabilitySection(testOf(tests, "repeatability"));
  page += trendsSection(trends);
  page += limitsSection(report);
  page += filesSection(report);
  if (const std::string setup = text(member(&report, "bench"), "setup"); !setup.empty()) {
    page += "<section>\n<h2>The bench's setup</h2>\n<pre class=\"setup\">" + escaped(setup) + "</pre>\n</section>\n";
  }
  page += "<footer>" + shown(&report, "format") + " · made " + shown(&report, "made") +
          " · the figures are those of qualification.json beside this page.</footer>\n</body>\n</html>\n";
  return page;
}

}  // namespace dorvane::host::qualification
