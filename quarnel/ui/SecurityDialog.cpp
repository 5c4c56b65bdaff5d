#include "ui/SecurityDialog.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/ControlIds.h"

namespace quarnel {
namespace {

constexpr QChar kEmptyPosition = u' ';

QString ObjectName(int id) { return QString::fromStdString(ControlObjectName(id)); }

bool IsHexDigit(QChar c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool IsTabKey(const QKeyEvent* key) { return key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab; }

}  // namespace

CSecurityEdit::CSecurityEdit(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(kPositions);
  setText(QString(kPositions, kEmptyPosition));
  setCursorPosition(0);
  setContextMenuPolicy(Qt::NoContextMenu);
  setDragEnabled(false);
  setAcceptDrops(false);
  // A mouse click may put the caret anywhere; it goes back to the digits.
  connect(this, &QLineEdit::cursorPositionChanged, this, [this] { keepCaretInTypedText(); });
}

int CSecurityEdit::typedEnd() const {
  const QString current = text();
  for (int k = current.size(); k > 0; --k)
    if (current[k - 1] != kEmptyPosition) return k;
  return 0;
}

void CSecurityEdit::placeCaret(int position) { setCursorPosition(std::min(position, typedEnd())); }

void CSecurityEdit::keepCaretInTypedText() {
  if (cursorPosition() > typedEnd()) setCursorPosition(typedEnd());
}

void CSecurityEdit::setPosition(int position, QChar character) {
  QString current = text();
  current[position] = character;
  const QSignalBlocker quiet(this);
  setText(current);
}

// Tab and Shift+Tab belong to the field too, not to the focus chain.
bool CSecurityEdit::event(QEvent* event) {
  if (event->type() == QEvent::KeyPress && IsTabKey(static_cast<QKeyEvent*>(event))) {
    keyPressEvent(static_cast<QKeyEvent*>(event));
    return true;
  }
  return QLineEdit::event(event);
}

void CSecurityEdit::keyPressEvent(QKeyEvent* event) {
  lastKey_ = event->key();
  event->accept();
  deselect();
  const int caret = cursorPosition();
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      emit tabPressed(event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier));
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      emit enterPressed();
      return;
    case Qt::Key_Left:
      if (caret == 0) return emit leftAtStart();
      setCursorPosition(caret - 1);
      break;
    case Qt::Key_Right:
      if (caret == kPositions) return emit rightAtEnd();
      placeCaret(caret + 1);
      break;
    case Qt::Key_Home:
      setCursorPosition(0);
      break;
    case Qt::Key_End:
      placeCaret(kPositions);
      break;
    case Qt::Key_Backspace:
      if (caret == 0) return emit leftAtStart();
      setPosition(caret - 1, kEmptyPosition);
      placeCaret(caret - 1);
      break;
    case Qt::Key_Delete:
      if (caret == kPositions) return;
      setPosition(caret, kEmptyPosition);
      placeCaret(caret);
      break;
    default: {
      const QString typed = event->text();
      if (typed.size() != 1 || !IsHexDigit(typed[0]) || caret == kPositions) return;
      setPosition(caret, typed[0]);
      setCursorPosition(caret + 1);
      break;
    }
  }
  emit edited();
}

CSecurityDialog::CSecurityDialog(int32_t securityType, QWidget* parent)
    : QDialog(parent), securityType_(securityType) {
  setWindowTitle(QString());
  buildLayout();
  for (size_t k = 0; k < fields_.size(); ++k) connectField(k);
  connect(enterId_, &QRadioButton::toggled, this, [this](bool on) { enableFields(on); });
  connect(ok_, &QPushButton::clicked, this, &CSecurityDialog::accept);
  connect(exit_, &QPushButton::clicked, this, &CSecurityDialog::reject);
  fields_[0]->setFocus();
  fields_[0]->setCursorPosition(0);
}

