#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <set>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "base/NamedLock.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "ui/QuarnelDlg.h"
#include "testing/FakeApi.h"
#include "testing/MemorySettings.h"
#include "testing/ScriptedPrompter.h"
#include "ui/MainWindowControls.h"

namespace quarnel {
namespace {

using namespace ctl;
using testing::FakeApi;
using testing::MemorySettings;
using testing::ScriptedPrompter;

// Every control the layouts set; the log list (1024) is never disabled.
const std::set<int> kLaidOut = {kTargetList, kArbitraryData, kFileName, kBrowse, kAddToList, kFileList,
                                kStartAddress, kFlashOffset, kEndOnMemory, kEndByFileContent, kEndArbitrary,
                                kArbitraryAddress, kEraseList, kDeleteFromList, kWrite, kWriteCancel, kErase,
                                kSelectAll, kEraseCancel, kClearLog, kSaveLog, kVerify, kExit, kFillFlashContent,
                                kFillArbitrary, kEraseBeforeWrite, kNotFill, kAddTwoWords, kAbout,
                                kEndAddressOnMemory, kPlug};


class MainWindowTest : public ::testing::Test {
 protected:
  // One chip, KT51456, and its description.
  MainWindowTest() {
    api.AddDescription("KT51456", {{0x0000, 0x7FFF}, {0x10000, 0x1FFFF}}, 0x800);
    api.productIdWord = 0x01004560;
  }
  void SetUp() override {
    ASSERT_TRUE(runtimeDir.isValid());
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toUtf8());
    qputenv("QUARNEL_LOCK_DIR", runtimeDir.path().toUtf8());
  }

  // Opens the window; plugged means an emulator answers and the first
  // target is chosen in Select Target.
  std::unique_ptr<CQuarnelDlg> Open(bool plugged) {
    api.connectResult = plugged ? 1 : 0;
    if (plugged) prompter.targets.push_back(0);
    auto window = std::make_unique<CQuarnelDlg>(api, settings, prompter, QStringLiteral("1.00"));
    initialised = window->Initialise();
    return window;
  }

  static QAbstractButton* Button(CQuarnelDlg& w, int id) { return static_cast<QAbstractButton*>(w.Control(id)); }
  static QLineEdit* Edit(CQuarnelDlg& w, int id) { return static_cast<QLineEdit*>(w.Control(id)); }
  static QTreeWidget* Tree(CQuarnelDlg& w, int id) { return static_cast<QTreeWidget*>(w.Control(id)); }

  static void SetAll(CQuarnelDlg& w, bool enabled) {
    for (int id : kLaidOut) w.Control(id)->setEnabled(enabled);
  }
  static std::set<int> Enabled(CQuarnelDlg& w) {
    std::set<int> on;
    for (int id : kLaidOut)
      if (w.Control(id)->isEnabled()) on.insert(id);
    return on;
  }
  bool KorvoLockHeldElsewhere() {
    NamedLock probe(kKorvoLockName);
    return !probe.Acquire(std::chrono::milliseconds(0));
  }

