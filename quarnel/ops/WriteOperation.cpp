#include "ops/WriteOperation.h"

#include <algorithm>
#include <optional>

#include "base/StringTable.h"
#include "base/TextIds.h"
#include "image/AddressSyntax.h"
#include "ops/OperationSteps.h"

namespace quarnel {
namespace {

constexpr const char* kWriteProgress = "Writing";

const char* OnOff(bool on) { return on ? " : ON" : " : OFF"; }

bool Overlaps(const WriteRange& range, uint32_t first, uint32_t last) {
  return range.start <= last && first <= range.end;
}

// Adds `size` bytes at `address` unless the rule asks for none (size 0).
void Add(std::vector<AdditionalData>& additions, const std::string& name, uint64_t address, uint32_t size) {
  if (size != 0) additions.push_back({name, static_cast<uint32_t>(address), size});
}

// The gap rule between two ranges or before the limit of the last code
// block: 4 or 2 bytes when not fill is on; nullopt when the gap has no rule.
std::optional<uint32_t> GapRule(int64_t gap, bool notFill) {
  if (gap >= 4) return notFill ? 4u : 0u;
  if (gap == 2) return notFill ? 2u : 0u;
  if (gap == 0) return 0u;
  return std::nullopt;
}

}  // namespace

bool WriteOperation::PlanAdditionalData(const std::vector<WriteRange>& ranges, const TargetGeometry& geometry,
                                        bool notFill, std::vector<AdditionalData>& additions) {
  const uint64_t high = geometry.flashHigh;
  const uint64_t blockSize = geometry.eraseBlockSize;
  const uint64_t lastCodeBlock = uint64_t{geometry.codeBlockCount} - 1;
  if (blockSize == 0) return true;
  for (const WriteRange& range : ranges) {
    const uint64_t e = range.end;
    std::optional<uint64_t> next;
    for (const WriteRange& other : ranges)
      if (other.start > e && (!next || other.start < *next)) next = other.start;

    if (next || e / blockSize != lastCodeBlock) {
      if (e == high) continue;
      if (high - e < 4) {
        if (next && !notFill) continue;
        Add(additions, range.name, e + 1, 2);
        continue;
      }
    }
    if (next) {
      auto size = GapRule(static_cast<int64_t>(*next & ~uint64_t{1}) - static_cast<int64_t>(e) - 1, notFill);
      if (!size) return false;
      Add(additions, range.name, e + 1, *size);
    } else if (e / blockSize == lastCodeBlock) {
      const int64_t limit = static_cast<int64_t>(CodeEndInEraseBlocks(geometry)) - geometry.preservedSize -
                            geometry.reservedTailSize;
      if (static_cast<int64_t>(e) > limit) continue;
      auto size = GapRule(limit - static_cast<int64_t>(e) - 1, notFill);
      if (!size) return false;
      Add(additions, range.name, e + 1, *size);
    } else {
      const uint64_t room = blockSize * (e / blockSize + 1) - e - 1;
      if (room >= 4) {
        Add(additions, range.name, e + 1, notFill ? 4 : 0);
      } else if (room == 2) {
        if (notFill)
          Add(additions, range.name, e + 1, 4);
        else
          Add(additions, range.name, e + 3, 2);
      } else if (room == 0) {
        Add(additions, range.name, e + 1, 4);
      } else {
        return false;
      }
    }
  }
  return true;
}

void WriteOperation::ApplyBoundaryRules(std::vector<AdditionalData>& additions, const TargetGeometry& geometry) {
  const auto inArea = [&geometry](uint64_t address) {
    return address <= UINT32_MAX &&
           geometry.AnyAreaIntersects(static_cast<uint32_t>(address), static_cast<uint32_t>(address));
  };
  std::erase_if(additions, [&](const AdditionalData& a) { return (a.address & 0xFFFF) == 0 || !inArea(a.address); });
  for (AdditionalData& a : additions) {
    const uint32_t last = a.address + a.size - 1;
    if (((a.address >> 16) & 0xFF) != ((last >> 16) & 0xFF)) a.size = 2;
    if (!inArea(uint64_t{a.address} + a.size - 1)) a.size = 2;
  }
  std::erase_if(additions, [&](const AdditionalData& a) { return !inArea(uint64_t{a.address} + a.size - 1); });
}

OperationOutcome WriteOperation::Run(const WriteSettings& settings) {
  settings_ = settings;
  ranges_.clear();
  steps_.clear();
  written_.clear();
  requiredRangeMissed_ = false;
  bytesWritten_ = 0;
  plannedImage_.clear();
  refusal_.clear();
  OperationWindow& window = context_.window;
  context_.scanner.SetWriteImage(context_.buffers.WriteImage());
  if (!Confirm() || !TakeFillByte()) return OperationOutcome::NotStarted;
  ClearLeftoverStatuses(context_.api);
  window.Report(SessionEvent::Started(SessionEvent::kWriting, SessionEvent::kWriteVerifyMode));
  window.ClearCancelRequest();

  TargetContents contents(context_);
  switch (PrepareImage(contents)) {
    case ReadOutcome::Failed:
      return FailRun(text::kReadingFailed);
    case ReadOutcome::Cancelled:
      LogSummary(true);
      return OperationOutcome::Cancelled;
    case ReadOutcome::Read:
      break;
  }
  // The file data goes to every target alike; the stored mask keeps it apart
  // from the bytes each target keeps.
  context_.scanner.SetStoredMask(contents.StoredMask());
  const bool planned = PlanFileRanges() && AddAdditionalData(contents.StoredMask());
  context_.scanner.SetStoredMask({});
  if (!planned) return EndIdle(OperationOutcome::NotStarted);
  KeepPlannedImage(contents.StoredMask());
  std::stable_sort(ranges_.begin(), ranges_.end(),
                   [](const WriteRange& a, const WriteRange& b) { return a.start < b.start; });
  steps_ = PlanWriteSteps(ranges_, context_.buffers.Geometry(), context_.target.eraseBlocks,
                          {settings_.eraseBeforeWrite, settings_.notFill});
  if (settings_.mustWrite && !PlanWrites(steps_, settings_.mustWrite->first, settings_.mustWrite->last)) {
    requiredRangeMissed_ = true;
    return EndIdle(OperationOutcome::NotStarted);
  }
  return WriteBlocks(contents);
}

void WriteOperation::KeepPlannedImage(std::span<const uint8_t> storedMask) {
  const std::span<const uint8_t> image = context_.buffers.WriteImage();
  const TargetGeometry& geometry = context_.buffers.Geometry();
  if (image.empty() || geometry.flashLow > geometry.flashHigh || geometry.flashHigh >= image.size()) return;
  const uint8_t fill = settings_.fillMode == FillMode::FlashContent ? 0xFF : fillByte_;
  plannedImage_.resize(size_t{geometry.flashHigh} - geometry.flashLow + 1);
  for (size_t k = 0; k < plannedImage_.size(); ++k) {
    const size_t address = geometry.flashLow + k;
    plannedImage_[k] = storedMask[address] != 0 ? image[address] : fill;
  }
}

bool WriteOperation::Confirm() {
  OperationWindow& window = context_.window;
  if (!Ask(window, Question::StartWriting)) return false;
  return settings_.eraseBeforeWrite || Ask(window, Question::WriteWithoutErase);
}

bool WriteOperation::TakeFillByte() {
  if (settings_.fillMode != FillMode::ArbitraryData) return true;
  const std::optional<uint8_t> parsed = ParseFillByte(settings_.arbitraryData);
  if (settings_.arbitraryData.empty() || !parsed) {
    refusal_ = ShowStop(context_.window, settings_.arbitraryData.empty() ? text::kNoFillByte : text::kIllegalFillByte);
    context_.window.FocusField(Field::ArbitraryData);
    return false;
  }
  fillByte_ = *parsed;
  return true;
}

// Fill with the flash content keeps each target's whole flash; fill with a
// byte keeps each target's preserved area and reserved tail.
ReadOutcome WriteOperation::PrepareImage(TargetContents& contents) {
  std::span<uint8_t> image = context_.buffers.WriteImage();
  if (settings_.fillMode == FillMode::FlashContent) {
    const ReadOutcome outcome =
        contents.ReadKept({0, static_cast<uint32_t>(image.empty() ? 0 : image.size() - 1)}, kReadingPhase);
    if (outcome == ReadOutcome::Read)
      context_.window.AddLogLine(SessionEvent::kNormalLine,
                                 Format("%s[Size:%d Bytes]", Text(text::kContentRead).c_str(),
                                        static_cast<int>(context_.buffers.FlashContent().size())));
    return outcome;
  }
  std::fill(image.begin(), image.end(), fillByte_);
  return contents.ReadKept(KeptTopOfCode(context_.buffers.Geometry()), kReadingPhase);
}

void WriteOperation::LogHeader() {
  OperationWindow& window = context_.window;
  window.AddLogLine(SessionEvent::kNormalLine, Text(text::kWritingHeader) + LocalTimeStamp());
  window.AddLogLine(SessionEvent::kNormalLine, Text(text::kEraseBeforeWrite) + OnOff(settings_.eraseBeforeWrite));
  window.AddLogLine(SessionEvent::kNormalLine, Text(text::kNotFill) + OnOff(settings_.notFill));
  window.AddLogLine(SessionEvent::kNormalLine, Text(text::kAddTwoWords) + OnOff(settings_.addTwoWords));
}

bool WriteOperation::PlanFileRanges() {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  OperationWindow& window = context_.window;
  for (size_t i = 0; i < context_.files.Rows().size(); ++i) {
    if (const FileCheck accepted = AcceptRowContent(context_, i); !accepted) {
      refusal_ = accepted.text;
      return false;
    }
    const FileRow& row = context_.files.Rows()[i];
    RowRange range;
    if (int fault = ReadOperationRow(row, geometry.flashHigh, range); fault != 0) {
      refusal_ = ShowStop(window, fault, row.entry.fileName);
      return false;
    }
    const uint32_t shift = static_cast<uint32_t>(range.offset);
    const uint32_t flashStart = std::max(geometry.flashLow, range.start + shift) & ~uint32_t{1};
    const uint32_t flashEnd = std::min(geometry.flashHigh, range.end + shift) | 1u;
    context_.scanner.SetCurrentFile(row.entry.fileName, range.offset);
    uint32_t lowest = 0;
    uint32_t highest = 0;
    if (!context_.scanner.LoadObjectFile(*row.entry.file, range.start, range.end, true, lowest, highest)) {
      refusal_ = context_.scanner.LastErrorText();
      return false;
    }
    if (i == 0) LogHeader();
    window.AddLogLine(SessionEvent::kNormalLine,
                      Format("  %s : %s", Text(text::kFileForWriting).c_str(), row.entry.fileName.c_str()));
    window.AddLogLine(SessionEvent::kNormalLine,
                      Format("  File: [%05lXH - %05lXH] --> Flash: [%05lXH - %05lXH]", static_cast<unsigned long>(range.start),
                             static_cast<unsigned long>(range.end), static_cast<unsigned long>(flashStart),
                             static_cast<unsigned long>(flashEnd)));
    window.AddLogLine(SessionEvent::kNormalLine,
                      settings_.fillMode == FillMode::FlashContent
                          ? Format("  Fill Data: %s", Text(text::kFlashContentFill).c_str())
                          : Format("  Fill Data: %02XH", static_cast<unsigned>(fillByte_)));
    ranges_.push_back({row.entry.fileName, flashStart, flashEnd, WriteRange::kFileData});
  }
  return true;
}

bool WriteOperation::AddAdditionalData(std::span<uint8_t> storedMask) {
  if (settings_.endMode == EndAddressMode::EndOfMemory || !settings_.addTwoWords) return true;
  const TargetGeometry& geometry = context_.buffers.Geometry();
  OperationWindow& window = context_.window;
  std::vector<AdditionalData> additions;
  if (!PlanAdditionalData(ranges_, geometry, settings_.notFill, additions)) {
    refusal_ = ShowStop(window, text::kInternalError1013);
    return false;
  }
  ApplyBoundaryRules(additions, geometry);
  if (additions.empty()) return true;
  const bool movesIntoBlock = std::any_of(
      context_.target.eraseBlocks.begin(), context_.target.eraseBlocks.end(), [&](const EraseBlock& block) {
        const bool holdsFile = std::any_of(ranges_.begin(), ranges_.end(),
                                           [&](const WriteRange& r) { return Overlaps(r, block.start, block.end); });
        return block.available && holdsFile && std::any_of(additions.begin(), additions.end(), [&](const AdditionalData& a) {
                 return a.address <= block.start && uint64_t{block.start} < uint64_t{a.address} + a.size;
               });
      });
  if (movesIntoBlock && !Ask(window, Question::AdditionalDataElsewhere)) return false;
  std::span<uint8_t> image = context_.buffers.WriteImage();
  for (const AdditionalData& a : additions) {
    for (uint64_t address = a.address; address < uint64_t{a.address} + a.size && address < image.size(); ++address) {
      image[address] = 0xFF;
      storedMask[address] = 1;
    }
    ranges_.push_back({a.name, a.address, a.address + a.size - 1, WriteRange::kAdditionalData});
  }
  return true;
}

OperationOutcome WriteOperation::WriteBlocks(TargetContents& contents) {
  OperationWindow& window = context_.window;
  window.ShowProgress(kWriteProgress, 0, steps_.size());
  uint64_t done = 0;
  bool cancelled = false;
  for (const WriteStep& step : steps_) {
    window.DrainEvents();
    if (window.CancelRequested()) {
      cancelled = true;
      break;
    }
    if (step.erase && !context_.api.EraseBlock(step.eraseAddress)) return FailRun(text::kErasingFailed);
    for (const AddressRange& w : step.windows) {
      if (!contents.Write(w.first, w.last)) return FailRun(text::kWritingFailed);
      bytesWritten_ += uint64_t{w.last} - w.first + 1;
    }
    written_.insert(written_.end(), step.records.begin(), step.records.end());
    window.ShowProgress(kWriteProgress, ++done, steps_.size());
  }
  LogSummary(cancelled);
  return cancelled ? OperationOutcome::Cancelled : OperationOutcome::Completed;
}

OperationOutcome WriteOperation::FailRun(int textId) {
  ReportOperationFailure(context_, SessionEvent::kWriteVerifyMode, textId);
  return OperationOutcome::Failed;
}

OperationOutcome WriteOperation::EndIdle(OperationOutcome outcome) {
  context_.window.Report(SessionEvent::Ended(SessionEvent::kWriteVerifyMode));
  context_.window.ShowProgress({}, 0, 0);
  return outcome;
}

void WriteOperation::LogSummary(bool cancelled) {
  OperationWindow& window = context_.window;
  const TargetGeometry& geometry = context_.buffers.Geometry();
  if (settings_.eraseBeforeWrite) {
    std::string line = Text(text::kErasingBlocks);
    for (size_t i = 0; i < written_.size(); ++i)
      if (i == 0 || written_[i].block != written_[i - 1].block) line += Format("%d ", written_[i].block + 1);
    window.AddLogLine(SessionEvent::kNormalLine, line);
  }
  uint64_t m = geometry.flashLow;
  auto mapLine = [&window](uint64_t first, uint64_t last, const char* what) {
    window.AddLogLine(SessionEvent::kNormalLine, Format("[%05XH - %05XH] : %s", static_cast<unsigned>(first),
                                                           static_cast<unsigned>(last), what));
  };
  for (const WrittenRange& record : written_) {
    if (record.start < m) continue;
    if (m < record.start) mapLine(m, record.start - 1, "blank");
    mapLine(record.start, record.end, "data");
    m = uint64_t{record.end} + 1;
  }
  if (!written_.empty() && written_.back().end < geometry.flashHigh) mapLine(m, geometry.flashHigh, "blank");
  const bool othersFine = JudgeOtherTargets(context_.api, window);
  CloseOperation(window, cancelled, othersFine,
                 {text::kWritingInterrupted, text::kWritingCompleted, text::kWritingFailedOnOthers},
                 SessionEvent::kWriteVerifyMode);
}

}  // namespace quarnel
