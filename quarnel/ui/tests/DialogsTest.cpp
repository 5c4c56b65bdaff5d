#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "base/ControlIds.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "ui/AboutDlg.h"
#include "ui/Prompter.h"
#include "ui/TargetDialog.h"
#include "ui/MainWindowControls.h"

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

  // Opened on a given entry; one that is not there gives the first.
  dialog.SetNames({QStringLiteral("A"), QStringLiteral("B")}, 1);
  EXPECT_EQ(list->currentIndex(), 1);
  dialog.SetNames({QStringLiteral("A"), QStringLiteral("B")}, 2);
  EXPECT_EQ(list->currentIndex(), 0);
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

// Answers the modal dialogs that open while `run` goes on: every few
// milliseconds the active modal widget goes to `answer`, which acts on it
// through queued calls so that a box opened by an accept() runs its own loop
// outside this timer. Whatever is still open after five seconds is rejected.
template <typename Run>
auto AnswerModals(Run run, std::function<void(QWidget*)> answer) {
  QTimer timer;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (clock.elapsed() > 5000) {
      QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
      return;
    }
    answer(modal);
  });
  timer.start(10);
  return run();
}

void TypeAndAccept(QWidget* dialog, const QString& name) {
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(edit, nullptr);
  edit->setText(name);
  QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
}

// Qt's own file dialog: a name typed without an extension gets the default
// one before the dialog looks at the disk, so Save asks before replacing
// the file that will be written and Open finds the file meant.
TEST(FileDialogs, TypedNamesGetTheDefaultExtensionBeforeTheyAreChecked) {
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"run1.log", "prog.hex"}) {
    QFile file(dir.filePath(QString::fromUtf8(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  QtPrompter prompter;

  QStringList questions;
  int typed = 0;
  const std::optional<QString> saved = AnswerModals(
      [&] { return prompter.SaveFileName(nullptr, QStringLiteral("Save Log"), QStringLiteral("Log file(*.log)|*.log|"), QStringLiteral("log")); },
      [&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
          questions << box->text();
          // No the first time, which leaves the dialog open; then Yes.
          box->button(questions.size() == 1 ? QMessageBox::No : QMessageBox::Yes)->click();
        } else if (qobject_cast<QFileDialog*>(modal) && typed == questions.size()) {
          ++typed;
          TypeAndAccept(modal, dir.filePath(QStringLiteral("run1")));
        }
      });
  EXPECT_EQ(questions.size(), 2);
  for (const QString& question : questions)
    EXPECT_TRUE(question.contains(QStringLiteral("run1.log"))) << question.toStdString();
  EXPECT_EQ(saved, dir.filePath(QStringLiteral("run1.log")));

  QStringList boxes;
  bool typedOnce = false;
  const std::optional<QString> opened = AnswerModals(
      [&] {
        return prompter.OpenFileName(nullptr, QStringLiteral("Open"), TableText(text::kObjectFileFilter),
                                     QStringLiteral("hex"));
      },
      [&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
          boxes << box->text();
          box->button(QMessageBox::Ok)->click();
        } else if (!typedOnce) {
          typedOnce = true;
          TypeAndAccept(modal, dir.filePath(QStringLiteral("prog")));
        } else {
          QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        }
      });
  EXPECT_EQ(boxes, QStringList());
  EXPECT_EQ(opened, dir.filePath(QStringLiteral("prog.hex")));
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
