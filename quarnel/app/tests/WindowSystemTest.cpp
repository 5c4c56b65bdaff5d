// The real main window over the real library, bound by name, against
// korvo-sim processes: start-up and plugging, then Write & Check, Verify and
// Erase on two simulated emulators whose memory korvo-sim dumps on exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "SimProcess.h"
#include "binding/ApiTable.h"
#include "app/QuarnelApp.h"
#include "base/ControlIds.h"
#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "records/RecordStore.h"
#include "recording/RunRecords.h"
#include "ui/QuarnelDlg.h"
#include "testing/MemorySettings.h"
#include "testing/ScriptedPrompter.h"
#include "ui/MainWindowControls.h"

namespace quarnel {
namespace {

using korvo::testing::SimProcess;
using testing::MemorySettings;
using testing::ScriptedPrompter;
using namespace ctl;

constexpr uint32_t kFlashSize = 0x10000;  // KT51456: 8 blocks of 8 KiB
constexpr uint32_t kBlockSize = 0x2000;
const char* const kSecurityId = "0001000200030004";
// A request frame of emulator 2 in the middle of the blocks a write sends.
const char* const kFaultFrame = "40";


// The guarded layer, counting the resets the window asks for.
class CountingApi : public GuardedApiTable {
 public:
  using GuardedApiTable::GuardedApiTable;
  bool ResetAll() override {
    ++resets;
    return GuardedApiTable::ResetAll();
  }
  int resets = 0;
};

using Image = std::vector<uint8_t>;
using Chunk = std::pair<uint32_t, std::vector<uint8_t>>;

// Intel HEX: 16-byte data records, then the end record.
std::string HexFile(const std::vector<Chunk>& chunks) {
  std::string out;
  char line[80];
  for (const auto& [address, bytes] : chunks) {
    for (size_t k = 0; k < bytes.size(); k += 16) {
      const size_t n = std::min<size_t>(16, bytes.size() - k);
      const uint32_t at = address + static_cast<uint32_t>(k);
      uint8_t sum = static_cast<uint8_t>(n + (at >> 8) + at);
      std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n), at & 0xFFFF);
      out += line;
      for (size_t i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "%02X", bytes[k + i]);
        out += line;
        sum = static_cast<uint8_t>(sum + bytes[k + i]);
      }
      std::snprintf(line, sizeof line, "%02X\n", static_cast<uint8_t>(-sum));
      out += line;
    }
  }
  return out + ":00000001FF\n";
}

// Motorola S-records: S1 data records of 16 bytes, then S9.
std::string SrecFile(const std::vector<Chunk>& chunks) {
  std::string out = "S00600004844521B\n";
  char line[80];
  for (const auto& [address, bytes] : chunks) {
    for (size_t k = 0; k < bytes.size(); k += 16) {
      const size_t n = std::min<size_t>(16, bytes.size() - k);
      const uint32_t at = address + static_cast<uint32_t>(k);
      uint8_t sum = static_cast<uint8_t>(n + 3 + (at >> 8) + at);
      std::snprintf(line, sizeof line, "S1%02X%04X", static_cast<unsigned>(n + 3), at & 0xFFFF);
      out += line;
      for (size_t i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "%02X", bytes[k + i]);
        out += line;
        sum = static_cast<uint8_t>(sum + bytes[k + i]);
      }
      std::snprintf(line, sizeof line, "%02X\n", static_cast<uint8_t>(~sum));
      out += line;
    }
  }
  return out + "S9030000FC\n";
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<uint8_t>(seed + k * 7 + (k >> 8));
  return bytes;
}

void Place(Image& image, const std::vector<Chunk>& chunks) {
  for (const auto& [address, bytes] : chunks) std::copy(bytes.begin(), bytes.end(), image.begin() + address);
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

Image ReadImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Image(std::istreambuf_iterator<char>(in), {});
}

// The first address where two images differ, for a readable failure.
std::string FirstDifference(const Image& expected, const Image& actual) {
  if (expected.size() != actual.size())
    return "size " + std::to_string(actual.size()) + " instead of " + std::to_string(expected.size());
  for (size_t k = 0; k < expected.size(); ++k) {
    if (expected[k] != actual[k]) {
      char text[64];
      std::snprintf(text, sizeof text, "at %05zXH: %02X instead of %02X", k, actual[k], expected[k]);
      return text;
    }
  }
  return "none";
}

class WindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime.isValid());
    ASSERT_TRUE(work.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    qputenv("QUARNEL_LOCK_DIR", runtime.path().toUtf8());
    ASSERT_TRUE(app.LoadLibrary("libvestra.so"));
    table = app.Table();
  }
  void TearDown() override { qunsetenv("KORVO_SIM_DIR"); }

  // korvo-sim on KT51456 in the test's own socket directory.
  void StartSim(std::vector<std::string> more) {
    std::vector<std::string> arguments = {"--trg", SimProcess::sampleTrg("KT51456"), "--dir", SimDir()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    sim = std::make_unique<SimProcess>(arguments);
    ASSERT_TRUE(sim->start());
    qputenv("KORVO_SIM_DIR", QByteArray::fromStdString(sim->dir()));
  }
  std::string SimDir() const { return work.filePath(QStringLiteral("sim")).toStdString(); }
  std::string WorkFile(const char* name) const { return work.filePath(QString::fromUtf8(name)).toStdString(); }
  Image Dump(unsigned emulator) const {
    char name[32];
    std::snprintf(name, sizeof name, "/korvo-%02u.bin", emulator);
    return ReadImage(SimDir() + name);
  }

  std::unique_ptr<CQuarnelDlg> Open() {
    auto window = std::make_unique<CQuarnelDlg>(api, settings, prompter, QStringLiteral("1.00"));
    initialised = window->Initialise();
    return window;
  }
  static QAbstractButton* Button(CQuarnelDlg& w, int id) { return static_cast<QAbstractButton*>(w.Control(id)); }
  static QLineEdit* Edit(CQuarnelDlg& w, int id) { return static_cast<QLineEdit*>(w.Control(id)); }

  void ListFile(CQuarnelDlg& w, const std::string& path) {
    Edit(w, kFileName)->setText(QString::fromStdString(path));
    Button(w, kEndByFileContent)->click();
    const int rows = static_cast<QTreeWidget*>(w.Control(kFileList))->topLevelItemCount();
    Button(w, kAddToList)->click();
    ASSERT_EQ(static_cast<QTreeWidget*>(w.Control(kFileList))->topLevelItemCount(), rows + 1) << LastBox().toStdString();
  }
  QString LastBox() const { return prompter.shown.empty() ? QString() : prompter.shown.back().text; }
  QStringList Boxes() const {
    QStringList texts;
    for (const auto& shown : prompter.shown) texts << shown.text;
    return texts;
  }
  static QStringList LogLines(const CQuarnelDlg& w) {
    QStringList lines;
    for (int k = 0; k < w.Log().rowCount(); ++k) lines << w.Log().Line(k);
    return lines;
  }

  QTemporaryDir runtime;
  QTemporaryDir work;
  ScriptedPrompter prompter;
  MemorySettings settings;
  CQuarnelApp app{prompter, QStringLiteral("1.00")};
  ApiTable table;
  CountingApi api{table};
  std::unique_ptr<SimProcess> sim;
  bool initialised = false;
};

// ------------------------------------------------------------- plugging

TEST_F(WindowSystemTest, RememberedTargetPlugsAndALinkFaultUnplugsWithoutAReset) {
  StartSim({"--emulators", "2"});
  settings.values["TRGNAME"] = "KT51456";
  auto w = Open();
  ASSERT_TRUE(initialised);
  EXPECT_TRUE(w->Plugged());
  EXPECT_TRUE(Boxes().isEmpty());
  EXPECT_EQ(Edit(*w, kEndAddressOnMemory)->text(), QStringLiteral("FDFFH"));
  EXPECT_EQ(static_cast<QTreeWidget*>(w->Control(kEraseList))->topLevelItemCount(), 8);

  // The emulators vanish as if unplugged from the bus.
  sim->kill();
  prompter.shown.clear();
  static_cast<QTreeWidget*>(w->Control(kEraseList))->topLevelItem(0)->setCheckState(0, Qt::Checked);
  ASSERT_TRUE(w->Control(kErase)->isEnabled());
  api.resets = 0;
  Button(*w, kErase)->click();
  // The start question, the link failure, then the other target's failure.
  ASSERT_EQ(prompter.shown.size(), 3u) << Boxes().join(QStringLiteral(" | ")).toStdString();
  EXPECT_EQ(prompter.shown[0].text, TableText(text::kStartErasure));
  bool linkMessage = false;
  for (int status = 0x5000; status <= 0x5005; ++status)
    linkMessage = linkMessage || prompter.shown[1].text == TableText(StatusTextId(status));
  EXPECT_TRUE(linkMessage) << prompter.shown[1].text.toStdString();
  // Unplugged, the window lets the emulators go with the lock.
  EXPECT_EQ(api.TargetCount(), 0u);
  EXPECT_TRUE(prompter.shown[2].text.startsWith(TableText(text::kFailedTargetsList)));
  EXPECT_FALSE(w->Plugged());
  EXPECT_EQ(api.resets, 0);
  EXPECT_EQ(Button(*w, kPlug)->text(), QStringLiteral("&Plug"));
  EXPECT_TRUE(w->Control(kPlug)->isEnabled());
  EXPECT_FALSE(w->Control(kWrite)->isEnabled());
}

