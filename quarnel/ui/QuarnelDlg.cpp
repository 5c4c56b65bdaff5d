#include "ui/QuarnelDlg.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QTimer>
#include <QTreeWidget>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "recording/RunRecords.h"
#include "ui/AboutDlg.h"

namespace quarnel {
namespace {

using namespace ctl;

constexpr int kFileNameReadLimit = 260;
constexpr int kEndModeArbitrary = 2;
constexpr int kFillModeArbitrary = 0;
constexpr int kFillModeFlashContent = 1;

}  // namespace

QString TargetNameText(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

CQuarnelDlg::CQuarnelDlg(ApiCalls& api, SettingsStore& settings, Prompter& prompter, QString versionText,
                         QWidget* parent)
    : QDialog(parent),
      api_(api),
      prompter_(prompter),
      versionText_(std::move(versionText)),
      settings_(settings, [this](const std::string& location) { TellSettingsNotSaved(location); }),
      session_(api, settings_, *this),
      log_(this),
      ui_(*this, log_) {
  setWindowTitle(TableText(text::kProgramName));
  setWindowIcon(QIcon(QStringLiteral(":/quarnel/quarnel.png")));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  ConnectSignals();
}

// Qt opens a window at two thirds of the screen at most, which would leave
// the lists at their fewest rows on a small screen although the preferred
// size fits. The first showing takes the preferred size as far as the
// screen has room, less a title bar's height.
void CQuarnelDlg::showEvent(QShowEvent* event) {
  if (!sizedForScreen_) {
    sizedForScreen_ = true;
    QSize size = sizeHint();
    if (const QScreen* shownOn = screen()) size = size.boundedTo(shownOn->availableGeometry().size() - QSize(0, 40));
    resize(size.expandedTo(minimumSizeHint()));
  }
  QDialog::showEvent(event);
}

CQuarnelDlg::~CQuarnelDlg() = default;


void CQuarnelDlg::ConnectSignals() {
  auto onClick = [this](int id, void (CQuarnelDlg::*handler)()) {
    connect(static_cast<QAbstractButton*>(ui_.Control(id)), &QAbstractButton::clicked, this, handler);
  };
  connect(ui_.plugButton, &QAbstractButton::clicked, this, [this] { plugging_.PlugOrUnplug(); });
  onClick(kAbout, &CQuarnelDlg::ShowAbout);
  onClick(kBrowse, &CQuarnelDlg::Browse);
  onClick(kAddToList, &CQuarnelDlg::AddToList);
  onClick(kDeleteFromList, &CQuarnelDlg::DeleteFromList);
  onClick(kWrite, &CQuarnelDlg::WriteAndCheck);
  onClick(kVerify, &CQuarnelDlg::Verify);
  onClick(kWriteCancel, &CQuarnelDlg::CancelWriteOrVerify);
  onClick(kSelectAll, &CQuarnelDlg::SelectAll);
  onClick(kErase, &CQuarnelDlg::Erase);
  onClick(kEraseCancel, &CQuarnelDlg::CancelErase);
  onClick(kSaveLog, &CQuarnelDlg::SaveLog);
  onClick(kClearLog, &CQuarnelDlg::ClearLog);
  connect(static_cast<QAbstractButton*>(ui_.Control(kExit)), &QAbstractButton::clicked, this, [this] {
    if (ConfirmExit()) done(Accepted);
  });
  connect(ui_.fileName, &QLineEdit::textChanged, this, &CQuarnelDlg::FileNameEdited);
  connect(ui_.endModes, &QButtonGroup::idClicked, this,
          [this](int mode) { ui_.arbitraryAddress->setEnabled(mode == kEndModeArbitrary); });
  connect(ui_.fillModes, &QButtonGroup::idClicked, this,
          [this](int mode) { ui_.arbitraryData->setEnabled(mode == kFillModeArbitrary); });
  connect(ui_.fileListView, &QTreeWidget::itemClicked, this, [this] {
    if (ui_.fileListView->topLevelItemCount() > 0) ui_.Control(kDeleteFromList)->setEnabled(true);
  });
  connect(ui_.eraseList, &QTreeWidget::itemChanged, this, &CQuarnelDlg::EraseListChanged);
  // The window sets the selection itself with the list's signals blocked.
  connect(ui_.targetList, &QComboBox::currentIndexChanged, this, [this](int index) { plugging_.ChangeTarget(index); });
}

// ---------------------------------------------------------- initialisation

bool CQuarnelDlg::Initialise() {
  initialising_ = true;
  const bool connected = plugging_.Connect(Plugging::Variant::StartUp);
  if (!ReadTargetDescriptions()) {
    plugging_.Quit();
    initialising_ = false;
    return false;
  }
  const StartUpPlug plug = session_.PlugAtStartUp(connected);
  ui_.arbitraryData->setText(FillValueText(fillValue_));
  if (plug.connected)
    ui_.SetEnabled({kWrite, kVerify, kWriteCancel, kDeleteFromList, kErase, kEraseCancel, kArbitraryAddress, kAddToList,
                kSaveLog, kClearLog},
               false);
  busyKind_ = SessionEvent::kIdle;
  cancelRequest_ = 0;
  FillEraseBlockList(plugging_.Target().eraseBlocks);
  session_.FinishStartUp(plug);
  initialising_ = false;
  return !quitRequested_;
}

bool CQuarnelDlg::ReadTargetDescriptions() {
  const DescriptionsRead read = session_.ReadDescriptions();
  if (read.failureTextId != 0) {
    ShowText(MessageStyle::Stop, read.failureTextId);
    return false;
  }
  if (read.someSkipped) ShowText(MessageStyle::Warning, text::kTrgSkipped);
  const QSignalBlocker quiet(ui_.targetList);
  for (const std::string& name : session_.DescriptionNames()) ui_.targetList->addItem(TargetNameText(name));
  ui_.targetList->setCurrentIndex(-1);
  return true;
}

QString CQuarnelDlg::FillValueText(uint16_t value) {
  QString text = QStringLiteral("%1H").arg(value, 4, 16, QLatin1Char('0')).toUpper();
  if (text[0] >= QLatin1Char('A') && text[0] <= QLatin1Char('F')) text.prepend(QLatin1Char('0'));
  return text;
}

// ------------------------------------------------------------------ layouts

void CQuarnelDlg::TakeBusyLayout(int32_t mode) {
  ui_.SetEnabled({kFileName, kBrowse, kStartAddress, kFlashOffset, kEndOnMemory, kEndByFileContent, kEndArbitrary,
              kEndAddressOnMemory, kArbitraryAddress, kFileList, kFillArbitrary, kFillFlashContent, kArbitraryData,
              kEraseList, kAddToList, kDeleteFromList, kWrite, kVerify, kSelectAll, kErase, kClearLog, kSaveLog,
              kEraseBeforeWrite, kNotFill, kAddTwoWords},
             false);
  switch (mode) {
    case SessionEvent::kWriteVerifyMode:
      ui_.SetEnabled({kTargetList, kExit, kEraseCancel, kPlug, kAbout}, false);
      ui_.SetEnabled({kWriteCancel}, true);
      break;
    case SessionEvent::kEraseMode:
      ui_.SetEnabled({kTargetList, kExit, kWriteCancel, kPlug, kAbout}, false);
      ui_.SetEnabled({kEraseCancel}, true);
      break;
    default:
      ui_.SetEnabled({kTargetList, kWriteCancel, kEraseCancel}, false);
      ui_.SetEnabled({kExit, kPlug}, true);
      break;
  }
}

void CQuarnelDlg::TakeIdleLayout(int32_t mode) {
  ui_.SetEnabled({kTargetList, kFileName, kBrowse, kAbout, kStartAddress, kFlashOffset, kEndOnMemory, kEndByFileContent,
              kEndArbitrary, kEndAddressOnMemory, kFileList, kFillArbitrary, kFillFlashContent, kEraseList,
              kAddToList, kSelectAll, kClearLog, kSaveLog, kExit, kEraseBeforeWrite, kNotFill, kAddTwoWords, kPlug},
             true);
  ui_.SetEnabled({kWriteCancel, kEraseCancel}, false);
  ui_.arbitraryAddress->setEnabled(ui_.endModes->checkedId() == kEndModeArbitrary);
  ui_.arbitraryData->setEnabled(ui_.fillModes->checkedId() != kFillModeFlashContent);
  ui_.Control(kErase)->setEnabled(AnyEraseBlockSelected());
  ui_.Control(kAddToList)->setEnabled(AddToListAllowed());
  const bool filesListed = ui_.fileListView->topLevelItemCount() > 0;
  if (mode == SessionEvent::kWriteVerifyMode || (mode == SessionEvent::kEraseMode && filesListed)) ui_.SetEnabled({kWrite, kVerify}, true);
}

bool CQuarnelDlg::AddToListAllowed() const { return !ui_.fileName->text().left(kFileNameReadLimit).isEmpty(); }

bool CQuarnelDlg::AnyEraseBlockSelected() const {
  const size_t rows = static_cast<size_t>(ui_.eraseList->topLevelItemCount());
  const EraseBlockTable& blocks = plugging_.Target().eraseBlocks;
  for (size_t k = 0; k < rows && k < blocks.size(); ++k)
    if (blocks[k].selected) return true;
  return false;
}

// -------------------------------------------------------- status messages

bool CQuarnelDlg::ShowMessage(MessageStyle style, const std::string& text) {
  return prompter_.ShowMessage(this, style, QString::fromStdString(text));
}

bool CQuarnelDlg::ShowText(MessageStyle style, int textId) {
  return ShowMessage(style, std::string(LoadText(textId)));
}

void CQuarnelDlg::TellSettingsNotSaved(const std::string& location) {
  prompter_.ShowMessage(this, MessageStyle::Stop,
                        QStringLiteral("%1 cannot save its settings in\n%2\n\nThe selected target and the security ID "
                                       "will not be remembered when %1 starts again.")
                            .arg(TableText(text::kProgramName), QString::fromStdString(location)));
}

void CQuarnelDlg::FocusField(Field field) {
  QWidget* widget = ui_.Control(static_cast<int>(field));
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

void CQuarnelDlg::ReportStatus(int status) { ReportStatusWithText(status, {}); }

void CQuarnelDlg::ReportStatusWithText(int status, const std::string& text) {
  prompter_.ShowMessage(this, MessageStyle::Stop, TableText(StatusTextId(status)) + QString::fromStdString(text));
  if (IsFatalStatus(status)) plugging_.GoUnplugged(!IsLinkStatus(status));
}

// ------------------------------------------------ plugging and the target

std::optional<SecurityEntry> CQuarnelDlg::AskSecurityId(uint16_t securityType) {
  return prompter_.AskSecurityId(this, securityType);
}

std::optional<int32_t> CQuarnelDlg::ChooseTarget(const std::vector<std::string>& names, int32_t initial) {
  QStringList shown;
  for (const std::string& name : names) shown << TargetNameText(name);
  return prompter_.ChooseTarget(this, shown, initial);
}

void CQuarnelDlg::Report(const SessionEvent& event) {
  using Kind = SessionEvent::Kind;
  switch (event.kind) {
    case Kind::Started:
      busyKind_ = event.activity;
      return TakeBusyLayout(event.mode);
    case Kind::Ended:
      TakeIdleLayout(event.mode);
      busyKind_ = SessionEvent::kIdle;
      return;
    case Kind::Progress:
      return ShowProgressBar(event.text, event.done, event.total);
    case Kind::LogLine:
      return AppendLogLine(event.lineKind, event.text);
    case Kind::TargetResult:
      return;  // the log has said it already
    case Kind::Unplugged:
      TakeBusyLayout(SessionEvent::kUnpluggedMode);
      return ShowPlugButton(false);
    case Kind::Plugged:
      TakeIdleLayout(SessionEvent::kUnpluggedMode);
      ShowPlugButton(true);
      EnableFileButtons();
      RecheckFileList();
      FillEraseBlockList(plugging_.Target().eraseBlocks);
      return ShowFields();
    case Kind::TargetApplied:
      return ShowFields();
    case Kind::TargetChanged:
      if (event.recheck) RecheckFileList();
      FillEraseBlockList(plugging_.Target().eraseBlocks);
      return ShowFields();
    case Kind::TargetSelected:
      return SelectTargetInList(event.index);
    case Kind::CloseRequested:
      return CloseWindow();
  }
}

void CQuarnelDlg::ShowPlugButton(bool plugged) {
  ui_.plugButton->setText(plugged ? QStringLiteral("Un&plug") : QStringLiteral("&Plug"));
}

void CQuarnelDlg::SelectTargetInList(int32_t index) {
  const QSignalBlocker quiet(ui_.targetList);
  ui_.targetList->setCurrentIndex(index);
}

void CQuarnelDlg::EnableFileButtons() {
  ui_.Control(kAddToList)->setEnabled(AddToListAllowed());
  ui_.SetEnabled({kWrite, kVerify, kDeleteFromList}, !fileList_.Rows().empty());
}

void CQuarnelDlg::RecheckFileList() {
  fileList_.RecheckFileList();
  RefreshFileListView();
}

void CQuarnelDlg::FillEraseBlockList(const EraseBlockTable& blocks) {
  const QSignalBlocker quiet(ui_.eraseList);
  ui_.eraseList->clear();
  QList<QTreeWidgetItem*> rows;
  for (size_t k = 0; k < blocks.size(); ++k) {
    auto* item = new QTreeWidgetItem;
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, blocks[k].selected ? Qt::Checked : Qt::Unchecked);
    item->setSizeHint(0, QSize(0, ui_.EraseRowHeight()));
    const std::vector<std::string> texts = EraseBlockRowTexts(k, blocks[k]);
    for (size_t c = 1; c < texts.size(); ++c) item->setText(static_cast<int>(c), QString::fromStdString(texts[c]));
    rows << item;
  }
  ui_.eraseList->addTopLevelItems(rows);
}

void CQuarnelDlg::ShowFields() {
  ui_.endAddressOnMemory->setText(QString::fromStdString(plugging_.Target().endAddressText));
}

void CQuarnelDlg::CloseWindow() {
  quitRequested_ = true;
  if (!initialising_) done(Accepted);
}

// ------------------------------------------------------ exit, close, keys

bool CQuarnelDlg::ConfirmExit() {
  if (!ShowText(MessageStyle::Question, text::kExitQuestion)) return false;
  session_.Leave();
  return true;
}

bool CQuarnelDlg::OperationRunning() const { return busyKind_ != SessionEvent::kIdle; }

void CQuarnelDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (!quitRequested_) {
    if (OperationRunning() || !ConfirmExit()) return;
    quitRequested_ = true;
  }
  setResult(Accepted);
  event->accept();
}

void CQuarnelDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape: event->accept(); return;
    default: QDialog::keyPressEvent(event);
  }
}

