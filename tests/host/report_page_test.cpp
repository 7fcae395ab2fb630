// The qualification's report page: what a lab must find on it (the verdict and every failure), what a
// hostile name from a file or a bench must not do to it, and that a report with tests missing still
// makes a page.
#include "host/qualification/report_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "tests/host/qualification_sample.h"

namespace dorvane::host::qualification {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::sampleFilm;
using testing::sampleHundredPercentLine;
using testing::sampleQualificationReport;
using testing::sampleTrends;

std::string samplePage(const nlohmann::ordered_json& report) {
  return reportPage(report, sampleFilm(), sampleHundredPercentLine(), sampleTrends());
}

TEST(QualificationReportPage, ShowsTheVerdictAndEveryFailureLine) {
  const nlohmann::ordered_json report = sampleQualificationReport();
  const std::string page = samplePage(report);
  EXPECT_THAT(page, HasSubstr("<span class=\"outcome fail\">FAIL</span>"));
  ASSERT_EQ(report["failures"].size(), 2U);
  for (const auto& failure : report["failures"]) EXPECT_THAT(page, HasSubstr("<li>" + failure.get<std::string>() + "</li>"));
  for (const auto& file : report["files"]) EXPECT_THAT(page, HasSubstr(file["sha256"].get<std::string>()));
  EXPECT_THAT(page, HasSubstr("European Pharmacopoeia 2.2.24, polystyrene film"));
}

TEST(QualificationReportPage, MarkupInNamesFromFilesAndTheBenchIsShownAsText) {
  nlohmann::ordered_json report = sampleQualificationReport();
  report["bench"]["name"] = "<script>alert(1)</script>";
  report["bench"]["setup"] = "</pre><script>alert(2)</script>";
  report["files"][0]["name"] = "\"><img src=x onerror=alert(3)>.csv";
  report["limits"]["sources"]["energy_least_share"] = "<b onmouseover=alert(4)>";
  report["tests"]["wavenumber_accuracy"]["bands"][6]["failure"] = "<iframe src=//example.org>";
  const std::string page = samplePage(report);
  EXPECT_THAT(page, Not(HasSubstr("<script")));
  EXPECT_THAT(page, Not(HasSubstr("<img")));
  EXPECT_THAT(page, Not(HasSubstr("<b ")));
  EXPECT_THAT(page, Not(HasSubstr("<iframe")));
  EXPECT_THAT(page, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_THAT(page, HasSubstr("&quot;&gt;&lt;img src=x onerror=alert(3)&gt;.csv"));
}

TEST(QualificationReportPage, AReportWithTestsMissingNullOrMalformedStillRenders) {
  nlohmann::ordered_json report = sampleQualificationReport();
  report["tests"]["energy"] = nullptr;
  report["tests"].erase("resolution");
  report["tests"]["repeatability"] = "not a test";
  report["tests"]["wavenumber_accuracy"]["bands"] = 5;
  report["tests"]["hundred_percent_line"]["ranges"][0]["rms"] = "0.02";
  report["verdict"] = nullptr;
  const std::string page = samplePage(report);
  EXPECT_THAT(page, HasSubstr("NO VERDICT"));
  // The three without a record, and the one whose bands are no list, are failed, never passed.
  for (const char* heading : {"Wavenumber accuracy", "Resolution", "Energy", "Repeatability"}) {
    EXPECT_THAT(page, HasSubstr("<h2>" + std::string(heading) + " <span class=\"verdict fail\">FAIL</span></h2>"));
  }
  EXPECT_THAT(page, HasSubstr("no result for this test"));
  EXPECT_THAT(page, HasSubstr("<h2>100 % line <span class=\"verdict pass\">PASS</span></h2>"));
  EXPECT_THAT(page, HasSubstr("</html>\n"));

  // Nothing at all: no report, no curves, no history.
  const std::string bare = reportPage(nlohmann::ordered_json::object(), {}, {}, {});
  EXPECT_THAT(bare, HasSubstr("No film spectrum to draw"));
  EXPECT_THAT(bare, HasSubstr("</html>\n"));
  EXPECT_THAT(reportPage(nlohmann::ordered_json::array(), {}, {}, {}), HasSubstr("</html>\n"));
}

// 65 536 points thinned to a few per column of the drawing, yet one point of a narrow band kept.
TEST(QualificationReportPage, ALongSpectrumIsThinnedWithoutLosingANarrowBand) {
  Curve film;
  for (int i = 0; i < 65536; ++i) {
    film.wavenumbers.push_back(400 + 4000.0 * i / 65535);
    film.values.push_back(90);
  }
  film.values[30000] = 10;
  const std::string page = reportPage(sampleQualificationReport(), film, sampleHundredPercentLine(), {});
  // The first trace's drawing, "M x,y L x,y ...", read without std::regex (which GCC 12 warns about
  // inside itself under the sanitizers).
  const std::string opening = "<path class=\"trace\" d=\"";
  const std::size_t start = page.find(opening);
  ASSERT_NE(start, std::string::npos);
  const std::size_t begin = start + opening.size();
  std::istringstream d(page.substr(begin, page.find('"', begin) - begin));
  std::size_t points = 0;
  double lowest = 0;  // the largest y of the drawing: the lowest %T
  char command = 0, comma = 0;
  double x = 0, y = 0;
  while (d >> command >> x >> comma >> y) {
    ASSERT_TRUE((command == 'M' || command == 'L') && comma == ',');
    lowest = std::max(lowest, y);
    ++points;
  }
  EXPECT_LT(points, 2000U);
  EXPECT_GT(points, 800U);
  // 90 %T is drawn near the top; the single point at 10 %T near the bottom of the 320-high plot.
  EXPECT_GT(lowest, 200);
}

}  // namespace
}  // namespace dorvane::host::qualification
