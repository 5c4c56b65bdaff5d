#include "ui/MainWindowControls.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/StringTable.h"
#include "base/TextIds.h"
#include "image/FileList.h"

namespace quarnel {
namespace {

using namespace ctl;

constexpr int kListFontPixels = 12;
// Rows the lists show when the window opens, and at its smallest: small
// enough for the whole window on a 1024x768 screen. A larger window gives
// its extra height to the file list and the log.
constexpr int kFileListRows = 3;
constexpr int kEraseListRows = 4;
constexpr int kLogRows = 4;
constexpr int kFewestFileRows = 2;
constexpr int kFewestListRows = 3;

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

QString TableText(int textId) { return QString::fromUtf8(LoadText(textId)); }

MainWindowControls::MainWindowControls(QDialog& window, QAbstractItemModel& log) : window_(window) {
  BuildControls(log);
  ConfigureListColumns();
}

template <typename W>
W* MainWindowControls::Register(int id, W* widget) {
  widget->setObjectName(QString::fromStdString(ControlObjectName(id)));
  byId_[id] = widget;
  return widget;
}

QPushButton* MainWindowControls::NewButton(int id, const QString& caption) {
  auto* button = Register(id, new QPushButton(caption, &window_));
  // Enter never presses a button of this window.
  button->setAutoDefault(false);
  return button;
}

QWidget* MainWindowControls::Control(int id) const {
  auto found = byId_.find(id);
  return found == byId_.end() ? nullptr : found->second;
}

void MainWindowControls::SetEnabled(std::initializer_list<int> ids, bool enabled) {
  for (int id : ids) Control(id)->setEnabled(enabled);
}

void MainWindowControls::BuildControls(QAbstractItemModel& log) {
  // Extra height goes half to the write/verify group, where only the file
  // list grows, and half to the log.
  auto* layout = new EvenGrowthColumn(&window_);
  layout->addWidget(BuildTargetRow());
  layout->addWidget(BuildWriteVerifyGroup(), 1);
  layout->addWidget(BuildEraseGroup());
  layout->addWidget(BuildLogArea(log), 1);
}

QWidget* MainWindowControls::BuildTargetRow() {
  auto* row = new QWidget(&window_);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  targetList = Register(kTargetList, new QComboBox(&window_));
  targetList->setMinimumContentsLength(28);
  auto* label = new QLabel(QStringLiteral("Ta&rget"), &window_);
  label->setBuddy(targetList);
  plugButton = NewButton(kPlug, QStringLiteral("Un&plug"));
  layout->addWidget(label);
  layout->addWidget(targetList);
  layout->addWidget(plugButton);
  layout->addStretch(1);
  layout->addWidget(NewButton(kAbout, QStringLiteral("Abo&ut")));
  return row;
}

QWidget* MainWindowControls::BuildWriteVerifyGroup() {
  auto* group = new QGroupBox(QStringLiteral("Flash Memory Write/Verify"), &window_);
  auto* layout = new QGridLayout(group);

  fileName = Register(kFileName, new QLineEdit(&window_));
  auto* fileLabel = new QLabel(QStringLiteral("&File Name"), &window_);
  fileLabel->setBuddy(fileName);
  auto* browse = NewButton(kBrowse, QStringLiteral("..."));
  browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(fileLabel);
  fileRow->addWidget(fileName, 1);
  fileRow->addWidget(browse);
  layout->addLayout(fileRow, 0, 0, 1, 2);

  // Left: the file window's start and the offset; right: the end rule.
  auto* addresses = new QGridLayout;
  startAddress = Register(kStartAddress, new QLineEdit(&window_));
  flashOffset = Register(kFlashOffset, new QLineEdit(&window_));
  auto* startLabel = new QLabel(QStringLiteral("Star&t Address on File"), &window_);
  startLabel->setBuddy(startAddress);
  auto* offsetLabel = new QLabel(QStringLiteral("Flash Memory &Offset"), &window_);
  offsetLabel->setBuddy(flashOffset);
  addresses->addWidget(startLabel, 0, 0);
  addresses->addWidget(startAddress, 0, 1);
  addresses->addWidget(offsetLabel, 1, 0);
  addresses->addWidget(flashOffset, 1, 1);
  addresses->setRowStretch(2, 1);
  addresses->setColumnStretch(2, 1);
  // Addresses are short; a wider window widens the file name instead.
  const int addressWidth = startAddress->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 24;
  startAddress->setMaximumWidth(addressWidth);
  flashOffset->setMaximumWidth(addressWidth);

  auto* endGroup = new QGroupBox(QStringLiteral("End Address on File"), &window_);
  auto* endLayout = new QGridLayout(endGroup);
  endModes = new QButtonGroup(&window_);
  const std::pair<int, const char*> endRadios[] = {{kEndOnMemory, "End Address on Memor&y"},
                                                   {kEndByFileContent, "Depends on File Content"},
                                                   {kEndArbitrary, "Arbitrary Address"}};
  for (int mode = 0; mode < 3; ++mode) {
    auto* radio = Register(endRadios[mode].first, new QRadioButton(QString::fromUtf8(endRadios[mode].second), &window_));
    endModes->addButton(radio, mode);
    endLayout->addWidget(radio, mode, 0);
  }
  endAddressOnMemory = Register(kEndAddressOnMemory, new QLineEdit(&window_));
  endAddressOnMemory->setReadOnly(true);
  arbitraryAddress = Register(kArbitraryAddress, new QLineEdit(&window_));
  endLayout->addWidget(endAddressOnMemory, 0, 1);
  endLayout->addWidget(arbitraryAddress, 2, 1);
  endModes->button(0)->setChecked(true);
  arbitraryAddress->setEnabled(false);

  layout->addLayout(addresses, 1, 0);
  layout->addWidget(endGroup, 1, 1);

  auto* listRow = new QHBoxLayout;
  fileListView = Register(kFileList, new RowsView<QTreeWidget>(&window_));
  auto* listLabel = new QLabel(QStringLiteral("File List"), &window_);
  listRow->addWidget(listLabel);
  listRow->addStretch(1);
  listRow->addWidget(NewButton(kAddToList, QStringLiteral("&Add to List")));
  listRow->addWidget(NewButton(kDeleteFromList, QStringLiteral("&Delete from List")));
  layout->addLayout(listRow, 2, 0, 1, 2);
  layout->addWidget(fileListView, 3, 0, 1, 2);
  layout->setRowStretch(3, 1);

  auto* fillGroup = new QGroupBox(QStringLiteral("Filling Data"), &window_);
  auto* fillLayout = new QGridLayout(fillGroup);
  fillModes = new QButtonGroup(&window_);
  auto* fillArbitrary = Register(kFillArbitrary, new QRadioButton(QStringLiteral("Arb&itrary Data"), &window_));
  auto* fillContent = Register(kFillFlashContent, new QRadioButton(QStringLiteral("Content of Flas&h Memory"), &window_));
  fillModes->addButton(fillArbitrary, 0);
  fillModes->addButton(fillContent, 1);
  fillArbitrary->setChecked(true);
  arbitraryData = Register(kArbitraryData, new QLineEdit(&window_));
  arbitraryData->setMaximumWidth(arbitraryData->fontMetrics().horizontalAdvance(QStringLiteral("0ABCDH")) * 2);
  fillLayout->addWidget(fillArbitrary, 0, 0);
  fillLayout->addWidget(arbitraryData, 0, 1);
  fillLayout->addWidget(fillContent, 1, 0, 1, 2);

  auto* optionsGroup = new QGroupBox(QStringLiteral("Write Options"), &window_);
  auto* optionsLayout = new QVBoxLayout(optionsGroup);
  eraseBeforeWrite =
      Register(kEraseBeforeWrite, new QCheckBox(QStringLiteral("Erase Flash Memory &before Write"), &window_));
  notFill = Register(kNotFill, new QCheckBox(QStringLiteral("&Not Fill the Area excluding Files"), &window_));
  addTwoWords = Register(kAddTwoWords, new QCheckBox(QStringLiteral("Add &2 Word Data after Files"), &window_));
  eraseBeforeWrite->setChecked(true);
  addTwoWords->setChecked(true);
  optionsLayout->addWidget(eraseBeforeWrite);
  optionsLayout->addWidget(notFill);
  optionsLayout->addWidget(addTwoWords);

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

QWidget* MainWindowControls::BuildEraseGroup() {
  auto* group = new QGroupBox(QStringLiteral("Flash Memory Erase"), &window_);
  auto* layout = new QHBoxLayout(group);
  eraseList = Register(kEraseList, new RowsView<QTreeWidget>(&window_));
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(NewButton(kSelectAll, QStringLiteral("Se&lect All")));
  buttons->addStretch(1);
  buttons->addWidget(NewButton(kErase, QStringLiteral("&Erase")));
  buttons->addWidget(NewButton(kEraseCancel, QStringLiteral("Cancel")));
  layout->addWidget(eraseList, 1);
  layout->addLayout(buttons);
  return group;
}

QWidget* MainWindowControls::BuildLogArea(QAbstractItemModel& log) {
  auto* area = new QWidget(&window_);
  auto* layout = new QGridLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  logView = Register(kLogList, new RowsView<QListView>(&window_));
  logView->setModel(&log);
  logView->setUniformItemSizes(true);
  logView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  logView->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(NewButton(kSaveLog, QStringLiteral("&Save Log")));
  buttons->addWidget(NewButton(kClearLog, QStringLiteral("Clear Lo&g")));
  buttons->addStretch(1);
  progress = new QProgressBar(&window_);
  progress->setObjectName(QStringLiteral("progress"));
  progress->setRange(0, 1);
  progress->setValue(0);
  progress->setTextVisible(false);
  layout->addWidget(logView, 0, 0);
  layout->setRowStretch(0, 1);
  layout->setColumnStretch(0, 1);
  layout->addLayout(buttons, 0, 1);
  layout->addWidget(progress, 1, 0);
  layout->addWidget(NewButton(kExit, QStringLiteral("E&xit")), 1, 1);
  return area;
}

QString MainWindowControls::ListFontFace(const QString& languageName) {
  constexpr int kLanguageNameLength = 20;
  const bool japanese = languageName.left(kLanguageNameLength).contains(QStringLiteral("日本語"));
  return japanese ? QStringLiteral("ＭＳ ゴシック") : QStringLiteral("Courier New");
}

QFont MainWindowControls::ListFont() {
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

void MainWindowControls::ConfigureListColumns() {
  const QFont font = ListFont();
  const int fileTitles[] = {text::kFileNameColumn, text::kStartAddressColumn, text::kEndAddressColumn,
                            text::kOffsetColumn, text::kFlashStartColumn};
  const int fileExtra[] = {220, 30, 30, 40, 40};
  QStringList titles;
  for (int id : fileTitles) titles << TableText(id);
  fileListView->setFont(font);
  fileListView->setColumnCount(5);
  fileListView->setHeaderLabels(titles);
  fileListView->setRootIsDecorated(false);
  fileListView->setUniformRowHeights(true);
  fileListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  fileListView->setSelectionMode(QAbstractItemView::SingleSelection);
  int fileWidth = 0;
  for (int c = 0; c < 5; ++c) {
    fileListView->setColumnWidth(c, TitleWidth(font, titles[c], fileExtra[c]));
    fileWidth += fileListView->columnWidth(c);
  }
  // The end column also shows the end-of-memory text, which its title's
  // width would cut off.
  const int endColumn = static_cast<int>(kEndAddressColumn);
  fileListView->setColumnWidth(
      endColumn, std::max(fileListView->columnWidth(endColumn), TitleWidth(font, QString::fromLatin1(kToEndOfMemory.data(), kToEndOfMemory.size()), 12)));
  fileWidth += fileListView->columnWidth(endColumn) - TitleWidth(font, titles[endColumn], fileExtra[endColumn]);
  fileListView->setMinimumWidth(fileWidth + 24);
  // The file name column takes the width the others leave.
  fileListView->header()->setStretchLastSection(false);
  fileListView->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  const int fileRow = QFontMetrics(font).height() + 2;
  const int fileHeader = fileListView->header()->sizeHint().height();
  fileListView->setMinimumHeight(ViewHeight(*fileListView, kFewestFileRows, fileRow, fileHeader));
  static_cast<RowsView<QTreeWidget>*>(fileListView)
      ->SetPreferredHeight(ViewHeight(*fileListView, kFileListRows, fileRow, fileHeader));
  fileListView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  const int eraseTitles[] = {text::kEraseColumn, text::kBlockColumn, text::kBlockStartColumn, text::kBlockEndColumn,
                             text::kStatusColumn};
  const int eraseExtra[] = {20, 20, 20, 20, 140};
  titles.clear();
  for (int id : eraseTitles) titles << TableText(id);
  eraseList->setFont(font);
  eraseList->setColumnCount(5);
  eraseList->setHeaderLabels(titles);
  eraseList->setRootIsDecorated(false);
  eraseList->setUniformRowHeights(true);
  eraseList->setSelectionMode(QAbstractItemView::SingleSelection);
  for (int c = 0; c < 5; ++c) eraseList->setColumnWidth(c, TitleWidth(font, titles[c], eraseExtra[c]));
  const int eraseHeader = eraseList->header()->sizeHint().height();
  eraseList->setMinimumHeight(ViewHeight(*eraseList, kFewestListRows, EraseRowHeight(), eraseHeader));
  static_cast<RowsView<QTreeWidget>*>(eraseList)
      ->SetPreferredHeight(ViewHeight(*eraseList, kEraseListRows, EraseRowHeight(), eraseHeader));
  eraseList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);

  logView->setFont(font);
  logView->setMinimumWidth(TitleWidth(font, QString(64, QLatin1Char(' ')), 80));
  const int logRow = QFontMetrics(font).height();
  logView->setMinimumHeight(ViewHeight(*logView, kFewestListRows, logRow, 0));
  static_cast<RowsView<QListView>*>(logView)->SetPreferredHeight(ViewHeight(*logView, kLogRows, logRow, 0));
  logView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

// A row of the list font is lower than a check box; the rows make room for it.
int MainWindowControls::EraseRowHeight() const {
  const int box = eraseList->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, eraseList);
  return std::max(QFontMetrics(eraseList->font()).height(), box) + 2;
}

}  // namespace quarnel