  QTemporaryDir runtimeDir;
  FakeApi api;
  MemorySettings settings;
  ScriptedPrompter prompter;
  bool initialised = false;
};

// ------------------------------------------------------------- layouts

const std::set<int> kIdleAlways = {kTargetList, kFileName, kBrowse, kAbout, kStartAddress, kFlashOffset,
                                   kEndOnMemory, kEndByFileContent, kEndArbitrary, kEndAddressOnMemory, kFileList,
                                   kFillArbitrary, kFillFlashContent, kEraseList, kSelectAll, kClearLog, kSaveLog,
                                   kExit, kEraseBeforeWrite, kNotFill, kAddTwoWords, kPlug};

std::set<int> With(std::set<int> base, std::initializer_list<int> more) {
  base.insert(more);
  return base;
}

TEST_F(MainWindowTest, BusyLayoutsEnableExactlyTheirControls) {
  auto w = Open(true);
  struct Case {
    int mode;
    bool before;
    std::set<int> enabled;
  } cases[] = {
      {0, true, {kWriteCancel}},         {0, false, {kWriteCancel}},
      {1, true, {kEraseCancel}},         {1, false, {kEraseCancel}},
      {2, true, {kExit, kPlug, kAbout}},  // About keeps its state
      {2, false, {kExit, kPlug}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " from all " << (c.before ? "on" : "off"));
    SetAll(*w, c.before);
    w->Report(SessionEvent::Started(SessionEvent::kWriting, c.mode));
    EXPECT_EQ(Enabled(*w), c.enabled);
  }
}

TEST_F(MainWindowTest, IdleLayoutsFollowTheWindowsState) {
  auto w = Open(true);
  QTemporaryDir files;
  const QString hex = files.filePath(QStringLiteral("a.hex"));
  QFile out(hex);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(":0400000001020304F2\n:00000001FF\n");
  out.close();

  struct Case {
    const char* name;
    int mode;
    bool before;
    std::function<void(CQuarnelDlg&)> arrange;
    std::set<int> enabled;
  } cases[] = {
      {"after write", 0, false, {}, With(kIdleAlways, {kArbitraryData, kWrite, kVerify})},
      {"after erase, no files: write keeps off", 1, false, {}, With(kIdleAlways, {kArbitraryData})},
      {"after erase, no files: write keeps on", 1, true, {},
       With(kIdleAlways, {kArbitraryData, kWrite, kVerify, kDeleteFromList})},
      {"after plugging keeps write off", 2, false, {}, With(kIdleAlways, {kArbitraryData})},
      {"arbitrary end, flash fill, file name",
       2,
       false,
       [](CQuarnelDlg& w) {
         Button(w, kEndArbitrary)->click();
         Button(w, kFillFlashContent)->click();
         Edit(w, kFileName)->setText(QStringLiteral("x.hex"));
       },
       With(kIdleAlways, {kArbitraryAddress, kAddToList})},
      {"a ticked block enables Erase",
       2,
       false,
       [](CQuarnelDlg& w) { Tree(w, kEraseList)->topLevelItem(0)->setCheckState(0, Qt::Checked); },
       With(kIdleAlways, {kArbitraryData, kErase})},
      {"after erase with a listed file",
       1,
       false,
       [&hex](CQuarnelDlg& w) {
         Edit(w, kFileName)->setText(hex);
         Button(w, kAddToList)->click();
       },
       With(kIdleAlways, {kArbitraryData, kWrite, kVerify, kAddToList})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    w = nullptr;
    w = Open(true);
    if (c.arrange) c.arrange(*w);
    SetAll(*w, c.before);
    w->Report(SessionEvent::Ended(c.mode));
    EXPECT_EQ(Enabled(*w), c.enabled);
  }
}

// ------------------------------------------------------------- start-up

TEST_F(MainWindowTest, WithoutEmulatorOpensUnpluggedWithTheTargetsListed) {
  api.AddDescription("KT3888", {{0, 0xFFFF}}, 0x400);
  auto w = Open(false);
  EXPECT_TRUE(initialised);
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::Warning);
  EXPECT_EQ(prompter.shown[0].text, TableText(text::kNotConnected));
  EXPECT_FALSE(w->Plugged());
  EXPECT_EQ(Button(*w, kPlug)->text(), QStringLiteral("&Plug"));
  EXPECT_EQ(Enabled(*w), (std::set<int>{kExit, kPlug, kAbout}));
  auto* targets = static_cast<QComboBox*>(w->Control(kTargetList));
  ASSERT_EQ(targets->count(), 2);
  EXPECT_EQ(targets->itemText(0), QStringLiteral("KT51456"));
  EXPECT_EQ(targets->itemText(1), QStringLiteral("KT3888"));
  EXPECT_EQ(targets->currentIndex(), -1);
  // The first description was applied and remembered.
  EXPECT_EQ(settings.values["TRGNAME"], "KT51456");
  EXPECT_EQ(Edit(*w, kEndAddressOnMemory)->text(), QStringLiteral("1FFFFH"));
  EXPECT_EQ(Edit(*w, kArbitraryData)->text(), QStringLiteral("00FFH"));
  QTreeWidget* blocks = Tree(*w, kEraseList);
  ASSERT_EQ(blocks->topLevelItemCount(), 64);
  EXPECT_EQ(blocks->topLevelItem(0)->text(1), QStringLiteral("1"));
  EXPECT_EQ(blocks->topLevelItem(63)->text(2), QStringLiteral("1F800H"));
  EXPECT_EQ(blocks->topLevelItem(63)->text(3), QStringLiteral("1FFFFH"));
  EXPECT_EQ(blocks->topLevelItem(0)->text(4), QStringLiteral("             "));
  EXPECT_EQ(blocks->topLevelItem(16)->text(4), QStringLiteral("Not Available"));  // 08000H, between the areas
}

// One name in plain ASCII, one in UTF-8 and one in Latin-1 bytes: the
// target list and Select Target show each the same way.
TEST_F(MainWindowTest, TargetNamesReadTheSameInTheListAndInSelectTarget) {
  api.AddDescription("KT\xC3\xA9" "1", {{0, 0xFFFF}}, 0x400);
  api.AddDescription("KT\xE9" "2", {{0, 0xFFFF}}, 0x400);
  auto w = Open(true);
  const QStringList expected = {QStringLiteral("KT51456"), QStringLiteral("KT\u00E9" "1"), QStringLiteral("KT\u00E9" "2")};
  EXPECT_EQ(prompter.offeredTargets, expected);
  auto* targets = static_cast<QComboBox*>(w->Control(kTargetList));
  QStringList listed;
  for (int i = 0; i < targets->count(); ++i) listed << targets->itemText(i);
  EXPECT_EQ(listed, expected);
}

// Settings that cannot be stored are reported once, naming the file, however
// often the window writes them.
TEST_F(MainWindowTest, SettingsThatCannotBeSavedAreReportedOnce) {
  struct FailingSettings : MemorySettings {
    bool WriteText(const std::string&, const std::string&) override { return false; }
    bool WriteInt(const std::string&, int) override { return false; }
    bool WriteTexts(const std::vector<std::pair<std::string, std::string>>&) override { return false; }
    std::string Location() const override { return "/home/u/.config/Zentor/QUARNEL.conf"; }
  } failing;
  api.AddDescription("KT3888", {{0, 0xFFFF}}, 0x400);
  api.connectResult = 1;
  prompter.targets.push_back(0);
  CQuarnelDlg w(api, failing, prompter, QStringLiteral("1.00"));
  ASSERT_TRUE(w.Initialise());
  static_cast<QComboBox*>(w.Control(kTargetList))->setCurrentIndex(1);
  Button(w, kPlug)->click();  // unplugging remembers the target again
  std::vector<QString> stops;
  for (const auto& box : prompter.shown)
    if (box.style == MessageStyle::Stop) stops.push_back(box.text);
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_TRUE(stops[0].contains(QStringLiteral("/home/u/.config/Zentor/QUARNEL.conf"))) << stops[0].toStdString();
}

// The window opens whole on a 1024x768 screen; made larger, the file list and
// the log take the height and the file name the width.
TEST_F(MainWindowTest, TheWindowFitsASmallScreenAndGivesALargeOneToTheLists) {
  auto w = Open(true);
  const QSize hint = w->sizeHint();
  const QSize smallest = w->minimumSizeHint();
  EXPECT_LE(hint.width(), 1024);
  EXPECT_LE(hint.height(), 700);
  EXPECT_LE(smallest.width(), 1024);
  EXPECT_LE(smallest.height(), 700);

  const int fixedIds[] = {kFileName, kStartAddress, kFlashOffset, kWrite, kVerify, kEraseBeforeWrite, kExit,
                          kSaveLog, kTargetList};
  auto heights = [&] {
    std::map<int, int> h;
    for (int id : fixedIds) h[id] = w->Control(id)->height();
    return h;
  };
  w->show();
  QApplication::processEvents();
  w->resize(smallest);
  QApplication::processEvents();
  ASSERT_EQ(w->size(), smallest);
  const int fileListSmall = w->Control(kFileList)->height();
  const int logSmall = w->Control(kLogList)->height();
  const int fileNameSmall = w->Control(kFileName)->width();
  const int fileColumnSmall = Tree(*w, kFileList)->columnWidth(0);
  EXPECT_GE(fileColumnSmall,
            QFontMetrics(Tree(*w, kFileList)->font()).horizontalAdvance(TableText(text::kFileNameColumn)) + 220);
  const std::map<int, int> small = heights();

  w->resize(1400, 1000);
  QApplication::processEvents();
  ASSERT_EQ(w->size(), QSize(1400, 1000));
  const int grown = 1000 - smallest.height();
  EXPECT_GE(w->Control(kFileList)->height(), fileListSmall + grown * 2 / 5);
  EXPECT_GE(w->Control(kLogList)->height(), logSmall + grown * 2 / 5);
  EXPECT_EQ(heights(), small);
  EXPECT_EQ(w->Control(kEraseList)->height(), w->Control(kEraseList)->sizeHint().height());
  const int widened = 1400 - smallest.width();
  EXPECT_GE(w->Control(kFileName)->width(), fileNameSmall + widened * 3 / 4);
  EXPECT_GE(Tree(*w, kFileList)->columnWidth(0), fileColumnSmall + widened * 3 / 4);
}

TEST_F(MainWindowTest, MissingOrUnreadableDescriptionsEndTheProgram) {
  struct Case {
    bool returnSet;
    int extraFiles;
    int stopText;
    bool runs;
  } cases[] = {{false, 0, text::kNoTrgFiles, false}, {false, 2, text::kNoTrgRead, false}, {true, 1, 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stopText);
    prompter.shown.clear();
    api.returnSet = c.returnSet;
    api.descriptions.resize(c.returnSet ? 1 : 0);
    api.filesFoundExtra = c.extraFiles;
    auto w = Open(true);
    EXPECT_EQ(initialised, c.runs);
    if (c.runs) {
      ASSERT_EQ(prompter.shown.size(), 1u);
      EXPECT_EQ(prompter.shown[0].style, MessageStyle::Warning);
      EXPECT_EQ(prompter.shown[0].text, TableText(text::kTrgSkipped));
      EXPECT_TRUE(w->Plugged());
    } else {
      ASSERT_EQ(prompter.shown.size(), 1u);
      EXPECT_EQ(prompter.shown[0].style, MessageStyle::Stop);
      EXPECT_EQ(prompter.shown[0].text, TableText(c.stopText));
      EXPECT_FALSE(KorvoLockHeldElsewhere());
    }
  }
}

TEST_F(MainWindowTest, PluggedStartHoldsTheKorvoLockAndLeavesTheOperationsOff) {
  auto w = Open(true);
  EXPECT_TRUE(initialised);
  EXPECT_TRUE(prompter.shown.empty());
  EXPECT_TRUE(w->Plugged());
  EXPECT_TRUE(KorvoLockHeldElsewhere());
  EXPECT_EQ(settings.values["TRGNAME"], "KT51456");
  EXPECT_EQ(static_cast<QComboBox*>(w->Control(kTargetList))->currentIndex(), 0);
  for (int id : {kWrite, kVerify, kWriteCancel, kDeleteFromList, kErase, kEraseCancel, kArbitraryAddress,
                 kAddToList, kSaveLog, kClearLog})
    EXPECT_FALSE(w->Control(id)->isEnabled()) << id;
  EXPECT_EQ(w->Buffers().WriteImage().size(), 0x20000u);
}

TEST_F(MainWindowTest, KorvoLockHeldElsewhereOpensUnpluggedAfterTheWait) {
  NamedLock other(kKorvoLockName);
  ASSERT_TRUE(other.Acquire(std::chrono::milliseconds(0)));
  QElapsedTimer timer;
  timer.start();
  auto w = Open(true);
  EXPECT_GE(timer.elapsed(), kKorvoLockWait.count() - 50);
  EXPECT_TRUE(initialised);
  ASSERT_FALSE(prompter.shown.empty());
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::Stop);
  EXPECT_EQ(prompter.shown[0].text, TableText(text::kLockNotObtained));
  EXPECT_FALSE(w->Plugged());
  EXPECT_EQ(Enabled(*w), (std::set<int>{kExit, kPlug, kAbout}));
}