// Esc reaches a dialog as reject(); the window only ends through its own sequences.
void CQuarnelDlg::reject() {}

// ---------------------------------------------------------- file list

void CQuarnelDlg::Browse() {
  const std::optional<QString> path = prompter_.OpenFileName(this, TableText(text::kSelectFileToWrite),
                                                             TableText(text::kObjectFileFilter), QStringLiteral("hex"));
  if (!path) return;
  ui_.fileName->setText(WithDefaultExtension(*path, QStringLiteral("hex")));
  ui_.Control(kAddToList)->setEnabled(true);
}

void CQuarnelDlg::FileNameEdited() { ui_.Control(kAddToList)->setEnabled(AddToListAllowed()); }

void CQuarnelDlg::AddToList() {
  FileEntrySettings entry;
  entry.fileName = ui_.fileName->text().toStdString();
  entry.startText = ui_.startAddress->text().toStdString();
  entry.offsetText = ui_.flashOffset->text().toStdString();
  entry.endMode = static_cast<EndAddressMode>(ui_.endModes->checkedId());
  entry.arbitraryEndText = ui_.arbitraryAddress->text().toStdString();
  if (!fileList_.AddFileEntry(entry)) return;
  RefreshFileListView();
  ui_.SetEnabled({kWrite, kVerify}, true);
}

