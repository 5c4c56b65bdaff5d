#include "ui/QuarnelDlg.h"

#include <cstring>

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
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
#include <QScreen>
#include <QStringDecoder>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "recording/RunRecords.h"
#include "ui/AboutDlg.h"

namespace quarnel {
namespace {

using namespace ctl;

constexpr int kFileNameReadLimit = 260;
constexpr int kListFontPixels = 12;
constexpr int kEndModeArbitrary = 2;
constexpr int kFillModeArbitrary = 0;
constexpr int kFillModeFlashContent = 1;
// Rows the lists show when the window opens, and at its smallest: small
// enough for the whole window on a 1024x768 screen. A larger window gives
// its extra height to the file list and the log.
constexpr int kFileListRows = 3;
constexpr int kEraseListRows = 4;
constexpr int kLogRows = 4;
constexpr int kFewestFileRows = 2;
constexpr int kFewestListRows = 3;

QString Text(int textId) { return QString::fromUtf8(LoadText(textId)); }

int TitleWidth(const QFont& font, const QString& title, int extra) {
  return QFontMetrics(font).horizontalAdvance(title) + extra;
}

// A list whose preferred height is set in rows, not Qt's fixed default.
template <typename View>
class RowsView : public View {
 public:
  using View::View;
  void SetPreferredHeight(int height) {
    preferredHeight_ = height;
    this->updateGeometry();
  }
  QSize sizeHint() const override {
    QSize size = View::sizeHint();
    if (preferredHeight_ > 0) size.setHeight(preferredHeight_);
    return size;
  }

 private:
  int preferredHeight_ = 0;
};

// A column whose items with a stretch share the height beyond the
// column's preferred one evenly, and give up height below it evenly. A
// plain box layout shares out the whole height by stretch, so a tall group
// around a short list would leave that list as it is while a short one
// beside it took nearly all. Here each such item's stretch is its own
// preferred height plus its share, which the box layout then hands out.
class EvenGrowthColumn : public QVBoxLayout {
 public:
  using QVBoxLayout::QVBoxLayout;

