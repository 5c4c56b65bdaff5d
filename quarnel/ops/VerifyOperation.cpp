#include "ops/VerifyOperation.h"

#include <algorithm>
#include <cstring>

#include "base/StringTable.h"
#include "base/TextIds.h"
#include "image/AddressSyntax.h"
#include "ops/OperationSteps.h"

namespace quarnel {
namespace {

constexpr const char* kVerifyProgress = "Verifying";

// Bytes compared between two looks at the clock, and the work time after
// which the window gets to react.
constexpr uint32_t kCompareChunk = 4096;
constexpr auto kDrainInterval = std::chrono::milliseconds(5);

// The flash addresses inside [first, last] that verify compares: the areas
// without the reserved tail, in ascending order and without overlaps.
std::vector<AddressRange> ComparedRanges(const TargetGeometry& geometry, uint32_t first, uint32_t last) {
  std::vector<AddressRange> clipped;
  for (const FlashArea& area : geometry.areas) {
    const uint32_t from = std::max(area.start, first);
    const uint32_t to = std::min(area.end, last);
    if (from <= to) clipped.push_back({from, to});
  }
  std::sort(clipped.begin(), clipped.end(), [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
  std::vector<AddressRange> merged;
  for (const AddressRange& r : clipped) {
    if (!merged.empty() && uint64_t{r.first} <= uint64_t{merged.back().last} + 1)
      merged.back().last = std::max(merged.back().last, r.last);
    else
      merged.push_back(r);
  }
  const uint32_t codeSize = geometry.CodeAreaSize();
  if (geometry.codeBlockCount == 0 || geometry.reservedTailSize == 0 || codeSize == 0) return merged;
  const AddressRange tail{codeSize > geometry.reservedTailSize ? codeSize - geometry.reservedTailSize : 0, codeSize - 1};
  std::vector<AddressRange> result;
  for (const AddressRange& r : merged) {
    if (!tail.Overlaps(r.first, r.last)) {
      result.push_back(r);
      continue;
    }
    if (r.first < tail.first) result.push_back({r.first, tail.first - 1});
    if (r.last > tail.last) result.push_back({tail.last + 1, r.last});
  }
  return result;
}

// A row's flash range as verify compares it: its window moved by the
// offset, inside the lowest and highest flash address.
AddressRange FlashRangeOf(const RowRange& range, const TargetGeometry& geometry) {
  const uint32_t shift = static_cast<uint32_t>(range.offset);
  return {std::max(geometry.flashLow, range.start + shift), std::min(geometry.flashHigh, range.end + shift)};
}

// The same for a listed row; none when the row does not parse.
std::optional<AddressRange> RowFlashRange(const FileRow& row, const TargetGeometry& geometry) {
  RowRange range;
  if (ReadOperationRow(row, geometry.flashHigh, range) != 0) return std::nullopt;
  return FlashRangeOf(range, geometry);
}

}  // namespace

OperationOutcome VerifyOperation::Run(const VerifySettings& settings) {
  settings_ = settings;
  cancelled_ = false;
  bytesCompared_ = 0;
  refusal_.clear();
  OperationWindow& window = context_.window;
  context_.scanner.SetWriteImage(context_.buffers.WriteImage());
  if (!Ask(window, Question::StartVerification)) return OperationOutcome::NotStarted;
  window.Report(SessionEvent::Started(SessionEvent::kVerifying, SessionEvent::kWriteVerifyMode));
  if (!TakeFillByte()) return EndIdle(OperationOutcome::NotStarted);
  ClearLeftoverStatuses(context_.api);
  window.ClearCancelRequest();
  const uint32_t targetCount = std::max<uint32_t>(context_.api.TargetCount(), 1);
  differencesByTarget_.assign(targetCount, 0);

  std::vector<bool> read;
  switch (ReadEveryTarget(targetCount, read)) {
    case ReadOutcome::Failed:
      ReportOperationFailure(context_, SessionEvent::kWriteVerifyMode, text::kReadingFailed);
      return OperationOutcome::Failed;
    case ReadOutcome::Cancelled:
      return EndLines(true, true);
    case ReadOutcome::Read:
      break;
  }
  progressDone_ = 0;
  bytesCompared_ = PlannedBytes();
  progressTotal_ = bytesCompared_ * targetCount;
  window.ShowProgress(kVerifyProgress, 0, progressTotal_);

  TakeReadBack(1);
  Step step = LoadExpected(1);
  if (step == Step::Done) step = CompareRows(true);
  if (step == Step::Ended) return EndIdle(OperationOutcome::Failed);
  if (step == Step::Cancelled) return EndLines(true, true);

  std::vector<std::string> unread;
  for (uint32_t n = 2; n <= targetCount; ++n) {
    const std::string name = TargetName(context_.api, n);
    window.AddLogLine(SessionEvent::kNormalLine, FormatText(text::kVerificationTargetHeader, name));
    if (!read[n - 1]) {
      window.AddLogLine(SessionEvent::kErrorLine,
                        FormatText(text::kTargetNotRead, name) + StatusLine(context_.api.TargetStatus(n)));
      unread.push_back(name);
      continue;
    }
    TakeReadBack(n);
    step = LoadExpected(n);
    if (step == Step::Done) step = CompareRows(false);
    if (step == Step::Ended) return EndIdle(OperationOutcome::Failed);
    if (step == Step::Cancelled) return EndLines(true, unread.empty());
  }
  if (!unread.empty()) ShowFailedTargets(window, unread);
  return EndLines(false, unread.empty());
}

bool VerifyOperation::TakeFillByte() {
  if (settings_.fillMode != FillMode::ArbitraryData) return true;
  auto parsed = ParseFillByte(settings_.arbitraryData);
  if (settings_.arbitraryData.empty() || !parsed) {
    refusal_ = ShowStop(context_.window, settings_.arbitraryData.empty() ? text::kNoFillByte : text::kIllegalFillByte);
    context_.window.FocusField(Field::ArbitraryData);
    return false;
  }
  fillByte_ = *parsed;
  return true;
}

// Every target's whole flash, block by block, before anything is compared.
// Failed only when target 1 could not be read; `read` tells which others were.
ReadOutcome VerifyOperation::ReadEveryTarget(uint32_t targetCount, std::vector<bool>& read) {
  const size_t imageSize = context_.buffers.ReadBackImage().size();
  const uint32_t last = imageSize == 0 ? 0 : static_cast<uint32_t>(imageSize - 1);
  FlashBlockReader reader(context_, kReadingPhase);
  reader.Expect(reader.BlocksToRead(0, last) * targetCount);
  readBacks_.assign(targetCount, {});
  read.assign(targetCount, false);
  for (uint32_t n = 1; n <= targetCount; ++n) {
    std::vector<uint8_t>& image = readBacks_[n - 1];
    image.assign(imageSize, settings_.fillMode == FillMode::ArbitraryData ? fillByte_ : 0xFF);
    const ReadOutcome outcome = reader.Read(n, 0, last, image);
    if (outcome == ReadOutcome::Cancelled || (outcome == ReadOutcome::Failed && n == 1)) return outcome;
    read[n - 1] = outcome == ReadOutcome::Read;
  }
  return ReadOutcome::Read;
}

void VerifyOperation::TakeReadBack(uint32_t target) {
  FlashBuffers& buffers = context_.buffers;
  if (settings_.fillMode == FillMode::ArbitraryData) std::ranges::fill(buffers.WriteImage(), fillByte_);
  std::ranges::copy(readBacks_[target - 1], buffers.ReadBackImage().begin());
  BuildExpectedFromReadBack();
}

void VerifyOperation::BuildExpectedFromReadBack() {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  std::span<uint8_t> expected = context_.buffers.WriteImage();
  std::span<uint8_t> readBack = context_.buffers.ReadBackImage();
  if (settings_.fillMode == FillMode::FlashContent) {
    const size_t count = std::min<size_t>(size_t{geometry.flashHigh} + 1, expected.size());
    std::memcpy(expected.data(), readBack.data(), count);
    return;
  }
  const AddressRange preserved = PreservedArea(geometry);
  if (preserved.Empty()) return;
  const uint64_t end = std::min<uint64_t>(CodeEndInEraseBlocks(geometry), expected.size());
  if (preserved.first < end) std::memcpy(expected.data() + preserved.first, readBack.data() + preserved.first, end - preserved.first);
}

void VerifyOperation::DrainAndCheck() {
  context_.window.DrainEvents();
  lastDrain_ = std::chrono::steady_clock::now();
  if (context_.window.CancelRequested()) cancelled_ = true;
}

bool VerifyOperation::ReadRow(size_t rowIndex, RowRange& range) {
  const FileRow& row = context_.files.Rows()[rowIndex];
  if (int fault = ReadOperationRow(row, context_.buffers.Geometry().flashHigh, range); fault != 0) {
    refusal_ = ShowStop(context_.window, fault, row.entry.fileName);
    return false;
  }
  return true;
}

uint64_t VerifyOperation::PlannedBytes() {
  uint64_t total = 0;
  for (const FileRow& row : context_.files.Rows()) {
    const std::optional<AddressRange> range = RowFlashRange(row, context_.buffers.Geometry());
    if (range && !range->Empty()) total += uint64_t{range->last} - range->first + 1;
  }
  return total;
}

VerifyOperation::Step VerifyOperation::LoadFiles() {
  for (size_t i = 0; i < context_.files.Rows().size(); ++i) {
    DrainAndCheck();
    if (cancelled_) return Step::Cancelled;
    if (const FileCheck accepted = AcceptRowContent(context_, i); !accepted) {
      refusal_ = accepted.text;
      return Step::Ended;
    }
    RowRange range;
    if (!ReadRow(i, range)) return Step::Ended;
    const FileRow& row = context_.files.Rows()[i];
    context_.scanner.SetCurrentFile(row.entry.fileName, range.offset);
    uint32_t lowest = 0;
    uint32_t highest = 0;
    if (!context_.scanner.LoadObjectFile(*row.entry.file, range.start, range.end, true, lowest, highest)) {
      refusal_ = context_.scanner.LastErrorText();
      return Step::Ended;
    }
  }
  return Step::Done;
}

VerifyOperation::Step VerifyOperation::LoadExpected(uint32_t target) {
  currentTarget_ = target;
  const Step step = LoadFiles();
  if (step == Step::Done && settings_.adjustExpected) settings_.adjustExpected(target, context_.buffers.WriteImage());
  return step;
}

VerifyOperation::Step VerifyOperation::CompareRows(bool withHeader) {
  OperationWindow& window = context_.window;
  const TargetGeometry& geometry = context_.buffers.Geometry();
  for (size_t i = 0; i < context_.files.Rows().size(); ++i) {
    DrainAndCheck();
    if (cancelled_) return Step::Cancelled;
    RowRange range;
    if (!ReadRow(i, range)) return Step::Ended;
    const std::string& fileName = context_.files.Rows()[i].entry.fileName;
    const AddressRange flash = FlashRangeOf(range, geometry);
    const uint32_t flashStart = flash.first;
    const uint32_t flashEnd = flash.last;
    if (withHeader && i == 0)
      window.AddLogLine(SessionEvent::kNormalLine, Text(text::kVerificationHeader) + LocalTimeStamp());
    window.AddLogLine(SessionEvent::kNormalLine,
                      Format("  %s : %s", Text(text::kFileForVerification).c_str(), fileName.c_str()));
    window.AddLogLine(SessionEvent::kNormalLine,
                      Format("  File: [%05lXH - %05lXH] <--> Flash: [%05lXH - %05lXH]",
                             static_cast<unsigned long>(range.start), static_cast<unsigned long>(range.end),
                             static_cast<unsigned long>(flashStart), static_cast<unsigned long>(flashEnd)));
    window.AddLogLine(SessionEvent::kNormalLine,
                      settings_.fillMode == FillMode::FlashContent
                          ? Format("  Fill Data: %s", Text(text::kFlashContentFill).c_str())
                          : Format("  Fill Data: %02XH", static_cast<unsigned>(fillByte_)));
    long differences = 0;
    if (!CompareRange(flashStart, flashEnd, differences)) return Step::Cancelled;
    LogCompared(differences);
  }
  if (settings_.alsoCompared && !RowsCover(*settings_.alsoCompared)) {
    const AddressRange& range = *settings_.alsoCompared;
    window.AddLogLine(SessionEvent::kNormalLine,
                      Format("  Serial number: Flash: [%05lXH - %05lXH]", static_cast<unsigned long>(range.first),
                             static_cast<unsigned long>(range.last)));
    long differences = 0;
    if (!CompareRange(range.first, range.last, differences)) return Step::Cancelled;
    LogCompared(differences);
  }
  return Step::Done;
}

void VerifyOperation::LogCompared(long differences) {
  differencesByTarget_[currentTarget_ - 1] += static_cast<uint64_t>(differences);
  context_.window.AddLogLine(SessionEvent::kNormalLine,
                             differences != 0 ? Format("%ld %s", differences, Text(text::kDifferencesFound).c_str())
                                              : Text(text::kNoDifferences));
}

bool VerifyOperation::RowsCover(const AddressRange& range) {
  return std::ranges::any_of(context_.files.Rows(), [&](const FileRow& row) {
    const std::optional<AddressRange> rowRange = RowFlashRange(row, context_.buffers.Geometry());
    return rowRange && rowRange->first <= range.first && range.last <= rowRange->last;
  });
}

void VerifyOperation::LogDifference(uint32_t address, bool& headerLogged) {
  OperationWindow& window = context_.window;
  if (!headerLogged) {
    window.AddLogLine(SessionEvent::kNormalLine, " Address   File      Flash");
    window.AddLogLine(SessionEvent::kNormalLine, "==========================");
    headerLogged = true;
  }
  window.AddLogLine(SessionEvent::kNormalLine,
                    Format(" %05lXH    %02XH       %02XH", static_cast<unsigned long>(address),
                           static_cast<unsigned>(context_.buffers.WriteImage()[address]),
                           static_cast<unsigned>(context_.buffers.ReadBackImage()[address])));
}

bool VerifyOperation::CompareRange(uint32_t flashStart, uint32_t flashEnd, long& differences) {
  differences = 0;
  const TargetGeometry& geometry = context_.buffers.Geometry();
  if (flashStart > geometry.flashHigh) return true;
  const uint8_t* expected = context_.buffers.WriteImage().data();
  const uint8_t* readBack = context_.buffers.ReadBackImage().data();
  bool headerLogged = false;
  DrainAndCheck();
  if (cancelled_) return false;
  for (const AddressRange& range : ComparedRanges(geometry, flashStart, std::min(geometry.flashHigh, flashEnd))) {
    for (uint64_t chunk = range.first; chunk <= range.last; chunk += kCompareChunk) {
      const auto count = static_cast<uint32_t>(std::min<uint64_t>(kCompareChunk, uint64_t{range.last} - chunk + 1));
      if (std::memcmp(expected + chunk, readBack + chunk, count) != 0) {
        for (uint64_t a = chunk; a < chunk + count; ++a) {
          if (expected[a] == readBack[a]) continue;
          LogDifference(static_cast<uint32_t>(a), headerLogged);
          ++differences;
        }
      }
      progressDone_ += count;
      if (std::chrono::steady_clock::now() - lastDrain_ >= kDrainInterval) {
        context_.window.ShowProgress(kVerifyProgress, progressDone_, progressTotal_);
        DrainAndCheck();
        if (cancelled_) return false;
      }
    }
  }
  return true;
}

OperationOutcome VerifyOperation::EndIdle(OperationOutcome outcome) {
  context_.window.Report(SessionEvent::Ended(SessionEvent::kWriteVerifyMode));
  context_.window.ShowProgress({}, 0, 0);
  return outcome;
}

OperationOutcome VerifyOperation::EndLines(bool cancelled, bool othersFine) {
  CloseOperation(context_.window, cancelled, othersFine,
                 {text::kVerificationInterrupted, text::kVerificationCompleted, text::kVerificationFailedOnOthers},
                 SessionEvent::kWriteVerifyMode);
  return cancelled ? OperationOutcome::Cancelled : OperationOutcome::Completed;
}

}  // namespace quarnel
