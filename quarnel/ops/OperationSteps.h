#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A stop box (or question) with the text of textId, "%1" = fileName.
bool Ask(OperationWindow& window, MessageStyle style, int textId, const std::string& fileName = {});

// Reads the status of every plugged target after the first. Each one that is
// not 0 gets an error line; when any failed, one stop box lists them all.
// Returns whether every other target is fine.
bool JudgeOtherTargets(ApiCalls& api, OperationWindow& window);
// The stop box that lists failed targets by their names.
void ShowFailedTargets(OperationWindow& window, const std::vector<std::string>& names);

// Before a row's content is used: when its file changed on disk, asks whether
// to use the new content and re-reads and re-checks it. False when the user
// declines or the new content fails its checks (the message was shown).
bool AcceptRowContent(OperationContext& context, size_t rowIndex);

// Parses the row as the operations read it: its window, clamped to the
// flash. 0, or the internal error text that the row gives.
int ReadOperationRow(const FileRow& row, uint32_t flashHigh, RowRange& range);

// The preserved area [first, last] of the last code block: P bytes ending T
// bytes below the end of erase block K - 1.
struct AddressRange {
  uint32_t first = 1;
  uint32_t last = 0;
  bool Empty() const { return first > last; }
  bool Overlaps(uint32_t otherFirst, uint32_t otherLast) const {
    return !Empty() && first <= otherLast && otherFirst <= last;
  }
};
AddressRange PreservedArea(const TargetGeometry& geometry);
// K x B: one past the end of the last code block counted in erase blocks.
uint64_t CodeEndInEraseBlocks(const TargetGeometry& geometry);

}  // namespace quarnel
