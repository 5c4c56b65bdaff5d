#include "ui/QuarnelDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "ui/AboutDlg.h"

namespace quarnel {
namespace {

using namespace ctl;

constexpr uint8_t kWidestProductIdBits = 93;
constexpr int kChipChangedStatus = 0x2000;
constexpr int kSecurityCheckStatus = 0x2005;
constexpr int kTargetMismatchStatus = 0x2002;
constexpr int kFirmwareStatus = 0x2004;
constexpr int kLinkNotConnectedStatus = 0x5005;
constexpr int kProductIdMismatchStatus = 0x630C;
// A failed reset that leaves status 1 on target 1 is not reported.
constexpr int kQuietResetFailure = 1;
constexpr uint32_t kFirmwareTextSize = 10;
constexpr int kFileNameReadLimit = 260;
constexpr int kListFontPixels = 12;
const char* const kRememberedTarget = "TRGNAME";
const char* const kAvailableStatus = "             ";  // 13 blanks
const char* const kNotAvailableStatus = "Not Available";

QString Text(int textId) { return QString::fromUtf8(LoadText(textId)); }

int TitleWidth(const QFont& font, const QString& title, int extra) {
  return QFontMetrics(font).horizontalAdvance(title) + extra;
}

}  // namespace

CQuarnelDlg::CQuarnelDlg(ApiCalls& api, SettingsStore& settings, Prompter& prompter, QString versionText,
                         QWidget* parent)
    : QDialog(parent),
      api_(api),
      settings_(settings),
      prompter_(prompter),
      versionText_(std::move(versionText)),
      scanner_(applied_.geometry, *this),
      fileList_(applied_.geometry, scanner_, *this),
      log_(this) {
  setWindowTitle(Text(105));
  setWindowIcon(QIcon(QStringLiteral(":/quarnel/quarnel.png")));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  BuildControls();
  ConfigureListColumns();
  ConnectSignals();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

CQuarnelDlg::~CQuarnelDlg() {
  if (plugged_) ResetOnLeaving();
  if (descriptionSet_) api_.ReleaseDescriptions(&descriptionSet_);
  descriptionSet_ = nullptr;
  descriptions_ = nullptr;
  descriptionCount_ = 0;
  api_.Disconnect();
  korvoLock_.Release();
}

// ---------------------------------------------------------------- controls

template <typename W>
W* CQuarnelDlg::Register(int id, W* widget) {
  widget->setObjectName(QString::fromStdString(ControlObjectName(id)));
  controls_[id] = widget;
  return widget;
}

QPushButton* CQuarnelDlg::NewButton(int id, const QString& caption) {
  auto* button = Register(id, new QPushButton(caption, this));
  // Enter never presses a button of this window.
  button->setAutoDefault(false);
  return button;
}

QWidget* CQuarnelDlg::Control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void CQuarnelDlg::SetEnabled(std::initializer_list<int> ids, bool enabled) {
  for (int id : ids) Control(id)->setEnabled(enabled);
}

void CQuarnelDlg::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildTargetRow());
  layout->addWidget(BuildWriteVerifyGroup());
  layout->addWidget(BuildEraseGroup());
  layout->addWidget(BuildLogArea());
}

QWidget* CQuarnelDlg::BuildTargetRow() {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  targetList_ = Register(kTargetList, new QComboBox(this));
  targetList_->setMinimumContentsLength(28);
  auto* label = new QLabel(QStringLiteral("Ta&rget"), this);
  label->setBuddy(targetList_);
  plugButton_ = NewButton(kPlug, QStringLiteral("Un&plug"));
  layout->addWidget(label);
  layout->addWidget(targetList_);
  layout->addWidget(plugButton_);
  layout->addStretch(1);
  layout->addWidget(NewButton(kAbout, QStringLiteral("Abo&ut")));
  return row;
}

