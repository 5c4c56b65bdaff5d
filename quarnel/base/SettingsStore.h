#pragma once

#include <optional>
#include <string>

namespace quarnel {

// The per-user values of the section "Settings": "TRGNAME", "SECUREID" and
// "SECUREIDSIZE". The program keeps them with Qt's settings; tests in memory.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Empty when the value is missing.
  virtual std::optional<std::string> ReadText(const std::string& key) = 0;
  // The default when the value is missing or not a number.
  virtual int ReadInt(const std::string& key, int defaultValue) = 0;
  // False when the value could not be stored.
  virtual bool WriteText(const std::string& key, const std::string& value) = 0;
  virtual bool WriteInt(const std::string& key, int value) = 0;
};

}  // namespace quarnel
