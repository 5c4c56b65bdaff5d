// quarnel-cli records and quarnel-cli sequence: the record store alone.
#include <QSettings>
#include <memory>
#include <string>

#include "base/Crc32.h"
#include "cli/CliRun.h"
#include "cli/RunReport.h"
#include "records/RecordStore.h"
#include "recording/RunRecords.h"

namespace quarnel::cli {
namespace {

std::string Field(const std::optional<uint64_t>& value) { return value ? std::to_string(*value) : "-"; }

// One line per record for a person: the columns that tell boards apart.
void PrintTable(const std::vector<records::BoardRecord>& records, std::FILE* out) {
  std::fprintf(out, "%-24s %-8s %-11s %4s %6s %3s %-20s %-8s %-4s %s\n", "time", "station", "operation", "slot",
               "target", "try", "serial", "crc32", "result", "status");
  for (const records::BoardRecord& r : records) {
    const std::string crc = r.crc32 ? Crc32Text(*r.crc32) : "-";
    std::fprintf(out, "%-24s %-8s %-11s %4s %6u %3d %-20s %-8s %-4s %s\n", r.utcTime.c_str(), r.station.c_str(),
                 r.operation.c_str(), r.slot ? std::to_string(*r.slot).c_str() : "-", r.targetNumber, r.attempt,
                 Field(r.serialNumber).c_str(), crc.c_str(), r.result.c_str(), r.statusText.c_str());
  }
}

}  // namespace

std::string RecordsUrl(const Options& options) {
  if (!options.recordsUrl.empty()) return options.recordsUrl;
  return QSettings(QStringLiteral("Zentor"), QStringLiteral("QUARNEL"))
      .value(QStringLiteral("Settings/") + QString::fromUtf8(kRecordsUrlKey))
      .toString()
      .toStdString();
}

int RunStoreCommand(const Options& options, std::FILE* out, std::FILE* err) {
  records::StoreResult result;
  const std::unique_ptr<records::RecordStore> store = records::RecordStore::Open(RecordsUrl(options), &result);
  if (!store) {
    std::fprintf(err, "quarnel-cli: the record store cannot be opened: %s\n", result.error.c_str());
    return kNotPlugged;
  }
  if (options.command == Command::Sequence) {
    result = store->CreateSequence(options.sequenceName, options.sequenceFirst);
    if (!result.Ok()) {
      std::fprintf(err, "quarnel-cli: %s\n", result.error.c_str());
      return kBadInput;
    }
    std::fprintf(out, "sequence %s starts at %llu\n", options.sequenceName.c_str(),
                 static_cast<unsigned long long>(options.sequenceFirst));
    return kPassed;
  }
  std::vector<records::BoardRecord> records;
  result = store->Records({options.records.since, options.records.serialNumber}, &records);
  if (!result.Ok()) {
    std::fprintf(err, "quarnel-cli: %s\n", result.error.c_str());
    return kBadInput;
  }
  if (options.records.csv)
    std::fputs(records::RecordsCsv(records).c_str(), out);
  else if (options.records.json)
    std::fputs(records::RecordsJson(records).c_str(), out);
  else
    PrintTable(records, out);
  std::fflush(out);
  if (std::ferror(out) != 0) {
    std::fprintf(err, "quarnel-cli: the records could not be printed\n");
    return kTargetFailed;
  }
  return kPassed;
}

}  // namespace quarnel::cli