QWidget* CQuarnelDlg::BuildWriteVerifyGroup() {
  auto* group = new QGroupBox(QStringLiteral("Flash Memory Write/Verify"), this);
  auto* layout = new QGridLayout(group);

  fileName_ = Register(kFileName, new QLineEdit(this));
  auto* fileLabel = new QLabel(QStringLiteral("&File Name"), this);
  fileLabel->setBuddy(fileName_);
  auto* browse = NewButton(kBrowse, QStringLiteral("..."));
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(fileLabel);
  fileRow->addWidget(fileName_, 1);
  fileRow->addWidget(browse);
  layout->addLayout(fileRow, 0, 0, 1, 2);

  // Left: the file window's start and the offset; right: the end rule.
  auto* addresses = new QGridLayout;
  startAddress_ = Register(kStartAddress, new QLineEdit(this));
  flashOffset_ = Register(kFlashOffset, new QLineEdit(this));
  auto* startLabel = new QLabel(QStringLiteral("Star&t Address on File"), this);
  startLabel->setBuddy(startAddress_);
  auto* offsetLabel = new QLabel(QStringLiteral("Flash Memory &Offset"), this);
  offsetLabel->setBuddy(flashOffset_);
  addresses->addWidget(startLabel, 0, 0);
  addresses->addWidget(startAddress_, 0, 1);
  addresses->addWidget(offsetLabel, 1, 0);
  addresses->addWidget(flashOffset_, 1, 1);
  addresses->setRowStretch(2, 1);

  auto* endGroup = new QGroupBox(QStringLiteral("End Address on File"), this);
  auto* endLayout = new QGridLayout(endGroup);
  endModes_ = new QButtonGroup(this);
  const std::pair<int, const char*> endRadios[] = {{kEndOnMemory, "End Address on Memor&y"},
                                                   {kEndByFileContent, "Depends on File Content"},
                                                   {kEndArbitrary, "Arbitrary Address"}};
  for (int mode = 0; mode < 3; ++mode) {
    auto* radio = Register(endRadios[mode].first, new QRadioButton(QString::fromUtf8(endRadios[mode].second), this));
    endModes_->addButton(radio, mode);
    endLayout->addWidget(radio, mode, 0);
  }
  endAddressOnMemory_ = Register(kEndAddressOnMemory, new QLineEdit(this));
  endAddressOnMemory_->setReadOnly(true);
  arbitraryAddress_ = Register(kArbitraryAddress, new QLineEdit(this));
  endLayout->addWidget(endAddressOnMemory_, 0, 1);
  endLayout->addWidget(arbitraryAddress_, 2, 1);
  endModes_->button(0)->setChecked(true);
  arbitraryAddress_->setEnabled(false);

  layout->addLayout(addresses, 1, 0);
  layout->addWidget(endGroup, 1, 1);

  auto* listRow = new QHBoxLayout;
  fileListView_ = Register(kFileList, new QTreeWidget(this));
  auto* listLabel = new QLabel(QStringLiteral("File List"), this);
  listRow->addWidget(listLabel);
  listRow->addStretch(1);
  listRow->addWidget(NewButton(kAddToList, QStringLiteral("&Add to List")));
  listRow->addWidget(NewButton(kDeleteFromList, QStringLiteral("&Delete from List")));
  layout->addLayout(listRow, 2, 0, 1, 2);
  layout->addWidget(fileListView_, 3, 0, 1, 2);

  auto* fillGroup = new QGroupBox(QStringLiteral("Filling Data"), this);
  auto* fillLayout = new QGridLayout(fillGroup);
  fillModes_ = new QButtonGroup(this);
  auto* fillArbitrary = Register(kFillArbitrary, new QRadioButton(QStringLiteral("Arb&itrary Data"), this));
  auto* fillContent = Register(kFillFlashContent, new QRadioButton(QStringLiteral("Content of Flas&h Memory"), this));
  fillModes_->addButton(fillArbitrary, 0);
  fillModes_->addButton(fillContent, 1);
  fillArbitrary->setChecked(true);
  arbitraryData_ = Register(kArbitraryData, new QLineEdit(this));
  arbitraryData_->setMaximumWidth(arbitraryData_->fontMetrics().horizontalAdvance(QStringLiteral("0ABCDH")) * 2);
  fillLayout->addWidget(fillArbitrary, 0, 0);
  fillLayout->addWidget(arbitraryData_, 0, 1);
  fillLayout->addWidget(fillContent, 1, 0, 1, 2);

  auto* optionsGroup = new QGroupBox(QStringLiteral("Write Options"), this);
  auto* optionsLayout = new QVBoxLayout(optionsGroup);
  eraseBeforeWrite_ =
      Register(kEraseBeforeWrite, new QCheckBox(QStringLiteral("Erase Flash Memory &before Write"), this));
  notFill_ = Register(kNotFill, new QCheckBox(QStringLiteral("&Not Fill the Area excluding Files"), this));
  addTwoWords_ = Register(kAddTwoWords, new QCheckBox(QStringLiteral("Add &2 Word Data after Files"), this));
  eraseBeforeWrite_->setChecked(true);
  addTwoWords_->setChecked(true);
  optionsLayout->addWidget(eraseBeforeWrite_);
  optionsLayout->addWidget(notFill_);
  optionsLayout->addWidget(addTwoWords_);

  auto* write = NewButton(kWrite, QStringLiteral("&Write\n&&\nCheck"));
  write->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  auto* actions = new QGridLayout;
  actions->addWidget(write, 0, 0, 2, 1);
  actions->addWidget(NewButton(kVerify, QStringLiteral("&Verify")), 0, 1);
  actions->addWidget(NewButton(kWriteCancel, QStringLiteral("Cancel")), 1, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(fillGroup);
  bottom->addWidget(optionsGroup);
  bottom->addStretch(1);
  bottom->addLayout(actions);
  layout->addLayout(bottom, 4, 0, 1, 2);
  layout->setColumnStretch(0, 1);
  return group;
}

QWidget* CQuarnelDlg::BuildEraseGroup() {
  auto* group = new QGroupBox(QStringLiteral("Flash Memory Erase"), this);
  auto* layout = new QHBoxLayout(group);
  eraseList_ = Register(kEraseList, new QTreeWidget(this));
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(NewButton(kSelectAll, QStringLiteral("Se&lect All")));
  buttons->addStretch(1);
  buttons->addWidget(NewButton(kErase, QStringLiteral("&Erase")));
  buttons->addWidget(NewButton(kEraseCancel, QStringLiteral("Cancel")));
  layout->addWidget(eraseList_, 1);
  layout->addLayout(buttons);
  return group;
}

QWidget* CQuarnelDlg::BuildLogArea() {
  auto* area = new QWidget(this);
  auto* layout = new QGridLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  logView_ = Register(kLogList, new QListView(this));
  logView_->setModel(&log_);
  logView_->setUniformItemSizes(true);
  logView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  logView_->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(NewButton(kSaveLog, QStringLiteral("&Save Log")));
  buttons->addWidget(NewButton(kClearLog, QStringLiteral("Clear Lo&g")));
  buttons->addStretch(1);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  layout->addWidget(logView_, 0, 0);
  layout->addLayout(buttons, 0, 1);
  layout->addWidget(progress_, 1, 0);
  layout->addWidget(NewButton(kExit, QStringLiteral("E&xit")), 1, 1);
  return area;
}

QFont CQuarnelDlg::ListFont() {
  const bool japanese = QLocale::system().nativeLanguageName().contains(QStringLiteral("日本語"));
  const QString face = japanese ? QStringLiteral("ＭＳ ゴシック") : QStringLiteral("Courier New");
  QFont font;
  if (QFontDatabase::hasFamily(face)) {
    font = QFont(face);
  } else {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  }
  font.setPixelSize(kListFontPixels);
  font.setFixedPitch(true);
  return font;
}

void CQuarnelDlg::ConfigureListColumns() {
  const QFont font = ListFont();
  const int fileTitles[] = {114, 115, 117, 116, 204};
  const int fileExtra[] = {220, 30, 30, 40, 40};
  QStringList titles;
  for (int id : fileTitles) titles << Text(id);
  fileListView_->setFont(font);
  fileListView_->setColumnCount(5);
  fileListView_->setHeaderLabels(titles);
  fileListView_->setRootIsDecorated(false);
  fileListView_->setUniformRowHeights(true);
  fileListView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  fileListView_->setSelectionMode(QAbstractItemView::SingleSelection);
  int fileWidth = 0;
  for (int c = 0; c < 5; ++c) {
    fileListView_->setColumnWidth(c, TitleWidth(font, titles[c], fileExtra[c]));
    fileWidth += fileListView_->columnWidth(c);
  }
  fileListView_->setMinimumWidth(fileWidth + 24);
  fileListView_->setFixedHeight(QFontMetrics(font).height() * 6 + fileListView_->header()->sizeHint().height());

  const int eraseTitles[] = {191, 128, 129, 130, 192};
  const int eraseExtra[] = {20, 20, 20, 20, 140};
  titles.clear();
  for (int id : eraseTitles) titles << Text(id);
  eraseList_->setFont(font);
  eraseList_->setColumnCount(5);
  eraseList_->setHeaderLabels(titles);
  eraseList_->setRootIsDecorated(false);
  eraseList_->setUniformRowHeights(true);
  eraseList_->setSelectionMode(QAbstractItemView::SingleSelection);
  for (int c = 0; c < 5; ++c) eraseList_->setColumnWidth(c, TitleWidth(font, titles[c], eraseExtra[c]));
  eraseList_->setFixedHeight(QFontMetrics(font).height() * 6 + eraseList_->header()->sizeHint().height());

  logView_->setFont(font);
  logView_->setMinimumWidth(TitleWidth(font, QString(64, QLatin1Char(' ')), 80));
  logView_->setFixedHeight(QFontMetrics(font).height() * 8 + 6);
}

void CQuarnelDlg::ConnectSignals() {
  auto onClick = [this](int id, void (CQuarnelDlg::*handler)()) {
    connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this, handler);
  };
  onClick(kPlug, &CQuarnelDlg::PlugOrUnplug);
  onClick(kAbout, &CQuarnelDlg::ShowAbout);
  onClick(kBrowse, &CQuarnelDlg::Browse);
  onClick(kAddToList, &CQuarnelDlg::AddToList);
  onClick(kDeleteFromList, &CQuarnelDlg::DeleteFromList);
  onClick(kWrite, &CQuarnelDlg::OnWriteAndCheck);
  onClick(kVerify, &CQuarnelDlg::OnVerify);
  onClick(kWriteCancel, &CQuarnelDlg::CancelWriteOrVerify);
  onClick(kSelectAll, &CQuarnelDlg::SelectAll);
  onClick(kErase, &CQuarnelDlg::OnErase);
  onClick(kEraseCancel, &CQuarnelDlg::CancelErase);
  onClick(kSaveLog, &CQuarnelDlg::SaveLog);
  onClick(kClearLog, &CQuarnelDlg::ClearLog);
  connect(static_cast<QAbstractButton*>(Control(kExit)), &QAbstractButton::clicked, this, [this] {
    if (ConfirmExit()) done(Accepted);
  });
  connect(fileName_, &QLineEdit::textChanged, this, &CQuarnelDlg::FileNameEdited);
  connect(endModes_, &QButtonGroup::idClicked, this, [this](int mode) { arbitraryAddress_->setEnabled(mode == 2); });
  connect(fillModes_, &QButtonGroup::idClicked, this, [this](int mode) { arbitraryData_->setEnabled(mode == 0); });
  connect(fileListView_, &QTreeWidget::itemClicked, this, [this] {
    if (fileListView_->topLevelItemCount() > 0) Control(kDeleteFromList)->setEnabled(true);
  });
  connect(eraseList_, &QTreeWidget::itemChanged, this, &CQuarnelDlg::EraseListChanged);
  // The window sets the selection itself with the list's signals blocked.
  connect(targetList_, &QComboBox::currentIndexChanged, this, &CQuarnelDlg::ChangeTarget);
}