void CQuarnelDlg::DeleteFromList() {
  std::vector<size_t> selected;
  for (QTreeWidgetItem* item : ui_.fileListView->selectedItems())
    selected.push_back(static_cast<size_t>(ui_.fileListView->indexOfTopLevelItem(item)));
  if (!fileList_.DeleteFileEntries(std::move(selected))) return;
  RefreshFileListView();
  if (fileList_.Rows().empty()) ui_.SetEnabled({kWrite, kVerify}, false);
  ui_.Control(kDeleteFromList)->setEnabled(false);
}

void CQuarnelDlg::RefreshFileListView() {
  ui_.fileListView->clear();
  for (const FileRow& row : fileList_.Rows()) {
    auto* item = new QTreeWidgetItem(ui_.fileListView);
    for (size_t c = 0; c < kFileColumnCount; ++c)
      item->setText(static_cast<int>(c), QString::fromStdString(row.columns[c]));
  }
}

// ---------------------------------------------------------- erase list

void CQuarnelDlg::EraseListChanged(QTreeWidgetItem*) {
  std::vector<bool> ticks;
  for (int row = 0; row < ui_.eraseList->topLevelItemCount(); ++row)
    ticks.push_back(ui_.eraseList->topLevelItem(row)->checkState(0) == Qt::Checked);
  ui_.Control(kErase)->setEnabled(ApplyEraseTicks(plugging_.Target().eraseBlocks, ticks));
  ShowEraseTicks(ticks);
}

