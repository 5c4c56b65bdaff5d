#pragma once

#include <QDialog>
#include <QLineEdit>

#include <array>
#include <cstdint>
#include <optional>

#include "plug/SecurityCheck.h"

class QPushButton;
class QRadioButton;

namespace quarnel {

// One four-digit field of the security ID: four positions that take only
// hexadecimal digits. Its text always has four characters, a blank for each
// empty position, and the caret never stands beyond the last typed digit.
// It takes every key itself; the keys that leave the field are passed to
// the dialog as signals.
class CSecurityEdit : public QLineEdit {
  Q_OBJECT

 public:
  static constexpr int kPositions = 4;

  explicit CSecurityEdit(QWidget* parent = nullptr);

  // The code of the last key pressed in the field (Qt::Key).
  int lastKey() const { return lastKey_; }
  // Puts the caret at `position`, or after the last typed digit if that is
  // nearer the start.
  void placeCaret(int position);

 signals:
  // The text or the caret changed through a key.
  void edited();
  // Backspace or Left with the caret at the start.
  void leftAtStart();
  // Right with the caret after the fourth position.
  void rightAtEnd();
  void tabPressed(bool backwards);
  void enterPressed();

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // One past the last position that holds a digit.
  int typedEnd() const;
  void setPosition(int position, QChar character);
  void keepCaretInTypedText();

  int lastKey_ = 0;
};

// The security ID dialog: enter the ID in twelve fields of four digits, or
// initialize the chip (erase all) instead. OK ends it with Accepted, Exit
// and the close box with Rejected.
class CSecurityDialog : public QDialog {
  Q_OBJECT

 public:
  // Security type 1 cannot be initialized: its choice is disabled.
  explicit CSecurityDialog(int32_t securityType, QWidget* parent = nullptr);

  // What the user chose; valid after OK.
  const SecurityEntry& entry() const { return entry_; }
  CSecurityEdit* field(size_t k) const { return fields_[k]; }

 public slots:
  void accept() override;

 private:
  void buildLayout();
  void connectField(size_t k);
  void enableFields(bool enabled);
  void focusField(size_t k, int caret);
  void advanceAfterFourthDigit(size_t k);

  int32_t securityType_;
  QRadioButton* enterId_ = nullptr;
  QRadioButton* initialize_ = nullptr;
  std::array<CSecurityEdit*, kSecurityFieldCount> fields_{};
  QPushButton* ok_ = nullptr;
  QPushButton* exit_ = nullptr;
  SecurityEntry entry_;
};

// Runs the dialog modally: the entry after OK, nothing after Exit.
std::optional<SecurityEntry> AskSecurityIdInDialog(uint16_t securityType, QWidget* parent);

}  // namespace quarnel
