#include "image/FileList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "base/TextIds.h"
#include "testing/RecordText.h"
#include "testing/RecordingUser.h"

namespace quarnel {
namespace {

using testing::IntelBaseRecord;
using testing::IntelRecord;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kEnd = ":00000001FF";

std::vector<uint8_t> Bytes(size_t count, uint8_t first) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

// Flash [0, 0xFFFF] with a write image of the same size.
class FileListTest : public ::testing::Test {
 protected:
  FileListTest() : image(0x10000, 0xEE), scanner(geometry, user), list(geometry, scanner, user) {
    geometry.SetFlashAreas({{0x0000, 0xFFFF}});
    scanner.SetWriteImage(image);
    char pattern[] = "/tmp/quarnel_filelist_XXXXXX";
    directory = mkdtemp(pattern);
    app = WriteFile("app.hex", {IntelRecord(0, 0x0100, Bytes(16, 0x40)), kEnd});
  }
  ~FileListTest() override { std::filesystem::remove_all(directory); }

  std::string WriteFile(const std::string& name, const std::vector<std::string>& lines) {
    std::string path = directory + "/" + name;
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : lines) out << line << "\r\n";
    return path;
  }

  static FileEntrySettings Entry(const std::string& path, EndAddressMode mode = EndAddressMode::FileContent,
                                 std::string startText = "", std::string offsetText = "",
                                 std::string arbitraryEnd = "") {
    return FileEntrySettings{path, std::move(startText), std::move(offsetText), mode, std::move(arbitraryEnd)};
  }

  void ExpectRefused(const FileEntrySettings& settings, int textId, Field field) {
    size_t rowsBefore = list.Rows().size();
    const FileCheck check = list.AddFileEntry(settings);
    EXPECT_FALSE(check);
    // The refusal comes back as the box showed it.
    EXPECT_EQ(check.textId, textId);
    EXPECT_EQ(check.field, field);
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(check.text, user.messages.back().text);
    EXPECT_THAT(user.focused, ElementsAre(field));
    EXPECT_EQ(list.Rows().size(), rowsBefore);
    user.Clear();
  }

  TargetGeometry geometry;
  std::vector<uint8_t> image;
  testing::RecordingUser user;
  ObjectFileScanner scanner;
  FileList list;
  std::string directory;
  std::string app;  // 16 bytes at file addresses 0x100-0x10F
};

TEST_F(FileListTest, RowShowsTheResolvedWindowAndOffset) {
  ASSERT_TRUE(list.AddFileEntry(Entry(app)));
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::EndOfMemory, "", "+200")));
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "108", "-100", "0x10BH")));
  EXPECT_THAT(user.messages, IsEmpty());
  ASSERT_EQ(list.Rows().size(), 3u);
  using Columns = std::array<std::string, kFileColumnCount>;
  EXPECT_EQ(list.Rows()[0].columns, (Columns{app, "00100H", "0010FH", " 00000H", "00100H"}));
  EXPECT_EQ(list.Rows()[1].columns, (Columns{app, "00100H", "to end of the memory", "+00200H", "00300H"}));
  EXPECT_EQ(list.Rows()[2].columns, (Columns{app, "00108H", "0010BH", "-00100H", "00008H"}));
  const FileEntry& entry = list.Rows()[2].entry;
  EXPECT_EQ(entry.start, 0x108u);
  EXPECT_EQ(entry.end, 0x10Bu);
  EXPECT_EQ(entry.offset, -0x100);
  EXPECT_EQ(entry.endMode, EndAddressMode::Arbitrary);
  EXPECT_EQ(list.Rows()[1].entry.end, 0xFFFFu);
}

