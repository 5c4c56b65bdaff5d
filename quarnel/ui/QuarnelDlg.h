#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <vector>

#include <QDialog>
#include <QFont>
#include <QStringList>

#include "base/ApiCalls.h"
#include "base/NamedLock.h"
#include "base/OperationWindow.h"
#include "base/SettingsStore.h"
#include "image/FileList.h"
#include "objfile/ObjectFileScanner.h"
#include "plug/TargetSetup.h"
#include "ui/LogModel.h"
#include "ui/Prompter.h"

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quarnel {

// The write settings the window holds for the operations.
struct WriteSettings {
  int32_t fillMode = 0;  // 0 arbitrary data, 1 content of flash memory
  QString arbitraryDataText;
  bool eraseBeforeWrite = true;
  bool notFill = false;
  bool addTwoWords = true;
};

// What the security check concluded (the security ID dialog decides it).
enum class SecurityOutcome { Passed, Failed, ExitChosen };

// The operations that run from the window's buttons. Each is called with the
// window idle and plugged; an unset one leaves its button without effect.
struct OperationHandlers {
  std::function<void()> writeAndCheck;
  std::function<void()> verify;
  std::function<void()> erase;
};

// QUARNEL's main window. Its controls carry their identifiers as object
// names ("ctl1016"). Construct it, call Initialise(), and run it modally
// unless Initialise() reports that the program is to end.
class CQuarnelDlg : public QDialog, public OperationWindow {
 public:
  // All references must outlive the window; the destroy sequence still
  // calls the library through `api`.
  CQuarnelDlg(ApiCalls& api, SettingsStore& settings, Prompter& prompter, QString versionText,
              QWidget* parent = nullptr);
  ~CQuarnelDlg() override;

  // Connects, reads the target descriptions, plugs and applies the selected
  // target. False when the program is to end without running the window.
  bool Initialise();

  void SetOperationHandlers(OperationHandlers handlers) { operations_ = std::move(handlers); }

  // Operations of plugging and the selected target.
  enum class ConnectVariant { Startup, Button };
  bool ConnectEmulators(ConnectVariant variant);
  void RunStartupPlugLoop(bool& abort);
  void RunButtonPlugLoop();
  // Until the security ID dialog is part of the window, a read-protected
  // chip fails the check.
  SecurityOutcome RunSecurityCheck();
  void ApplySelectedTarget();
  void FillEraseBlockList();
  void AllocateWriteImage();
  void GoUnplugged(bool reset);
  // Resets the targets unless the link is lost, releases the KORVO lock and
  // ends the window: the program ends.
  void Quit();
  // The plug failure's message: the chip name for 0x2002 while `shown` is
  // false (then set), the firmware version for 0x2004, else the status.
  void ReportPlugFailure(int status, bool* shown);
  void ReportStatusWithText(int status, const QString& text);
  // Resets the targets unless the link is lost; reports a failed reset.
  void ResetOnLeaving();
  // Shows "Select Target"; the chosen description becomes the selected
  // target and "TRGNAME". False on Exit.
  bool ChooseTargetAgain();
  void FindRememberedTarget();

  // Button handlers the operations are wired into.
  void OnWriteAndCheck();
  void OnVerify();
  void OnErase();

  // OperationWindow.
  bool ShowMessage(MessageStyle style, int textId, const std::string& text) override;
  void FocusField(Field field) override;
  void AddLogLine(int32_t kind, const std::string& text) override;
  void TakeBusyLayout(int32_t mode) override;
  void TakeIdleLayout(int32_t mode) override;
  void SetBusyKind(int32_t kind) override { busyKind_ = kind; }
  void DrainEvents() override;
  bool CancelRequested() const override { return cancelRequest_ != 0; }
  void ClearCancelRequest() override { cancelRequest_ = 0; }
  void ReportStatus(int status) override;
  void ShowProgress(const std::string& phase, uint64_t done, uint64_t total) override;

  // What the operations read.
  const TargetGeometry& Geometry() const { return applied_.geometry; }
  EraseBlockTable& EraseBlocks() { return applied_.eraseBlocks; }
  FileList& Files() { return fileList_; }
  ObjectFileScanner& Scanner() { return scanner_; }
  std::vector<uint8_t>& WriteImage() { return writeImage_; }
  std::vector<uint8_t>& ReadBackImage() { return readBackImage_; }
  std::vector<uint8_t>& FlashContent() { return flashContent_; }
  WriteSettings TakeWriteSettings() const;
  const CTargetInfo* SelectedDescription() const;
  bool Plugged() const { return plugged_; }
  int32_t BusyKind() const { return busyKind_; }
  const LogModel& Log() const { return log_; }
  QWidget* Control(int id) const;

  // "00FFH" for 0xFF, "0ABCDH" for 0xABCD: four digits, and a "0" in front
  // of a leading letter so that the text reads as a number.
  static QString FillValueText(uint16_t value);
  static QFont ListFont();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  QWidget* BuildTargetRow();
  QWidget* BuildWriteVerifyGroup();
  QWidget* BuildEraseGroup();
  QWidget* BuildLogArea();
  template <typename W>
  W* Register(int id, W* widget);
  QPushButton* NewButton(int id, const QString& caption);
  void SetEnabled(std::initializer_list<int> ids, bool enabled);
  void ConfigureListColumns();
  void ConnectSignals();

  bool ReadTargetDescriptions();
  void SelectTargetInList();
  void SetPlugCaption(bool plugged);
  void WriteRememberedTarget();
  bool OperationRunning() const;
  bool ConfirmExit();
  bool ShowText(MessageStyle style, int textId);

  void Browse();
  void FileNameEdited();
  void AddToList();
  void DeleteFromList();
  void RefreshFileListView();
  void EraseListChanged(QTreeWidgetItem* item);
  void SelectAll();
  void SetEraseTicks();
  bool AnyEraseBlockSelected() const;
  void CancelWriteOrVerify();
  void CancelErase();
  void ClearLog();
  void SaveLog();
  void ShowAbout();
  void ChangeTarget();
  void PlugOrUnplug();
  void SetLogButtons(bool enabled);
  void ScrollLogToEndSoon();
  bool AddToListAllowed() const;

  ApiCalls& api_;
  SettingsStore& settings_;
  Prompter& prompter_;
  QString versionText_;
  NamedLock korvoLock_{kKorvoLockName};

  TRGINFO* descriptionSet_ = nullptr;
  CTargetInfo* descriptions_ = nullptr;
  int32_t descriptionCount_ = 0;
  int32_t selectedTarget_ = 0;
  bool plugged_ = true;
  bool initialising_ = false;
  bool quitRequested_ = false;
  bool logScrollPending_ = false;
  int32_t busyKind_ = kIdle;
  int32_t cancelRequest_ = 0;
  uint16_t fillValue_ = 0xFF;

  AppliedTarget applied_;
  ObjectFileScanner scanner_;
  FileList fileList_;
  std::vector<uint8_t> writeImage_;
  std::vector<uint8_t> readBackImage_;
  std::vector<uint8_t> flashContent_;

  OperationHandlers operations_;
  LogModel log_;

  std::map<int, QWidget*> controls_;
  QComboBox* targetList_ = nullptr;
  QLineEdit* fileName_ = nullptr;
  QLineEdit* startAddress_ = nullptr;
  QLineEdit* flashOffset_ = nullptr;
  QLineEdit* endAddressOnMemory_ = nullptr;
  QLineEdit* arbitraryAddress_ = nullptr;
  QLineEdit* arbitraryData_ = nullptr;
  QButtonGroup* endModes_ = nullptr;
  QButtonGroup* fillModes_ = nullptr;
  QAbstractButton* eraseBeforeWrite_ = nullptr;
  QAbstractButton* notFill_ = nullptr;
  QAbstractButton* addTwoWords_ = nullptr;
  QTreeWidget* fileListView_ = nullptr;
  QTreeWidget* eraseList_ = nullptr;
  QListView* logView_ = nullptr;
  QPushButton* plugButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
};

}  // namespace quarnel
