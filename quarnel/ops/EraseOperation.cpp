#include "ops/EraseOperation.h"

#include <algorithm>

#include "ops/OperationSteps.h"

namespace quarnel {
namespace {

constexpr int kStartErasure = 151;
constexpr int kErasingBlocks = 179;
constexpr int kErasingInterrupted = 180;
constexpr int kErasingHeader = 181;
constexpr int kErasingCompleted = 182;
constexpr int kWritingFailed = 2015;
constexpr int kErasingFailed = 2016;
constexpr int kReadingFailed = 2017;
constexpr int kErasingFailedOnOthers = 3004;
constexpr const char* kSeparator = "=========================";
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
  if (!Ask(window, MessageStyle::Question, kStartErasure)) return OperationOutcome::NotStarted;
  std::string line = Text(kErasingBlocks);
  uint64_t planned = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    if (!table[i].selected) continue;
    line += Format("%d ", static_cast<int>(i + 1));
    ++planned;
  }
  window.AddLogLine(OperationWindow::kNormalLine, line);
  window.SetBusyKind(OperationWindow::kErasing);
  window.TakeBusyLayout(OperationWindow::kEraseMode);
  window.AddLogLine(OperationWindow::kNormalLine, Text(kErasingHeader) + LocalTimeStamp());
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
    if (!EraseOne(i)) return OperationOutcome::Failed;
    window.ShowProgress(kEraseProgress, ++done, planned);
  }
  const bool othersFine = JudgeOtherTargets(context_.api, window);
  if (cancelled)
    window.AddLogLine(OperationWindow::kNormalLine, Text(kErasingInterrupted));
  else if (othersFine)
    window.AddLogLine(OperationWindow::kNormalLine, Text(kErasingCompleted));
  else
    window.AddLogLine(OperationWindow::kErrorLine, Text(kErasingFailedOnOthers));
  window.AddLogLine(OperationWindow::kNormalLine, kSeparator);
  window.TakeIdleLayout(OperationWindow::kEraseMode);
  window.SetBusyKind(OperationWindow::kIdle);
  window.ShowProgress({}, 0, 0);
  return cancelled ? OperationOutcome::Cancelled : OperationOutcome::Completed;
}

bool EraseOperation::EraseOne(size_t blockIndex) {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const EraseBlock& block = context_.target.eraseBlocks[blockIndex];
  const bool lastCode = blockIndex + 1 == geometry.codeBlockCount;
  const uint32_t flashAddress = FirstFlashAddressInBlock(geometry, block.start, block.end);
  std::span<uint8_t> image = context_.buffers.WriteImage();
  if (lastCode) {
    std::vector<uint8_t> bytes(geometry.eraseBlockSize, 0xFF);
    uint32_t got = 0;
    if (!context_.api.ReadBlock(flashAddress, &got, bytes.data())) {
      FailRun(kReadingFailed);
      return false;
    }
    context_.buffers.Spreader().SpreadBlock(flashAddress, std::span(bytes).first(std::min<size_t>(got, bytes.size())),
                                            image);
  }
  if (!context_.api.EraseBlock(flashAddress)) {
    FailRun(kErasingFailed);
    return false;
  }
  const AddressRange preserved = PreservedArea(geometry);
  if (lastCode && !preserved.Empty() && preserved.last < image.size() &&
      !context_.api.Write(preserved.first, preserved.last, preserved.first, image.data())) {
    FailRun(kWritingFailed);
    return false;
  }
  return true;
}

void EraseOperation::FailRun(int textId) {
  OperationWindow& window = context_.window;
  window.TakeIdleLayout(OperationWindow::kEraseMode);
  window.ReportStatus(context_.api.Status());
  window.SetBusyKind(OperationWindow::kIdle);
  window.AddLogLine(OperationWindow::kErrorLine, Text(textId));
  JudgeOtherTargets(context_.api, window);
  window.ShowProgress({}, 0, 0);
}

}  // namespace quarnel
