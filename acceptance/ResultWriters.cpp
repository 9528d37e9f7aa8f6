#include "acceptance/ResultWriters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QString>
#include <QXmlStreamWriter>

namespace {

// Text fit for XML 1.0 and for one table row.
QString Cleaned(const std::string& text) {
  QString cleaned = QString::fromStdString(text);  // broken UTF-8 becomes U+FFFD
  for (QChar& c : cleaned) {
    const char16_t code = c.unicode();
    if (code == '\t' || code == '\n' || code == '\r') {
      c = ' ';
    } else if (code < 0x20 || code == 0x7F || code == 0xFFFE || code == 0xFFFF) {
      c = QChar::ReplacementCharacter;
    }
  }
  // A lone surrogate half is not a character either.
  for (qsizetype i = 0; i < cleaned.size(); ++i) {
    const QChar c = cleaned[i];
    if (c.isHighSurrogate() && i + 1 < cleaned.size() && cleaned[i + 1].isLowSurrogate()) {
      ++i;
    } else if (c.isSurrogate()) {
      cleaned[i] = QChar::ReplacementCharacter;
    }
  }
  return cleaned;
}

QString Seconds(double seconds) { return QString::number(std::max(seconds, 0.0), 'f', 3); }

// What the measured value was against which limits, and why it failed.
QString Summary(const CheckResult& result) {
  QString text = "measured " + Cleaned(MeasuredText(result)) + "; limits " + Cleaned(LimitsText(result));
  if (!result.message.empty()) text += "; " + Cleaned(result.message);
  return text;
}

QString ClassName(const std::string& check) {
  // A dot would start another package in a CI server's tree.
  return "acceptance." + Cleaned(check).replace('.', '_');
}

// Results grouped by check, each group in the results' order.
std::vector<std::vector<const CheckResult*>> ByCheck(const RunReport& report) {
  std::vector<std::vector<const CheckResult*>> groups;
  for (const CheckResult& result : report.results) {
    auto group =
        std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.front()->check == result.check; });
    if (group == groups.end()) {
      groups.emplace_back();
      group = groups.end() - 1;
    }
    group->push_back(&result);
  }
  return groups;
}

void WriteProperties(QXmlStreamWriter& xml, const RunReport& report) {
  const std::array<std::pair<const char*, const std::string*>, 5> properties{{
      {"plan", &report.planName},
      {"plan_file", &report.planSource},
      {"plan_sha256", &report.planSha256},
      {"port", &report.port},
      {"identification", &report.identification},
  }};
  xml.writeStartElement("properties");
  for (const auto& [name, value] : properties) {
    xml.writeStartElement("property");
    xml.writeAttribute("name", name);
    xml.writeAttribute("value", Cleaned(*value));
    xml.writeEndElement();
  }
  xml.writeEndElement();
}

void WriteCounts(QXmlStreamWriter& xml, const RunCounts& counts, double seconds) {
  xml.writeAttribute("tests", QString::number(counts.tests));
  xml.writeAttribute("failures", QString::number(counts.failures));
  xml.writeAttribute("errors", QString::number(counts.errors));
  xml.writeAttribute("skipped", QString::number(counts.sent));
  xml.writeAttribute("time", Seconds(seconds));
}

QString Timestamp(const RunReport& report) { return report.started.toString("yyyy-MM-ddTHH:mm:ss"); }

QJsonValue OptionalNumber(const std::optional<double>& value) {
  return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// Code points, so that "µV" and "±" take one column each.
std::size_t Width(const QString& text) { return static_cast<std::size_t>(text.toUcs4().size()); }

}  // namespace

QByteArray JUnitXml(const RunReport& report) {
  QByteArray bytes;
  QXmlStreamWriter xml(&bytes);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeStartElement("testsuites");
  xml.writeAttribute("name", Cleaned(report.planName));
  WriteCounts(xml, Counts(report), report.seconds);
  xml.writeAttribute("timestamp", Timestamp(report));
  int id = 0;
  for (const auto& group : ByCheck(report)) {
    RunReport suite;
    double seconds = 0;
    for (const CheckResult* result : group) {
      suite.results.push_back(*result);
      seconds += std::max(result->seconds, 0.0);
    }
    xml.writeStartElement("testsuite");
    xml.writeAttribute("name", Cleaned(group.front()->check));
    WriteCounts(xml, Counts(suite), seconds);
    xml.writeAttribute("timestamp", Timestamp(report));
    xml.writeAttribute("hostname", "localhost");
    xml.writeAttribute("id", QString::number(id++));
    xml.writeAttribute("package", "acceptance");
    WriteProperties(xml, report);
    for (const CheckResult* result : group) {
      xml.writeStartElement("testcase");
      xml.writeAttribute("name", Cleaned(CaseName(*result)));
      xml.writeAttribute("classname", ClassName(result->check));
      xml.writeAttribute("time", Seconds(result->seconds));
      const QString summary = Summary(*result);
      switch (result->verdict) {
        case Verdict::Pass: break;
        case Verdict::Fail:
          xml.writeStartElement("failure");
          xml.writeAttribute("message", summary);
          xml.writeAttribute("type", "limit");
          xml.writeCharacters(summary);
          xml.writeEndElement();
          break;
        case Verdict::Error:
          xml.writeStartElement("error");
          xml.writeAttribute("message", summary);
          xml.writeAttribute("type", "not measured");
          xml.writeCharacters(summary);
          xml.writeEndElement();
          break;
        case Verdict::Sent:
          xml.writeStartElement("skipped");
          xml.writeAttribute("message", summary);
          xml.writeEndElement();
          break;
      }
      xml.writeTextElement("system-out", summary);
      xml.writeEndElement();
    }
    xml.writeEmptyElement("system-out");
    xml.writeEmptyElement("system-err");
    xml.writeEndElement();
  }
  xml.writeEndElement();
  xml.writeEndDocument();
  return bytes;
}