void CQuarnelDlg::SelectAll() {
  std::vector<bool> ticks;
  ui_.Control(kErase)->setEnabled(SelectAllEraseBlocks(plugging_.Target().eraseBlocks, ticks));
  ShowEraseTicks(ticks);
}

void CQuarnelDlg::ShowEraseTicks(const std::vector<bool>& ticks) {
  const QSignalBlocker quiet(ui_.eraseList);
  for (int row = 0; row < ui_.eraseList->topLevelItemCount() && static_cast<size_t>(row) < ticks.size(); ++row)
    ui_.eraseList->topLevelItem(row)->setCheckState(0, ticks[static_cast<size_t>(row)] ? Qt::Checked : Qt::Unchecked);
}

// ------------------------------------------------------- operations

WriteSettings CQuarnelDlg::TakeWriteSettings() const {
  WriteSettings settings;
  settings.eraseBeforeWrite = ui_.eraseBeforeWrite->isChecked();
  settings.notFill = ui_.notFill->isChecked();
  settings.addTwoWords = ui_.addTwoWords->isChecked();
  settings.fillMode =
      ui_.fillModes->checkedId() == kFillModeFlashContent ? FillMode::FlashContent : FillMode::ArbitraryData;
  settings.arbitraryData = ui_.arbitraryData->text().toStdString();
  settings.endMode = static_cast<EndAddressMode>(ui_.endModes->checkedId());
  return settings;
}

