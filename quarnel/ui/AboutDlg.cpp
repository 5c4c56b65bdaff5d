#include "ui/AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/ControlIds.h"
#include "base/ProgramVersion.h"
#include "base/StringTable.h"
#include "base/TextIds.h"

namespace quarnel {

QString ProductVersionText(int major, int minor) {
  return QString::fromStdString(ProgramVersionText(major, minor));
}

CAboutDlg::CAboutDlg(const QString& versionText, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("QUARNEL version"));

  auto* icon = new QLabel(this);
  icon->setPixmap(windowIcon().pixmap(48, 48));
  auto* version = new QLabel(QStringLiteral("QUARNEL Version : ") + versionText, this);
  version->setObjectName(QString::fromStdString(ControlObjectName(ctl::kAboutVersion)));
  auto* notice = new QLabel(QStringLiteral("Copyright (C) Zentor. All rights reserved."), this);
  notice->setObjectName(QString::fromStdString(ControlObjectName(ctl::kAboutNotice)));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QString::fromStdString(ControlObjectName(ctl::kOk)));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* texts = new QVBoxLayout;
  texts->addWidget(version);
  texts->addWidget(notice);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addSpacing(12);
  row->addLayout(texts);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace quarnel
