#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;

namespace quarnel {

// "Select Target": the names of all target descriptions in the order of the
// description set, so the chosen position is the description's index.
class CTargetDialog : public QDialog {
 public:
  explicit CTargetDialog(QWidget* parent = nullptr);

  // Fills the list in the given order and selects entry `initial`, or the
  // first one when there is no such entry.
  void SetNames(const QStringList& names, int initial = 0);
  // The entry selected when OK was pressed; -1 before that.
  int Chosen() const { return chosen_; }

  void accept() override;

 private:
  QComboBox* list_;
  int chosen_ = -1;
};

}  // namespace quarnel
