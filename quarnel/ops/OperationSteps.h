#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/CodeTop.h"
#include "ops/OperationContext.h"

namespace quarnel {

// "%Y/%m/%d %H:%M:%S" of the local time now.
std::string LocalTimeStamp();
// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Text(int textId);
// "N (device path)" naming a plugged target in messages and log lines.
std::string TargetName(ApiCalls& api, uint32_t n);
// The status message of a library status, on one line.
std::string StatusLine(int status);

// A stop box with the text of textId, "%1" = fileName; returns that text.
std::string ShowStop(OperationWindow& window, int textId, const std::string& fileName = {});
// Asks the question with its text, "%1" = fileName; true to go on.
bool Ask(OperationWindow& window, Question question, const std::string& fileName = {});

// A target after the first whose status is not 0: its name and status.
struct TargetFailure {
  std::string name;
  int status = 0;
};
// Reads the status of every target after the first.
std::vector<TargetFailure> OtherTargetFailures(ApiCalls& api);
// One error line per failed target and, when any failed, one stop box that
// lists them all. Returns whether none failed.
bool ListTargetFailures(OperationWindow& window, const std::vector<TargetFailure>& failures);
// Both of the above: whether every other target is fine.
bool JudgeOtherTargets(ApiCalls& api, OperationWindow& window);

// The texts that close an operation's log.
struct ClosingTexts {
  int interrupted;
  int completed;
  int failedOnOthers;
};
// An operation that ran to its end, or was cancelled, ends: its closing line
// and the separator, the idle layout of `layoutMode`, an idle progress bar.
void CloseOperation(OperationWindow& window, bool cancelled, bool othersFine, const ClosingTexts& texts,
                    int32_t layoutMode);

// An operation that target 1 failed ends: idle layout of `layoutMode`, its
// status reported (a fatal one goes unplugged with a reset), the error line
// with textId. The other targets are judged before that reset clears them.
void ReportOperationFailure(OperationContext& context, int32_t layoutMode, int textId);

// Clears the non-fatal statuses left on plugged targets by an earlier
// operation, so that each operation judges each target afresh. A fatal
// status (a lost link, a refused reset) keeps its target out until plugged again.
void ClearLeftoverStatuses(ApiCalls& api);
// The stop box that lists failed targets by their names.
void ShowFailedTargets(OperationWindow& window, const std::vector<std::string>& names);

// Before a row's content is used: when its file changed on disk, asks whether
// to use the new content and re-reads and re-checks it. Refused when the user
// declines (with the question's text) or the new content fails its checks
// (with the message shown).
FileCheck AcceptRowContent(OperationContext& context, size_t rowIndex);

// Parses the row as the operations read it: its window, clamped to the
// flash. 0, or the internal error text that the row gives.
int ReadOperationRow(const FileRow& row, uint32_t flashHigh, RowRange& range);

}  // namespace quarnel