TEST_F(MainWindowTest, PlugButtonPlugsAndUnplugsWithItsQuestion) {
  auto w = Open(false);
  ASSERT_FALSE(w->Plugged());
  settings.values["TRGNAME"] = "KT3888";  // no longer described: the selection stays
  api.connectResult = 1;
  prompter.shown.clear();
  Button(*w, kPlug)->click();
  EXPECT_TRUE(prompter.shown.empty());
  EXPECT_TRUE(w->Plugged());
  EXPECT_EQ(Button(*w, kPlug)->text(), QStringLiteral("Un&plug"));
  EXPECT_TRUE(KorvoLockHeldElsewhere());
  EXPECT_EQ(static_cast<QComboBox*>(w->Control(kTargetList))->currentIndex(), 0);
  EXPECT_TRUE(w->Control(kTargetList)->isEnabled());
  EXPECT_FALSE(w->Control(kWrite)->isEnabled());  // no files listed
  EXPECT_EQ(w->Buffers().WriteImage().size(), 0x20000u);

  prompter.answers.push_back(false);
  Button(*w, kPlug)->click();
  EXPECT_TRUE(w->Plugged());
  api.resets = 0;
  Button(*w, kPlug)->click();
  ASSERT_EQ(prompter.shown.size(), 2u);
  EXPECT_EQ(prompter.shown[1].text, TableText(text::kUnplugQuestion));
  EXPECT_FALSE(w->Plugged());
  EXPECT_EQ(api.resets, 1);
  EXPECT_FALSE(KorvoLockHeldElsewhere());
  EXPECT_EQ(Button(*w, kPlug)->text(), QStringLiteral("&Plug"));
}