TEST_F(WindowSystemTest, StartUpReportsWhatKeepsTheEmulatorsFromPlugging) {
  struct Case {
    const char* name;
    std::vector<std::string> simArguments;  // empty: no korvo-sim at all
    bool holdLock;
    QStringList boxes;
    bool runs;
    bool plugged;
  } cases[] = {
      {"another chip, then the dialog's choice",
       {"--emulators", "2"},
       false,
       {QStringLiteral("The target LSI has changed to KT51456.")},
       true,
       true},
      {"old firmware ends the program",
       {"--firmware", "1.00"},
       false,
       {TableText(StatusTextId(0x2004)) + QStringLiteral("1.00")},
       false,
       false},
      {"no emulator",
       {},
       false,
       {TableText(text::kNotConnected) + QStringLiteral("\nNo emulator sockets (korvo-NN) in %1 (KORVO_SIM_DIR).")
                        .arg(work.filePath(QStringLiteral("empty")))},
       true,
       false},
      {"KORVO lock held by another program", {"--emulators", "2"}, true, {TableText(text::kLockNotObtained)}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompter.shown.clear();
    // Only the wrong chip's case reaches Select Target.
    prompter.targetByName = QStringLiteral("KT51456");
    settings.values["TRGNAME"] = c.plugged ? "KT3888" : "KT51456";
    sim.reset();
    if (c.simArguments.empty()) {
      ASSERT_TRUE(QDir(work.path()).mkpath(QStringLiteral("empty")));
      qputenv("KORVO_SIM_DIR", work.filePath(QStringLiteral("empty")).toUtf8());
    } else {
      StartSim(c.simArguments);
    }
    // Another program holds the KORVO access lock for the whole start-up.
    QProcess holder;
    if (c.holdLock) {
      holder.start(QStringLiteral("flock"), {runtime.filePath(QStringLiteral("KORVO.lock")), QStringLiteral("-c"),
                                              QStringLiteral("echo held; sleep 30")});
      ASSERT_TRUE(holder.waitForReadyRead(5000));
    }
    QElapsedTimer timer;
    timer.start();
    auto w = Open();
    const qint64 elapsed = timer.elapsed();
    if (c.holdLock) {
      holder.kill();
      holder.waitForFinished();
      EXPECT_GE(elapsed, 2900);
      EXPECT_LT(elapsed, 6000);
    }
    EXPECT_EQ(Boxes(), c.boxes);
    EXPECT_EQ(initialised, c.runs);
    if (c.runs) {
      EXPECT_EQ(w->Plugged(), c.plugged);
    }
    if (c.plugged) {
      EXPECT_EQ(settings.values["TRGNAME"], "KT51456");  // the chosen target is remembered
    }
    w = nullptr;
  }
}

// The remembered target is another chip: the first plug fails on both
// emulators, the user picks the attached chip in Select Target, and the
// plug that follows must take both boards, so that a write reaches both.
TEST_F(WindowSystemTest, AfterPickingTheAttachedChipAtStartUpAWriteReachesBothBoards) {
  StartSim({"--emulators", "2", "--dump"});
  settings.values["TRGNAME"] = "KT4351235";
  prompter.targetByName = QStringLiteral("KT51456");
  const std::vector<Chunk> chunks = {{0x0100, Pattern(0x300, 4)}};
  ASSERT_TRUE(WriteBytes(WorkFile("app.hex"), HexFile(chunks)));

  auto w = Open();
  ASSERT_TRUE(initialised && w->Plugged());
  EXPECT_EQ(Boxes(), QStringList{QStringLiteral("The target LSI has changed to KT51456.")});
  ListFile(*w, WorkFile("app.hex"));
  Edit(*w, kArbitraryData)->setText(QStringLiteral("5AH"));
  Button(*w, kAddTwoWords)->click();  // off: nothing beyond the file's bytes
  prompter.shown.clear();
  Button(*w, kWrite)->click();
  const QStringList log = LogLines(*w);
  const std::string all = log.join(QStringLiteral("\n")).toStdString();
  EXPECT_TRUE(log.contains(TableText(text::kWritingCompleted))) << all;
  EXPECT_TRUE(log.filter(QStringLiteral("Error: ")).isEmpty()) << all;
  EXPECT_EQ(prompter.shown.size(), 1u) << Boxes().join(QStringLiteral(" | ")).toStdString();  // the start question

  w = nullptr;
  sim->stop();
  Image expected(kFlashSize, 0xFF);
  std::fill(expected.begin(), expected.begin() + kBlockSize, 0x5A);
  Place(expected, chunks);
  for (unsigned emulator : {0u, 1u}) {
    SCOPED_TRACE(emulator);
    const Image dump = Dump(emulator);
    EXPECT_TRUE(dump == expected) << FirstDifference(expected, dump);
  }
}

TEST_F(WindowSystemTest, AProtectedChipOpensWithTheDialogsIdThenWithTheRememberedOne) {
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "entered in the dialog" : "remembered");
    StartSim({"--emulators", "2", "--security-id", kSecurityId});
    settings.values["TRGNAME"] = "KT51456";
    prompter.shown.clear();
    prompter.securityTypesAsked.clear();
    if (run == 0) {
      SecurityEntry wrong;
      wrong.texts.fill("    ");
      wrong.texts[0] = "FFFF";
      SecurityEntry right;
      right.texts.fill("    ");
      for (size_t k = 0; k < 4; ++k) right.texts[k] = std::string(kSecurityId + 4 * k, 4);
      prompter.securityEntries = {wrong, right};
    }
    auto w = Open();
    ASSERT_TRUE(initialised);
    EXPECT_TRUE(w->Plugged());
    EXPECT_EQ(prompter.securityTypesAsked.size(), run == 0 ? 2u : 0u);
    EXPECT_EQ(settings.values["SECUREIDSIZE"], "8");
    EXPECT_TRUE(prompter.securityEntries.empty());
    w = nullptr;
    sim.reset();
  }
}

