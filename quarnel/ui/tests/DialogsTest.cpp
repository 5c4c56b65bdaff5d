#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>

#include "base/ControlIds.h"
#include "ui/AboutDlg.h"
#include "ui/Prompter.h"
#include "ui/TargetDialog.h"

namespace quarnel {
namespace {

QString Name(int id) { return QString::fromStdString(ControlObjectName(id)); }

TEST(TargetDialog, ListsTheNamesInSetOrderAndDefaultsToTheFirst) {
  CTargetDialog dialog;
  dialog.SetNames({QStringLiteral("KT51456"), QStringLiteral("KT3888"), QStringLiteral("KT2321")});
  auto* list = dialog.findChild<QComboBox*>(Name(ctl::kTargetChoice));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->itemText(0), QStringLiteral("KT51456"));
  EXPECT_EQ(list->itemText(2), QStringLiteral("KT2321"));
  EXPECT_EQ(dialog.Chosen(), -1);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Chosen(), 0);

  list->setCurrentIndex(2);
  dialog.accept();
  EXPECT_EQ(dialog.Chosen(), 2);
}

TEST(TargetDialog, ExitLeavesTheChoiceUnset) {
  CTargetDialog dialog;
  dialog.SetNames({QStringLiteral("A"), QStringLiteral("B")});
  dialog.findChild<QComboBox*>(Name(ctl::kTargetChoice))->setCurrentIndex(1);
  dialog.reject();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(dialog.Chosen(), -1);
}

TEST(AboutBox, ShowsTheVersionAsMajorDotTwoDigitMinor) {
  EXPECT_EQ(ProductVersionText(1, 0), QStringLiteral("1.00"));
  EXPECT_EQ(ProductVersionText(1, 5), QStringLiteral("1.05"));
  EXPECT_EQ(ProductVersionText(2, 12), QStringLiteral("2.12"));
  CAboutDlg about(ProductVersionText(1, 0));
  EXPECT_EQ(about.windowTitle(), QStringLiteral("QUARNEL version"));
  auto* version = about.findChild<QLabel*>(Name(ctl::kAboutVersion));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), QStringLiteral("QUARNEL Version : 1.00"));
  EXPECT_FALSE(about.findChild<QLabel*>(Name(ctl::kAboutNotice))->text().isEmpty());
}

TEST(FileDialogs, FiltersAndExtensions) {
  EXPECT_EQ(QtFileFilter(QStringLiteral("Intel HEX file(*.hex)|*.hex|Motorola S file(*.s)|*.s|")),
            QStringLiteral("Intel HEX file(*.hex) (*.hex);;Motorola S file(*.s) (*.s)"));
  EXPECT_EQ(WithDefaultExtension(QStringLiteral("/a/b"), QStringLiteral("log")), QStringLiteral("/a/b.log"));
  EXPECT_EQ(WithDefaultExtension(QStringLiteral("/a/b."), QStringLiteral("log")), QStringLiteral("/a/b.log"));
  EXPECT_EQ(WithDefaultExtension(QStringLiteral("/a.d/b"), QStringLiteral("log")), QStringLiteral("/a.d/b.log"));
  EXPECT_EQ(WithDefaultExtension(QStringLiteral("/a/b.txt"), QStringLiteral("log")), QStringLiteral("/a/b.txt"));
}

}  // namespace
}  // namespace quarnel