  void setGeometry(const QRect& rect) override {
    int growing = 0;
    for (int i = 0; i < count(); ++i)
      if (stretch(i) > 0) ++growing;
    if (growing > 0) {
      const int share = (rect.height() - sizeHint().height()) / growing;
      for (int i = 0; i < count(); ++i) {
        if (stretch(i) == 0) continue;
        const int wanted = std::max(1, itemAt(i)->sizeHint().height() + share);
        // Setting a stretch lays the column out again; an unchanged one ends that.
        if (wanted != stretch(i)) setStretch(i, wanted);
      }
    }
    QVBoxLayout::setGeometry(rect);
  }
};

// Height of a view that shows `rows` rows of `rowHeight` below its header.
int ViewHeight(const QAbstractScrollArea& view, int rows, int rowHeight, int header) {
  return rows * rowHeight + header + 2 * view.frameWidth();
}

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
      log_(this) {
  setWindowTitle(Text(text::kProgramName));
  setWindowIcon(QIcon(QStringLiteral(":/quarnel/quarnel.png")));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  BuildControls();
  ConfigureListColumns();
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
  // Extra height goes half to the write/verify group, where only the file
  // list grows, and half to the log.
  auto* layout = new EvenGrowthColumn(this);
  layout->addWidget(BuildTargetRow());
  layout->addWidget(BuildWriteVerifyGroup(), 1);
  layout->addWidget(BuildEraseGroup());
  layout->addWidget(BuildLogArea(), 1);
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
  addresses->setColumnStretch(2, 1);
  // Addresses are short; a wider window widens the file name instead.
  const int addressWidth = startAddress_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 24;
  startAddress_->setMaximumWidth(addressWidth);
  flashOffset_->setMaximumWidth(addressWidth);

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
  fileListView_ = Register(kFileList, new RowsView<QTreeWidget>(this));
  auto* listLabel = new QLabel(QStringLiteral("File List"), this);
  listRow->addWidget(listLabel);
  listRow->addStretch(1);
  listRow->addWidget(NewButton(kAddToList, QStringLiteral("&Add to List")));
  listRow->addWidget(NewButton(kDeleteFromList, QStringLiteral("&Delete from List")));
  layout->addLayout(listRow, 2, 0, 1, 2);
  layout->addWidget(fileListView_, 3, 0, 1, 2);
  layout->setRowStretch(3, 1);

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
  eraseList_ = Register(kEraseList, new RowsView<QTreeWidget>(this));
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
  logView_ = Register(kLogList, new RowsView<QListView>(this));
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
  layout->setRowStretch(0, 1);
  layout->setColumnStretch(0, 1);
  layout->addLayout(buttons, 0, 1);
  layout->addWidget(progress_, 1, 0);
  layout->addWidget(NewButton(kExit, QStringLiteral("E&xit")), 1, 1);
  return area;
}

QString CQuarnelDlg::ListFontFace(const QString& languageName) {
  constexpr int kLanguageNameLength = 20;
  const bool japanese = languageName.left(kLanguageNameLength).contains(QStringLiteral("日本語"));
  return japanese ? QStringLiteral("ＭＳ ゴシック") : QStringLiteral("Courier New");
}

QFont CQuarnelDlg::ListFont() {
  const QString face = ListFontFace(QLocale::system().nativeLanguageName());
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
  const int fileTitles[] = {text::kFileNameColumn, text::kStartAddressColumn, text::kEndAddressColumn,
                            text::kOffsetColumn, text::kFlashStartColumn};
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
  // The end column also shows the end-of-memory text, which its title's
  // width would cut off.
  const int endColumn = static_cast<int>(kEndAddressColumn);
  fileListView_->setColumnWidth(
      endColumn, std::max(fileListView_->columnWidth(endColumn), TitleWidth(font, QString::fromLatin1(kToEndOfMemory.data(), kToEndOfMemory.size()), 12)));
  fileWidth += fileListView_->columnWidth(endColumn) - TitleWidth(font, titles[endColumn], fileExtra[endColumn]);
  fileListView_->setMinimumWidth(fileWidth + 24);
  // The file name column takes the width the others leave.
  fileListView_->header()->setStretchLastSection(false);
  fileListView_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  const int fileRow = QFontMetrics(font).height() + 2;
  const int fileHeader = fileListView_->header()->sizeHint().height();
  fileListView_->setMinimumHeight(ViewHeight(*fileListView_, kFewestFileRows, fileRow, fileHeader));
  static_cast<RowsView<QTreeWidget>*>(fileListView_)
      ->SetPreferredHeight(ViewHeight(*fileListView_, kFileListRows, fileRow, fileHeader));
  fileListView_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  const int eraseTitles[] = {text::kEraseColumn, text::kBlockColumn, text::kBlockStartColumn, text::kBlockEndColumn,
                             text::kStatusColumn};
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
  const int eraseHeader = eraseList_->header()->sizeHint().height();
  eraseList_->setMinimumHeight(ViewHeight(*eraseList_, kFewestListRows, EraseRowHeight(), eraseHeader));
  static_cast<RowsView<QTreeWidget>*>(eraseList_)
      ->SetPreferredHeight(ViewHeight(*eraseList_, kEraseListRows, EraseRowHeight(), eraseHeader));
  eraseList_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);