TEST_F(FileListTest, RefusalsNameTheirMessageAndField) {
  ExpectRefused(Entry(app, EndAddressMode::FileContent, "", "x100"), text::kIllegalOffset, Field::FlashOffset);
  ExpectRefused(Entry(directory + "/missing.hex"), text::kCannotOpen, Field::FileName);
  ExpectRefused(Entry(WriteFile("bad.hex", {":0100000001FF", kEnd})), text::kIntelChecksumError, Field::FileName);
  ExpectRefused(Entry(app, EndAddressMode::FileContent, "1H0"), text::kIllegalStart, Field::StartAddress);
  ExpectRefused(Entry(app, EndAddressMode::FileContent, "110"), text::kNothingAtOrAboveStart, Field::StartAddress);
  ExpectRefused(Entry(app, EndAddressMode::Arbitrary), text::kNoArbitraryEnd, Field::ArbitraryAddress);
  ExpectRefused(Entry(app, EndAddressMode::Arbitrary, "", "", "10G"), text::kIllegalArbitraryEnd,
                Field::ArbitraryAddress);
  ExpectRefused(Entry(app, EndAddressMode::Arbitrary, "", "", "FF"), text::kNothingInWindow, Field::ArbitraryAddress);
  ExpectRefused(Entry(app, EndAddressMode::Arbitrary, "108", "", "104"), text::kStartAboveEnd, Field::ArbitraryAddress);
  // Far more text than the flash could take: refused before it is read.
  const std::string huge = WriteFile("huge.hex", {IntelRecord(0, 0x0100, Bytes(16, 0x40)), kEnd});
  std::filesystem::resize_file(huge, uint64_t{64} << 30);
  ExpectRefused(Entry(huge), text::kFileTooLarge, Field::FileName);
}

TEST_F(FileListTest, MessagesNameTheFile) {
  std::string missing = directory + "/missing.hex";
  EXPECT_FALSE(list.AddFileEntry(Entry(missing)));
  ASSERT_EQ(user.messages.size(), 1u);
  EXPECT_EQ(user.messages[0].style, MessageStyle::Stop);
  EXPECT_EQ(user.messages[0].text, missing + " could not be opened.");
}

TEST_F(FileListTest, RepeatedAddressInsideTheNewFile) {
  std::string twice = WriteFile("twice.hex", {IntelRecord(0, 0x10, {1, 2}), IntelRecord(0, 0x11, {3}), kEnd});
  ExpectRefused(Entry(twice), text::kDuplicateInFile, Field::StartAddress);
  ExpectRefused(Entry(twice, EndAddressMode::FileContent, "", "10"), text::kDuplicateInFile, Field::FlashOffset);
  EXPECT_TRUE(list.AddFileEntry(Entry(twice, EndAddressMode::Arbitrary, "", "", "10")));
}

TEST_F(FileListTest, DataThatMissesEveryFlashAreaIsRefused) {
  std::string high = WriteFile("high.hex", {IntelBaseRecord(4, 2), IntelRecord(0, 0, {1}), kEnd});
  ExpectRefused(Entry(high), text::kNothingInWindow, Field::ArbitraryAddress);
  ExpectRefused(Entry(app, EndAddressMode::FileContent, "", "FFFF"), text::kNothingInWindow, Field::ArbitraryAddress);
}

TEST_F(FileListTest, DataPartlyOutsideFlashIsAddedWithANotice) {
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::FileContent, "", "FEF8")));
  ASSERT_EQ(user.messages.size(), 1u);
  EXPECT_EQ(user.messages[0].style, MessageStyle::Plain);
  EXPECT_EQ(user.messages[0].textId, text::kOutsideFlash);
  EXPECT_EQ(list.Rows().size(), 1u);
}

TEST_F(FileListTest, SameFileTwiceSharesOneCopyUnlessTheBytesCollide) {
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "100", "", "107")));
  ExpectRefused(Entry(app, EndAddressMode::Arbitrary, "107", "", "10F"), text::kDuplicateWithListed,
                Field::StartAddress);
  ExpectRefused(Entry(app, EndAddressMode::FileContent, "", "4"), text::kDuplicateWithListed, Field::FlashOffset);
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "108", "", "10F")));
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::FileContent, "", "1000")));
  ASSERT_EQ(list.Rows().size(), 3u);
  EXPECT_EQ(list.Rows()[0].entry.file, list.Rows()[1].entry.file);
  EXPECT_EQ(list.Rows()[0].entry.file, list.Rows()[2].entry.file);
}

TEST_F(FileListTest, DuplicateCheckReadsListedRowsFromTheirTexts) {
  // The listed row, offset by 0x100, holds flash 0x200-0x20F.
  std::string other = WriteFile("other.hex", {IntelRecord(0, 0x0200, {1}), kEnd});
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::EndOfMemory, "", "100")));
  EXPECT_EQ(list.DuplicateText(*list.Rows()[0].entry.file, 0x100, 0x10F, 0), 0);
  EXPECT_EQ(list.DuplicateText(*list.Rows()[0].entry.file, 0x100, 0x10F, 0x100), text::kDuplicateWithListed);
  ExpectRefused(Entry(other), text::kDuplicateWithListed, Field::StartAddress);
}

