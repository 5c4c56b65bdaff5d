#include "cli/SlotMap.h"

#include <QFileInfo>
#include <QSettings>
#include <set>

namespace quarnel::cli {
namespace {

constexpr int kMostSlots = 32;
constexpr const char* kGroup = "Slots";

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::optional<int> SlotMap::SlotOf(const std::string& path) const {
  for (const auto& [slot, slotPath] : paths)
    if (slotPath == path) return slot;
  return std::nullopt;
}

std::vector<std::string> SlotMap::PathsInSlotOrder() const {
  std::vector<std::string> ordered;
  for (const auto& [slot, path] : paths) ordered.push_back(path);
  return ordered;
}

std::optional<SlotMap> ReadSlotMap(const std::string& file, std::string* error) {
  const QString name = QString::fromStdString(file);
  if (!QFileInfo(name).isFile() || !QFileInfo(name).isReadable()) {
    *error = "the slot map " + file + " cannot be read";
    return std::nullopt;
  }
  QSettings settings(name, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) {
    *error = "the slot map " + file + " is not a settings file";
    return std::nullopt;
  }
  settings.beginGroup(kGroup);
  SlotMap map;
  std::set<std::string> seen;
  for (const QString& key : settings.childKeys()) {
    bool isNumber = false;
    const int slot = key.toInt(&isNumber);
    const std::string path = settings.value(key).toString().toStdString();
    if (!isNumber || slot < 1 || slot > kMostSlots) {
      *error = "the slot map " + file + " names slot " + key.toStdString() + "; slots are 1 to 32";
      return std::nullopt;
    }
    if (path.empty() || !seen.insert(path).second) {
      *error = "the slot map " + file + " gives slot " + std::to_string(slot) +
               (path.empty() ? " no emulator path" : " the path of another slot, " + path);
      return std::nullopt;
    }
    map.paths[slot] = path;
  }
  if (map.paths.empty()) {
    *error = "the slot map " + file + " names no slot (section [Slots], lines SLOT=\"PATH\")";
    return std::nullopt;
  }
  return map;
}

std::string SlotMapText(const std::vector<std::string>& paths) {
  std::string text = "[Slots]\n";
  for (size_t k = 0; k < paths.size(); ++k) text += std::to_string(k + 1) + "=" + Quoted(paths[k]) + "\n";
  return text;
}

}  // namespace quarnel::cli
