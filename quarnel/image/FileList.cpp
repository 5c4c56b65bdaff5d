#include "image/FileList.h"

#include <algorithm>
#include <functional>

#include "base/StringTable.h"
#include "base/TextIds.h"
#include "image/AddressSyntax.h"

namespace quarnel {
namespace {

// Intel HEX with one byte per record takes 15 characters a byte.
constexpr uint64_t kTextBytesPerFlashByte = 32;
constexpr uint64_t kSmallestFileLimit = uint64_t{64} << 20;

}  // namespace

int ReadRowRange(const FileRow& row, uint32_t flashHigh, RowRange& range) {
  auto offset = ParseColumnOffset(row.columns[kOffsetColumn]);
  if (!offset) return text::kRowOffsetUnreadable;
  auto start = ParseColumnAddress(row.columns[kStartAddressColumn]);
  if (!start) return text::kRowStartUnreadable;
  std::optional<uint32_t> end = flashHigh;
  if (row.entry.endMode != EndAddressMode::EndOfMemory) end = ParseColumnAddress(row.columns[kEndAddressColumn]);
  if (!end) return text::kRowEndUnreadable;
  range = RowRange{*start, *end, *offset};
  return 0;
}

bool ClampRowEnd(RowRange& range, uint32_t flashHigh) {
  if (range.end + static_cast<uint32_t>(range.offset) > flashHigh) range.end = flashHigh;
  return range.end >= range.start;
}

FileList::FileList(const TargetGeometry& geometry, ObjectFileScanner& scanner, UserNotifier& user)
    : geometry_(geometry), scanner_(scanner), user_(user) {}

const FileEntry* FileList::ListedEntry(const std::string& fileName) const {
  auto row = std::find_if(rows_.begin(), rows_.end(),
                          [&fileName](const FileRow& r) { return r.entry.fileName == fileName; });
  return row == rows_.end() ? nullptr : &row->entry;
}

std::string FileList::ShowStop(int textId) {
  std::string text = FormatText(textId, scanner_.CurrentFileName());
  user_.ShowMessage(MessageStyle::Stop, text);
  return text;
}

FileCheck FileList::Refuse(int textId, Field field) {
  std::string text = ShowStop(textId);
  return RefuseShown(textId, std::move(text), field);
}

FileCheck FileList::RefuseScanned(Field field) {
  return RefuseShown(scanner_.LastErrorId(), scanner_.LastErrorText(), field);
}

void FileList::ShowOutsideFlashNotice() {
  user_.ShowMessage(MessageStyle::Plain, std::string(LoadText(text::kOutsideFlash)));
}

FileCheck FileList::RefuseShown(int textId, std::string text, Field field) {
  user_.FocusField(field);
  return {textId, std::move(text), field};
}

FileCheck FileList::AddFileEntry(const FileEntrySettings& settings) {
  int32_t offset = 0;
  if (!settings.offsetText.empty()) {
    auto parsed = ParseOffset(settings.offsetText);
    if (!parsed) return Refuse(text::kIllegalOffset, Field::FlashOffset);
    offset = *parsed;
  }
  scanner_.SetCurrentFile(settings.fileName, 0);
  std::shared_ptr<const ObjectFileData> file;
  FileStamp stamp;
  if (const FileEntry* listed = ListedEntry(settings.fileName)) {
    file = listed->file;
    stamp = listed->stamp;
  } else {
    // Stamped before reading: a change during the read shows as outdated later.
    stamp = ReadFileStamp(settings.fileName);
    bool tooLarge = false;
    file = ObjectFileData::Read(settings.fileName, LargestFileBytes(), &tooLarge);
    if (tooLarge) return Refuse(text::kFileTooLarge, Field::FileName);
  }
  if (!file) return Refuse(text::kCannotOpen, Field::FileName);

  uint32_t lowest = 0;
  uint32_t highest = 0;
  if (!scanner_.LoadObjectFile(*file, 0, 0xFFFFFFFF, false, lowest, highest)) return RefuseScanned(Field::FileName);

  uint32_t start = 0;
  uint32_t end = 0;
  Field windowField = Field::StartAddress;
  if (int refusal = ResolveWindow(settings, lowest, highest, start, end, windowField); refusal != 0)
    return Refuse(refusal, windowField);

  // The presence scan and the duplicate check show their own messages.
  Field offsetOrStart = offset == 0 ? Field::StartAddress : Field::FlashOffset;
  bool outsideFlash = false;
  bool inTail = false;
  if (!scanner_.ScanFlashPresence(*file, start, end, offset, outsideFlash, inTail)) return RefuseScanned(offsetOrStart);
  if (int shared = DuplicateText(*file, start, end, offset); shared != 0)
    return RefuseShown(shared, ShowStop(shared), offsetOrStart);
  uint32_t shift = static_cast<uint32_t>(offset);
  if (!geometry_.AnyAreaIntersects(start + shift, end + shift))
    return Refuse(text::kNothingInWindow, Field::ArbitraryAddress);
  if (outsideFlash || inTail) ShowOutsideFlashNotice();

  AppendRow(FileEntry{settings.fileName, start, end, offset, settings.endMode, std::move(file), stamp}, settings);
  return {};
}

int FileList::ResolveWindow(const FileEntrySettings& settings, uint32_t lowest, uint32_t highest, uint32_t& start,
                            uint32_t& end, Field& field) const {
  field = Field::StartAddress;
  start = lowest;
  if (!settings.startText.empty()) {
    auto parsed = ParseAddress(settings.startText);
    if (!parsed) return text::kIllegalStart;
    start = *parsed;
  }
  if (highest < start) return text::kNothingAtOrAboveStart;

  field = Field::ArbitraryAddress;
  end = highest;
  if (settings.endMode == EndAddressMode::EndOfMemory) {
    end = geometry_.flashHigh;
  } else if (settings.endMode == EndAddressMode::Arbitrary) {
    if (settings.arbitraryEndText.empty()) return text::kNoArbitraryEnd;
    auto parsed = ParseAddress(settings.arbitraryEndText);
    if (!parsed) return text::kIllegalArbitraryEnd;
    end = *parsed;
  }
  if (end < lowest) return text::kNothingInWindow;
  if (end < start) return text::kStartAboveEnd;
  return 0;
}

void FileList::AppendRow(FileEntry entry, FileEntrySettings settings) {
  FileRow row;
  row.entry = std::move(entry);
  row.listedWith = std::move(settings);
  FillColumns(row);
  rows_.push_back(std::move(row));
}

void FileList::FillColumns(FileRow& row) {
  const FileEntry& entry = row.entry;
  row.columns[kFileNameColumn] = entry.fileName;
  row.columns[kStartAddressColumn] = FormatAddress(entry.start);
  row.columns[kEndAddressColumn] =
      entry.endMode == EndAddressMode::EndOfMemory ? std::string(kToEndOfMemory) : FormatAddress(entry.end);
  row.columns[kOffsetColumn] = FormatOffset(entry.offset);
  row.columns[kFlashStartColumn] = FormatAddress(entry.start + static_cast<uint32_t>(entry.offset));
}

bool FileList::DeleteFileEntries(std::vector<size_t> selectedRows) {
  std::sort(selectedRows.begin(), selectedRows.end(), std::greater<>());
  selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
  bool removed = false;
  // From the last to the first, so that the remaining indices stay valid. A
  // file's content is released with the last row that names it.
  for (size_t index : selectedRows) {
    if (index >= rows_.size()) continue;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
    removed = true;
  }
  return removed;
}

int FileList::DuplicateText(const ObjectFileData& file, uint32_t start, uint32_t end, int32_t offset) {
  std::vector<uint8_t> occupied(size_t{geometry_.OccupancyTop()} + 1, 0);
  if (!scanner_.MarkOccupiedBytes(file, start, end, offset, occupied)) return text::kDuplicateInFile;
  for (const FileRow& row : rows_) {
    RowRange range;
    if (ReadRowRange(row, geometry_.flashHigh, range) != 0 || !ClampRowEnd(range, geometry_.flashHigh)) continue;
    if (!scanner_.MarkOccupiedBytes(*row.entry.file, range.start, range.end, range.offset, occupied))
      return text::kDuplicateWithListed;
  }
  return 0;
}

bool FileList::ContentOutdated(size_t rowIndex) const {
  const FileEntry& entry = rows_.at(rowIndex).entry;
  return !(ReadFileStamp(entry.fileName) == entry.stamp);
}

FileCheck FileList::CheckRowsWithContent(const std::vector<FileRow>& rows, const std::string& fileName,
                                         const ObjectFileData& content) {
  std::vector<uint8_t> occupied(size_t{geometry_.OccupancyTop()} + 1, 0);
  bool anyOutsideFlash = false;
  for (const FileRow& row : rows) {
    RowRange range;
    if (ReadRowRange(row, geometry_.flashHigh, range) != 0 || !ClampRowEnd(range, geometry_.flashHigh)) continue;
    const bool replaced = row.entry.fileName == fileName;
    const ObjectFileData& rowContent = replaced ? content : *row.entry.file;
    if (replaced) {
      bool outsideFlash = false;
      bool inTail = false;
      scanner_.SetCurrentFile(fileName, range.offset);
      if (!scanner_.ScanFlashPresence(content, range.start, range.end, range.offset, outsideFlash, inTail))
        return {scanner_.LastErrorId(), scanner_.LastErrorText()};
      anyOutsideFlash = anyOutsideFlash || outsideFlash || inTail;
    }
    if (!scanner_.MarkOccupiedBytes(rowContent, range.start, range.end, range.offset, occupied))
      return {text::kDuplicateWithListed, ShowStop(text::kDuplicateWithListed)};
  }
  if (anyOutsideFlash) ShowOutsideFlashNotice();
  return {};
}

uint64_t FileList::LargestFileBytes() const {
  return std::max(kSmallestFileLimit, (uint64_t{geometry_.OccupancyTop()} + 1) * kTextBytesPerFlashByte);
}

FileCheck FileList::ReloadFile(size_t rowIndex) {
  const std::string fileName = rows_.at(rowIndex).entry.fileName;
  scanner_.SetCurrentFile(fileName, 0);
  const FileStamp stamp = ReadFileStamp(fileName);
  bool tooLarge = false;
  std::shared_ptr<const ObjectFileData> file = ObjectFileData::Read(fileName, LargestFileBytes(), &tooLarge);
  if (!file) {
    const int refusal = tooLarge ? text::kFileTooLarge : text::kCannotOpen;
    return {refusal, ShowStop(refusal)};
  }
  uint32_t lowest = 0;
  uint32_t highest = 0;
  if (!scanner_.LoadObjectFile(*file, 0, 0xFFFFFFFF, false, lowest, highest))
    return {scanner_.LastErrorId(), scanner_.LastErrorText()};
  // The rows take the new content only when all of them pass with it.
  std::vector<FileRow> rows = rows_;
  for (FileRow& row : rows) {
    if (row.entry.fileName != fileName) continue;
    Field field = Field::StartAddress;
    if (int refusal = ResolveWindow(row.listedWith, lowest, highest, row.entry.start, row.entry.end, field);
        refusal != 0)
      return {refusal, ShowStop(refusal), field};
    row.entry.file = file;
    row.entry.stamp = stamp;
    FillColumns(row);
  }
  if (FileCheck check = CheckRowsWithContent(rows, fileName, *file); !check) return check;
  rows_ = std::move(rows);
  return {};
}

bool FileList::RecheckFileList() {
  bool anyOutsideFlash = false;
  for (const FileRow& row : rows_) {
    RowRange range;
    scanner_.SetCurrentFile(row.entry.fileName, 0);
    // The scans read the content taken when the row was listed; the file
    // itself must still be there, as it would be if held open.
    if (!ObjectFileData::CanOpen(row.entry.fileName)) {
      ShowStop(text::kCannotOpen);
      return false;
    }
    if (int fault = ReadRowRange(row, geometry_.flashHigh, range); fault != 0) {
      ShowStop(fault);
      return false;
    }
    scanner_.SetCurrentFile(row.entry.fileName, range.offset);
    uint32_t lowest = 0;
    uint32_t highest = 0;
    bool outsideFlash = false;
    bool inTail = false;
    if (!scanner_.LoadObjectFile(*row.entry.file, range.start, range.end, true, lowest, highest) ||
        !scanner_.ScanFlashPresence(*row.entry.file, range.start, range.end, range.offset, outsideFlash, inTail)) {
      return false;
    }
    anyOutsideFlash = anyOutsideFlash || outsideFlash || inTail;
  }
  if (anyOutsideFlash) ShowOutsideFlashNotice();
  return true;
}

}  // namespace quarnel