// ---------------------------------------------------------- initialisation

bool CQuarnelDlg::Initialise() {
  initialising_ = true;
  bool connected = ConnectEmulators(ConnectVariant::Startup);
  if (!ReadTargetDescriptions()) {
    Quit();
    initialising_ = false;
    return false;
  }
  bool abort = false;
  if (connected) {
    RunStartupPlugLoop(abort);
    SelectTargetInList();
  }
  ApplySelectedTarget();
  if (connected && !abort) {
    switch (RunSecurityCheck()) {
      case SecurityOutcome::Failed:
        ReportStatus(api_.Status());
        connected = false;
        break;
      case SecurityOutcome::ExitChosen:
        Quit();
        abort = true;
        break;
      case SecurityOutcome::Passed: break;
    }
  }
  arbitraryData_->setText(FillValueText(fillValue_));
  if (connected)
    SetEnabled({kWrite, kVerify, kWriteCancel, kDeleteFromList, kErase, kEraseCancel, kArbitraryAddress, kAddToList,
                kSaveLog, kClearLog},
               false);
  busyKind_ = kIdle;
  cancelRequest_ = 0;
  FillEraseBlockList();
  if (!connected) {
    GoUnplugged(!IsLinkStatus(api_.Status()));
  } else if (!abort) {
    AllocateWriteImage();
  } else if (!quitRequested_) {
    if (plugged_) ResetOnLeaving();
    korvoLock_.Release();
    quitRequested_ = true;
  }
  initialising_ = false;
  return !quitRequested_;
}