// ------------------------------------------------------------ operations

// Both files in one Write & Check: a HEX file and an S-record file, written
// with the fill byte 5AH between them; Verify then finds both targets equal.
// With recording on, both runs leave a record per target in the store.
TEST_F(WindowSystemTest, WriteAndCheckOfHexAndSrecordFilesThenVerifyOnTwoTargets) {
  StartSim({"--emulators", "2", "--dump"});
  settings.values["TRGNAME"] = "KT51456";
  settings.values[kRecordRunsKey] = "1";
  settings.values[kRecordsUrlKey] = "sqlite:" + WorkFile("records.sqlite");
  const std::vector<Chunk> hexChunks = {{0x0100, Pattern(0x300, 1)}, {0x2000, Pattern(0x40, 9)}};
  const std::vector<Chunk> srecChunks = {{0x4010, Pattern(0x1F0, 3)}};
  ASSERT_TRUE(WriteBytes(WorkFile("code.hex"), HexFile(hexChunks)));
  ASSERT_TRUE(WriteBytes(WorkFile("data.mot"), SrecFile(srecChunks)));

  auto w = Open();
  ASSERT_TRUE(initialised && w->Plugged());
  ListFile(*w, WorkFile("code.hex"));
  ListFile(*w, WorkFile("data.mot"));
  Edit(*w, kArbitraryData)->setText(QStringLiteral("5AH"));
  Button(*w, kAddTwoWords)->click();  // off: nothing beyond the files' bytes
  prompter.shown.clear();
  Button(*w, kWrite)->click();
  QStringList log = LogLines(*w);
  EXPECT_EQ(prompter.shown.size(), 1u) << Boxes().join(QStringLiteral(" | ")).toStdString();  // the start question
  EXPECT_TRUE(log.contains(TableText(text::kWritingCompleted))) << log.join(QStringLiteral("\n")).toStdString();
  EXPECT_FALSE(log.filter(QStringLiteral("Error: ")).size()) << log.join(QStringLiteral("\n")).toStdString();
  EXPECT_EQ(w->Control(kWrite)->isEnabled(), true);

  Button(*w, kVerify)->click();
  log = LogLines(*w).mid(log.size());
  // 2 rows x 2 targets
  EXPECT_EQ(log.filter(TableText(text::kNoDifferences)).size(), 4) << log.join(QStringLiteral("\n")).toStdString();
  EXPECT_EQ(log.filter(QStringLiteral("Verification of target 2 (")).size(), 1)
      << log.join(QStringLiteral("\n")).toStdString();
  EXPECT_TRUE(log.filter(TableText(text::kDifferencesFound)).isEmpty());
  EXPECT_TRUE(log.contains(TableText(text::kVerificationCompleted)));
  EXPECT_EQ(log.filter(QStringLiteral("Time: ")).size(), 1) << log.join(QStringLiteral("\n")).toStdString();

  records::StoreResult opened;
  const auto store = records::RecordStore::Open(settings.values[kRecordsUrlKey], &opened);
  ASSERT_TRUE(store) << opened.error;
  std::vector<records::BoardRecord> kept;
  ASSERT_TRUE(store->Records({}, &kept).Ok());
  ASSERT_EQ(kept.size(), 4u);
  for (const records::BoardRecord& record : kept) {
    SCOPED_TRACE(record.operation + " " + std::to_string(record.targetNumber));
    EXPECT_EQ(record.result, "pass");
    EXPECT_EQ(record.targetDescription, "KT51456");
    EXPECT_TRUE(record.crc32.has_value());
    EXPECT_EQ(record.imageSha256.size(), record.operation == "write" ? 64u : 0u);
  }
  EXPECT_EQ(kept[0].operation, "write");
  EXPECT_EQ(kept[3].operation, "verify");
  EXPECT_EQ(kept[0].crc32, kept[2].crc32);  // verify reads back what the write left

  w = nullptr;
  sim->stop();
  // Blocks from the first to the last one used are written in full with the
  // fill byte; the blocks beyond stay erased.
  Image expected(kFlashSize, 0xFF);
  std::fill(expected.begin(), expected.begin() + 3 * kBlockSize, 0x5A);
  Place(expected, hexChunks);
  Place(expected, srecChunks);
  for (unsigned emulator : {0u, 1u}) {
    SCOPED_TRACE(emulator);
    const Image dump = Dump(emulator);
    EXPECT_TRUE(dump == expected) << FirstDifference(expected, dump);
  }
}

