#pragma once

#include <cstdio>
#include <optional>

#include "cli/CliOptions.h"
#include "cli/ConsoleWindow.h"
#include "cli/RunReport.h"
#include "objfile/ObjectFileWriter.h"
#include "session/WriterSession.h"

namespace quarnel::cli {

// The checks of a run that come before any emulator is touched. Each gives
// the failure that ends the run, or nothing.

// Where the log, the JSON record and the read-back files go: a run must not
// write boards whose record it cannot keep. Creates the log, and takes the
// format of a read's output from its name.
std::optional<RunFailure> CheckDestinations(const Options& options, ConsoleWindow& console,
                                            ObjectFileFormat& outputFormat);

// Reads the target descriptions; files the library passed over are told on `err`.
std::optional<RunFailure> ReadDescriptions(WriterSession& session, std::FILE* err);

// Applies the description the options name and takes in the rest: the fill
// byte, the questions the options alone raise, the place of the serial
// number, the files and the blocks.
std::optional<RunFailure> TakeInput(const Options& options, WriterSession& session, ConsoleWindow& console);

// The settings of write and of verify that the options give; a serial
// number's place must be written, and is compared.
WriteSettings WriteSettingsFor(const Options& options);
VerifySettings VerifySettingsFor(const Options& options);

}  // namespace quarnel::cli