bool CQuarnelDlg::ReadTargetDescriptions() {
  uint16_t filesFound = 0;
  descriptionSet_ = api_.ReadTargetDescriptions(kWidestProductIdBits, &filesFound);
  if (!descriptionSet_) {
    ShowText(MessageStyle::Stop, filesFound == 0 ? 165 : 2068);
    return false;
  }
  if (filesFound != descriptionSet_->count) ShowText(MessageStyle::Warning, 2067);
  descriptions_ = descriptionSet_->array;
  descriptionCount_ = descriptionSet_->count;
  const QSignalBlocker quiet(targetList_);
  for (int32_t i = 0; i < descriptionCount_; ++i)
    targetList_->addItem(QString::fromLatin1(descriptions_[i].targetName));
  targetList_->setCurrentIndex(-1);
  return true;
}

QString CQuarnelDlg::FillValueText(uint16_t value) {
  QString text = QStringLiteral("%1H").arg(value, 4, 16, QLatin1Char('0')).toUpper();
  if (text[0] >= QLatin1Char('A') && text[0] <= QLatin1Char('F')) text.prepend(QLatin1Char('0'));
  return text;
}

// ------------------------------------------------------------------ layouts

void CQuarnelDlg::TakeBusyLayout(int32_t mode) {
  SetEnabled({kFileName, kBrowse, kStartAddress, kFlashOffset, kEndOnMemory, kEndByFileContent, kEndArbitrary,
              kEndAddressOnMemory, kArbitraryAddress, kFileList, kFillArbitrary, kFillFlashContent, kArbitraryData,
              kEraseList, kAddToList, kDeleteFromList, kWrite, kVerify, kSelectAll, kErase, kClearLog, kSaveLog,
              kEraseBeforeWrite, kNotFill, kAddTwoWords},
             false);
  switch (mode) {
    case kWriteVerifyMode:
      SetEnabled({kTargetList, kExit, kEraseCancel, kPlug, kAbout}, false);
      SetEnabled({kWriteCancel}, true);
      break;
    case kEraseMode:
      SetEnabled({kTargetList, kExit, kWriteCancel, kPlug, kAbout}, false);
      SetEnabled({kEraseCancel}, true);
      break;
    default:
      SetEnabled({kTargetList, kWriteCancel, kEraseCancel}, false);
      SetEnabled({kExit, kPlug}, true);
      break;
  }
}

