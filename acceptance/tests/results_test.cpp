#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "acceptance/CheckResults.h"
#include "acceptance/ResultWriters.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Judged {
  double measured;
  std::optional<double> low;
  std::optional<double> high;
  Verdict verdict;
};

class MeasuredValue : public testing::TestWithParam<Judged> {};

TEST_P(MeasuredValue, IsJudgedAgainstItsRangeWithTheEndsIncluded) {
  const Judged& judged = GetParam();
  const CheckResult result = Measured("rate", "100 / sec", judged.measured, "/ sec", judged.low, judged.high);
  EXPECT_EQ(result.verdict, judged.verdict) << judged.measured;
  EXPECT_EQ(result.message.empty(), judged.verdict == Verdict::Pass) << result.message;
}

INSTANTIATE_TEST_SUITE_P(Table, MeasuredValue,
                         testing::Values(Judged{40, 36, 44, Verdict::Pass}, Judged{36, 36, 44, Verdict::Pass},
                                         Judged{44, 36, 44, Verdict::Pass}, Judged{35.99, 36, 44, Verdict::Fail},
                                         Judged{44.01, 36, 44, Verdict::Fail}, Judged{3, {}, 3, Verdict::Pass},
                                         Judged{3.5, {}, 3, Verdict::Fail}, Judged{-1, 0, {}, Verdict::Fail},
                                         // Nothing measured is never within limits.
                                         Judged{kNaN, 36, 44, Verdict::Error}, Judged{kNaN, {}, {}, Verdict::Error},
                                         Judged{kInfinity, {}, 3, Verdict::Error},
                                         Judged{-kInfinity, {}, 3, Verdict::Error}));

TEST(WithinPercent, JudgesAroundTheTargetAndSaysSoInTheLimits) {
  EXPECT_EQ(WithinPercent("rate", "", 99.0, 100, 1, "/ sec").verdict, Verdict::Pass);
  const CheckResult slow = WithinPercent("rate", "", 98.9, 100, 1, "/ sec");
  EXPECT_EQ(slow.verdict, Verdict::Fail);
  EXPECT_EQ(slow.message, "measured 98.9 / sec, outside 100 / sec ±1 %");
  // A negative target keeps its range the right way round.
  EXPECT_EQ(WithinPercent("calibration", "", -41, -40, 5, "steps/mV").verdict, Verdict::Pass);
}

TEST(ExitCode, IsZeroOnlyWhenSomethingRanAndNothingFailedOrErred) {
  const auto code = [](std::vector<Verdict> verdicts) {
    RunReport report;
    for (const Verdict verdict : verdicts) {
      CheckResult result;
      result.verdict = verdict;
      report.results.push_back(result);
    }
    return ExitCode(report);
  };
  EXPECT_EQ(code({}), 1);
  EXPECT_EQ(code({Verdict::Pass, Verdict::Sent}), 0);
  EXPECT_EQ(code({Verdict::Pass, Verdict::Fail}), 1);
  EXPECT_EQ(code({Verdict::Pass, Verdict::Error}), 1);
}

// Every verdict, a check name with a dot, a unit beyond ASCII and a control
// byte from the module's identification.
RunReport SampleReport() {
  RunReport report;
  report.planName = "Bench plan";
  report.planSource = "/etc/plan.toml";
  report.planSha256 = "d97e12bb80836de1ca89a7e37573619a4c3d8b6ee70ec65b29969bca5156984e";
  report.port = "/dev/ttyUSB0";
  report.identification = "ECG\x01 M\xC3\xBCller 1.0";
  report.started = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));
  report.seconds = 61.5;
  CheckResult ident;
  ident.check = "identification";
  ident.verdict = Verdict::Pass;
  ident.measuredText = report.identification;
  ident.limitsText = "an answer within 2 s";
  ident.seconds = 0.25;
  report.results.push_back(ident);
  report.results.push_back(WithinPercent("rate", "100 / sec", 100.2, 100, 1, "/ sec", 10));
  report.results.push_back(WithinPercent("rate", "50 / sec", 45, 50, 1, "/ sec", 10));
  report.results.push_back(Measured("noise.leads", "II", kNaN, "µV", {}, 100, 5));
  CheckResult write;
  write.check = "register_writes";
  write.setting = "register 5 = 0x81";
  write.verdict = Verdict::Sent;
  write.message = "sent; the module cannot be asked\nwhat a register holds";
  report.results.push_back(write);
  return report;
}

std::string Output(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return output;
}

