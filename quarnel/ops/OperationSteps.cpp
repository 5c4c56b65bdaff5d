#include "ops/OperationSteps.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"

namespace quarnel {
namespace {

// The line that ends every operation's part of the log.
constexpr const char* kLogSeparator = "=========================";

}  // namespace

std::string LocalTimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
  return text;
}

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Text(int textId) { return std::string(LoadText(textId)); }

std::string TargetName(ApiCalls& api, uint32_t n) { return Format("%u (%s)", n, api.DevicePath(n).c_str()); }

std::string StatusLine(int status) {
  std::string text = Text(StatusTextId(status));
  for (char& c : text)
    if (c == '\n') c = ' ';
  return text;
}

bool Ask(OperationWindow& window, Question question, const std::string& fileName) {
  return window.Ask(question, FormatText(BoxFor(question).textId, fileName));
}

std::string ShowStop(OperationWindow& window, int textId, const std::string& fileName) {
  std::string text = FormatText(textId, fileName);
  window.ShowMessage(MessageStyle::Stop, text);
  return text;
}

void ShowFailedTargets(OperationWindow& window, const std::vector<std::string>& names) {
  std::string text = Text(text::kFailedTargetsList);
  for (const std::string& name : names) text += "\n" + name;
  window.ShowMessage(MessageStyle::Stop, text);
}

std::vector<TargetFailure> OtherTargetFailures(ApiCalls& api) {
  std::vector<TargetFailure> failures;
  const uint32_t count = api.TargetCount();
  for (uint32_t n = 2; n <= count; ++n)
    if (const int status = api.TargetStatus(n); status != 0) failures.push_back({TargetName(api, n), status});
  return failures;
}

bool ListTargetFailures(OperationWindow& window, const std::vector<TargetFailure>& failures) {
  std::vector<std::string> names;
  for (const TargetFailure& failure : failures) {
    window.AddLogLine(SessionEvent::kErrorLine,
                      FormatText(text::kTargetFailed, failure.name) + StatusLine(failure.status));
    names.push_back(failure.name);
  }
  if (!names.empty()) ShowFailedTargets(window, names);
  return names.empty();
}

bool JudgeOtherTargets(ApiCalls& api, OperationWindow& window) {
  return ListTargetFailures(window, OtherTargetFailures(api));
}

void CloseOperation(OperationWindow& window, bool cancelled, bool othersFine, const ClosingTexts& texts,
                    int32_t layoutMode) {
  if (cancelled) {
    window.ClearCancelRequest();
    window.AddLogLine(SessionEvent::kNormalLine, Text(texts.interrupted));
  } else if (othersFine) {
    window.AddLogLine(SessionEvent::kNormalLine, Text(texts.completed));
  } else {
    window.AddLogLine(SessionEvent::kErrorLine, Text(texts.failedOnOthers));
  }
  window.AddLogLine(SessionEvent::kNormalLine, kLogSeparator);
  window.Report(SessionEvent::Ended(layoutMode));
  window.ShowProgress({}, 0, 0);
}

void ReportOperationFailure(OperationContext& context, int32_t layoutMode, int textId) {
  OperationWindow& window = context.window;
  const std::vector<TargetFailure> others = OtherTargetFailures(context.api);
  window.Report(SessionEvent::Ended(layoutMode));
  window.ReportStatus(context.api.Status());
  window.AddLogLine(SessionEvent::kErrorLine, Text(textId));
  ListTargetFailures(window, others);
  window.ShowProgress({}, 0, 0);
}

void ClearLeftoverStatuses(ApiCalls& api) {
  const uint32_t count = api.TargetCount();
  for (uint32_t n = 1; n <= count; ++n) {
    const int status = api.TargetStatus(n);
    if (status != 0 && !IsFatalStatus(status) && api.TargetPlugged(n)) api.SetTargetStatus(n, 0);
  }
}

FileCheck AcceptRowContent(OperationContext& context, size_t rowIndex) {
  if (!context.files.ContentOutdated(rowIndex)) return {};
  const std::string& fileName = context.files.Rows()[rowIndex].entry.fileName;
  if (!Ask(context.window, Question::UseChangedFile, fileName))
    return {text::kFileChanged, FormatText(text::kFileChanged, fileName)};
  return context.files.ReloadFile(rowIndex);
}

int ReadOperationRow(const FileRow& row, uint32_t flashHigh, RowRange& range) {
  if (int fault = ReadRowRange(row, flashHigh, range); fault != 0) return fault;
  return ClampRowEnd(range, flashHigh) ? 0 : text::kRowOutOfOrder;
}

uint64_t CodeEndInEraseBlocks(const TargetGeometry& geometry) {
  return uint64_t{geometry.codeBlockCount} * geometry.eraseBlockSize;
}

AddressRange PreservedArea(const TargetGeometry& geometry) {
  const uint64_t end = CodeEndInEraseBlocks(geometry);
  const uint64_t kept = uint64_t{geometry.reservedTailSize} + geometry.preservedSize;
  if (end < kept || geometry.preservedSize == 0) return {};
  return {static_cast<uint32_t>(end - kept), static_cast<uint32_t>(end - geometry.reservedTailSize - 1)};
}

AddressRange KeptTopOfCode(const TargetGeometry& geometry) {
  const uint64_t end = CodeEndInEraseBlocks(geometry);
  const uint64_t kept = uint64_t{geometry.reservedTailSize} + geometry.preservedSize;
  if (end < kept || kept == 0) return {};
  return {static_cast<uint32_t>(end - kept), static_cast<uint32_t>(end - 1)};
}

}  // namespace quarnel