void CQuarnelDlg::TakeIdleLayout(int32_t mode) {
  SetEnabled({kTargetList, kFileName, kBrowse, kAbout, kStartAddress, kFlashOffset, kEndOnMemory, kEndByFileContent,
              kEndArbitrary, kEndAddressOnMemory, kFileList, kFillArbitrary, kFillFlashContent, kEraseList,
              kAddToList, kSelectAll, kClearLog, kSaveLog, kExit, kEraseBeforeWrite, kNotFill, kAddTwoWords, kPlug},
             true);
  SetEnabled({kWriteCancel, kEraseCancel}, false);
  arbitraryAddress_->setEnabled(endModes_->checkedId() == 2);
  arbitraryData_->setEnabled(fillModes_->checkedId() != 1);
  Control(kErase)->setEnabled(AnyEraseBlockSelected());
  Control(kAddToList)->setEnabled(AddToListAllowed());
  const bool filesListed = fileListView_->topLevelItemCount() > 0;
  if (mode == kWriteVerifyMode || (mode == kEraseMode && filesListed)) SetEnabled({kWrite, kVerify}, true);
}

bool CQuarnelDlg::AddToListAllowed() const { return !fileName_->text().left(kFileNameReadLimit).isEmpty(); }

bool CQuarnelDlg::AnyEraseBlockSelected() const {
  const size_t rows = static_cast<size_t>(eraseList_->topLevelItemCount());
  const auto& blocks = applied_.eraseBlocks;
  for (size_t k = 0; k < rows && k < blocks.size(); ++k)
    if (blocks[k].selected) return true;
  return false;
}

// -------------------------------------------------------- status messages

bool CQuarnelDlg::ShowMessage(MessageStyle style, int, const std::string& text) {
  return prompter_.ShowMessage(this, style, QString::fromStdString(text));
}

bool CQuarnelDlg::ShowText(MessageStyle style, int textId) {
  return ShowMessage(style, textId, std::string(LoadText(textId)));
}

