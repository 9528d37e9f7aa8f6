#include "station/CalibrationMemory.h"

#include <QByteArray>
#include <QSettings>
#include <QStringList>

namespace {

// The identification is free text from the module: as hex it makes a key
// of any bytes.
QString KeyOf(const std::string& identification, int stage) {
  const QByteArray bytes(identification.data(), static_cast<qsizetype>(identification.size()));
  return QStringLiteral("calibration/%1/stage%2").arg(QString::fromLatin1(bytes.toHex()), QString::number(stage));
}

}  // namespace

std::unique_ptr<QSettings> StationSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ecg-test-station"),
                                     QStringLiteral("ecg-tool"));
}

void RememberCalibration(QSettings& settings, const std::string& identification,
                         const SidecarCalibration& calibration) {
  if (identification.empty() || !calibration.stage || calibration.leads.empty()) return;
  // "I=40.000@128.000;II=..." : steps per mV at the lead's zero.
  QStringList leads;
  for (const SidecarLeadCalibration& lead : calibration.leads) {
    leads << QStringLiteral("%1=%2@%3")
                 .arg(QString::fromStdString(lead.lead), QString::number(lead.stepsPerMv, 'f', 3),
                      QString::number(lead.zero, 'f', 3));
  }
  settings.setValue(KeyOf(identification, *calibration.stage), leads.join(QLatin1Char(';')));
  settings.sync();
}

std::optional<SidecarCalibration> RememberedCalibration(const QSettings& settings, const std::string& identification,
                                                        int stage) {
  if (identification.empty()) return std::nullopt;
  const QString text = settings.value(KeyOf(identification, stage)).toString();
  SidecarCalibration calibration;
  calibration.stage = stage;
  for (const QString& item : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const qsizetype equals = item.indexOf(QLatin1Char('='));
    const qsizetype at = item.indexOf(QLatin1Char('@'), equals);
    bool stepsOk = false, zeroOk = false;
    if (equals <= 0 || at < 0) return std::nullopt;
    const double steps = item.mid(equals + 1, at - equals - 1).toDouble(&stepsOk);
    const double zero = item.mid(at + 1).toDouble(&zeroOk);
    // A figure edited by hand into nonsense scales nothing.
    if (!stepsOk || !zeroOk || !(steps > 0)) return std::nullopt;
    calibration.leads.push_back({item.left(equals).toStdString(), steps, zero});
  }
  if (calibration.leads.empty()) return std::nullopt;
  return calibration;
}