TEST_F(MainWindowTest, AFailedPlugNamesTheChipThenOffersTheTargetsAgain) {
  api.AddDescription("KT3888", {{0, 0xFFFF}}, 0x400);
  auto w = Open(false);
  api.connectResult = 1;
  api.plugStatus = 0x2002;
  prompter.shown.clear();
  prompter.targets = {1, 1, std::nullopt};  // the chip never matches; Exit ends the program
  w->show();
  Button(*w, kPlug)->click();
  ASSERT_GE(prompter.shown.size(), 3u);
  EXPECT_EQ(prompter.shown[0].text, QStringLiteral("The target LSI has changed to KT51456."));
  EXPECT_EQ(prompter.shown[1].text, TableText(text::kTargetMismatch));
  EXPECT_EQ(settings.values["TRGNAME"], "KT3888");
  EXPECT_EQ(api.pluggedNames, (std::vector<std::string>{"KT51456", "KT3888", "KT3888"}));
  EXPECT_FALSE(w->isVisible());  // Exit in Select Target quits
  EXPECT_FALSE(KorvoLockHeldElsewhere());
}

// ------------------------------------------------------ status messages

TEST_F(MainWindowTest, ReportStatusShowsTheMessageAndUnplugsOnFatalCodes) {
  struct Case {
    int status;
    int textId;
    bool unplugs;
    bool resets;
  } cases[] = {
      {0x6301, 2050, false, false},  // unlisted: the 0xFFFF message, but not fatal
      {0xFFFF, 2050, true, true},    {0x6300, 149, false, false}, {0x6302, 137, true, true},
      {0x5005, 2039, true, false},   {0x5000, 2035, true, false}, {1, 141, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.status);
    prompter.shown.clear();
    auto w = Open(true);
    ASSERT_TRUE(w->Plugged());
    api.resets = 0;
    w->ReportStatus(c.status);
    ASSERT_FALSE(prompter.shown.empty());
    EXPECT_EQ(prompter.shown[0].style, MessageStyle::Stop);
    EXPECT_EQ(prompter.shown[0].text, TableText(c.textId));
    EXPECT_EQ(w->Plugged(), !c.unplugs);
    EXPECT_EQ(api.resets, c.resets ? 1 : 0);
    EXPECT_EQ(KorvoLockHeldElsewhere(), !c.unplugs);
    EXPECT_EQ(Button(*w, kPlug)->text(), c.unplugs ? QStringLiteral("&Plug") : QStringLiteral("Un&plug"));
    api.statuses[0] = 0;
  }
}