  logView_->setFont(font);
  logView_->setMinimumWidth(TitleWidth(font, QString(64, QLatin1Char(' ')), 80));
  const int logRow = QFontMetrics(font).height();
  logView_->setMinimumHeight(ViewHeight(*logView_, kFewestListRows, logRow, 0));
  static_cast<RowsView<QListView>*>(logView_)->SetPreferredHeight(ViewHeight(*logView_, kLogRows, logRow, 0));
  logView_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

// A row of the list font is lower than a check box; the rows make room for it.
int CQuarnelDlg::EraseRowHeight() const {
  const int box = eraseList_->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, eraseList_);
  return std::max(QFontMetrics(eraseList_->font()).height(), box) + 2;
}

void CQuarnelDlg::ConnectSignals() {
  auto onClick = [this](int id, void (CQuarnelDlg::*handler)()) {
    connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this, handler);
  };
  connect(plugButton_, &QAbstractButton::clicked, this, [this] { plugging_.PlugOrUnplug(); });
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
  connect(static_cast<QAbstractButton*>(Control(kExit)), &QAbstractButton::clicked, this, [this] {
    if (ConfirmExit()) done(Accepted);
  });
  connect(fileName_, &QLineEdit::textChanged, this, &CQuarnelDlg::FileNameEdited);
  connect(endModes_, &QButtonGroup::idClicked, this,
          [this](int mode) { arbitraryAddress_->setEnabled(mode == kEndModeArbitrary); });
  connect(fillModes_, &QButtonGroup::idClicked, this,
          [this](int mode) { arbitraryData_->setEnabled(mode == kFillModeArbitrary); });
  connect(fileListView_, &QTreeWidget::itemClicked, this, [this] {
    if (fileListView_->topLevelItemCount() > 0) Control(kDeleteFromList)->setEnabled(true);
  });
  connect(eraseList_, &QTreeWidget::itemChanged, this, &CQuarnelDlg::EraseListChanged);
  // The window sets the selection itself with the list's signals blocked.
  connect(targetList_, &QComboBox::currentIndexChanged, this, [this](int index) { plugging_.ChangeTarget(index); });
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
  arbitraryData_->setText(FillValueText(fillValue_));
  if (plug.connected)
    SetEnabled({kWrite, kVerify, kWriteCancel, kDeleteFromList, kErase, kEraseCancel, kArbitraryAddress, kAddToList,
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
  const QSignalBlocker quiet(targetList_);
  for (const std::string& name : session_.DescriptionNames()) targetList_->addItem(TargetNameText(name));
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
    case SessionEvent::kWriteVerifyMode:
      SetEnabled({kTargetList, kExit, kEraseCancel, kPlug, kAbout}, false);
      SetEnabled({kWriteCancel}, true);
      break;
    case SessionEvent::kEraseMode:
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
  arbitraryAddress_->setEnabled(endModes_->checkedId() == kEndModeArbitrary);
  arbitraryData_->setEnabled(fillModes_->checkedId() != kFillModeFlashContent);
  Control(kErase)->setEnabled(AnyEraseBlockSelected());
  Control(kAddToList)->setEnabled(AddToListAllowed());
  const bool filesListed = fileListView_->topLevelItemCount() > 0;
  if (mode == SessionEvent::kWriteVerifyMode || (mode == SessionEvent::kEraseMode && filesListed)) SetEnabled({kWrite, kVerify}, true);
}

bool CQuarnelDlg::AddToListAllowed() const { return !fileName_->text().left(kFileNameReadLimit).isEmpty(); }

bool CQuarnelDlg::AnyEraseBlockSelected() const {
  const size_t rows = static_cast<size_t>(eraseList_->topLevelItemCount());
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
                            .arg(Text(text::kProgramName), QString::fromStdString(location)));
}

void CQuarnelDlg::FocusField(Field field) {
  QWidget* widget = Control(static_cast<int>(field));
  widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
}

void CQuarnelDlg::ReportStatus(int status) { ReportStatusWithText(status, {}); }

void CQuarnelDlg::ReportStatusWithText(int status, const std::string& text) {
  prompter_.ShowMessage(this, MessageStyle::Stop, Text(StatusTextId(status)) + QString::fromStdString(text));
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
  plugButton_->setText(plugged ? QStringLiteral("Un&plug") : QStringLiteral("&Plug"));
}

void CQuarnelDlg::SelectTargetInList(int32_t index) {
  const QSignalBlocker quiet(targetList_);
  targetList_->setCurrentIndex(index);
}

void CQuarnelDlg::EnableFileButtons() {
  Control(kAddToList)->setEnabled(AddToListAllowed());
  SetEnabled({kWrite, kVerify, kDeleteFromList}, !fileList_.Rows().empty());
}

void CQuarnelDlg::RecheckFileList() {
  fileList_.RecheckFileList();
  RefreshFileListView();
}

void CQuarnelDlg::FillEraseBlockList(const EraseBlockTable& blocks) {
  const QSignalBlocker quiet(eraseList_);
  eraseList_->clear();
  QList<QTreeWidgetItem*> rows;
  for (size_t k = 0; k < blocks.size(); ++k) {
    auto* item = new QTreeWidgetItem;
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, blocks[k].selected ? Qt::Checked : Qt::Unchecked);
    item->setSizeHint(0, QSize(0, EraseRowHeight()));
    const std::vector<std::string> texts = EraseBlockRowTexts(k, blocks[k]);
    for (size_t c = 1; c < texts.size(); ++c) item->setText(static_cast<int>(c), QString::fromStdString(texts[c]));
    rows << item;
  }
  eraseList_->addTopLevelItems(rows);
}