TEST_F(WindowSystemTest, VerifyListsTheDifferencesOfTheSecondTargetOnly) {
  const std::vector<Chunk> chunks = {{0x0200, Pattern(0x100, 5)}};
  Image first(kFlashSize, 0xFF);
  Place(first, chunks);
  Image second = first;
  second[0x0210] ^= 0x0F;
  second[0x02FF] = 0x00;
  ASSERT_TRUE(WriteBytes(WorkFile("first.bin"), std::string(first.begin(), first.end())));
  ASSERT_TRUE(WriteBytes(WorkFile("second.bin"), std::string(second.begin(), second.end())));
  ASSERT_TRUE(WriteBytes(WorkFile("code.hex"), HexFile(chunks)));
  StartSim({"--emulators", "2", "--emulator", "0:image=" + WorkFile("first.bin"), "--emulator",
            "1:image=" + WorkFile("second.bin")});
  settings.values["TRGNAME"] = "KT51456";
  auto w = Open();
  ASSERT_TRUE(initialised && w->Plugged());
  ListFile(*w, WorkFile("code.hex"));
  Button(*w, kVerify)->click();
  const QStringList log = LogLines(*w);
  const QString all = log.join(QStringLiteral("\n"));
  const qsizetype secondStart = std::find_if(log.begin(), log.end(), [](const QString& l) {
                                  return l.startsWith(QStringLiteral("Verification of target 2 ("));
                                }) - log.begin();
  ASSERT_LT(secondStart, log.size()) << all.toStdString();
  const QStringList firstPart = log.mid(0, secondStart);
  const QStringList secondPart = log.mid(secondStart);
  EXPECT_EQ(firstPart.filter(TableText(text::kNoDifferences)).size(), 1) << all.toStdString();
  EXPECT_TRUE(firstPart.filter(TableText(text::kDifferencesFound)).isEmpty()) << all.toStdString();
  EXPECT_TRUE(secondPart.contains(QStringLiteral("2 ") + TableText(text::kDifferencesFound))) << all.toStdString();
  for (uint32_t address : {0x0210u, 0x02FFu}) {
    char line[64];
    std::snprintf(line, sizeof line, " %05XH    %02XH       %02XH", address, first[address], second[address]);
    EXPECT_TRUE(secondPart.contains(QString::fromLatin1(line))) << line << "\n" << all.toStdString();
  }
}