TEST_F(MainWindowTest, ReportStatusWithTextAppendsTheText) {
  auto w = Open(true);
  w->ReportStatusWithText(0x2000, "KT51456.");
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].text, QStringLiteral("The target LSI has changed to KT51456."));
  EXPECT_TRUE(w->Plugged());
}

// ------------------------------------------------------------ handlers

TEST(FillValueText, PutsAZeroBeforeALeadingLetter) {
  EXPECT_EQ(CQuarnelDlg::FillValueText(0xFF), QStringLiteral("00FFH"));
  EXPECT_EQ(CQuarnelDlg::FillValueText(0xABCD), QStringLiteral("0ABCDH"));
  EXPECT_EQ(CQuarnelDlg::FillValueText(0x1234), QStringLiteral("1234H"));
  EXPECT_EQ(CQuarnelDlg::FillValueText(0xF000), QStringLiteral("0F000H"));
  EXPECT_EQ(CQuarnelDlg::FillValueText(0), QStringLiteral("0000H"));
}

TEST(ListFontFace, JapaneseUsersGetTheGothicFaceOthersCourier) {
  EXPECT_EQ(MainWindowControls::ListFontFace(QLocale(QLocale::Japanese, QLocale::Japan).nativeLanguageName()),
            QStringLiteral("ＭＳ ゴシック"));
  for (const QLocale::Language language : {QLocale::English, QLocale::German, QLocale::Chinese}) {
    EXPECT_EQ(MainWindowControls::ListFontFace(QLocale(language).nativeLanguageName()), QStringLiteral("Courier New"));
  }
  // Only the first 20 characters of the name are read.
  EXPECT_EQ(MainWindowControls::ListFontFace(QString(17, u'x') + QStringLiteral("日本語")), QStringLiteral("ＭＳ ゴシック"));
  EXPECT_EQ(MainWindowControls::ListFontFace(QString(18, u'x') + QStringLiteral("日本語")), QStringLiteral("Courier New"));
}

TEST_F(MainWindowTest, EnterAndEscNeitherCloseNorStartAnything) {
  auto w = Open(true);
  w->Control(kWrite)->setEnabled(true);
  w->show();
  ASSERT_TRUE(w->isVisible());
  w->Control(kWrite)->setFocus();
  for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    SCOPED_TRACE(key);
    for (QWidget* target : {w->Control(kWrite), w->Control(kFileName), static_cast<QWidget*>(w.get())}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
      QApplication::sendEvent(target, &press);
      QApplication::sendEvent(target, &release);
    }
    QApplication::processEvents();
    EXPECT_TRUE(w->isVisible());
  }
  EXPECT_TRUE(prompter.shown.empty());
  // The button itself still starts Write & Check, which asks first.
  prompter.answers.push_back(false);
  Button(*w, kWrite)->click();
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::Question);
  EXPECT_EQ(w->Log().rowCount(), 0);
}

