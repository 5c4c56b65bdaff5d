#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

#include "SimProcess.h"
#include "app/QtSettingsStore.h"
#include "app/QuarnelApp.h"
#include "base/ControlIds.h"
#include "base/StringTable.h"
#include "ui/QuarnelDlg.h"
#include "testing/MemorySettings.h"
#include "testing/ScriptedPrompter.h"

namespace quarnel {
namespace {

using testing::ScriptedPrompter;

std::string FakeLibrary(const char* absent) {
  return std::string(FAKE_VESTRA_DIR) + "/without-" + absent + "/libvestra.so";
}

TEST(LibraryBinding, MissingLibraryShowsItsNameAndNotFound) {
  ScriptedPrompter prompter;
  CQuarnelApp app(prompter, QStringLiteral("1.00"));
  EXPECT_FALSE(app.LoadLibrary("/nonexistent/libvestra.so"));
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::Plain);
  EXPECT_EQ(prompter.shown[0].text, QStringLiteral("libvestra.so not found."));
}

TEST(LibraryBinding, ALibraryLackingOneExportIsInvalid) {
  // ReadHEX is never called, yet its absence refuses the library; an early
  // name missing stops the look-ups there.
  for (const char* absent : {"ReadHEX", "ApiCreateConnectOne"}) {
    SCOPED_TRACE(absent);
    ScriptedPrompter prompter;
    CQuarnelApp app(prompter, QStringLiteral("1.00"));
    std::string missing;
    EXPECT_FALSE(app.LoadLibrary(FakeLibrary(absent), &missing));
    EXPECT_EQ(missing, absent);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].style, MessageStyle::Plain);
    EXPECT_EQ(prompter.shown[0].text, QStringLiteral("Invalid libvestra.so"));
    EXPECT_NE(app.Table().ApiCreateConnect, nullptr);
    if (std::string(absent) == "ApiCreateConnectOne") {
      EXPECT_EQ(app.Table().ApiDelConnect, nullptr);
    }
  }
}

TEST(LibraryBinding, TheRealLibraryBindsByPlainName) {
  ScriptedPrompter prompter;
  CQuarnelApp app(prompter, QStringLiteral("1.00"));
  ASSERT_TRUE(app.LoadLibrary("libvestra.so"));
  EXPECT_NE(app.Table().ReadHEX, nullptr);
  EXPECT_TRUE(prompter.shown.empty());
}

// The real window over the real library, against two simulated emulators
// whose chips are not the remembered target.
TEST(RealLibrary, WindowPlugsTheSimulatedEmulatorsAfterChoosingTheirChip) {
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  qputenv("QUARNEL_LOCK_DIR", runtime.path().toUtf8());
  korvo::testing::SimProcess sim({"--trg", korvo::testing::SimProcess::sampleTrg("KT51456"), "--emulators", "2"});
  ASSERT_TRUE(sim.start());
  qputenv("KORVO_SIM_DIR", QByteArray::fromStdString(sim.dir()));

  ScriptedPrompter prompter;
  prompter.targetByName = QStringLiteral("KT51456");
  testing::MemorySettings settings;
  settings.values["TRGNAME"] = "KT3888";
  CQuarnelApp app(prompter, QStringLiteral("1.00"));
  ASSERT_TRUE(app.LoadLibrary("libvestra.so"));
  const ApiTable windowTable = app.Table();
  GuardedApiTable api(windowTable);
  {
    CQuarnelDlg window(api, settings, prompter, QStringLiteral("1.00"));
    ASSERT_TRUE(window.Initialise());
    QStringList texts;
    for (const auto& shown : prompter.shown) texts << shown.text;
    EXPECT_EQ(texts, (QStringList{QStringLiteral("The target LSI has changed to KT51456.")}));
    EXPECT_TRUE(window.Plugged());
    EXPECT_EQ(settings.values["TRGNAME"], "KT51456");
    auto* targets = static_cast<QComboBox*>(window.Control(ctl::kTargetList));
    EXPECT_EQ(targets->currentText(), QStringLiteral("KT51456"));
    const TargetGeometry& geometry = window.Geometry();
    ASSERT_GT(geometry.eraseBlockSize, 0u);
    EXPECT_EQ(static_cast<QTreeWidget*>(window.Control(ctl::kEraseList))->topLevelItemCount(),
              static_cast<int>(geometry.flashHigh / geometry.eraseBlockSize + 1));
    EXPECT_EQ(static_cast<QLineEdit*>(window.Control(ctl::kEndAddressOnMemory))->text(),
              QStringLiteral("%1H").arg(geometry.flashHigh, 0, 16).toUpper());
    EXPECT_FALSE(window.Control(ctl::kWrite)->isEnabled());
    EXPECT_TRUE(window.Control(ctl::kTargetList)->isEnabled());
    EXPECT_EQ(api.Status(), 0);
  }
  qunsetenv("KORVO_SIM_DIR");
}

