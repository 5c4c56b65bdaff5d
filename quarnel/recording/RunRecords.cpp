#include "recording/RunRecords.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSysInfo>
#include <QUuid>

#include "base/ProgramVersion.h"
#include "base/StatusMessages.h"
#include "target/TargetSetup.h"

namespace quarnel {

RunIdentity NewRunIdentity(std::string operation, std::string targetDescription) {
  RunIdentity run;
  run.runId = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
  run.station = StationName();
  run.version = ProgramVersion();
  run.operation = std::move(operation);
  run.targetDescription = std::move(targetDescription);
  return run;
}

std::string StationName() { return QSysInfo::machineHostName().toStdString(); }

std::string ProgramVersion() { return ProgramVersionText(QUARNEL_VERSION_MAJOR, QUARNEL_VERSION_MINOR); }

std::string UtcTimeNow() {
  return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toStdString();
}

std::string Sha256Hex(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
  return hash.result().toHex().toStdString();
}

records::BoardRecord BoardRecordOf(const RunIdentity& run, int attempt, const TargetOutcome& target,
                                   const RunFigures& figures) {
  records::BoardRecord record;
  record.runId = run.runId;
  record.attempt = attempt;
  record.utcTime = UtcTimeNow();
  record.station = run.station;
  record.version = run.version;
  record.operation = run.operation;
  record.targetDescription = run.targetDescription;
  record.targetNumber = target.target;
  record.devicePath = target.devicePath;
  record.firmware = target.firmware;
  record.chipName = target.chipName;
  record.imageSha256 = run.imageSha256;
  record.crc32 = target.crc32;
  record.bytesWritten = run.operation == "write" && target.status == 0 ? figures.bytes : 0;
  record.durationSeconds = figures.seconds;
  record.rateKiBps = figures.KiBPerSecond();
  record.result = target.passed ? "pass" : "fail";
  record.status = target.status;
  if (target.status != 0) record.statusText = std::string(LoadText(StatusTextId(target.status)));
  return record;
}

bool RecordingReadsBack(const WriterSession& session, const std::string& operation) {
  return (operation == "write" || operation == "verify") &&
         session.LastRun().outcome == OperationOutcome::Completed && session.Plug().Plugged();
}

records::StoreResult RecordLastRun(WriterSession& session, ApiCalls& api, const std::string& operation,
                                   const std::string& url) {
  const RunFigures& figures = session.LastRun();
  if (figures.outcome == OperationOutcome::NotStarted) return {};
  const std::vector<TargetOutcome> outcomes = RecordedOutcomes(session, api, RecordingReadsBack(session, operation));
  const CTargetInfo* selected = session.Plug().SelectedDescription();
  RunIdentity run = NewRunIdentity(operation, selected != nullptr ? TargetNameOf(*selected) : std::string());
  run.imageSha256 = Sha256Hex(figures.plannedImage);
  std::vector<records::BoardRecord> records;
  for (const TargetOutcome& target : outcomes) records.push_back(BoardRecordOf(run, 1, target, figures));
  records::StoreResult result;
  const std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(url, &result);
  if (!store) return result;
  return store->Add(records);
}

}  // namespace quarnel
