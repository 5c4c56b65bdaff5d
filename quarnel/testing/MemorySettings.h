#pragma once

#include <string>

#include "base/MemorySettingsStore.h"

namespace quarnel::testing {

// Settings in memory that count what is stored, so tests can tell that
// nothing was.
class MemorySettings : public MemorySettingsStore {
 public:
  int writes = 0;

  bool WriteText(const std::string& key, const std::string& value) override {
    ++writes;
    return MemorySettingsStore::WriteText(key, value);
  }
};

}  // namespace quarnel::testing
