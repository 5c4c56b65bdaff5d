// Fakes for driving the main window in tests: the library's guarded call
// layer, the settings store and a prompter answered from a script.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "base/ApiCalls.h"
#include "base/MemorySettingsStore.h"
#include "ui/Prompter.h"

namespace quarnel::testing {

// Target descriptions in memory; status codes and results as scripted.
class FakeApi : public ApiCalls {
 public:
  FakeApi() { AddDescription("KT51456", {{0x0000, 0x7FFF}, {0x10000, 0x1FFFF}}, 0x800); }

  void AddDescription(const char* name, std::initializer_list<CTargetArea> areas, uint32_t blockSize) {
    auto d = std::make_unique<CTargetInfo>();
    std::memset(d.get(), 0, sizeof(CTargetInfo));
    std::strncpy(d->targetName, name, sizeof(d->targetName) - 1);
    for (const CTargetArea& a : areas) d->area[d->areaNum++] = a;
    d->blockSize = blockSize;
    d->targetId32 = 0x00010100;  // one code block of 2 KiB
    descriptions.push_back(*d);
  }

  int connectResult = 0;
  int plugStatus = 0;  // what plugging leaves on target 1
  std::vector<std::string> pluggedNames;
  int status = 0;
  bool resetOk = true;
  int resetCalls = 0;
  bool returnSet = true;
  int filesFoundExtra = 0;  // files found beyond the set's count
  bool isProtected = false;
  std::vector<CTargetInfo> descriptions;
  TRGINFO set{};
  bool released = false;

  int Connect() override { return connectResult; }
  int Status() override { return status; }
  TRGINFO* ReadTargetDescriptions(uint8_t, uint16_t* filesFound) override {
    *filesFound = static_cast<uint16_t>(descriptions.size() + static_cast<size_t>(filesFoundExtra));
    if (!returnSet) return nullptr;
    set.count = static_cast<int32_t>(descriptions.size());
    set.array = descriptions.data();
    return &set;
  }
  bool Disconnect() override { return true; }
  bool PlugAll(TRGINFO*, const char* name) override {
    pluggedNames.push_back(name);
    status = plugStatus;
    return status == 0;
  }
  bool IsProtected(uint16_t* p) override {
    *p = isProtected;
    return status == 0;
  }
  bool ChipErase() override { return status == 0; }
  bool EraseBlock(uint32_t) override { return status == 0; }
  bool Write(uint32_t, uint32_t, uint32_t, uint8_t*) override { return status == 0; }
  bool ResetAll() override {
    ++resetCalls;
    return resetOk;
  }
  bool GetStatus(int* s) override {
    *s = status;
    return status == 0;
  }
  bool SetStatus(int s) override {
    status = s;
    return true;
  }
  bool ReleaseDescriptions(TRGINFO** s) override {
    released = true;
    *s = nullptr;
    return true;
  }
  bool SendSecurityId(uint8_t, uint16_t*, uint16_t*) override { return status == 0; }
  bool SecurityType(uint16_t*) override { return status == 0; }
  bool CheckTargetName(TRGINFO*, const char*) override { return status == 0; }
  bool ProductId(uint32_t, uint32_t* id) override {
    *id = 0x01004560;
    return status == 0;
  }
  bool FirmwareVersionText(char* buffer, uint32_t size, uint32_t* needed) override {
    std::strncpy(buffer, "1.02", size);
    *needed = 5;
    return true;
  }
  int ConnectAll() override { return connectResult; }
  uint32_t TargetCount() override { return connectResult ? 1 : 0; }
  int TargetStatus(uint32_t) override { return status; }
  int SetTargetStatus(uint32_t, int) override { return 1; }
  int TargetIsProtected(uint32_t, uint16_t* answer) override {
    *answer = isProtected;
    return 1;
  }
  int TargetSendSecurityId(uint32_t, uint8_t, uint16_t*, uint16_t* answer) override {
    *answer = 0;
    return 1;
  }
  std::string DevicePath(uint32_t) override { return {}; }
  std::string FirmwareVersion(uint32_t) override { return {}; }
  int ReadTargetBlock(uint32_t, uint32_t, uint32_t* got, uint8_t*) override { return *got = 0, 1; }
  bool TargetPlugged(uint32_t) override { return true; }
  bool TargetEnabled(uint32_t) override { return true; }
  int SetTargetEnabled(uint32_t, bool) override { return 1; }
  int SetSerialNumber(uint32_t, uint8_t*, uint32_t) override { return 1; }
  int WriteWithSerialNumber(uint32_t, uint32_t, uint32_t, uint8_t*, uint32_t) override { return 1; }
};

using MemorySettings = MemorySettingsStore;

// Records every box and answers from queues; an empty queue answers OK for
// boxes and Cancel for dialogs, and so does an empty path.
class ScriptedPrompter : public Prompter {
 public:
  struct Shown {
    MessageStyle style;
    QString text;
  };
  std::vector<Shown> shown;
  std::deque<bool> answers;
  std::deque<QString> files;
  std::deque<std::optional<int>> targets;
  QString lastFilter;

  bool ShowMessage(QWidget*, MessageStyle style, const QString& text) override {
    shown.push_back({style, text});
    return Next(answers, true);
  }
  std::optional<QString> OpenFileName(QWidget*, const QString&, const QString& filter,
                                      const QString& defaultSuffix) override {
    lastFilter = filter;
    lastSuffix = defaultSuffix;
    return NextFile();
  }
  std::optional<QString> SaveFileName(QWidget*, const QString&, const QString& filter,
                                      const QString& defaultSuffix) override {
    lastFilter = filter;
    lastSuffix = defaultSuffix;
    return NextFile();
  }
  QString lastSuffix;
  QString targetByName;  // chosen by name when `targets` is empty
  QStringList offeredTargets;  // the names Select Target showed last
  std::vector<int> targetOpenedOn;  // the entry each Select Target opened on
  std::optional<int> ChooseTarget(QWidget*, const QStringList& names, int initial) override {
    offeredTargets = names;
    targetOpenedOn.push_back(initial);
    if (targets.empty() && names.contains(targetByName)) return static_cast<int>(names.indexOf(targetByName));
    return Next(targets, std::optional<int>());
  }
  std::deque<std::optional<SecurityEntry>> securityEntries;
  std::vector<uint16_t> securityTypesAsked;
  std::optional<SecurityEntry> AskSecurityId(QWidget*, uint16_t securityType) override {
    securityTypesAsked.push_back(securityType);
    return Next(securityEntries, std::optional<SecurityEntry>());
  }

 private:
  std::optional<QString> NextFile() {
    const QString path = Next(files, QString());
    if (path.isEmpty()) return std::nullopt;
    return path;
  }
  template <typename T>
  static T Next(std::deque<T>& queue, T otherwise) {
    if (queue.empty()) return otherwise;
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
  }
};

}  // namespace quarnel::testing