void CQuarnelDlg::FocusField(Field field) {
  QWidget* widget = Control(static_cast<int>(field));
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

void CQuarnelDlg::ReportStatus(int status) { ReportStatusWithText(status, QString()); }

void CQuarnelDlg::ReportStatusWithText(int status, const QString& text) {
  prompter_.ShowMessage(this, MessageStyle::Stop, Text(StatusTextId(status)) + text);
  if (IsFatalStatus(status)) GoUnplugged(!IsLinkStatus(status));
}

void CQuarnelDlg::ResetOnLeaving() {
  if (IsLinkStatus(api_.Status())) return;
  if (api_.ResetAll()) return;
  const int status = api_.Status();
  if (status != kQuietResetFailure) ReportStatus(status);
}

// ------------------------------------------------ plugging and the target

bool CQuarnelDlg::ConnectEmulators(ConnectVariant variant) {
  api_.Disconnect();
  if (api_.Connect() == 0) {
    ShowText(MessageStyle::Warning, 193);
    return false;
  }
  if (korvoLock_.Acquire(kKorvoLockWait)) return true;
  if (variant == ConnectVariant::Startup) {
    ShowText(MessageStyle::Stop, 2039);
    TakeBusyLayout(kUnpluggedMode);
    SetPlugCaption(false);
    plugged_ = false;
    korvoLock_.Release();
  } else {
    ReportStatus(kLinkNotConnectedStatus);
  }
  return false;
}

const CTargetInfo* CQuarnelDlg::SelectedDescription() const {
  if (selectedTarget_ < 0 || selectedTarget_ >= descriptionCount_) return nullptr;
  return &descriptions_[selectedTarget_];
}

void CQuarnelDlg::FindRememberedTarget() {
  const std::string remembered = settings_.ReadText(kRememberedTarget).value_or(std::string());
  for (int32_t i = 0; i < descriptionCount_; ++i) {
    if (remembered == descriptions_[i].targetName) {
      selectedTarget_ = i;
      return;
    }
  }
}

void CQuarnelDlg::WriteRememberedTarget() {
  if (const CTargetInfo* description = SelectedDescription())
    settings_.WriteText(kRememberedTarget, description->targetName);
}

bool CQuarnelDlg::ChooseTargetAgain() {
  QStringList names;
  for (int32_t i = 0; i < descriptionCount_; ++i) names << QString::fromLatin1(descriptions_[i].targetName);
  const std::optional<int> chosen = prompter_.ChooseTarget(this, names);
  if (!chosen) return false;
  selectedTarget_ = *chosen;
  WriteRememberedTarget();
  return true;
}

void CQuarnelDlg::RunStartupPlugLoop(bool& abort) {
  if (settings_.ReadText(kRememberedTarget).value_or(std::string()).empty() && !ChooseTargetAgain()) {
    abort = true;
    return;
  }
  bool shown = false;
  while (!abort) {
    FindRememberedTarget();
    api_.SetStatus(0);
    api_.PlugAll(descriptionSet_, descriptions_[selectedTarget_].targetName);
    const int status = api_.Status();
    if (status == 0) return;
    ReportPlugFailure(status, &shown);
    if (status == kFirmwareStatus) abort = true;
    if (!ChooseTargetAgain()) abort = true;
  }
}

void CQuarnelDlg::RunButtonPlugLoop() {
  bool shown = false;
  for (;;) {
    FindRememberedTarget();
    api_.SetStatus(0);
    api_.PlugAll(descriptionSet_, descriptions_[selectedTarget_].targetName);
    const int status = api_.Status();
    if (status == 0) break;
    ReportPlugFailure(status, &shown);
    if (!ChooseTargetAgain()) {
      Quit();
      return;
    }
  }
  SelectTargetInList();
  ApplySelectedTarget();
  switch (RunSecurityCheck()) {
    case SecurityOutcome::Failed:
      ReportStatus(api_.Status());
      korvoLock_.Release();
      return;
    case SecurityOutcome::ExitChosen: Quit(); return;
    case SecurityOutcome::Passed: break;
  }
  TakeIdleLayout(kUnpluggedMode);
  SetPlugCaption(true);
  plugged_ = true;
  Control(kAddToList)->setEnabled(AddToListAllowed());
  const bool filesListed = !fileList_.Rows().empty();
  SetEnabled({kWrite, kVerify, kDeleteFromList}, filesListed);
  AllocateWriteImage();
  fileList_.RecheckFileList();
  FillEraseBlockList();
}

SecurityOutcome CQuarnelDlg::RunSecurityCheck() {
  uint16_t isProtected = 1;
  if (!api_.IsProtected(&isProtected)) return SecurityOutcome::Failed;
  const int status = api_.Status();
  if (status != 0 && status != kSecurityCheckStatus) return SecurityOutcome::Failed;
  return isProtected ? SecurityOutcome::Failed : SecurityOutcome::Passed;
}

void CQuarnelDlg::ReportPlugFailure(int status, bool* shown) {
  if (status == kTargetMismatchStatus && !(shown && *shown)) {
    uint32_t productId[4] = {};
    api_.ProductId(descriptions_[selectedTarget_].targetIdBitNum, productId);
    ReportStatusWithText(kChipChangedStatus, QString::fromStdString(ChipNameFromProductId(productId[0])));
    if (shown) *shown = true;
  } else if (status == kTargetMismatchStatus || status == kProductIdMismatchStatus) {
    ReportStatus(kTargetMismatchStatus);
  } else if (status == kFirmwareStatus) {
    char version[kFirmwareTextSize] = {};
    uint32_t needed = 0;
    api_.FirmwareVersionText(version, kFirmwareTextSize, &needed);
    ReportStatusWithText(kFirmwareStatus, QString::fromLatin1(version));
  } else {
    ReportStatus(status);
  }
}

void CQuarnelDlg::SelectTargetInList() {
  const QSignalBlocker quiet(targetList_);
  targetList_->setCurrentIndex(selectedTarget_);
}

void CQuarnelDlg::ApplySelectedTarget() {
  const CTargetInfo* description = SelectedDescription();
  if (!description) return;
  const ApplyOutcome outcome = ApplyTarget(*description, applied_);
  if (outcome == ApplyOutcome::NoFlashAreas) return;
  endAddressOnMemory_->setText(QString::fromStdString(applied_.endAddressText));
  WriteRememberedTarget();
  if (outcome == ApplyOutcome::UnsupportedBlockSize) ShowText(MessageStyle::Stop, 2069);
}

void CQuarnelDlg::FillEraseBlockList() {
  const QSignalBlocker quiet(eraseList_);
  eraseList_->clear();
  QList<QTreeWidgetItem*> rows;
  const auto& blocks = applied_.eraseBlocks;
  for (size_t k = 0; k < blocks.size(); ++k) {
    auto* item = new QTreeWidgetItem;
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, blocks[k].selected ? Qt::Checked : Qt::Unchecked);
    item->setText(1, QString::number(k + 1));
    item->setText(2, QStringLiteral("%1H").arg(blocks[k].start, 5, 16, QLatin1Char('0')).toUpper());
    item->setText(3, QStringLiteral("%1H").arg(blocks[k].end, 5, 16, QLatin1Char('0')).toUpper());
    item->setText(4, QString::fromLatin1(blocks[k].available ? kAvailableStatus : kNotAvailableStatus));
    rows << item;
  }
  eraseList_->addTopLevelItems(rows);
}

