#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "objfile/FileStamp.h"
#include "objfile/ObjectFileData.h"
#include "objfile/ObjectFileScanner.h"
#include "target/TargetGeometry.h"
#include "base/UserNotifier.h"

namespace quarnel {

// How a row's end address on file is chosen (radio buttons 1008 to 1010).
enum class EndAddressMode : int32_t { EndOfMemory = 0, FileContent = 1, Arbitrary = 2 };

// One listed file. Rows that name the same file share its content.
struct FileEntry {
  std::string fileName;
  uint32_t start = 0;
  uint32_t end = 0;  // as resolved when the row was added
  int32_t offset = 0;
  EndAddressMode endMode = EndAddressMode::EndOfMemory;
  std::shared_ptr<const ObjectFileData> file;
  // The file on disk when `file` was read.
  FileStamp stamp;
};

enum FileColumn : size_t {
  kFileNameColumn,
  kStartAddressColumn,
  kEndAddressColumn,
  kOffsetColumn,
  kFlashStartColumn,
  kFileColumnCount,
};

// The end address column of a row listed with "End Address on Memory".
inline constexpr std::string_view kToEndOfMemory = "to end of the memory";

// The entry fields that Add to List reads, as the window holds them.
struct FileEntrySettings {
  std::string fileName;
  std::string startText;
  std::string offsetText;
  EndAddressMode endMode = EndAddressMode::EndOfMemory;
  std::string arbitraryEndText;
};

struct FileRow {
  FileEntry entry;
  std::array<std::string, kFileColumnCount> columns;
  // The fields the row was listed with; a reload of its file takes its
  // window from them again.
  FileEntrySettings listedWith;
};

// A row's file window and offset as read back from its column texts.
struct RowRange {
  uint32_t start = 0;
  uint32_t end = 0;
  int32_t offset = 0;
};

// Reads offset, start and end from the row's texts; a row that shows
// "to end of the memory" ends at flashHigh. Returns 0, or the internal error
// text of the column that does not parse: text::kRowOffsetUnreadable,
// kRowStartUnreadable or kRowEndUnreadable.
int ReadRowRange(const FileRow& row, uint32_t flashHigh, RowRange& range);
// An end whose flash address lies above flashHigh becomes flashHigh. False
// when the end is then below the start.
bool ClampRowEnd(RowRange& range, uint32_t flashHigh);

// What checking an entry for the list came to: accepted, or the text that
// refused it (shown to the user already, "%1" replaced) with the field to
// correct.
struct FileCheck {
  int textId = 0;
  std::string text;
  Field field = Field::FileName;

  bool Accepted() const { return textId == 0; }
  explicit operator bool() const { return Accepted(); }
};

// The File List: its rows and the operations that add, delete and re-check
// them against the selected target.
class FileList {
 public:
  // The references must outlive the list.
  FileList(const TargetGeometry& geometry, ObjectFileScanner& scanner, UserNotifier& user);

  // Checks the entry and appends a row when it is accepted; a refusal is
  // shown, its field focused, and returned.
  FileCheck AddFileEntry(const FileEntrySettings& settings);
  // Removes the rows at the given indices; false when none was given.
  bool DeleteFileEntries(std::vector<size_t> selectedRows);
  // Tests every row again against the current target, storing its data into
  // the scanner's write image. Stops at the first row that fails.
  bool RecheckFileList();
  // Marks the new file's window and then every listed row in one occupancy
  // map: 0, or at the first byte that two of them share the text that says
  // so (text::kDuplicateInFile or kDuplicateWithListed).
  int DuplicateText(const ObjectFileData& file, uint32_t start, uint32_t end, int32_t offset);

  // Whether the row's file on disk differs in size or modification time
  // from the content the row holds.
  bool ContentOutdated(size_t rowIndex) const;
  // Reads the row's file again and checks it as listing it would (format,
  // window, flash presence, duplicates against every row); on success every
  // row that names the file takes the new content and the window its fields
  // give for it: an empty start the file's first address, the file-content
  // end its last. A refusal is shown and returned.
  FileCheck ReloadFile(size_t rowIndex);

  const std::vector<FileRow>& Rows() const { return rows_; }

 private:
  const FileEntry* ListedEntry(const std::string& fileName) const;
  // The largest object file the selected target takes: far more text than
  // any content of its flash needs, at least 64 MiB.
  uint64_t LargestFileBytes() const;
  // The file window that the fields give for a file whose data runs from
  // `lowest` to `highest`: the start field, or `lowest` when it is empty;
  // the end by the end mode (the flash top, `highest`, or the arbitrary
  // address). 0, or the text that refuses the window with the field to correct.
  int ResolveWindow(const FileEntrySettings& settings, uint32_t lowest, uint32_t highest, uint32_t& start,
                    uint32_t& end, Field& field) const;
  FileCheck CheckRowsWithContent(const std::vector<FileRow>& rows, const std::string& fileName,
                                 const ObjectFileData& content);
  // Shows a stop box with the text; returns the text as shown.
  std::string ShowStop(int textId);
  FileCheck Refuse(int textId, Field field);
  // A refusal whose box the scan or the duplicate check showed already.
  FileCheck RefuseShown(int textId, std::string text, Field field);
  FileCheck RefuseScanned(Field field);
  void ShowOutsideFlashNotice();
  void AppendRow(FileEntry entry, FileEntrySettings settings);
  // The row's texts from its entry.
  static void FillColumns(FileRow& row);

  const TargetGeometry& geometry_;
  ObjectFileScanner& scanner_;
  UserNotifier& user_;
  std::vector<FileRow> rows_;
};

}  // namespace quarnel