TEST(JUnitXml, IsReadByAnIndependentReaderAsTheSchemaDescribesIt) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/results.xml";
  SaveResultFile(path, JUnitXml(SampleReport()));
  const std::string script = std::string(std::getenv("ECG_SOURCE_DIR")) + "/acceptance/tests/junit_read.py";
  const QJsonObject read =
      QJsonDocument::fromJson(QByteArray::fromStdString(Output("python3 " + script + " " + path))).object();

  EXPECT_EQ(read["name"].toString(), "Bench plan");
  EXPECT_EQ(read["tests"].toInt(), 5);
  std::vector<std::string> cases;
  for (const QJsonValue value : read["cases"].toArray()) {
    const QJsonObject c = value.toObject();
    cases.push_back((c["suite"].toString() + " | " + c["classname"].toString() + " | " + c["name"].toString() + " | " +
                     c["outcome"].toString() + " | " + c["message"].toString())
                        .toStdString());
  }
  EXPECT_EQ(cases, (std::vector<std::string>{
                       "identification | acceptance.identification | identification | passed | ",
                       "rate | acceptance.rate | 100 / sec | passed | ",
                       "rate | acceptance.rate | 50 / sec | failure | measured 45 / sec; limits 50 / sec ±1 %; "
                       "measured 45 / sec, outside 50 / sec ±1 %",
                       "noise.leads | acceptance.noise_leads | II | error | measured -; limits <= 100 µV; nothing "
                       "measured",
                       "register_writes | acceptance.register_writes | register 5 = 0x81 | skipped | measured -; "
                       "limits -; sent; the module cannot be asked what a register holds",
                   }));
}

TEST(ResultsJson, CarriesThePlanTheTimeAndEveryResult) {
  const QJsonObject root = QJsonDocument::fromJson(ResultsJson(SampleReport())).object();
  EXPECT_EQ(root["plan"]["sha256"].toString().size(), 64);
  EXPECT_EQ(root["plan"]["file"].toString(), "/etc/plan.toml");
  EXPECT_TRUE(
      QRegularExpression(R"(^2024-03-05T14:07:09([+-]\d\d:\d\d|Z)$)").match(root["started"].toString()).hasMatch())
      << root["started"].toString().toStdString();
  EXPECT_EQ(root["identification"].toString(), QString::fromUtf8("ECG\uFFFD M\u00FCller 1.0"));
  EXPECT_EQ(root["verdict"].toString(), "fail");
  EXPECT_EQ(root["exit_code"].toInt(), 1);
  EXPECT_EQ(root["counts"].toObject(),
            (QJsonObject{{"tests", 5}, {"passed", 2}, {"failures", 1}, {"errors", 1}, {"sent", 1}}));
  const QJsonArray results = root["results"].toArray();
  ASSERT_EQ(results.size(), 5);
  EXPECT_EQ(results[2]["measured"].toDouble(), 45);
  EXPECT_NEAR(results[2]["low"].toDouble(), 49.5, 1e-9);
  EXPECT_EQ(results[2]["verdict"].toString(), "fail");
  EXPECT_TRUE(results[3]["measured"].isNull());
  EXPECT_EQ(results[3]["verdict"].toString(), "error");
  EXPECT_EQ(results[4]["verdict"].toString(), "sent");
}

TEST(VerdictTable, KeepsOneRowPerResultWithItsColumnsAligned) {
  std::istringstream table(VerdictTable(SampleReport()));
  std::vector<QString> lines;
  for (std::string line; std::getline(table, line);) lines.push_back(QString::fromStdString(line));
  ASSERT_EQ(lines.size(), 7u);  // heading, five results, summary
  const qsizetype measured = lines[0].indexOf("MEASURED");
  const std::vector<std::string> firstCells{"ECG", "100.2 / sec", "45 / sec", "-", "-"};
  for (std::size_t row = 1; row <= 5; ++row) {
    EXPECT_EQ(lines[row].indexOf(QString::fromStdString(firstCells[row - 1]), measured), measured) << row;
  }
  EXPECT_TRUE(lines[3].contains("FAIL"));
  EXPECT_TRUE(lines[6].endsWith(": FAIL")) << lines[6].toStdString();
}

TEST(SaveResultFile, RefusesLoudlyWhereItCannotWrite) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/no/such/dir/results.json";
  try {
    SaveResultFile(path, "{}");
    FAIL();
  } catch (const EResultFile& error) {
    EXPECT_EQ(std::string(error.what()).rfind(path + ": ", 0), 0u) << error.what();
  }
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
}

}  // namespace
