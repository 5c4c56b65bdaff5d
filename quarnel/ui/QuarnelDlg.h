#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <QDialog>
#include <QStringList>

#include "base/ApiCalls.h"
#include "base/SettingsStore.h"
#include "session/WriterSession.h"
#include "ui/LogModel.h"
#include "ui/MainWindowControls.h"
#include "ui/Prompter.h"

class QTreeWidgetItem;

namespace quarnel {

// A target description's name as the window shows it, in the target list
// and in Select Target alike: UTF-8, or Latin-1 when the bytes are not
// valid UTF-8.
QString TargetNameText(std::string_view bytes);


// QUARNEL's main window. Its controls carry their identifiers as object
// names ("ctl1016"). Construct it, call Initialise(), and run it modally
// unless Initialise() reports that the program is to end. Plugging and the
// applied target live in its Plugging; the window shows them.
class CQuarnelDlg : public QDialog, public PlugWindow {
 public:
  // All references must outlive the window; the destroy sequence still
  // calls the library through `api`.
  CQuarnelDlg(ApiCalls& api, SettingsStore& settings, Prompter& prompter, QString versionText,
              QWidget* parent = nullptr);
  ~CQuarnelDlg() override;

  // Connects, reads the target descriptions, plugs and applies the selected
  // target. False when the program is to end without running the window.
  bool Initialise();

  // OperationWindow.
  bool ShowMessage(MessageStyle style, const std::string& text) override;
  // A question box with the question's buttons.
  bool Ask(Question question, const std::string& text) override {
    return ShowMessage(BoxFor(question).style, text);
  }
  void FocusField(Field field) override;
  // Draws what plugging and the operations report: layouts, the plug
  // button, the lists and fields, the progress bar and the log.
  void Report(const SessionEvent& event) override;
  void DrainEvents() override;
  bool CancelRequested() const override { return cancelRequest_ != 0; }
  void ClearCancelRequest() override { cancelRequest_ = 0; }

  // PlugWindow.
  void ReportStatus(int status) override;
  void ReportStatusWithText(int status, const std::string& text) override;
  std::optional<SecurityEntry> AskSecurityId(uint16_t securityType) override;
  std::optional<int32_t> ChooseTarget(const std::vector<std::string>& names, int32_t initial) override;

  const TargetGeometry& Geometry() const { return plugging_.Target().geometry; }
  const EraseBlockTable& EraseBlocks() const { return plugging_.Target().eraseBlocks; }
  FlashBuffers& Buffers() { return buffers_; }
  bool Plugged() const { return plugging_.Plugged(); }
  int32_t BusyKind() const { return busyKind_; }
  const LogModel& Log() const { return log_; }
  QWidget* Control(int id) const { return ui_.Control(id); }

  // "00FFH" for 0xFF, "0ABCDH" for 0xABCD: four digits, and a "0" in front
  // of a leading letter so that the text reads as a number.
  static QString FillValueText(uint16_t value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void ConnectSignals();

  // What the events do to the controls.
  void TakeBusyLayout(int32_t mode);
  void TakeIdleLayout(int32_t mode);
  void ShowPlugButton(bool plugged);
  void SelectTargetInList(int32_t index);
  void EnableFileButtons();
  void RecheckFileList();
  void FillEraseBlockList(const EraseBlockTable& blocks);
  void ShowFields();
  void CloseWindow();
  void ShowProgressBar(const std::string& phase, uint64_t done, uint64_t total);
  void AppendLogLine(int32_t kind, const std::string& text);

  bool ReadTargetDescriptions();
  bool OperationRunning() const;
  bool ConfirmExit();
  bool ShowText(MessageStyle style, int textId);
  void TellSettingsNotSaved(const std::string& location);

  void Browse();
  void FileNameEdited();
  void AddToList();
  void DeleteFromList();
  void RefreshFileListView();
  void EraseListChanged(QTreeWidgetItem* item);
  void SelectAll();
  void ShowEraseTicks(const std::vector<bool>& ticks);
  bool AnyEraseBlockSelected() const;
  // The operations run over the window's state; each ends idle.
  void RecordRun(const char* operation);
  WriteSettings TakeWriteSettings() const;
  void WriteAndCheck();
  void Verify();
  void Erase();
  void ShowOperationEnd();
  void CancelWriteOrVerify();
  void CancelErase();
  void ClearLog();
  void SaveLog();
  void ShowAbout();
  void SetLogButtons(bool enabled);
  void ScrollLogToEndSoon();
  bool AddToListAllowed() const;

  ApiCalls& api_;
  Prompter& prompter_;
  QString versionText_;

  bool initialising_ = false;
  bool quitRequested_ = false;
  bool logScrollPending_ = false;
  bool sizedForScreen_ = false;
  int32_t busyKind_ = SessionEvent::kIdle;
  int32_t cancelRequest_ = 0;
  uint16_t fillValue_ = 0xFF;

  // Tells the user once when the settings cannot be kept; plugging writes
  // through it.
  SettingsWriteWatch settings_;
  WriterSession session_;
  Plugging& plugging_ = session_.Plug();
  FileList& fileList_ = session_.Files();
  FlashBuffers& buffers_ = session_.Buffers();
  LogModel log_;

  MainWindowControls ui_;
};

}  // namespace quarnel
