#include "ops/EraseOperation.h"

#include <algorithm>

#include "base/TextIds.h"
#include "ops/OperationSteps.h"
#include "ops/TargetContents.h"

namespace quarnel {
namespace {

constexpr const char* kEraseProgress = "Erasing";

bool AnySelected(const EraseBlockTable& table) {
  return std::any_of(table.begin(), table.end(), [](const EraseBlock& b) { return b.selected != 0; });
}

}  // namespace

bool ApplyEraseTicks(EraseBlockTable& table, std::vector<bool>& ticks) {
  ticks.resize(table.size(), false);
  for (size_t i = 0; i < table.size(); ++i) {
    if (ticks[i] && !table[i].available) ticks[i] = false;
    table[i].selected = ticks[i] ? 1 : 0;
  }
  return AnySelected(table);
}

bool SelectAllEraseBlocks(EraseBlockTable& table, std::vector<bool>& ticks) {
  const bool select =
      std::any_of(table.begin(), table.end(), [](const EraseBlock& b) { return b.available && !b.selected; });
  ticks.resize(table.size(), false);
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].available) table[i].selected = select ? 1 : 0;
    ticks[i] = table[i].selected != 0;
  }
  return AnySelected(table);
}

OperationOutcome EraseOperation::Run() {
  OperationWindow& window = context_.window;
  const EraseBlockTable& table = context_.target.eraseBlocks;
  if (!Ask(window, Question::StartErasure)) return OperationOutcome::NotStarted;
  std::string line = Text(text::kErasingBlocks);
  uint64_t planned = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    if (!table[i].selected) continue;
    line += Format("%d ", static_cast<int>(i + 1));
    ++planned;
  }
  window.AddLogLine(SessionEvent::kNormalLine, line);
  ClearLeftoverStatuses(context_.api);
  window.Report(SessionEvent::Started(SessionEvent::kErasing, SessionEvent::kEraseMode));
  window.AddLogLine(SessionEvent::kNormalLine, Text(text::kErasingHeader) + LocalTimeStamp());
  window.ClearCancelRequest();
  window.ShowProgress(kEraseProgress, 0, planned);

  bool cancelled = false;
  uint64_t done = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    window.DrainEvents();
    if (window.CancelRequested()) {
      window.ClearCancelRequest();
      cancelled = true;
      break;
    }
    if (!table[i].selected) continue;
    const ReadOutcome erased = EraseOne(i);
    if (erased == ReadOutcome::Failed) return OperationOutcome::Failed;
    if (erased == ReadOutcome::Cancelled) {
      window.ClearCancelRequest();
      cancelled = true;
      break;
    }
    window.ShowProgress(kEraseProgress, ++done, planned);
  }
  const bool othersFine = JudgeOtherTargets(context_.api, window);
  CloseOperation(window, cancelled, othersFine,
                 {text::kErasingInterrupted, text::kErasingCompleted, text::kErasingFailedOnOthers},
                 SessionEvent::kEraseMode);
  return cancelled ? OperationOutcome::Cancelled : OperationOutcome::Completed;
}

// Erasing the last code block gives each target its own preserved area and
// reserved tail back, as read just before the erase.
ReadOutcome EraseOperation::EraseOne(size_t blockIndex) {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const EraseBlock& block = context_.target.eraseBlocks[blockIndex];
  const bool lastCode = blockIndex + 1 == geometry.codeBlockCount;
  const AddressRange kept = lastCode ? KeptTopOfCode(geometry) : AddressRange{};
  TargetContents contents(context_);
  if (!kept.Empty()) {
    // No progress of its own: the erase's progress counts blocks.
    const ReadOutcome outcome = contents.ReadKept(kept, {});
    if (outcome == ReadOutcome::Failed) FailRun(text::kReadingFailed);
    if (outcome != ReadOutcome::Read) return outcome;
  }
  if (!context_.api.EraseBlock(FirstFlashAddressInBlock(geometry, block.start, block.end))) {
    FailRun(text::kErasingFailed);
    return ReadOutcome::Failed;
  }
  if (!kept.Empty() && !contents.Write(kept.first, kept.last)) {
    FailRun(text::kWritingFailed);
    return ReadOutcome::Failed;
  }
  return ReadOutcome::Read;
}

void EraseOperation::FailRun(int textId) { ReportOperationFailure(context_, SessionEvent::kEraseMode, textId); }

}  // namespace quarnel
