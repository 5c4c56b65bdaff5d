#include "ui/SecurityDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "base/ControlIds.h"
#include "plug/SecurityId.h"

namespace quarnel {
namespace {

using SecurityUiTest = ::testing::Test;

// Keys are a string: hexadecimal digits and other characters as typed, and
// < > for Left and Right, ^ $ for Home and End, # for Backspace, ! for Delete.
void Type(QWidget* widget, const std::string& keys) {
  for (char key : keys) {
    switch (key) {
      case '<': QTest::keyClick(widget, Qt::Key_Left); break;
      case '>': QTest::keyClick(widget, Qt::Key_Right); break;
      case '^': QTest::keyClick(widget, Qt::Key_Home); break;
      case '$': QTest::keyClick(widget, Qt::Key_End); break;
      case '#': QTest::keyClick(widget, Qt::Key_Backspace); break;
      case '!': QTest::keyClick(widget, Qt::Key_Delete); break;
      default: QTest::keyClick(widget, key); break;
    }
  }
}

struct MaskRule {
  const char* keys;
  const char* text;
  int caret;
};

class SecurityEditKeys : public SecurityUiTest, public ::testing::WithParamInterface<MaskRule> {};

TEST_P(SecurityEditKeys, KeepFourPositionsAndTheCaretInTheTypedDigits) {
  CSecurityEdit edit;
  Type(&edit, GetParam().keys);
  EXPECT_EQ(edit.text().toStdString(), GetParam().text);
  EXPECT_EQ(edit.cursorPosition(), GetParam().caret);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SecurityEditKeys,
    ::testing::Values(MaskRule{"", "    ", 0}, MaskRule{"12", "12  ", 2}, MaskRule{"aF9", "aF9 ", 3},
                      MaskRule{"1g-z 2", "12  ", 2},   // only hexadecimal digits are taken
                      MaskRule{"123456", "1234", 4},   // at most four
                      MaskRule{"12>>>", "12  ", 2},    // the caret stops after the typed digits
                      MaskRule{"12<<$", "12  ", 2}, MaskRule{"1234^", "1234", 0},
                      MaskRule{"1234<<#", "1 34", 1},  // an empty position between digits
                      MaskRule{"1234<<#^!", "  34", 0}, MaskRule{"12###", "    ", 0},
                      MaskRule{"1234<<5", "1254", 3},  // typing replaces the digit at the caret
                      MaskRule{"1234!", "1234", 4}));

TEST_F(SecurityUiTest, CaretPlacedBeyondTheDigitsComesBack) {
  CSecurityEdit edit;
  Type(&edit, "12");
  edit.setCursorPosition(4);
  EXPECT_EQ(edit.cursorPosition(), 2);
  EXPECT_EQ(edit.lastKey(), Qt::Key_2);
}

TEST_F(SecurityUiTest, DialogHasItsControlsByIdentifier) {
  CSecurityDialog typeOne(1);
  EXPECT_TRUE(typeOne.windowTitle().isEmpty());
  auto* initialize = typeOne.findChild<QRadioButton*>("ctl2053");
  ASSERT_NE(initialize, nullptr);
  EXPECT_FALSE(initialize->isEnabled());
  ASSERT_NE(typeOne.findChild<QRadioButton*>("ctl2052"), nullptr);
  EXPECT_TRUE(typeOne.findChild<QRadioButton*>("ctl2052")->isChecked());
  ASSERT_NE(typeOne.findChild<QPushButton*>("ctl1"), nullptr);
  ASSERT_NE(typeOne.findChild<QPushButton*>("ctl2"), nullptr);
  EXPECT_EQ(typeOne.findChild<QWidget*>("ctl2060"), nullptr);
  for (size_t k = 0; k < kSecurityFieldCount; ++k)
    EXPECT_EQ(typeOne.findChild<CSecurityEdit*>(QStringLiteral("ctl%1").arg(ctl::kSecurityFields[k])),
              typeOne.field(k));
  EXPECT_EQ(typeOne.focusWidget(), typeOne.field(0));

  CSecurityDialog typeTwo(2);
  EXPECT_TRUE(typeTwo.findChild<QRadioButton*>("ctl2053")->isEnabled());
}

TEST_F(SecurityUiTest, TypingRunsOnFromFieldToFieldAndEnterTakesTheTexts) {
  CSecurityDialog dialog(2);
  dialog.show();
  Type(dialog.field(0), "1234");
  EXPECT_EQ(dialog.focusWidget(), dialog.field(1));
  Type(dialog.field(1), "5678");
  Type(dialog.field(2), "9abc");
  Type(dialog.field(3), "DEF0");
  EXPECT_EQ(dialog.focusWidget(), dialog.field(4));
  QTest::keyClick(dialog.field(4), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.entry().choice, SecurityEntry::kEnterId);
  EXPECT_EQ(dialog.entry().texts[3], "DEF0");
  EXPECT_EQ(dialog.entry().texts[4], "    ");
  EXPECT_EQ(WordsFromFieldTexts(dialog.entry().texts), (std::vector<uint16_t>{0x1234, 0x5678, 0x9ABC, 0xDEF0}));
}

TEST_F(SecurityUiTest, KeysCrossTheFieldBorders) {
  CSecurityDialog dialog(2);
  dialog.show();
  Type(dialog.field(0), "1234");
  // Backspace at the start goes back to the end of the full field before;
  // erasing there and typing the fourth digit again runs on once more.
  QTest::keyClick(dialog.field(1), Qt::Key_Backspace);
  EXPECT_EQ(dialog.focusWidget(), dialog.field(0));
  EXPECT_EQ(dialog.field(0)->cursorPosition(), 4);
  Type(dialog.field(0), "#");
  EXPECT_EQ(dialog.field(0)->text(), "123 ");
  EXPECT_EQ(dialog.focusWidget(), dialog.field(0));
  Type(dialog.field(0), "4");
  EXPECT_EQ(dialog.focusWidget(), dialog.field(1));

  // Left at the start of a field lands after the typed digits of the one before.
  Type(dialog.field(1), "56");
  Type(dialog.field(2), "<");
  EXPECT_EQ(dialog.focusWidget(), dialog.field(1));
  EXPECT_EQ(dialog.field(1)->cursorPosition(), 2);
  Type(dialog.field(1), "^");
  Type(dialog.field(1), "<");
  EXPECT_EQ(dialog.focusWidget(), dialog.field(0));
  Type(dialog.field(0), ">");  // caret at 4
  EXPECT_EQ(dialog.focusWidget(), dialog.field(1));
  EXPECT_EQ(dialog.field(1)->cursorPosition(), 0);

  QTest::keyClick(dialog.field(5), Qt::Key_Tab);
  EXPECT_EQ(dialog.focusWidget(), dialog.field(6));
  QTest::keyClick(dialog.field(11), Qt::Key_Tab);
  EXPECT_EQ(dialog.focusWidget(), dialog.findChild<QPushButton*>("ctl1"));
  QTest::keyClick(dialog.field(2), Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(dialog.focusWidget(), dialog.field(1));
  EXPECT_EQ(dialog.field(1)->cursorPosition(), 2);
  QTest::keyClick(dialog.field(0), Qt::Key_Backtab);
  EXPECT_EQ(dialog.focusWidget(), dialog.findChild<QRadioButton*>("ctl2052"));
  // Escape belongs to the field and does not close the dialog.
  QTest::keyClick(dialog.field(0), Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(SecurityUiTest, InitializeDisablesTheFieldsAndExitCancels) {
  CSecurityDialog initialize(2);
  initialize.show();
  initialize.findChild<QRadioButton*>("ctl2053")->click();
  for (size_t k = 0; k < kSecurityFieldCount; ++k) EXPECT_FALSE(initialize.field(k)->isEnabled());
  initialize.findChild<QRadioButton*>("ctl2052")->click();
  EXPECT_TRUE(initialize.field(11)->isEnabled());
  initialize.findChild<QRadioButton*>("ctl2053")->click();
  initialize.findChild<QPushButton*>("ctl1")->click();
  EXPECT_EQ(initialize.result(), QDialog::Accepted);
  EXPECT_EQ(initialize.entry().choice, SecurityEntry::kInitializeFlash);

  CSecurityDialog exit(2);
  exit.show();
  Type(exit.field(0), "1234");
  exit.findChild<QPushButton*>("ctl2")->click();
  EXPECT_EQ(exit.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace quarnel

// The application must outlive every widget and go before Qt's own globals.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