TEST_F(MainWindowTest, BrowseAppliesTheExtensionRule) {
  auto w = Open(true);
  struct Case {
    const char* chosen;
    const char* shown;
  } cases[] = {{"/d/run1", "/d/run1.hex"},
               {"/d/run1.", "/d/run1.hex"},
               {"/d/run1.s", "/d/run1.s"},
               {"/d/v1.2/run1", "/d/v1.2/run1.hex"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    Edit(*w, kFileName)->clear();
    w->Control(kAddToList)->setEnabled(false);
    prompter.files.push_back(QString::fromUtf8(c.chosen));
    Button(*w, kBrowse)->click();
    EXPECT_EQ(Edit(*w, kFileName)->text(), QString::fromUtf8(c.shown));
    EXPECT_TRUE(w->Control(kAddToList)->isEnabled());
  }
  EXPECT_EQ(prompter.lastFilter, TableText(text::kObjectFileFilter));
  Edit(*w, kFileName)->setText(QStringLiteral("kept"));
  Button(*w, kBrowse)->click();  // Cancel
  EXPECT_EQ(Edit(*w, kFileName)->text(), QStringLiteral("kept"));
}

TEST_F(MainWindowTest, FileListControlsAddRowsOrPointAtTheFieldToCorrect) {
  auto w = Open(true);
  QTemporaryDir dir;
  const QString hex = dir.filePath(QStringLiteral("a.hex"));
  QFile out(hex);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(":0400100001020304E2\n:00000001FF\n");
  out.close();

  Edit(*w, kFileName)->setText(hex);
  EXPECT_TRUE(w->Control(kAddToList)->isEnabled());
  Edit(*w, kFlashOffset)->setText(QStringLiteral("x100"));
  Button(*w, kAddToList)->click();
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::Stop);
  EXPECT_EQ(prompter.shown[0].text, TableText(text::kIllegalOffset));
  EXPECT_EQ(w->focusWidget(), w->Control(kFlashOffset));
  EXPECT_EQ(Tree(*w, kFileList)->topLevelItemCount(), 0);

  Edit(*w, kFlashOffset)->setText(QStringLiteral("+100"));
  Button(*w, kEndByFileContent)->click();
  Button(*w, kAddToList)->click();
  ASSERT_EQ(Tree(*w, kFileList)->topLevelItemCount(), 1);
  QTreeWidgetItem* row = Tree(*w, kFileList)->topLevelItem(0);
  const QStringList expected = {hex, QStringLiteral("00010H"), QStringLiteral("00013H"), QStringLiteral("+00100H"),
                                QStringLiteral("00110H")};
  for (int c = 0; c < 5; ++c) EXPECT_EQ(row->text(c), expected[c]) << c;
  EXPECT_TRUE(w->Control(kWrite)->isEnabled());
  EXPECT_TRUE(w->Control(kVerify)->isEnabled());

  // The same window again overlaps the listed row.
  Button(*w, kAddToList)->click();
  EXPECT_EQ(prompter.shown.back().text, TableText(text::kDuplicateWithListed));
  EXPECT_EQ(Tree(*w, kFileList)->topLevelItemCount(), 1);

  Tree(*w, kFileList)->setCurrentItem(row);
  Button(*w, kDeleteFromList)->setEnabled(true);
  Button(*w, kDeleteFromList)->click();
  EXPECT_EQ(Tree(*w, kFileList)->topLevelItemCount(), 0);
  EXPECT_FALSE(w->Control(kWrite)->isEnabled());
  EXPECT_FALSE(w->Control(kVerify)->isEnabled());
  EXPECT_FALSE(w->Control(kDeleteFromList)->isEnabled());
}

TEST_F(MainWindowTest, CancelButtonsAskByBusyKindAndSetTheRequest) {
  auto w = Open(true);
  struct Case {
    int button;
    int busyKind;
    int question;  // 0: no question
  } cases[] = {{kWriteCancel, SessionEvent::kWriting, text::kCancelWriting},
               {kWriteCancel, SessionEvent::kVerifying, text::kCancelVerification},
               {kWriteCancel, SessionEvent::kErasing, text::kCancelErasure},
               {kEraseCancel, SessionEvent::kErasing, text::kCancelErasure},
               {kEraseCancel, SessionEvent::kWriting, 0}};
  for (const Case& c : cases) {
    for (bool ok : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.button << " kind " << c.busyKind << " ok " << ok);
      prompter.shown.clear();
      w->ClearCancelRequest();
      w->Report(SessionEvent::Started(c.busyKind, c.button == kWriteCancel ? 0 : 1));
      prompter.answers.push_back(ok);
      Button(*w, c.button)->click();
      prompter.answers.clear();
      if (c.question == 0) {
        EXPECT_TRUE(prompter.shown.empty());
        EXPECT_FALSE(w->CancelRequested());
      } else {
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].style, MessageStyle::Question);
        EXPECT_EQ(prompter.shown[0].text, TableText(c.question));
        EXPECT_EQ(w->CancelRequested(), ok);
      }
    }
  }
}

TEST_F(MainWindowTest, EraseTicksFollowAvailabilityAndSelectAllToggles) {
  auto w = Open(true);
  QTreeWidget* list = Tree(*w, kEraseList);
  list->topLevelItem(16)->setCheckState(0, Qt::Checked);  // Not Available
  EXPECT_EQ(list->topLevelItem(16)->checkState(0), Qt::Unchecked);
  EXPECT_FALSE(w->Control(kErase)->isEnabled());
  list->topLevelItem(3)->setCheckState(0, Qt::Checked);
  EXPECT_TRUE(w->EraseBlocks()[3].selected);
  EXPECT_TRUE(w->Control(kErase)->isEnabled());

  Button(*w, kSelectAll)->click();
  int ticked = 0;
  for (int row = 0; row < list->topLevelItemCount(); ++row)
    ticked += list->topLevelItem(row)->checkState(0) == Qt::Checked;
  EXPECT_EQ(ticked, 48);  // 16 blocks between the areas are not available
  EXPECT_TRUE(w->Control(kErase)->isEnabled());
  Button(*w, kSelectAll)->click();
  for (const EraseBlock& block : w->EraseBlocks()) EXPECT_FALSE(block.selected);
  EXPECT_FALSE(w->Control(kErase)->isEnabled());
}

// ----------------------------------------------------- exit and close