void CQuarnelDlg::ShowFields() {
  endAddressOnMemory_->setText(QString::fromStdString(plugging_.Target().endAddressText));
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
  const std::optional<QString> path = prompter_.OpenFileName(this, Text(text::kSelectFileToWrite),
                                                             Text(text::kObjectFileFilter), QStringLiteral("hex"));
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
  std::vector<bool> ticks;
  for (int row = 0; row < eraseList_->topLevelItemCount(); ++row)
    ticks.push_back(eraseList_->topLevelItem(row)->checkState(0) == Qt::Checked);
  Control(kErase)->setEnabled(ApplyEraseTicks(plugging_.Target().eraseBlocks, ticks));
  ShowEraseTicks(ticks);
}

void CQuarnelDlg::SelectAll() {
  std::vector<bool> ticks;
  Control(kErase)->setEnabled(SelectAllEraseBlocks(plugging_.Target().eraseBlocks, ticks));
  ShowEraseTicks(ticks);
}

void CQuarnelDlg::ShowEraseTicks(const std::vector<bool>& ticks) {
  const QSignalBlocker quiet(eraseList_);
  for (int row = 0; row < eraseList_->topLevelItemCount() && static_cast<size_t>(row) < ticks.size(); ++row)
    eraseList_->topLevelItem(row)->setCheckState(0, ticks[static_cast<size_t>(row)] ? Qt::Checked : Qt::Unchecked);
}

// ------------------------------------------------------- operations

WriteSettings CQuarnelDlg::TakeWriteSettings() const {
  WriteSettings settings;
  settings.eraseBeforeWrite = eraseBeforeWrite_->isChecked();
  settings.notFill = notFill_->isChecked();
  settings.addTwoWords = addTwoWords_->isChecked();
  settings.fillMode =
      fillModes_->checkedId() == kFillModeFlashContent ? FillMode::FlashContent : FillMode::ArbitraryData;
  settings.arbitraryData = arbitraryData_->text().toStdString();
  settings.endMode = static_cast<EndAddressMode>(endModes_->checkedId());
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
  const TRGINFO* set = session_.Descriptions();
  const int32_t selected = session_.Plug().SelectedTarget();
  const std::string target =
      set != nullptr && selected >= 0 && selected < set->count ? TargetNameOf(set->array[selected]) : std::string();
  const std::string name(operation);
  const bool readsBack =
      name != "erase" && session_.LastRun().outcome == OperationOutcome::Completed && session_.Plug().Plugged();
  if (readsBack) {
    ClearCancelRequest();
    Report(SessionEvent::Started(name == "write" ? SessionEvent::kWriting : SessionEvent::kVerifying,
                                 SessionEvent::kWriteVerifyMode));
  }
  const records::StoreResult stored =
      RecordLastRun(session_, api_, name, target, settings_.ReadText(kRecordsUrlKey).value_or(""));
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
    logView_->scrollToBottom();
  });
}

void CQuarnelDlg::SetLogButtons(bool enabled) { SetEnabled({kSaveLog, kClearLog}, enabled); }

void CQuarnelDlg::ClearLog() {
  if (log_.rowCount() == 0) return;
  if (!ShowText(MessageStyle::Question, text::kClearLogQuestion)) return;
  log_.Clear();
  if (busyKind_ == SessionEvent::kIdle) SetLogButtons(false);
}

void CQuarnelDlg::SaveLog() {
  const std::optional<QString> chosen =
      prompter_.SaveFileName(this, Text(text::kSaveLogTitle), Text(text::kLogFileFilter), QStringLiteral("log"));
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