void CQuarnelDlg::WriteAndCheck() {
  session_.Write(TakeWriteSettings());
  RecordRun("write");
  ShowOperationEnd();
}

void CQuarnelDlg::Verify() {
  const WriteSettings write = TakeWriteSettings();
  session_.Verify({write.fillMode, write.arbitraryData, {}, {}});
  RecordRun("verify");
  ShowOperationEnd();
}

void CQuarnelDlg::Erase() {
  session_.Erase();
  RecordRun("erase");
  ShowOperationEnd();
}

// With recording on, every target's record of the run goes to the record
// store; a board without its record is told at once. Reading back the
// boards after a write or verify keeps the operation's busy layout, so that
// nothing else starts meanwhile, and Cancel leaves the records without CRC.
void CQuarnelDlg::RecordRun(const char* operation) {
  if (settings_.ReadInt(kRecordRunsKey, 0) == 0) return;
  const std::string name(operation);
  const bool readsBack = RecordingReadsBack(session_, name);
  if (readsBack) {
    ClearCancelRequest();
    Report(SessionEvent::Started(name == "write" ? SessionEvent::kWriting : SessionEvent::kVerifying,
                                 SessionEvent::kWriteVerifyMode));
  }
  const records::StoreResult stored =
      RecordLastRun(session_, api_, name, settings_.ReadText(kRecordsUrlKey).value_or(""));
  if (readsBack) Report(SessionEvent::Ended(SessionEvent::kWriteVerifyMode));
  if (stored.Ok()) return;
  const std::string message = "The records of this run could not be stored: " + stored.error;
  AppendLogLine(SessionEvent::kErrorLine, message);
  ShowMessage(MessageStyle::Warning, message);
}

