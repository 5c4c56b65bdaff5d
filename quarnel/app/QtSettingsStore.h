#pragma once

#include <QSettings>

#include "base/SettingsStore.h"

namespace quarnel {

// The per-user settings in QSettings("Zentor", "QUARNEL"), group "Settings".
// The file holds the security ID, so it is kept readable by its owner alone
// (mode 0600) whatever the umask.
class QtSettingsStore : public SettingsStore {
 public:
  QtSettingsStore();

  std::optional<std::string> ReadText(const std::string& key) override;
  int ReadInt(const std::string& key, int defaultValue) override;
  bool WriteText(const std::string& key, const std::string& value) override;
  bool WriteInt(const std::string& key, int value) override;

  QString FileName() const { return settings_.fileName(); }

 private:
  static QString Key(const std::string& key);
  bool Store(const std::string& key, const QVariant& value);
  void RestrictToOwner() const;

  QSettings settings_;
};

}  // namespace quarnel
