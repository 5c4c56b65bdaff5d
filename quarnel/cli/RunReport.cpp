#include "cli/RunReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "base/Crc32.h"
#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "cli/ReadBack.h"

namespace quarnel::cli {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString Hex(const std::vector<uint8_t>& bytes) {
  QString text;
  for (uint8_t byte : bytes) text += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
  return text;
}

QString EndText(const FileEntrySettings& file) {
  switch (file.endMode) {
    case EndAddressMode::EndOfMemory:
      return QStringLiteral("memory");
    case EndAddressMode::FileContent:
      return QStringLiteral("file");
    case EndAddressMode::Arbitrary:
      break;
  }
  return Text(file.arbitraryEndText);
}

QJsonObject OptionsJson(const Options& o) {
  QJsonArray files;
  for (const FileArgument& file : o.files) {
    files.append(QJsonObject{{"file", Text(file.settings.fileName)},
                             {"start", Text(file.settings.startText)},
                             {"offset", Text(file.settings.offsetText.empty() ? "0" : file.settings.offsetText)},
                             {"end", EndText(file.settings)}});
  }
  QJsonObject json{
      {"emulators", o.allEmulators ? QJsonValue(QStringLiteral("all")) : QJsonValue(static_cast<int>(o.emulators))},
      {"fill", o.fillFromFlash ? QStringLiteral("flash") : Text(o.fillText)},
      {"eraseBeforeWrite", o.eraseBeforeWrite},
      {"notFill", o.notFill},
      {"addTwoWords", o.addTwoWords},
      {"securityId", o.securityId.has_value()},
      {"initialize", o.initialize},
      {"files", files},
  };
  if (o.serial) {
    QJsonObject serial{{"address", static_cast<qint64>(o.serial->address)}, {"size", static_cast<int>(o.serial->size)}};
    if (o.serial->sequence.empty())
      serial["first"] = static_cast<qint64>(o.serial->first);
    else
      serial["sequence"] = Text(o.serial->sequence);
    json["serial"] = serial;
  }
  if (!o.blocks.empty()) json["blocks"] = Text(o.blocks);
  if (!o.slotsPath.empty()) json["slots"] = Text(o.slotsPath);
  if (o.retries != 0) json["retry"] = static_cast<int>(o.retries);
  return json;
}

QJsonObject TargetJson(const TargetReport& target) {
  QJsonObject json{
      {"number", static_cast<int>(target.number)},
      {"devicePath", Text(target.devicePath)},
      {"firmware", Text(target.firmware)},
      {"status", target.status},
      {"statusText", target.status == 0 ? QString() : Text(std::string(LoadText(StatusTextId(target.status))))},
      {"result", target.passed ? QStringLiteral("pass") : QStringLiteral("fail")},
  };
  json["slot"] = target.slot ? QJsonValue(*target.slot) : QJsonValue();
  json["serialNumber"] = target.serialNumber ? QJsonValue(Hex(*target.serialNumber)) : QJsonValue();
  json["differences"] = target.differences ? QJsonValue(static_cast<qint64>(*target.differences)) : QJsonValue();
  json["crc32"] = target.crc32 ? QJsonValue(Text(Crc32Text(*target.crc32))) : QJsonValue();
  if (!target.outputFile.empty()) json["outputFile"] = Text(target.outputFile);
  json["attempts"] = static_cast<int>(target.attempts);
  return json;
}

}  // namespace

std::string ReportJson(const Options& options, const RunReport& report) {
  QJsonArray targets;
  for (const TargetReport& target : report.targets) targets.append(TargetJson(target));
  QJsonObject json{
      {"operation", Text(report.operation)},
      {"targetDescription", Text(options.target)},
      {"options", OptionsJson(options)},
      {"exitCode", report.exitCode},
      {"result", report.exitCode == kPassed ? QStringLiteral("pass") : QStringLiteral("fail")},
      {"message", Text(report.message)},
      {"utcTime", Text(report.utcTime)},
      {"station", Text(report.station)},
      {"version", Text(report.version)},
      {"imageSha256", report.imageSha256.empty() ? QJsonValue() : QJsonValue(Text(report.imageSha256))},
      {"seconds", report.seconds},
      {"bytes", static_cast<qint64>(report.bytes)},
      {"kibPerSecond", report.seconds > 0 ? static_cast<double>(report.bytes) / 1024.0 / report.seconds : 0.0},
      {"targets", targets},
  };
  return QJsonDocument(json).toJson(QJsonDocument::Indented).toStdString();
}

bool WriteReportFile(const std::string& path, const Options& options, const RunReport& report) {
  return SaveFile(path, ReportJson(options, report)).empty();
}

std::string CheckReportFile(const std::string& path) {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return file.errorString().toStdString();
  file.cancelWriting();
  return {};
}

int TellFailure(std::FILE* err, RunReport& report, const RunFailure& failure) {
  std::fprintf(err, "quarnel-cli: %s\n", failure.message.c_str());
  report.message = failure.message;
  return failure.code;
}

}  // namespace quarnel::cli
