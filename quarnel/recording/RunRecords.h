#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "records/RecordStore.h"
#include "session/TargetResults.h"
#include "session/WriterSession.h"

namespace quarnel {

// The settings (section Settings) that turn the window's recording of runs
// on (1) and name the record store (empty: the default SQLite file).
inline constexpr const char* kRecordRunsKey = "RecordRuns";
inline constexpr const char* kRecordsUrlKey = "RecordsUrl";

// What every record of one run shares.
struct RunIdentity {
  std::string runId;
  std::string station;
  std::string version;
  std::string operation;  // "write", "verify", "erase", "read", "blank-check"
  std::string targetDescription;
  std::string imageSha256;  // write: of the planned image
};

// A new run on this station with this program.
RunIdentity NewRunIdentity(std::string operation, std::string targetDescription);

// The host name; the program's version ("1.00"); the time now in UTC as
// the records keep it ("2026-12-08T10:00:00.000Z").
std::string StationName();
std::string ProgramVersion();
std::string UtcTimeNow();

// Lower-case hexadecimal SHA-256; empty for no bytes.
std::string Sha256Hex(std::span<const uint8_t> bytes);

// The record of one target's attempt.
records::BoardRecord BoardRecordOf(const RunIdentity& run, int attempt, const TargetOutcome& target,
                                   const RunFigures& figures);

// Whether recording the session's last operation reads the passed targets
// back: after a write or verify that completed, while still plugged.
bool RecordingReadsBack(const WriterSession& session, const std::string& operation);

// Records the session's last operation on its selected target description,
// one record per target, as the window does when recording is on: reads
// back the flash of the targets that passed (see RecordingReadsBack), and
// adds the records to the store at `url` (empty: the default SQLite file).
records::StoreResult RecordLastRun(WriterSession& session, ApiCalls& api, const std::string& operation,
                                   const std::string& url);

}  // namespace quarnel
