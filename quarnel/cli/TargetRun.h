#pragma once

#include <cstdio>

#include "cli/CliApiTable.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleWindow.h"
#include "cli/RunReport.h"
#include "cli/SlotMap.h"
#include "objfile/ObjectFileWriter.h"
#include "records/RecordStore.h"
#include "session/WriterSession.h"

namespace quarnel::cli {

// What an operation on the targets works with; all of it outlives the run.
struct TargetRunParts {
  const Options& options;
  std::FILE* err;
  ConsoleWindow& console;
  CliApiTable& api;
  WriterSession& session;  // descriptions read, input taken
  RunReport& report;
  const SlotMap* slots;            // none without --slots
  records::RecordStore* store;     // where the records and sequences are
  ObjectFileFormat outputFormat;   // read
};

// Write, verify, erase, read or blank-check on the plugged targets, with
// its attempts: connects the targets (with a slot map, the slots'
// emulators in slot order), plugs them with their serial numbers, runs the
// operation, and for each retry plugs the targets that failed again. Every
// target's report goes into the run's report, every record of every
// attempt into the store. The run's exit code.
int OperateOnTargets(const TargetRunParts& parts);

}  // namespace quarnel::cli
