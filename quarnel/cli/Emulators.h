#pragma once

#include <cstdio>
#include <optional>
#include <vector>

#include "cli/CliApiTable.h"
#include "cli/CliOptions.h"
#include "cli/RunReport.h"
#include "cli/SlotMap.h"
#include "session/WriterSession.h"

namespace quarnel::cli {

// Connects and takes the KORVO access lock; then expects the emulators that
// the options, or the slot map, name. A slot without its emulator leaves
// them again at once.
std::optional<RunFailure> ConnectEmulators(WriterSession& session, CliApiTable& api, const Options& options,
                                           const SlotMap* slots);

// Target n as connected: its number, device path and slot.
TargetReport DescribeTarget(CliApiTable& api, uint32_t n, const SlotMap* slots);

// list, once connected: every emulator with its slot, firmware and chip,
// the slots without an emulator, and the target descriptions, on `out`.
// Each emulator's report.
std::vector<TargetReport> ListEmulators(WriterSession& session, CliApiTable& api, const SlotMap* slots,
                                        std::FILE* out);

// slots [--save FILE], once connected: slots 1, 2, ... for the emulators
// attached now, on `out` and in the file.
std::optional<RunFailure> ListSlots(CliApiTable& api, const Options& options, std::FILE* out, std::FILE* err);

}  // namespace quarnel::cli
