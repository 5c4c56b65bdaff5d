#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "base/UserNotifier.h"
#include "plug/SecurityCheck.h"

class QWidget;

namespace quarnel {

// Every message box, file dialog and target choice of the program goes
// through this interface, so that tests answer them from a script.
class Prompter {
 public:
  virtual ~Prompter() = default;
  // True when the user chose OK (or Yes); boxes with only OK give true.
  virtual bool ShowMessage(QWidget* parent, MessageStyle style, const QString& text) = 0;
  // The chosen path, or nothing on Cancel. `filter` is in the string
  // table's form: description and pattern pairs separated by "|". A name
  // typed without an extension means the name with `defaultSuffix`, both
  // when it is looked up and when it is returned.
  virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                              const QString& defaultSuffix) = 0;
  // Asks before an existing file is replaced, for the name with
  // `defaultSuffix` added as it will be written.
  virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                              const QString& defaultSuffix) = 0;
  // The Select Target dialog over `names`, opened on `initial` (the first
  // entry when that is out of range): the chosen index, or nothing on Exit.
  virtual std::optional<int> ChooseTarget(QWidget* parent, const QStringList& names, int initial) = 0;
  // The security ID dialog: the entry after OK, nothing after Exit.
  virtual std::optional<SecurityEntry> AskSecurityId(QWidget* parent, uint16_t securityType) = 0;
};

// The prompter with real boxes and dialogs.
class QtPrompter : public Prompter {
 public:
  bool ShowMessage(QWidget* parent, MessageStyle style, const QString& text) override;
  std::optional<QString> OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& defaultSuffix) override;
  std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& defaultSuffix) override;
  std::optional<int> ChooseTarget(QWidget* parent, const QStringList& names, int initial) override;
  std::optional<SecurityEntry> AskSecurityId(QWidget* parent, uint16_t securityType) override;
};

// "Intel HEX file(*.hex)|*.hex|" becomes Qt's "Intel HEX file(*.hex) (*.hex)".
QString QtFileFilter(const QString& pairs);

// A chosen file name without an extension gets `extension`: "run1" gives
// "run1.log" and "run1." gives "run1.log"; "run1.txt" stays.
QString WithDefaultExtension(const QString& path, const QString& extension);

}  // namespace quarnel
