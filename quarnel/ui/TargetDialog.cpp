#include "ui/TargetDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/ControlIds.h"

namespace quarnel {

CTargetDialog::CTargetDialog(QWidget* parent) : QDialog(parent), list_(new QComboBox(this)) {
  setWindowTitle(QStringLiteral("Select Target"));
  list_->setObjectName(QString::fromStdString(ControlObjectName(ctl::kTargetChoice)));
  list_->setMinimumContentsLength(24);

  auto* label = new QLabel(QStringLiteral("Ta&rget"), this);
  label->setBuddy(list_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  QPushButton* exit = buttons->addButton(QStringLiteral("E&xit"), QDialogButtonBox::RejectRole);
  ok->setObjectName(QString::fromStdString(ControlObjectName(ctl::kOk)));
  exit->setObjectName(QString::fromStdString(ControlObjectName(ctl::kCancel)));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(list_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CTargetDialog::SetNames(const QStringList& names, int initial) {
  list_->clear();
  list_->addItems(names);
  list_->setCurrentIndex(initial >= 0 && initial < names.size() ? initial : 0);
}

void CTargetDialog::accept() {
  chosen_ = list_->currentIndex();
  QDialog::accept();
}

}  // namespace quarnel
