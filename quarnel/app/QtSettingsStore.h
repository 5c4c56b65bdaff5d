#pragma once

#include <QSettings>
#include <QString>

#include "base/SettingsStore.h"

namespace quarnel {

// The per-user settings in QSettings("Zentor", "QUARNEL"), group "Settings".
// The file holds the security ID, so it is kept readable by its owner alone
// (mode 0600) whatever the umask.
//
// QSettings keeps the first error it meets for as long as the object
// lives, so every read and write works through a QSettings of its own, and
// a write counts as stored only when its own sync() succeeded.
class QtSettingsStore : public SettingsStore {
 public:
  QtSettingsStore();
  // The same settings kept in the INI file `fileName`.
  explicit QtSettingsStore(QString fileName);

  std::optional<std::string> ReadText(const std::string& key) override;
  int ReadInt(const std::string& key, int defaultValue) override;
  bool WriteText(const std::string& key, const std::string& value) override;
  bool WriteInt(const std::string& key, int value) override;
  bool WriteTexts(const std::vector<std::pair<std::string, std::string>>& values) override;
  std::string Location() const override { return fileName_.toStdString(); }

  QString FileName() const { return fileName_; }

 private:
  static QString Key(const std::string& key);
  QVariant Value(const std::string& key) const;
  bool Store(const std::vector<std::pair<std::string, QVariant>>& values);
  void RestrictToOwner() const;

  QString fileName_;
};

}  // namespace quarnel