QByteArray ResultsJson(const RunReport& report) {
  const RunCounts counts = Counts(report);
  const auto text = [](const std::string& value) { return QJsonValue(Cleaned(value)); };
  QJsonArray results;
  for (const CheckResult& result : report.results) {
    results.append(QJsonObject{
        {"check", text(result.check)},
        {"setting", text(result.setting)},
        {"verdict", QString::fromUtf8(VerdictName(result.verdict))},
        {"measured", OptionalNumber(result.measured)},
        {"measured_text", text(MeasuredText(result))},
        {"unit", text(result.unit)},
        {"low", OptionalNumber(result.low)},
        {"high", OptionalNumber(result.high)},
        {"limits", text(LimitsText(result))},
        {"message", text(result.message)},
        {"seconds", std::max(result.seconds, 0.0)},
    });
  }
  const QDateTime started = report.started.toOffsetFromUtc(report.started.offsetFromUtc());
  const QJsonObject root{
      {"plan",
       QJsonObject{
           {"name", text(report.planName)}, {"file", text(report.planSource)}, {"sha256", text(report.planSha256)}}},
      {"started", started.toString(Qt::ISODate)},
      {"seconds", std::max(report.seconds, 0.0)},
      {"port", text(report.port)},
      {"identification", text(report.identification)},
      {"verdict", ExitCode(report) == 0 ? "pass" : "fail"},
      {"exit_code", ExitCode(report)},
      {"counts", QJsonObject{{"tests", static_cast<qint64>(counts.tests)},
                             {"passed", static_cast<qint64>(counts.passed)},
                             {"failures", static_cast<qint64>(counts.failures)},
                             {"errors", static_cast<qint64>(counts.errors)},
                             {"sent", static_cast<qint64>(counts.sent)}}},
      {"results", results},
  };
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::string VerdictTable(const RunReport& report) {
  using Row = std::array<QString, 6>;
  std::vector<Row> rows{{"CHECK", "SETTING", "VERDICT", "MEASURED", "LIMITS", "MESSAGE"}};
  for (const CheckResult& result : report.results) {
    rows.push_back({Cleaned(result.check), Cleaned(result.setting.empty() ? "-" : result.setting),
                    QString::fromUtf8(VerdictName(result.verdict)).toUpper(), Cleaned(MeasuredText(result)),
                    Cleaned(LimitsText(result)), Cleaned(result.message)});
  }
  std::array<std::size_t, 6> widths{};
  for (const Row& row : rows) {
    for (std::size_t column = 0; column < row.size(); ++column)
      widths[column] = std::max(widths[column], Width(row[column]));
  }
  QString table;
  for (const Row& row : rows) {
    QString line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      line += row[column];
      if (column + 1 < row.size())
        line += QString(static_cast<qsizetype>(widths[column] - Width(row[column]) + 2), ' ');
    }
    while (line.endsWith(' ')) line.chop(1);
    table += line + '\n';
  }
  const RunCounts counts = Counts(report);
  table += QString("%1 results: %2 passed, %3 failed, %4 errors, %5 sent (not verifiable) in %6 s: %7\n")
               .arg(counts.tests)
               .arg(counts.passed)
               .arg(counts.failures)
               .arg(counts.errors)
               .arg(counts.sent)
               .arg(QString::number(std::max(report.seconds, 0.0), 'f', 1))
               .arg(ExitCode(report) == 0 ? "PASS" : "FAIL");
  return table.toStdString();
}

void SaveResultFile(const std::string& path, const QByteArray& bytes) {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    throw EResultFile(path + ": " + file.errorString().toStdString());
  }
}
