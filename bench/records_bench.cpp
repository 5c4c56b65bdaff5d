// The record store on SQLite against a CSV file that each run appends its
// line to: 1,000 runs adding one record each (opening the store in every
// run, as every quarnel-cli run does, and through one store kept open),
// then 10,000 records read back as CSV against reading the CSV file.
// Appending without fsync is the baseline the targets are judged against.
// Appending with fsync is shown too: neither the plain append nor the
// store's commit (SQLite's write-ahead log, synchronous=NORMAL, synced at
// checkpoints only) survives a power cut at once; both survive a crash of
// the program.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include "records/RecordStore.h"

namespace {

using quarnel::records::BoardRecord;
using quarnel::records::RecordStore;
using quarnel::records::StoreResult;

constexpr int kRuns = 1000;
constexpr int kReadRecords = 10000;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

BoardRecord RunRecord(int run) {
  BoardRecord r;
  r.runId = "run-" + std::to_string(run);
  r.utcTime = "2026-12-08T10:00:00.000Z";
  r.station = "line-3.zentor.example";
  r.version = "1.00";
  r.operation = "write";
  r.targetDescription = "KT51456 (256 KiB flash)";
  r.slot = run % 8;
  r.targetNumber = static_cast<uint32_t>(run % 8);
  r.devicePath = "/dev/bus/usb/001/007";
  r.firmware = "2.31";
  r.chipName = "KT51456";
  r.imageSha256 = std::string(64, 'c');
  r.crc32 = 0x1234ABCDu + static_cast<uint32_t>(run);
  r.serialNumber = 100000 + run;
  r.bytesWritten = 262144;
  r.durationSeconds = 4.25;
  r.rateKiBps = 60.2;
  r.result = "pass";
  r.statusText = "Completed";
  return r;
}

// The record's CSV line, without the header line.
std::string CsvLine(const BoardRecord& record) {
  const std::string text = quarnel::records::RecordsCsv({record});
  return text.substr(text.find('\n') + 1);
}

std::unique_ptr<RecordStore> OpenOrExit(const std::string& url) {
  StoreResult result;
  std::unique_ptr<RecordStore> store = RecordStore::Open(url, &result);
  if (!store) {
    std::fprintf(stderr, "records_bench: %s\n", result.error.c_str());
    std::exit(1);
  }
  return store;
}

bool AddOne(RecordStore& store, const BoardRecord& record) { return store.Add({record}).Ok(); }

}  // namespace

int main() {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  const std::string reopenedUrl = "sqlite:" + folder + "/reopened.sqlite";
  const std::string keptUrl = "sqlite:" + folder + "/kept.sqlite";
  const std::string csvPath = folder + "/records.csv";
  std::vector<BoardRecord> records;
  std::vector<std::string> lines;
  for (int run = 0; run < kReadRecords; ++run) {
    records.push_back(RunRecord(run));
    lines.push_back(CsvLine(records.back()));
  }
  OpenOrExit(reopenedUrl);  // the schema, as on a station's first run
  bool ok = true;

  auto start = std::chrono::steady_clock::now();
  for (int run = 0; run < kRuns; ++run) ok = AddOne(*OpenOrExit(reopenedUrl), records[run]) && ok;
  const double reopenedSeconds = Seconds(start);

  std::unique_ptr<RecordStore> kept = OpenOrExit(keptUrl);
  start = std::chrono::steady_clock::now();
  for (int run = 0; run < kRuns; ++run) ok = AddOne(*kept, records[run]) && ok;
  const double keptSeconds = Seconds(start);

  start = std::chrono::steady_clock::now();
  for (int run = 0; run < kRuns; ++run) {
    FILE* csv = std::fopen(csvPath.c_str(), "a");
    ok = csv && std::fputs(lines[run].c_str(), csv) >= 0 && ok;
    if (csv) ok = std::fclose(csv) == 0 && ok;
  }
  const double csvAppendSeconds = Seconds(start);

  const std::string syncedPath = folder + "/synced.csv";
  start = std::chrono::steady_clock::now();
  for (int run = 0; run < kRuns; ++run) {
    FILE* csv = std::fopen(syncedPath.c_str(), "a");
    ok = csv && std::fputs(lines[run].c_str(), csv) >= 0 && std::fflush(csv) == 0 && fsync(fileno(csv)) == 0 && ok;
    if (csv) ok = std::fclose(csv) == 0 && ok;
  }
  const double csvSyncedSeconds = Seconds(start);

  ok = kept->Add(std::vector<BoardRecord>(records.begin() + kRuns, records.end())).Ok() && ok;
  std::ofstream(csvPath, std::ios::app) << [&] {
    std::string rest;
    for (int run = kRuns; run < kReadRecords; ++run) rest += lines[run];
    return rest;
  }();

  start = std::chrono::steady_clock::now();
  std::vector<BoardRecord> readBack;
  ok = kept->Records({}, &readBack).Ok() && ok;
  const std::string storeCsv = quarnel::records::RecordsCsv(readBack);
  const double storeReadSeconds = Seconds(start);

  start = std::chrono::steady_clock::now();
  std::ifstream file(csvPath);
  std::stringstream fileText;
  fileText << file.rdbuf();
  const std::string fileCsv = fileText.str();
  const double fileReadSeconds = Seconds(start);
  // The same text, apart from the header line.
  ok = ok && storeCsv.substr(storeCsv.find('\n') + 1) == fileCsv;

  std::printf("write, %d runs of one record: CSV append %.3f s (%.1f us/run)\n", kRuns, csvAppendSeconds,
              csvAppendSeconds / kRuns * 1e6);
  std::printf("  CSV append + fsync:   %.3f s (%.1f us/run)\n", csvSyncedSeconds, csvSyncedSeconds / kRuns * 1e6);
  std::printf("  store opened per run: %.3f s (%.1f us/run), ratio to CSV %.2f (target <= 3),"
              " to CSV + fsync %.2f\n",
              reopenedSeconds, reopenedSeconds / kRuns * 1e6, reopenedSeconds / csvAppendSeconds,
              reopenedSeconds / csvSyncedSeconds);
  std::printf("  store kept open:      %.3f s (%.1f us/run), ratio to CSV %.2f (target <= 3)\n", keptSeconds,
              keptSeconds / kRuns * 1e6, keptSeconds / csvAppendSeconds);
  std::printf("read, %d records as CSV: store %.4f s, CSV file %.4f s, ratio %.2f (target <= 2)%s\n", kReadRecords,
              storeReadSeconds, fileReadSeconds, storeReadSeconds / fileReadSeconds, ok ? "" : "  FAILED");
  return ok ? 0 : 1;
}
