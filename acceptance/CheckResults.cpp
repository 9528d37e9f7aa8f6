#include "acceptance/CheckResults.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QString>

namespace {

// Two decimals at most, none for whole numbers; a '.' in every locale.
std::string Number(double value) {
  QString text = QString::number(value, 'f', 2);
  if (text.contains('.')) {
    while (text.endsWith('0')) text.chop(1);
    if (text.endsWith('.')) text.chop(1);
  }
  if (text == "-0") text = "0";
  return text.toStdString();
}

std::string WithUnit(const std::string& number, const std::string& unit) {
  return unit.empty() ? number : number + " " + unit;
}

}  // namespace

std::string_view VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Pass: return "pass";
    case Verdict::Fail: return "fail";
    case Verdict::Error: return "error";
    case Verdict::Sent: return "sent";
  }
  return "error";
}

std::string MeasuredText(const CheckResult& result) {
  if (!result.measuredText.empty()) return result.measuredText;
  if (result.measured && std::isfinite(*result.measured)) return WithUnit(Number(*result.measured), result.unit);
  return "-";
}

std::string LimitsText(const CheckResult& result) {
  if (!result.limitsText.empty()) return result.limitsText;
  if (result.low && result.high) return WithUnit(Number(*result.low) + " .. " + Number(*result.high), result.unit);
  if (result.high) return WithUnit("<= " + Number(*result.high), result.unit);
  if (result.low) return WithUnit(">= " + Number(*result.low), result.unit);
  return "-";
}

std::string CaseName(const CheckResult& result) { return result.setting.empty() ? result.check : result.setting; }

CheckResult Measured(std::string check, std::string setting, double measured, std::string unit,
                     std::optional<double> low, std::optional<double> high, double seconds) {
  CheckResult result;
  result.check = std::move(check);
  result.setting = std::move(setting);
  result.unit = std::move(unit);
  result.low = low;
  result.high = high;
  result.seconds = seconds;
  if (!std::isfinite(measured)) {
    result.verdict = Verdict::Error;
    result.message = "nothing measured";
    return result;
  }
  result.measured = measured;
  const bool inside = (!low || measured >= *low) && (!high || measured <= *high);
  result.verdict = inside ? Verdict::Pass : Verdict::Fail;
  if (!inside) result.message = "measured " + MeasuredText(result) + ", outside " + LimitsText(result);
  return result;
}

CheckResult WithinPercent(std::string check, std::string setting, double measured, double target, double percent,
                          std::string unit, double seconds) {
  const double a = target * (1 - percent / 100);
  const double b = target * (1 + percent / 100);
  CheckResult result = Measured(std::move(check), std::move(setting), measured, std::move(unit), std::min(a, b),
                                std::max(a, b), seconds);
  result.limitsText = WithUnit(Number(target), result.unit) + " ±" + Number(percent) + " %";
  if (result.verdict == Verdict::Fail)
    result.message = "measured " + MeasuredText(result) + ", outside " + LimitsText(result);
  return result;
}

void RunReport::SetPlan(const TestPlan& plan) {
  planName = plan.name;
  planSource = plan.source;
  planSha256 = plan.sha256;
}

RunCounts Counts(const RunReport& report) {
  RunCounts counts;
  for (const CheckResult& result : report.results) {
    ++counts.tests;
    switch (result.verdict) {
      case Verdict::Pass: ++counts.passed; break;
      case Verdict::Fail: ++counts.failures; break;
      case Verdict::Error: ++counts.errors; break;
      case Verdict::Sent: ++counts.sent; break;
    }
  }
  return counts;
}

int ExitCode(const RunReport& report) {
  const RunCounts counts = Counts(report);
  return counts.tests == 0 || counts.failures > 0 || counts.errors > 0 ? 1 : 0;
}