TEST_F(FileListTest, ListedFileKeepsTheContentThatWasChecked) {
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "100", "", "107")));
  WriteFile("app.hex", {"garbage"});
  // The second row takes the listed copy, not the changed file.
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "108", "", "10F")));
  ASSERT_TRUE(list.RecheckFileList());
  EXPECT_EQ(image[0x100], 0x40);
  EXPECT_EQ(image[0x10F], 0x4F);
}

// A reload that fails leaves the rows as they were and returns the refusal
// as its box showed it.
TEST_F(FileListTest, AFailedReloadReturnsItsRefusal) {
  ASSERT_TRUE(list.AddFileEntry(Entry(app)));
  const auto before = list.Rows()[0].columns;
  struct Case {
    std::vector<std::string> lines;  // the file's new content; none: removed
    int textId;
  };
  const Case cases[] = {{{":0100000001FF", kEnd}, text::kIntelChecksumError}, {{}, text::kCannotOpen}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.textId);
    user.Clear();
    if (c.lines.empty())
      std::filesystem::remove(app);
    else
      WriteFile("app.hex", c.lines);
    const FileCheck check = list.ReloadFile(0);
    EXPECT_EQ(check.textId, c.textId);
    ASSERT_FALSE(user.messages.empty());
    EXPECT_EQ(check.text, user.messages.back().text);
    EXPECT_EQ(list.Rows()[0].columns, before);
  }
}

// A file that grew after it was listed: each row that names it takes the
// window its fields give for the new content, in the texts the operations
// read and the window shows.
TEST_F(FileListTest, ReloadGivesTheRowsTheWindowOfTheNewContent) {
  ASSERT_TRUE(list.AddFileEntry(Entry(app)));
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "", "+1000", "10F")));
  WriteFile("app.hex", {IntelRecord(0, 0x0080, Bytes(16, 0x20)), IntelRecord(0, 0x0100, Bytes(16, 0x40)),
                        IntelRecord(0, 0x0300, Bytes(16, 0x60)), kEnd});
  ASSERT_TRUE(list.ContentOutdated(0));
  ASSERT_TRUE(list.ReloadFile(0));
  EXPECT_THAT(user.messages, IsEmpty());
  EXPECT_FALSE(list.ContentOutdated(1));
  using Columns = std::array<std::string, kFileColumnCount>;
  EXPECT_EQ(list.Rows()[0].columns, (Columns{app, "00080H", "0030FH", " 00000H", "00080H"}));
  EXPECT_EQ(list.Rows()[1].columns, (Columns{app, "00080H", "0010FH", "+01000H", "01080H"}));
  ASSERT_TRUE(list.RecheckFileList());
  EXPECT_EQ(image[0x080], 0x20);
  EXPECT_EQ(image[0x30F], 0x6F);
  EXPECT_EQ(image[0x1080], 0x20);
  EXPECT_EQ(image[0x1300], 0xEE);
}

TEST_F(FileListTest, DeletingReleasesAFileWithItsLastRow) {
  std::string other = WriteFile("other.hex", {IntelRecord(0, 0x0200, {1}), kEnd});
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "100", "", "107")));
  ASSERT_TRUE(list.AddFileEntry(Entry(other)));
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "108", "", "10F")));
  std::weak_ptr<const ObjectFileData> appContent = list.Rows()[0].entry.file;

  EXPECT_FALSE(list.DeleteFileEntries({}));
  EXPECT_TRUE(list.DeleteFileEntries({2, 1}));
  ASSERT_EQ(list.Rows().size(), 1u);
  EXPECT_EQ(list.Rows()[0].columns[kStartAddressColumn], "00100H");
  EXPECT_FALSE(appContent.expired());
  EXPECT_TRUE(list.DeleteFileEntries({0, 0, 7}));
  EXPECT_TRUE(list.Rows().empty());
  EXPECT_TRUE(appContent.expired());
}