TEST(Settings, FileIsOwnerOnlyWhateverTheUmask) {
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  const mode_t previous = umask(000);
  {
    QtSettingsStore store;
    EXPECT_TRUE(store.WriteText("SECUREID", "0123456789AB"));
    EXPECT_TRUE(store.WriteInt("SECUREIDSIZE", 6));
    EXPECT_EQ(store.ReadText("SECUREID").value_or(""), "0123456789AB");
    EXPECT_EQ(store.ReadInt("SECUREIDSIZE", 0), 6);
    EXPECT_FALSE(store.ReadText("TRGNAME").has_value());
    EXPECT_EQ(store.ReadInt("TRGNAME", 7), 7);
    EXPECT_TRUE(store.FileName().startsWith(config.path() + QStringLiteral("/Zentor/")));
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(store.FileName()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }
  umask(previous);
  QtSettingsStore reopened;
  EXPECT_EQ(reopened.ReadText("SECUREID").value_or(""), "0123456789AB");
}

TEST(SingleCopy, ASecondCopyRaisesTheFirstAndExitsQuietly) {
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  SingleInstance first;
  ASSERT_TRUE(first.Claim());
  int raised = 0;
  first.OnRaiseRequest([&raised] { ++raised; });

  QProcess second;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  second.setProcessEnvironment(environment);
  second.start(QStringLiteral(QUARNEL_PROGRAM), {});
  ASSERT_TRUE(second.waitForStarted());
  // This process plays the running copy, so it keeps its event loop going.
  QElapsedTimer timer;
  timer.start();
  while (second.state() != QProcess::NotRunning && timer.elapsed() < 15000) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  ASSERT_EQ(second.state(), QProcess::NotRunning);
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(raised, 1);
  EXPECT_TRUE(second.readAllStandardOutput().isEmpty());

  SingleInstance third;
  EXPECT_FALSE(third.Claim());
}

// Only a lock held by a running copy means "already running": a lock file
// that cannot be opened stops the start with a box that says which and why.
TEST(SingleCopy, ALockFileThatCannotBeOpenedStopsWithItsReason) {
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  ASSERT_TRUE(QDir(runtime.path()).mkdir(QStringLiteral("QUARNEL.lock")));
  ScriptedPrompter prompter;
  CQuarnelApp app(prompter, QStringLiteral("1.00"));
  EXPECT_EQ(app.Run(), 1);
  ASSERT_EQ(prompter.shown.size(), 1u);
  EXPECT_EQ(prompter.shown[0].style, MessageStyle::Stop);
  EXPECT_TRUE(prompter.shown[0].text.contains(runtime.filePath(QStringLiteral("QUARNEL.lock")) +
                                              QStringLiteral(" cannot be used: Is a directory")))
      << prompter.shown[0].text.toStdString();
}

}  // namespace
}  // namespace quarnel
