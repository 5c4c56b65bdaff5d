#include "ops/WriteOperation.h"

#include <algorithm>
#include <optional>

#include "base/StringTable.h"
#include "image/AddressSyntax.h"
#include "ops/OperationSteps.h"

namespace quarnel {
namespace {

constexpr int kStartWriting = 123;
constexpr int kOverwriteWarning = 134;
constexpr int kAdditionalDataQuestion = 135;
constexpr int kContentRead = 166;
constexpr int kWritingHeader = 167;
constexpr int kFileForWriting = 169;
constexpr int kFlashContentFill = 170;
constexpr int kWritingInterrupted = 171;
constexpr int kWritingCompleted = 172;
constexpr int kErasingBlocks = 179;
constexpr int kEraseBeforeWrite = 185;
constexpr int kNotFill = 132;
constexpr int kAddTwoWords = 133;
constexpr int kIllegalFillByte = 2002;
constexpr int kWritingFailed = 2015;
constexpr int kErasingFailed = 2016;
constexpr int kReadingFailed = 2017;
constexpr int kNoFillByte = 2022;
constexpr int kPlanningFault = 2047;
constexpr int kWritingFailedOnOthers = 3003;
constexpr const char* kSeparator = "=========================";
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

void WriteOperation::ApplyBoundaryRules(std::vector<AdditionalData>& additions) {
  std::erase_if(additions, [](const AdditionalData& a) { return (a.address & 0xFFFF) == 0; });
  for (AdditionalData& a : additions) {
    const uint32_t last = a.address + a.size - 1;
    if (((a.address >> 16) & 0xFF) != ((last >> 16) & 0xFF)) a.size = 2;
  }
}

OperationOutcome WriteOperation::Run(const WriteSettings& settings) {
  settings_ = settings;
  ranges_.clear();
  written_.clear();
  context_.scanner.SetWriteImage(context_.buffers.WriteImage());
  if (!Confirm() || !PrepareImage() || !PlanFileRanges() || !AddAdditionalData()) return OperationOutcome::NotStarted;
  std::stable_sort(ranges_.begin(), ranges_.end(),
                   [](const WriteRange& a, const WriteRange& b) { return a.start < b.start; });
  return WriteBlocks();
}

bool WriteOperation::Confirm() {
  OperationWindow& window = context_.window;
  if (!Ask(window, MessageStyle::Question, kStartWriting)) return false;
  return settings_.eraseBeforeWrite || Ask(window, MessageStyle::YesNoQuestion, kOverwriteWarning);
}

bool WriteOperation::PrepareImage() {
  return settings_.fillMode == FillMode::FlashContent ? PrepareFromFlashContent() : PrepareFromFillByte();
}

bool WriteOperation::PrepareFromFlashContent() {
  FlashBuffers& buffers = context_.buffers;
  std::span<uint8_t> content = buffers.FlashContent();
  uint32_t got = 0;
  if (!context_.api.Read(static_cast<uint32_t>(content.size()), &got, content.data())) {
    context_.window.ReportStatus(context_.api.Status());
    context_.window.AddLogLine(OperationWindow::kErrorLine, Text(kReadingFailed));
    return false;
  }
  context_.window.AddLogLine(OperationWindow::kNormalLine,
                             Format("%s[Size:%d Bytes]", Text(kContentRead).c_str(), static_cast<int>(content.size())));
  buffers.Spreader().SpreadContent(content.first(std::min<size_t>(got, content.size())), buffers.WriteImage());
  return true;
}

bool WriteOperation::PrepareFromFillByte() {
  OperationWindow& window = context_.window;
  if (settings_.arbitraryData.empty() || !ParseFillByte(settings_.arbitraryData)) {
    const int textId = settings_.arbitraryData.empty() ? kNoFillByte : kIllegalFillByte;
    Ask(window, MessageStyle::Stop, textId);
    window.FocusField(Field::ArbitraryData);
    return false;
  }
  fillByte_ = *ParseFillByte(settings_.arbitraryData);
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const AddressRange preserved = PreservedArea(geometry);
  const auto readAddress = static_cast<uint32_t>(CodeEndInEraseBlocks(geometry) - geometry.reservedTailSize -
                                                 geometry.preservedSize);
  std::vector<uint8_t> block(geometry.eraseBlockSize, 0xFF);
  uint32_t got = 0;
  if (!context_.api.ReadBlock(readAddress, &got, block.data())) {
    window.ReportStatus(context_.api.Status());
    window.AddLogLine(OperationWindow::kErrorLine, Text(kReadingFailed));
    return false;
  }
  std::span<uint8_t> image = context_.buffers.WriteImage();
  context_.buffers.Spreader().SpreadBlock(readAddress, std::span(block).first(std::min<size_t>(got, block.size())),
                                          image);
  // Everything but the preserved area and the reserved tail takes the fill byte.
  const uint64_t keptFirst = preserved.Empty() ? CodeEndInEraseBlocks(geometry) : preserved.first;
  const uint64_t keptEnd = std::min<uint64_t>(CodeEndInEraseBlocks(geometry), image.size());
  std::fill(image.begin(), image.begin() + static_cast<ptrdiff_t>(std::min<uint64_t>(keptFirst, image.size())),
            fillByte_);
  if (keptEnd < image.size()) std::fill(image.begin() + static_cast<ptrdiff_t>(keptEnd), image.end(), fillByte_);
  return true;
}

void WriteOperation::LogHeader() {
  OperationWindow& window = context_.window;
  window.AddLogLine(OperationWindow::kNormalLine, Text(kWritingHeader) + LocalTimeStamp());
  window.AddLogLine(OperationWindow::kNormalLine, Text(kEraseBeforeWrite) + OnOff(settings_.eraseBeforeWrite));
  window.AddLogLine(OperationWindow::kNormalLine, Text(kNotFill) + OnOff(settings_.notFill));
  window.AddLogLine(OperationWindow::kNormalLine, Text(kAddTwoWords) + OnOff(settings_.addTwoWords));
}

bool WriteOperation::PlanFileRanges() {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  OperationWindow& window = context_.window;
  for (size_t i = 0; i < context_.files.Rows().size(); ++i) {
    if (!AcceptRowContent(context_, i)) return false;
    const FileRow& row = context_.files.Rows()[i];
    RowRange range;
    if (int fault = ReadOperationRow(row, geometry.flashHigh, range); fault != 0) {
      Ask(window, MessageStyle::Stop, fault, row.entry.fileName);
      return false;
    }
    const uint32_t shift = static_cast<uint32_t>(range.offset);
    const uint32_t flashStart = std::max(geometry.flashLow, range.start + shift) & ~uint32_t{1};
    const uint32_t flashEnd = std::min(geometry.flashHigh, range.end + shift) | 1u;
    context_.scanner.SetCurrentFile(row.entry.fileName, range.offset);
    uint32_t lowest = 0;
    uint32_t highest = 0;
    if (!context_.scanner.LoadObjectFile(*row.entry.file, range.start, range.end, true, lowest, highest)) return false;
    if (i == 0) LogHeader();
    window.AddLogLine(OperationWindow::kNormalLine,
                      Format("  %s : %s", Text(kFileForWriting).c_str(), row.entry.fileName.c_str()));
    window.AddLogLine(OperationWindow::kNormalLine,
                      Format("  File: [%05lXH - %05lXH] --> Flash: [%05lXH - %05lXH]", static_cast<unsigned long>(range.start),
                             static_cast<unsigned long>(range.end), static_cast<unsigned long>(flashStart),
                             static_cast<unsigned long>(flashEnd)));
    window.AddLogLine(OperationWindow::kNormalLine,
                      settings_.fillMode == FillMode::FlashContent
                          ? Format("  Fill Data: %s", Text(kFlashContentFill).c_str())
                          : Format("  Fill Data: %02XH", static_cast<unsigned>(fillByte_)));
    ranges_.push_back({row.entry.fileName, flashStart, flashEnd, WriteRange::kFileData});
  }
  return true;
}

bool WriteOperation::AddAdditionalData() {
  if (settings_.endMode == EndAddressMode::EndOfMemory || !settings_.addTwoWords) return true;
  const TargetGeometry& geometry = context_.buffers.Geometry();
  OperationWindow& window = context_.window;
  std::vector<AdditionalData> additions;
  if (!PlanAdditionalData(ranges_, geometry, settings_.notFill, additions)) {
    Ask(window, MessageStyle::Stop, kPlanningFault);
    window.TakeIdleLayout(OperationWindow::kWriteVerifyMode);
    window.SetBusyKind(OperationWindow::kIdle);
    return false;
  }
  ApplyBoundaryRules(additions);
  if (additions.empty()) return true;
  const bool movesIntoBlock = std::any_of(
      context_.target.eraseBlocks.begin(), context_.target.eraseBlocks.end(), [&](const EraseBlock& block) {
        const bool holdsFile = std::any_of(ranges_.begin(), ranges_.end(),
                                           [&](const WriteRange& r) { return Overlaps(r, block.start, block.end); });
        return block.available && holdsFile && std::any_of(additions.begin(), additions.end(), [&](const AdditionalData& a) {
                 return a.address <= block.start && uint64_t{block.start} < uint64_t{a.address} + a.size;
               });
      });
  if (movesIntoBlock && !Ask(window, MessageStyle::Question, kAdditionalDataQuestion)) return false;
  std::span<uint8_t> image = context_.buffers.WriteImage();
  for (const AdditionalData& a : additions) {
    for (uint64_t address = a.address; address < uint64_t{a.address} + a.size && address < image.size(); ++address)
      image[address] = 0xFF;
    ranges_.push_back({a.name, a.address, a.address + a.size - 1, WriteRange::kAdditionalData});
  }
  return true;
}

bool WriteOperation::BlockIsWritten(size_t blockIndex) const {
  const EraseBlock& block = context_.target.eraseBlocks[blockIndex];
  if (!block.available || ranges_.empty()) return false;
  if (settings_.notFill)
    return std::any_of(ranges_.begin(), ranges_.end(),
                       [&](const WriteRange& r) { return Overlaps(r, block.start, block.end); });
  const uint32_t blockSize = context_.buffers.Geometry().eraseBlockSize;
  uint32_t lowest = ranges_.front().start;
  uint32_t highest = ranges_.front().end;
  for (const WriteRange& r : ranges_) {
    lowest = std::min(lowest, r.start);
    highest = std::max(highest, r.end);
  }
  return lowest / blockSize <= blockIndex && blockIndex <= highest / blockSize;
}

OperationOutcome WriteOperation::WriteBlocks() {
  OperationWindow& window = context_.window;
  window.TakeBusyLayout(OperationWindow::kWriteVerifyMode);
  window.SetBusyKind(OperationWindow::kWriting);
  window.ClearCancelRequest();
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const size_t blockCount = geometry.eraseBlockSize == 0
                                ? 0
                                : std::min<size_t>(context_.target.eraseBlocks.size(),
                                                   size_t{geometry.flashHigh / geometry.eraseBlockSize} + 1);
  uint64_t planned = 0;
  for (size_t i = 0; i < blockCount; ++i) planned += BlockIsWritten(i) ? 1 : 0;
  uint64_t done = 0;
  window.ShowProgress(kWriteProgress, 0, planned);
  bool cancelled = false;
  for (size_t i = 0; i < blockCount; ++i) {
    window.DrainEvents();
    if (window.CancelRequested()) {
      cancelled = true;
      break;
    }
    if (!BlockIsWritten(i)) continue;
    if (!WriteBlock(i)) return OperationOutcome::Failed;
    window.ShowProgress(kWriteProgress, ++done, planned);
  }
  LogSummary(cancelled);
  return cancelled ? OperationOutcome::Cancelled : OperationOutcome::Completed;
}

bool WriteOperation::WriteBlock(size_t blockIndex) {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const EraseBlock& block = context_.target.eraseBlocks[blockIndex];
  const bool lastCode = blockIndex + 1 == geometry.codeBlockCount;
  const AddressRange preserved = PreservedArea(geometry);
  const bool preservedTouched =
      lastCode && std::any_of(ranges_.begin(), ranges_.end(),
                              [&](const WriteRange& r) { return preserved.Overlaps(r.start, r.end); });
  if (settings_.eraseBeforeWrite || preservedTouched) {
    if (!context_.api.EraseBlock(FirstFlashAddressInBlock(geometry, block.start, block.end))) {
      FailRun(kErasingFailed);
      return false;
    }
  }
  return settings_.notFill ? WriteBlockFilesOnly(blockIndex, preservedTouched)
                           : WriteBlockInFull(blockIndex, preservedTouched);
}

bool WriteOperation::WriteWindow(uint32_t first, uint32_t last) {
  if (!context_.api.Write(first, last, first, context_.buffers.WriteImage().data())) {
    FailRun(kWritingFailed);
    return false;
  }
  return true;
}

bool WriteOperation::WriteBlockFilesOnly(size_t blockIndex, bool preservedTouched) {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const EraseBlock& block = context_.target.eraseBlocks[blockIndex];
  const bool lastCode = blockIndex + 1 == geometry.codeBlockCount;
  const auto erased = static_cast<int32_t>(settings_.eraseBeforeWrite);
  const auto index = static_cast<int32_t>(blockIndex);
  for (const WriteRange& range : ranges_) {
    if (!Overlaps(range, block.start, block.end)) continue;
    std::optional<WrittenRange> last;
    for (const FlashArea& area : geometry.areas) {
      if (area.start > block.end || area.end < block.start) continue;
      const uint32_t lo = std::max(area.start, block.start);
      uint32_t hi = std::min(area.end, block.end);
      if (lastCode && preservedTouched && area.end == block.end - geometry.reservedTailSize)
        hi = area.end - geometry.preservedSize;
      const uint32_t first = std::max(lo, range.start);
      const uint32_t lastAddress = std::min(hi, range.end);
      if (first > lastAddress) continue;
      if (!WriteWindow(first, lastAddress)) return false;
      last = WrittenRange{first, lastAddress, index, erased};
    }
    if (last) written_.push_back(*last);
  }
  if (preservedTouched || (lastCode && settings_.eraseBeforeWrite)) {
    const AddressRange preserved = PreservedArea(geometry);
    if (!preserved.Empty()) {
      if (!WriteWindow(preserved.first, preserved.last)) return false;
      written_.push_back({preserved.first, preserved.last, index, erased});
    }
  }
  return true;
}

bool WriteOperation::WriteBlockInFull(size_t blockIndex, bool preservedTouched) {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const EraseBlock& block = context_.target.eraseBlocks[blockIndex];
  const bool lastCode = blockIndex + 1 == geometry.codeBlockCount;
  const bool keepsPreserved = !settings_.eraseBeforeWrite && !preservedTouched;
  const WriteRange* lastAdditional = nullptr;
  for (const WriteRange& r : ranges_)
    if (r.kind == WriteRange::kAdditionalData) lastAdditional = &r;
  for (const FlashArea& area : geometry.areas) {
    if (area.start > block.end || area.end < block.start) continue;
    uint32_t lo = std::max(area.start, block.start);
    uint32_t hi = std::min(area.end, block.end);
    const bool endsAtTail = lastCode && area.end == block.end - geometry.reservedTailSize;
    if (lastAdditional && block.start == lastAdditional->start) {
      lo = lastAdditional->start;
      hi = endsAtTail && !keepsPreserved ? area.end : lastAdditional->end;
    } else if (endsAtTail && keepsPreserved) {
      hi = area.end - geometry.preservedSize;
    }
    if (lo > hi) continue;
    if (!WriteWindow(lo, hi)) return false;
    written_.push_back({lo, hi, static_cast<int32_t>(blockIndex), static_cast<int32_t>(settings_.eraseBeforeWrite)});
  }
  return true;
}

OperationOutcome WriteOperation::FailRun(int textId) {
  OperationWindow& window = context_.window;
  window.TakeIdleLayout(OperationWindow::kWriteVerifyMode);
  window.ReportStatus(context_.api.Status());
  window.SetBusyKind(OperationWindow::kIdle);
  window.AddLogLine(OperationWindow::kErrorLine, Text(textId));
  JudgeOtherTargets(context_.api, window);
  window.ShowProgress({}, 0, 0);
  return OperationOutcome::Failed;
}

void WriteOperation::LogSummary(bool cancelled) {
  OperationWindow& window = context_.window;
  const TargetGeometry& geometry = context_.buffers.Geometry();
  if (settings_.eraseBeforeWrite) {
    std::string line = Text(kErasingBlocks);
    for (size_t i = 0; i < written_.size(); ++i)
      if (i == 0 || written_[i].block != written_[i - 1].block) line += Format("%d ", written_[i].block + 1);
    window.AddLogLine(OperationWindow::kNormalLine, line);
  }
  uint64_t m = geometry.flashLow;
  auto mapLine = [&window](uint64_t first, uint64_t last, const char* what) {
    window.AddLogLine(OperationWindow::kNormalLine, Format("[%05XH - %05XH] : %s", static_cast<unsigned>(first),
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
  if (cancelled) {
    window.ClearCancelRequest();
    window.AddLogLine(OperationWindow::kNormalLine, Text(kWritingInterrupted));
  } else if (othersFine) {
    window.AddLogLine(OperationWindow::kNormalLine, Text(kWritingCompleted));
  } else {
    window.AddLogLine(OperationWindow::kErrorLine, Text(kWritingFailedOnOthers));
  }
  window.AddLogLine(OperationWindow::kNormalLine, kSeparator);
  window.TakeIdleLayout(OperationWindow::kWriteVerifyMode);
  window.SetBusyKind(OperationWindow::kIdle);
  window.ShowProgress({}, 0, 0);
}

}  // namespace quarnel