TEST_F(FileListTest, RecheckStoresEachRowInsideItsWindow) {
  ASSERT_TRUE(list.AddFileEntry(Entry(app, EndAddressMode::Arbitrary, "104", "+1000", "105")));
  ASSERT_TRUE(list.RecheckFileList());
  EXPECT_EQ(image[0x1103], 0xEE);
  EXPECT_EQ(image[0x1104], 0x44);
  EXPECT_EQ(image[0x1105], 0x45);
  EXPECT_EQ(image[0x1106], 0xEE);
  EXPECT_THAT(user.messages, IsEmpty());
}

TEST_F(FileListTest, RecheckStopsWhenAFileIsGone) {
  std::string other = WriteFile("other.hex", {IntelRecord(0, 0x0200, {1}), kEnd});
  ASSERT_TRUE(list.AddFileEntry(Entry(other)));
  ASSERT_TRUE(list.AddFileEntry(Entry(app)));
  std::filesystem::remove(other);
  EXPECT_FALSE(list.RecheckFileList());
  ASSERT_EQ(user.messages.size(), 1u);
  EXPECT_EQ(user.messages[0].textId, text::kCannotOpen);
  EXPECT_EQ(user.messages[0].text, other + " could not be opened.");
  EXPECT_EQ(image[0x100], 0xEE);  // the rows after it are not scanned
}

TEST_F(FileListTest, RecheckNoticesDataOutsideTheNewTargetOnce) {
  std::string other = WriteFile("other.hex", {IntelRecord(0, 0x0200, {1}), kEnd});
  ASSERT_TRUE(list.AddFileEntry(Entry(app)));
  ASSERT_TRUE(list.AddFileEntry(Entry(other)));
  geometry.SetFlashAreas({{0x0000, 0x00FF}, {0x0108, 0x010B}});
  EXPECT_TRUE(list.RecheckFileList());
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kOutsideFlash));
  // Storing follows the lowest and highest flash address, not the areas.
  EXPECT_EQ(image[0x100], 0x40);
  EXPECT_EQ(image[0x10B], 0x4B);
  EXPECT_EQ(image[0x10C], 0xEE);
  EXPECT_EQ(image[0x200], 0xEE);
}

TEST(ReadRowRange, ReportsTheColumnThatDoesNotParse) {
  FileRow row;
  row.entry.endMode = EndAddressMode::Arbitrary;
  row.columns = {"f.hex", "00100H", "0010FH", "-00010H", "000F0H"};
  RowRange range;
  EXPECT_EQ(ReadRowRange(row, 0xFFFF, range), 0);
  EXPECT_EQ(range.start, 0x100u);
  EXPECT_EQ(range.end, 0x10Fu);
  EXPECT_EQ(range.offset, -0x10);
  row.columns[kEndAddressColumn] = "to end of the memory";
  EXPECT_EQ(ReadRowRange(row, 0xFFFF, range), text::kRowEndUnreadable);
  row.entry.endMode = EndAddressMode::EndOfMemory;
  EXPECT_EQ(ReadRowRange(row, 0x7FFF, range), 0);
  EXPECT_EQ(range.end, 0x7FFFu);  // the target selected now decides
  row.columns[kStartAddressColumn] = "0Q100H";
  EXPECT_EQ(ReadRowRange(row, 0xFFFF, range), text::kRowStartUnreadable);
  row.columns[kOffsetColumn] = "*10H";
  EXPECT_EQ(ReadRowRange(row, 0xFFFF, range), text::kRowOffsetUnreadable);
}

TEST(ClampRowEnd, EndsWhoseFlashAddressPassesTheTopBecomeTheTop) {
  RowRange inside{0x100, 0x1FF, 0x100};
  EXPECT_TRUE(ClampRowEnd(inside, 0xFFFF));
  EXPECT_EQ(inside.end, 0x1FFu);
  RowRange beyond{0x100, 0xFF10, 0x100};
  EXPECT_TRUE(ClampRowEnd(beyond, 0xFFFF));
  EXPECT_EQ(beyond.end, 0xFFFFu);
  RowRange startAboveTop{0x20000, 0x20010, 0};
  EXPECT_FALSE(ClampRowEnd(startAboveTop, 0xFFFF));
}

}  // namespace
}  // namespace quarnel
