#pragma once

#include <map>
#include <stdexcept>
#include <string>

#include "base/SettingsStore.h"

namespace quarnel {

// Settings that live only as long as the program runs: for a run whose
// target and security ID come from its command line, and for tests.
class MemorySettingsStore : public SettingsStore {
 public:
  std::map<std::string, std::string> values;

  std::optional<std::string> ReadText(const std::string& key) override {
    auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    return found->second;
  }
  int ReadInt(const std::string& key, int defaultValue) override {
    auto found = values.find(key);
    if (found == values.end()) return defaultValue;
    try {
      return std::stoi(found->second);
    } catch (const std::exception&) {
      return defaultValue;
    }
  }
  bool WriteText(const std::string& key, const std::string& value) override {
    values[key] = value;
    return true;
  }
  bool WriteInt(const std::string& key, int value) override { return WriteText(key, std::to_string(value)); }
  bool WriteTexts(const std::vector<std::pair<std::string, std::string>>& pairs) override {
    for (const auto& [key, value] : pairs) WriteText(key, value);
    return true;
  }
};

}  // namespace quarnel
