#include "ui/Prompter.h"

#include <QFileDialog>
#include <QMessageBox>

#include "base/StringTable.h"
#include "base/TextIds.h"
#include "ui/SecurityDialog.h"
#include "ui/TargetDialog.h"

namespace quarnel {
namespace {

QMessageBox::Icon BoxIcon(MessageStyle style) {
  switch (style) {
    case MessageStyle::Stop: return QMessageBox::Critical;
    case MessageStyle::Warning: return QMessageBox::Warning;
    case MessageStyle::Question:
    case MessageStyle::YesNoQuestion: return QMessageBox::Question;
    case MessageStyle::Plain: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(MessageStyle style) {
  switch (style) {
    case MessageStyle::Question: return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageStyle::YesNoQuestion: return QMessageBox::Yes | QMessageBox::No;
    default: return QMessageBox::Ok;
  }
}

// The dialog itself adds the default suffix before it looks for the file,
// so that the existing-file check of Open and the replace question of Save
// are about the name that is used.
std::optional<QString> ChooseFileName(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& defaultSuffix, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, title, QString(), QtFileFilter(filter));
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(defaultSuffix);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
  return chosen.first();
}

}  // namespace

bool QtPrompter::ShowMessage(QWidget* parent, MessageStyle style, const QString& text) {
  QMessageBox box(BoxIcon(style), QString::fromUtf8(LoadText(text::kProgramName)), text, BoxButtons(style), parent);
  const int answer = box.exec();
  return answer == QMessageBox::Ok || answer == QMessageBox::Yes;
}

std::optional<QString> QtPrompter::OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                                const QString& defaultSuffix) {
  return ChooseFileName(parent, title, filter, defaultSuffix, QFileDialog::AcceptOpen);
}

std::optional<QString> QtPrompter::SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                                const QString& defaultSuffix) {
  return ChooseFileName(parent, title, filter, defaultSuffix, QFileDialog::AcceptSave);
}

std::optional<int> QtPrompter::ChooseTarget(QWidget* parent, const QStringList& names, int initial) {
  CTargetDialog dialog(parent);
  dialog.SetNames(names, initial);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Chosen();
}

std::optional<SecurityEntry> QtPrompter::AskSecurityId(QWidget* parent, uint16_t securityType) {
  return AskSecurityIdInDialog(securityType, parent);
}

QString QtFileFilter(const QString& pairs) {
  const QStringList parts = pairs.split(QLatin1Char('|'), Qt::SkipEmptyParts);
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    filters << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                   QLatin1Char(')');
  return filters.join(QStringLiteral(";;"));
}

QString WithDefaultExtension(const QString& path, const QString& extension) {
  const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < nameStart) return path + QLatin1Char('.') + extension;
  if (dot == path.size() - 1) return path + extension;
  return path;
}

}  // namespace quarnel