TEST_F(MainWindowTest, ExitAsksThenResetsAndReleasesTheLock) {
  auto w = Open(true);
  w->show();
  prompter.answers.push_back(false);
  Button(*w, kExit)->click();
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(api.resets, 0);
  EXPECT_TRUE(KorvoLockHeldElsewhere());

  Button(*w, kExit)->click();
  ASSERT_EQ(prompter.shown.size(), 2u);
  EXPECT_EQ(prompter.shown[1].text, TableText(text::kExitQuestion));
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(w->result(), QDialog::Accepted);
  EXPECT_EQ(api.resets, 1);
  EXPECT_FALSE(KorvoLockHeldElsewhere());
  // The destroy sequence returns the descriptions; the emulators, let go
  // with the lock, are not reset a second time.
  w = nullptr;
  EXPECT_EQ(api.resets, 1);
  EXPECT_TRUE(api.released);
}

TEST_F(MainWindowTest, CloseIsIgnoredWhileAnOperationRuns) {
  auto w = Open(true);
  w->show();
  w->Report(SessionEvent::Started(SessionEvent::kWriting, SessionEvent::kWriteVerifyMode));
  EXPECT_FALSE(w->close());
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(prompter.shown.empty());
  w->Report(SessionEvent::Ended(SessionEvent::kWriteVerifyMode));
  EXPECT_TRUE(w->close());
  EXPECT_EQ(prompter.shown.size(), 1u);
  EXPECT_FALSE(w->isVisible());
}

// ---------------------------------------------------------------- log

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

TEST_F(MainWindowTest, LogAddsClearsAndSavesExactBytes) {
  auto w = Open(true);
  QTemporaryDir dir;
  EXPECT_FALSE(w->Control(kSaveLog)->isEnabled());

  prompter.files.push_back(dir.filePath(QStringLiteral("empty")));
  w->Control(kSaveLog)->setEnabled(true);
  Button(*w, kSaveLog)->click();
  EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("empty.log"))), QByteArray());

  w->AddLogLine(SessionEvent::kNormalLine, "Writing  a.hex");
  w->AddLogLine(SessionEvent::kErrorLine, "00010H 12 34");
  EXPECT_TRUE(w->Control(kSaveLog)->isEnabled());
  EXPECT_TRUE(w->Control(kClearLog)->isEnabled());
  ASSERT_EQ(w->Log().rowCount(), 2);
  EXPECT_EQ(w->Log().Line(1), QStringLiteral("Error: 00010H 12 34"));

  const QByteArray expected("Writing  a.hex\r\nError: 00010H 12 34\r\n");
  for (const char* name : {"run1", "run2.", "run3.txt"}) {
    prompter.files.push_back(dir.filePath(QString::fromUtf8(name)));
    Button(*w, kSaveLog)->click();
  }
  EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("run1.log"))), expected);
  EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("run2.log"))), expected);
  EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("run3.txt"))), expected);
  EXPECT_EQ(prompter.lastFilter, TableText(text::kLogFileFilter));
  EXPECT_EQ(prompter.lastSuffix, QStringLiteral("log"));

  // "run2." names the existing run2.log, which the dialog did not ask about.
  {
    QFile old(dir.filePath(QStringLiteral("run2.log")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old\r\n");
  }
  prompter.shown.clear();
  prompter.answers = {false, true};
  for (const QByteArray& afterwards : {QByteArray("old\r\n"), expected}) {
    prompter.files.push_back(dir.filePath(QStringLiteral("run2.")));
    Button(*w, kSaveLog)->click();
    EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("run2.log"))), afterwards);
  }
  ASSERT_EQ(prompter.shown.size(), 2u);
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::YesNoQuestion);
  EXPECT_TRUE(prompter.shown[0].text.contains(dir.filePath(QStringLiteral("run2.log"))));

  // A line added during an operation leaves the buttons to the layouts.
  w->Report(SessionEvent::Started(SessionEvent::kWriting, SessionEvent::kWriteVerifyMode));
  w->AddLogLine(SessionEvent::kNormalLine, "busy");
  EXPECT_FALSE(w->Control(kSaveLog)->isEnabled());
  w->Report(SessionEvent::Ended(SessionEvent::kWriteVerifyMode));

  prompter.shown.clear();
  prompter.answers.push_back(false);
  Button(*w, kClearLog)->click();
  EXPECT_EQ(w->Log().rowCount(), 3);
  Button(*w, kClearLog)->click();
  EXPECT_EQ(w->Log().rowCount(), 0);
  ASSERT_EQ(prompter.shown.size(), 2u);
  EXPECT_EQ(prompter.shown[1].text, TableText(text::kClearLogQuestion));
  EXPECT_FALSE(w->Control(kSaveLog)->isEnabled());
  EXPECT_FALSE(w->Control(kClearLog)->isEnabled());

  w->Control(kClearLog)->setEnabled(true);
  Button(*w, kClearLog)->click();  // empty: no question
  EXPECT_EQ(prompter.shown.size(), 2u);
}

