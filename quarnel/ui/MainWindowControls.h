#pragma once

#include <initializer_list>
#include <map>

#include <QFont>
#include <QString>

class QAbstractButton;
class QAbstractItemModel;
class QButtonGroup;
class QComboBox;
class QDialog;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace quarnel {

// A string table text as the widgets show it.
QString TableText(int textId);

// The main window's controls, built and laid out in the window given: each
// carries its identifier as object name ("ctl1016") and is found by it.
// What the controls do is the window's business.
class MainWindowControls {
 public:
  // The log view shows `log`.
  MainWindowControls(QDialog& window, QAbstractItemModel& log);

  QWidget* Control(int id) const;
  void SetEnabled(std::initializer_list<int> ids, bool enabled);
  // The height of an erase list row: room for its check box.
  int EraseRowHeight() const;

  // The face of the lists' font for a user whose language is named
  // languageName (as the system names it in that language).
  static QString ListFontFace(const QString& languageName);

  QComboBox* targetList = nullptr;
  QLineEdit* fileName = nullptr;
  QLineEdit* startAddress = nullptr;
  QLineEdit* flashOffset = nullptr;
  QLineEdit* endAddressOnMemory = nullptr;
  QLineEdit* arbitraryAddress = nullptr;
  QLineEdit* arbitraryData = nullptr;
  QButtonGroup* endModes = nullptr;
  QButtonGroup* fillModes = nullptr;
  QAbstractButton* eraseBeforeWrite = nullptr;
  QAbstractButton* notFill = nullptr;
  QAbstractButton* addTwoWords = nullptr;
  QTreeWidget* fileListView = nullptr;
  QTreeWidget* eraseList = nullptr;
  QListView* logView = nullptr;
  QPushButton* plugButton = nullptr;
  QProgressBar* progress = nullptr;

 private:
  static QFont ListFont();
  void BuildControls(QAbstractItemModel& log);
  QWidget* BuildTargetRow();
  QWidget* BuildWriteVerifyGroup();
  QWidget* BuildEraseGroup();
  QWidget* BuildLogArea(QAbstractItemModel& log);
  template <typename W>
  W* Register(int id, W* widget);
  QPushButton* NewButton(int id, const QString& caption);
  void ConfigureListColumns();

  QDialog& window_;
  std::map<int, QWidget*> byId_;
};

}  // namespace quarnel