void CQuarnelDlg::AllocateWriteImage() {
  writeImage_.assign(WriteImageSize(applied_.geometry), 0);
  readBackImage_.assign(WriteImageSize(applied_.geometry), 0);
  flashContent_.assign(FlashContentSize(applied_.geometry), 0);
  scanner_.SetWriteImage(writeImage_);
}

void CQuarnelDlg::SetPlugCaption(bool plugged) {
  plugButton_->setText(plugged ? QStringLiteral("Un&plug") : QStringLiteral("&Plug"));
}

void CQuarnelDlg::GoUnplugged(bool reset) {
  WriteRememberedTarget();
  if (reset && !api_.ResetAll()) {
    const int status = api_.Status();
    if (status != kQuietResetFailure) ShowText(MessageStyle::Stop, StatusTextId(status));
  }
  TakeBusyLayout(kUnpluggedMode);
  SetPlugCaption(false);
  plugged_ = false;
  korvoLock_.Release();
}

void CQuarnelDlg::Quit() {
  if (plugged_) ResetOnLeaving();
  korvoLock_.Release();
  quitRequested_ = true;
  if (!initialising_) done(Accepted);
}

void CQuarnelDlg::ChangeTarget() {
  selectedTarget_ = std::max(0, targetList_->currentIndex());
  api_.CheckTargetName(descriptionSet_, descriptions_[selectedTarget_].targetName);
  const int status = api_.Status();
  if (status != 0) {
    ReportPlugFailure(status, nullptr);
    ApplySelectedTarget();
    GoUnplugged(true);
    FillEraseBlockList();
    return;
  }
  ApplySelectedTarget();
  AllocateWriteImage();
  switch (RunSecurityCheck()) {
    case SecurityOutcome::Failed: ReportStatus(api_.Status()); return;
    case SecurityOutcome::ExitChosen: Quit(); return;
    case SecurityOutcome::Passed: break;
  }
  fileList_.RecheckFileList();
  FillEraseBlockList();
}

void CQuarnelDlg::PlugOrUnplug() {
  if (plugged_) {
    if (ShowText(MessageStyle::Question, 136)) GoUnplugged(true);
    return;
  }
  if (ConnectEmulators(ConnectVariant::Button)) RunButtonPlugLoop();
}

// ------------------------------------------------------ exit, close, keys

bool CQuarnelDlg::ConfirmExit() {
  if (!ShowText(MessageStyle::Question, 188)) return false;
  if (plugged_) ResetOnLeaving();
  korvoLock_.Release();
  return true;
}

bool CQuarnelDlg::OperationRunning() const {
  const bool writeCancel = Control(kWriteCancel)->isEnabled();
  const bool eraseCancel = Control(kEraseCancel)->isEnabled();
  return (!Control(kWrite)->isEnabled() && writeCancel) || (!Control(kVerify)->isEnabled() && writeCancel) ||
         (!Control(kErase)->isEnabled() && eraseCancel);
}

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
  const std::optional<QString> path = prompter_.OpenFileName(this, Text(106), Text(109));
  if (!path) return;
  fileName_->setText(WithDefaultExtension(*path, QStringLiteral("hex")));
  Control(kAddToList)->setEnabled(true);
}

void CQuarnelDlg::FileNameEdited() { Control(kAddToList)->setEnabled(AddToListAllowed()); }

void CQuarnelDlg::AddToList() {
  FileEntrySettings entry;
  entry.fileName = fileName_->text().toStdString();
  entry.startText = startAddress_->text().toStdString();
  entry.offsetText = flashOffset_->text().toStdString();
  entry.endMode = static_cast<EndAddressMode>(endModes_->checkedId());
  entry.arbitraryEndText = arbitraryAddress_->text().toStdString();
  if (!fileList_.AddFileEntry(entry)) return;
  RefreshFileListView();
  SetEnabled({kWrite, kVerify}, true);
}

void CQuarnelDlg::DeleteFromList() {
  std::vector<size_t> selected;
  for (QTreeWidgetItem* item : fileListView_->selectedItems())
    selected.push_back(static_cast<size_t>(fileListView_->indexOfTopLevelItem(item)));
  if (!fileList_.DeleteFileEntries(std::move(selected))) return;
  RefreshFileListView();
  if (fileList_.Rows().empty()) SetEnabled({kWrite, kVerify}, false);
  Control(kDeleteFromList)->setEnabled(false);
}

void CQuarnelDlg::RefreshFileListView() {
  fileListView_->clear();
  for (const FileRow& row : fileList_.Rows()) {
    auto* item = new QTreeWidgetItem(fileListView_);
    for (size_t c = 0; c < kFileColumnCount; ++c)
      item->setText(static_cast<int>(c), QString::fromStdString(row.columns[c]));
  }
}

// ---------------------------------------------------------- erase list

