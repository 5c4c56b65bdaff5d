#pragma once

#include <map>
#include <string>

#include "base/SettingsStore.h"

namespace quarnel {

// Settings that live only as long as the program runs: for a run whose
// target and security ID come from its command line.
class MemorySettingsStore : public SettingsStore {
 public:
  std::optional<std::string> ReadText(const std::string& key) override {
    auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
  }
  int ReadInt(const std::string& key, int defaultValue) override {
    auto found = values_.find(key);
    if (found == values_.end()) return defaultValue;
    try {
      return std::stoi(found->second);
    } catch (const std::exception&) {
      return defaultValue;
    }
  }
  bool WriteText(const std::string& key, const std::string& value) override {
    values_[key] = value;
    return true;
  }
  bool WriteInt(const std::string& key, int value) override { return WriteText(key, std::to_string(value)); }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace quarnel