void CSecurityDialog::buildLayout() {
  enterId_ = new QRadioButton(tr("Enter &security ID"), this);
  enterId_->setObjectName(ObjectName(ctl::kEnterSecurityId));
  enterId_->setChecked(true);
  initialize_ = new QRadioButton(tr("&Initialize Flash memory and security setting."), this);
  initialize_->setObjectName(ObjectName(ctl::kInitializeFlash));
  initialize_->setEnabled(securityType_ != 1);
  auto* choices = new QButtonGroup(this);
  choices->addButton(enterId_, SecurityEntry::kEnterId);
  choices->addButton(initialize_, SecurityEntry::kInitializeFlash);

  auto* row = new QHBoxLayout;
  for (size_t k = 0; k < fields_.size(); ++k) {
    fields_[k] = new CSecurityEdit(this);
    fields_[k]->setObjectName(ObjectName(ctl::kSecurityFields[k]));
    fields_[k]->setMinimumWidth(fields_[k]->fontMetrics().horizontalAdvance(QStringLiteral("WWWW")));
    row->addWidget(fields_[k]);
  }

  ok_ = new QPushButton(tr("OK"), this);
  ok_->setObjectName(ObjectName(ctl::kOk));
  ok_->setDefault(true);
  exit_ = new QPushButton(tr("Exit"), this);
  exit_->setObjectName(ObjectName(ctl::kCancel));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(exit_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(enterId_);
  layout->addLayout(row);
  layout->addWidget(initialize_);
  layout->addLayout(buttons);
  setTabOrder(enterId_, fields_[0]);
  for (size_t k = 1; k < fields_.size(); ++k) setTabOrder(fields_[k - 1], fields_[k]);
  setTabOrder(fields_.back(), ok_);
}

void CSecurityDialog::connectField(size_t k) {
  CSecurityEdit* edit = fields_[k];
  const bool first = k == 0;
  const bool last = k + 1 == fields_.size();
  connect(edit, &CSecurityEdit::edited, this, [this, k] { advanceAfterFourthDigit(k); });
  connect(edit, &CSecurityEdit::leftAtStart, this, [this, k, first] {
    if (!first) focusField(k - 1, CSecurityEdit::kPositions);
  });
  connect(edit, &CSecurityEdit::rightAtEnd, this, [this, k, last] {
    if (!last) focusField(k + 1, 0);
  });
  connect(edit, &CSecurityEdit::tabPressed, this, [this, k, first, last](bool backwards) {
    if (backwards && first)
      enterId_->setFocus(Qt::BacktabFocusReason);
    else if (backwards)
      focusField(k - 1, CSecurityEdit::kPositions);
    else if (last)
      ok_->setFocus(Qt::TabFocusReason);
    else
      focusField(k + 1, 0);
  });
  connect(edit, &CSecurityEdit::enterPressed, this, &CSecurityDialog::accept);
}

void CSecurityDialog::enableFields(bool enabled) {
  for (CSecurityEdit* edit : fields_) edit->setEnabled(enabled);
}

void CSecurityDialog::focusField(size_t k, int caret) {
  fields_[k]->setFocus(Qt::OtherFocusReason);
  fields_[k]->deselect();
  fields_[k]->placeCaret(caret);
}

void CSecurityDialog::advanceAfterFourthDigit(size_t k) {
  if (k + 1 == fields_.size()) return;
  const CSecurityEdit* edit = fields_[k];
  const QString text = edit->text();
  const bool erasing = edit->lastKey() == Qt::Key_Backspace || edit->lastKey() == Qt::Key_Delete;
  if (text.size() == CSecurityEdit::kPositions && !erasing && text.back() != kEmptyPosition &&
      edit->cursorPosition() == CSecurityEdit::kPositions)
    focusField(k + 1, 0);
}

void CSecurityDialog::accept() {
  entry_.choice = initialize_->isChecked() ? SecurityEntry::kInitializeFlash : SecurityEntry::kEnterId;
  if (entry_.choice == SecurityEntry::kEnterId)
    for (size_t k = 0; k < fields_.size(); ++k) entry_.texts[k] = fields_[k]->text().toStdString();
  QDialog::accept();
}

std::optional<SecurityEntry> AskSecurityIdInDialog(uint16_t securityType, QWidget* parent) {
  CSecurityDialog dialog(securityType, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.entry();
}

}  // namespace quarnel