TEST_F(MainWindowTest, TheLastLogLineComesIntoView) {
  auto w = Open(true);
  w->show();
  for (int i = 0; i < 500; ++i) w->AddLogLine(SessionEvent::kNormalLine, "line " + std::to_string(i));
  w->DrainEvents();
  auto* view = static_cast<QListView*>(w->Control(kLogList));
  const QRect last = view->visualRect(view->model()->index(499, 0));
  EXPECT_TRUE(view->viewport()->rect().intersects(last));
  EXPECT_FALSE(view->viewport()->rect().intersects(view->visualRect(view->model()->index(0, 0))));
}

TEST_F(MainWindowTest, FailedSaveKeepsTheOldFileAndSaysSo) {
  auto w = Open(true);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("kept.log"));
  {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old log\r\n");
  }
  for (int i = 0; i < 20000; ++i)
    w->AddLogLine(SessionEvent::kNormalLine, "0123456789ABCDEF line " + std::to_string(i));

  // Files may not grow beyond 64 KiB: the save runs out of room half-way.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  prompter.files.push_back(path);
  Button(*w, kSaveLog)->click();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(FileBytes(path), QByteArray("old log\r\n"));
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::Stop);
  EXPECT_EQ(prompter.shown[0].text, path + QStringLiteral(" could not be saved."));
  EXPECT_EQ(w->Log().rowCount(), 20000);
}

// In a folder that takes no new files the safe save, which writes a new file
// beside the old one, cannot work; the log is then written over the old file.
// Root may make files anywhere, so as root the save runs in a child process
// that has become "nobody".
TEST_F(MainWindowTest, SaveIntoAFolderThatTakesNoNewFilesWritesOverTheFile) {
  auto w = Open(true);
  w->AddLogLine(SessionEvent::kNormalLine, "Writing  a.hex");
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("kept.log"));
  {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older and longer log\r\n");
  }
  constexpr uid_t kNobody = 65534;
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
  prompter.files.push_back(path);
  if (!root) {
    Button(*w, kSaveLog)->click();
    EXPECT_TRUE(prompter.shown.empty());
  } else {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
      Button(*w, kSaveLog)->click();
      _exit(prompter.shown.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) {
      chmod(QFile::encodeName(dir.path()).constData(), 0700);
      GTEST_SKIP() << "cannot run as nobody, and root writes into any folder";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported a failure";
  }
  chmod(QFile::encodeName(dir.path()).constData(), 0700);
  EXPECT_EQ(FileBytes(path), QByteArray("Writing  a.hex\r\n"));
}

// ------------------------------------------------------------ controls

TEST_F(MainWindowTest, ControlsCarryTheirIdentifiersAndCaptions) {
  auto w = Open(false);
  EXPECT_EQ(w->windowTitle(), QStringLiteral("QUARNEL"));
  const std::pair<int, const char*> captions[] = {
      {kPlug, "&Plug"},
      {kAbout, "Abo&ut"},
      {kBrowse, "..."},
      {kEndOnMemory, "End Address on Memor&y"},
      {kEndByFileContent, "Depends on File Content"},
      {kEndArbitrary, "Arbitrary Address"},
      {kAddToList, "&Add to List"},
      {kDeleteFromList, "&Delete from List"},
      {kFillArbitrary, "Arb&itrary Data"},
      {kFillFlashContent, "Content of Flas&h Memory"},
      {kEraseBeforeWrite, "Erase Flash Memory &before Write"},
      {kNotFill, "&Not Fill the Area excluding Files"},
      {kAddTwoWords, "Add &2 Word Data after Files"},
      {kVerify, "&Verify"},
      {kWrite, "&Write\n&&\nCheck"},
      {kWriteCancel, "Cancel"},
      {kSelectAll, "Se&lect All"},
      {kErase, "&Erase"},
      {kEraseCancel, "Cancel"},
      {kSaveLog, "&Save Log"},
      {kClearLog, "Clear Lo&g"},
      {kExit, "E&xit"},
  };
  for (const auto& [id, caption] : captions) {
    SCOPED_TRACE(id);
    auto* button = w->findChild<QAbstractButton*>(QString::fromStdString(ControlObjectName(id)));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QString::fromUtf8(caption));
  }
  EXPECT_TRUE(Button(*w, kEraseBeforeWrite)->isChecked());
  EXPECT_FALSE(Button(*w, kNotFill)->isChecked());
  EXPECT_TRUE(Button(*w, kAddTwoWords)->isChecked());
  EXPECT_TRUE(Button(*w, kEndOnMemory)->isChecked());
  EXPECT_TRUE(Button(*w, kFillArbitrary)->isChecked());
  QTreeWidget* files = Tree(*w, kFileList);
  ASSERT_EQ(files->columnCount(), 5);
  const QStringList fileTitles = {TableText(text::kFileNameColumn), TableText(text::kStartAddressColumn),
                                  TableText(text::kEndAddressColumn), TableText(text::kOffsetColumn),
                                  TableText(text::kFlashStartColumn)};
  for (int c = 0; c < 5; ++c) EXPECT_EQ(files->headerItem()->text(c), fileTitles[c]);
}

}  // namespace
}  // namespace quarnel