void CQuarnelDlg::EraseListChanged(QTreeWidgetItem*) {
  auto& blocks = applied_.eraseBlocks;
  const QSignalBlocker quiet(eraseList_);
  for (int row = 0; row < eraseList_->topLevelItemCount() && static_cast<size_t>(row) < blocks.size(); ++row) {
    QTreeWidgetItem* item = eraseList_->topLevelItem(row);
    EraseBlock& block = blocks[static_cast<size_t>(row)];
    const bool ticked = item->checkState(0) == Qt::Checked;
    if (ticked && !block.available) item->setCheckState(0, Qt::Unchecked);
    block.selected = ticked && block.available;
  }
  Control(kErase)->setEnabled(AnyEraseBlockSelected());
}

void CQuarnelDlg::SelectAll() {
  auto& blocks = applied_.eraseBlocks;
  const bool anyOpen =
      std::any_of(blocks.begin(), blocks.end(), [](const EraseBlock& b) { return b.available && !b.selected; });
  for (EraseBlock& block : blocks)
    if (block.available) block.selected = anyOpen ? 1 : 0;
  SetEraseTicks();
  Control(kErase)->setEnabled(anyOpen);
}

void CQuarnelDlg::SetEraseTicks() {
  const QSignalBlocker quiet(eraseList_);
  const auto& blocks = applied_.eraseBlocks;
  for (int row = 0; row < eraseList_->topLevelItemCount() && static_cast<size_t>(row) < blocks.size(); ++row)
    eraseList_->topLevelItem(row)->setCheckState(
        0, blocks[static_cast<size_t>(row)].selected ? Qt::Checked : Qt::Unchecked);
}

// ------------------------------------------------------- operations

void CQuarnelDlg::OnWriteAndCheck() {
  if (operations_.writeAndCheck) operations_.writeAndCheck();
}

void CQuarnelDlg::OnVerify() {
  if (operations_.verify) operations_.verify();
}

void CQuarnelDlg::OnErase() {
  if (operations_.erase) operations_.erase();
}

WriteSettings CQuarnelDlg::TakeWriteSettings() const {
  WriteSettings s;
  s.fillMode = fillModes_->checkedId();
  s.arbitraryDataText = arbitraryData_->text();
  s.eraseBeforeWrite = eraseBeforeWrite_->isChecked();
  s.notFill = notFill_->isChecked();
  s.addTwoWords = addTwoWords_->isChecked();
  return s;
}

void CQuarnelDlg::CancelWriteOrVerify() {
  const int question = busyKind_ == kWriting ? 124 : busyKind_ == kVerifying ? 159 : 152;
  if (ShowText(MessageStyle::Question, question)) cancelRequest_ = 1;
}

void CQuarnelDlg::CancelErase() {
  if (busyKind_ != kErasing) return;
  if (ShowText(MessageStyle::Question, 152)) cancelRequest_ = 1;
}

void CQuarnelDlg::DrainEvents() { QCoreApplication::processEvents(); }

void CQuarnelDlg::ShowProgress(const std::string& phase, uint64_t done, uint64_t total) {
  if (total == 0) {
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    return;
  }
  // QProgressBar counts in int; per mille is fine enough for any phase.
  progress_->setRange(0, 1000);
  progress_->setValue(static_cast<int>(done * 1000 / total));
  progress_->setFormat(QString::fromStdString(phase) + QStringLiteral(" %p%"));
  progress_->setTextVisible(true);
}

// --------------------------------------------------------------- log

void CQuarnelDlg::AddLogLine(int32_t kind, const std::string& text) {
  QString line = QString::fromStdString(text);
  if (kind == kErrorLine) line.prepend(QStringLiteral("Error: "));
  log_.Append(line);
  ScrollLogToEndSoon();
  if (busyKind_ == kIdle) SetLogButtons(true);
}

// Scrolling lays the view out, which costs as much as thousands of appends;
// one scroll before the next paint shows the same last row.
void CQuarnelDlg::ScrollLogToEndSoon() {
  if (logScrollPending_) return;
  logScrollPending_ = true;
  QTimer::singleShot(0, this, [this] {
    logScrollPending_ = false;
    logView_->scrollToBottom();
  });
}

void CQuarnelDlg::SetLogButtons(bool enabled) { SetEnabled({kSaveLog, kClearLog}, enabled); }

void CQuarnelDlg::ClearLog() {
  if (log_.rowCount() == 0) return;
  if (!ShowText(MessageStyle::Question, 160)) return;
  log_.Clear();
  if (busyKind_ == kIdle) SetLogButtons(false);
}

void CQuarnelDlg::SaveLog() {
  const std::optional<QString> chosen = prompter_.SaveFileName(this, Text(161), Text(162));
  if (!chosen) return;
  const QString path = WithDefaultExtension(*chosen, QStringLiteral("log"));
  if (!log_.Save(path)) ShowMessage(MessageStyle::Stop, 3008, FormatText(3008, path.toStdString()));
}

void CQuarnelDlg::ShowAbout() {
  CAboutDlg about(versionText_, this);
  about.exec();
}

}  // namespace quarnel
