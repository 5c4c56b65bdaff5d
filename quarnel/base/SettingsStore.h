#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
  // False when the value could not be stored. Each write is judged on its
  // own: one that failed says nothing about the next.
  virtual bool WriteText(const std::string& key, const std::string& value) = 0;
  virtual bool WriteInt(const std::string& key, int value) = 0;
  // Stores all of `values` in one go, or none of them: values that only
  // make sense together ("SECUREID" and "SECUREIDSIZE") are never stored
  // one without the other.
  virtual bool WriteTexts(const std::vector<std::pair<std::string, std::string>>& values) = 0;
  // Where the values are kept, for messages; empty when nowhere lasting.
  virtual std::string Location() const { return {}; }
};

// Passes everything on to `store`; the first write that fails calls
// `onFirstFailure` with the store's location, once, so that the user hears
// that the settings are not kept without a box at every write.
class SettingsWriteWatch : public SettingsStore {
 public:
  SettingsWriteWatch(SettingsStore& store, std::function<void(const std::string& location)> onFirstFailure)
      : store_(store), onFirstFailure_(std::move(onFirstFailure)) {}

  std::optional<std::string> ReadText(const std::string& key) override { return store_.ReadText(key); }
  int ReadInt(const std::string& key, int defaultValue) override { return store_.ReadInt(key, defaultValue); }
  bool WriteText(const std::string& key, const std::string& value) override {
    return Watch(store_.WriteText(key, value));
  }
  bool WriteInt(const std::string& key, int value) override { return Watch(store_.WriteInt(key, value)); }
  bool WriteTexts(const std::vector<std::pair<std::string, std::string>>& values) override {
    return Watch(store_.WriteTexts(values));
  }
  std::string Location() const override { return store_.Location(); }

 private:
  bool Watch(bool stored) {
    if (!stored && !told_) {
      told_ = true;
      if (onFirstFailure_) onFirstFailure_(store_.Location());
    }
    return stored;
  }

  SettingsStore& store_;
  std::function<void(const std::string&)> onFirstFailure_;
  bool told_ = false;
};

}  // namespace quarnel
