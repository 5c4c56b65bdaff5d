#pragma once

#include <QDialog>

namespace quarnel {

// "1.00" for version 1.0: major, then minor as two digits, then the text
// text::kVersionSuffix.
QString ProductVersionText(int major, int minor);

// "QUARNEL version": the program's version and the maker's notice.
class CAboutDlg : public QDialog {
 public:
  // versionText as made by ProductVersionText; empty when unknown.
  explicit CAboutDlg(const QString& versionText, QWidget* parent = nullptr);
};

}  // namespace quarnel