TEST_F(WindowSystemTest, ErasingTheLastCodeBlockKeepsItsPreservedAreaAndTail) {
  Image initial(kFlashSize);
  for (size_t k = 0; k < initial.size(); ++k) initial[k] = static_cast<uint8_t>(k * 13 + 1);
  ASSERT_TRUE(WriteBytes(WorkFile("initial.bin"), std::string(initial.begin(), initial.end())));
  StartSim({"--emulators", "2", "--dump", "--image", WorkFile("initial.bin")});
  settings.values["TRGNAME"] = "KT51456";
  auto w = Open();
  ASSERT_TRUE(initialised && w->Plugged());
  const TargetGeometry& g = w->Geometry();
  ASSERT_GT(g.codeBlockCount, 0);
  ASSERT_GT(g.preservedSize, 0);
  // The last code block counted in erase blocks, and its preserved area:
  // P bytes ending T bytes below its end.
  const uint32_t lastBlock = g.codeBlockCount - 1u;
  const uint32_t blockEnd = g.codeBlockCount * kBlockSize;
  const uint32_t preservedEnd = blockEnd - g.reservedTailSize;
  const uint32_t preservedStart = preservedEnd - g.preservedSize;
  static_cast<QTreeWidget*>(w->Control(kEraseList))->topLevelItem(static_cast<int>(lastBlock))->setCheckState(
      0, Qt::Checked);
  Button(*w, kErase)->click();
  const QStringList log = LogLines(*w);
  EXPECT_TRUE(log.contains(TableText(text::kErasingCompleted))) << log.join(QStringLiteral("\n")).toStdString();
  w = nullptr;
  sim->stop();

  Image expected = initial;
  for (uint32_t a = lastBlock * kBlockSize; a < preservedStart; ++a) expected[a] = 0xFF;
  for (unsigned emulator : {0u, 1u}) {
    SCOPED_TRACE(emulator);
    const Image dump = Dump(emulator);
    EXPECT_TRUE(dump == expected) << FirstDifference(expected, dump);
  }
}

TEST_F(WindowSystemTest, ASecondTargetFailingMidWriteEndsWithErrorLinesNotSuccess) {
  StartSim({"--emulators", "2", "--emulator", std::string("1:fault=silent-after:") + kFaultFrame});
  settings.values["TRGNAME"] = "KT51456";
  ASSERT_TRUE(WriteBytes(WorkFile("big.hex"), HexFile({{0x0000, Pattern(0x9000, 2)}})));
  auto w = Open();
  ASSERT_TRUE(initialised && w->Plugged());
  ListFile(*w, WorkFile("big.hex"));
  Button(*w, kWrite)->click();
  const QStringList log = LogLines(*w);
  const QString all = log.join(QStringLiteral("\n"));
  EXPECT_FALSE(log.contains(TableText(text::kWritingCompleted))) << all.toStdString();
  EXPECT_FALSE(log.filter(QStringLiteral("Error: Target 2")).isEmpty()) << all.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("Error: ") + TableText(text::kWritingFailedOnOthers))) << all.toStdString();
  EXPECT_TRUE(Boxes().join(QStringLiteral("\n")).contains(TableText(text::kFailedTargetsList)))
      << Boxes().join(QStringLiteral(" | ")).toStdString();
}

}  // namespace
}  // namespace quarnel