// A row re-read during the run may show new addresses; the bar reads idle
// even when the operation ended before it started.
void CQuarnelDlg::ShowOperationEnd() {
  RefreshFileListView();
  ShowProgressBar({}, 0, 0);
}

void CQuarnelDlg::CancelWriteOrVerify() {
  const int question = busyKind_ == SessionEvent::kWriting     ? text::kCancelWriting
                         : busyKind_ == SessionEvent::kVerifying ? text::kCancelVerification
                                                   : text::kCancelErasure;
  if (ShowText(MessageStyle::Question, question)) cancelRequest_ = 1;
}

void CQuarnelDlg::CancelErase() {
  if (busyKind_ != SessionEvent::kErasing) return;
  if (ShowText(MessageStyle::Question, text::kCancelErasure)) cancelRequest_ = 1;
}

void CQuarnelDlg::DrainEvents() { QCoreApplication::processEvents(); }

void CQuarnelDlg::ShowProgressBar(const std::string& phase, uint64_t done, uint64_t total) {
  if (total == 0) {
    ui_.progress->setRange(0, 1);
    ui_.progress->setValue(0);
    ui_.progress->setTextVisible(false);
    return;
  }
  // QProgressBar counts in int; per mille is fine enough for any phase.
  ui_.progress->setRange(0, 1000);
  ui_.progress->setValue(static_cast<int>(done * 1000 / total));
  ui_.progress->setFormat(QString::fromStdString(phase) + QStringLiteral(" %p%"));
  ui_.progress->setTextVisible(true);
}

// --------------------------------------------------------------- log

void CQuarnelDlg::AppendLogLine(int32_t kind, const std::string& text) {
  QString line = QString::fromStdString(text);
  if (kind == SessionEvent::kErrorLine) line.prepend(QStringLiteral("Error: "));
  log_.Append(line);
  ScrollLogToEndSoon();
  if (busyKind_ == SessionEvent::kIdle) SetLogButtons(true);
}

// Scrolling lays the view out, which costs as much as thousands of appends;
// one scroll before the next paint shows the same last row.
void CQuarnelDlg::ScrollLogToEndSoon() {
  if (logScrollPending_) return;
  logScrollPending_ = true;
  QTimer::singleShot(0, this, [this] {
    logScrollPending_ = false;
    ui_.logView->scrollToBottom();
  });
}

void CQuarnelDlg::SetLogButtons(bool enabled) { ui_.SetEnabled({kSaveLog, kClearLog}, enabled); }

void CQuarnelDlg::ClearLog() {
  if (log_.rowCount() == 0) return;
  if (!ShowText(MessageStyle::Question, text::kClearLogQuestion)) return;
  log_.Clear();
  if (busyKind_ == SessionEvent::kIdle) SetLogButtons(false);
}

void CQuarnelDlg::SaveLog() {
  const std::optional<QString> chosen =
      prompter_.SaveFileName(this, TableText(text::kSaveLogTitle), TableText(text::kLogFileFilter), QStringLiteral("log"));
  if (!chosen) return;
  const QString path = WithDefaultExtension(*chosen, QStringLiteral("log"));
  // The dialog asked about the name it gave back; "run1." gains its
  // extension only here, so the replace question for it is asked here.
  if (path != *chosen && QFileInfo::exists(path) &&
      !prompter_.ShowMessage(this, MessageStyle::YesNoQuestion,
                             QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(path)))
    return;
  if (!log_.Save(path))
    ShowMessage(MessageStyle::Stop, FormatText(text::kLogNotSaved, path.toStdString()));
}

void CQuarnelDlg::ShowAbout() {
  CAboutDlg about(versionText_, this);
  about.exec();
}

}  // namespace quarnel
