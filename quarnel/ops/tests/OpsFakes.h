#pragma once

// A call layer that keeps each target's flash in memory and records every
// call, and a window that records what an operation shows and logs.

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "base/OperationWindow.h"
#include "objfile/TargetGeometry.h"
#include "objfile/tests/RecordText.h"
#include "objfile/tests/RecordingUser.h"

namespace quarnel::testing {

inline std::string Hex(const char* format, uint32_t a, uint32_t b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// Intel HEX text with `bytes` from `address` on: 16-byte records, an 04
// record wherever the upper address half changes.
inline std::string IntelHexText(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::string text;
  int upper = -1;
  for (size_t i = 0; i < bytes.size();) {
    const uint32_t at = address + static_cast<uint32_t>(i);
    if (static_cast<int>(at >> 16) != upper) {
      upper = static_cast<int>(at >> 16);
      text += IntelBaseRecord(4, static_cast<uint16_t>(upper)) + "\n";
    }
    const size_t count = std::min<size_t>({16, bytes.size() - i, 0x10000 - (at & 0xFFFF)});
    text += IntelRecord(0, static_cast<uint16_t>(at), std::vector<uint8_t>(bytes.begin() + i, bytes.begin() + i + count));
    text += "\n";
    i += count;
  }
  return text + ":00000001FF\n";
}

class FakeApi : public ApiCalls {
 public:
  FakeApi(const TargetGeometry& geometry, size_t targets, size_t memorySize)
      : memory(targets, std::vector<uint8_t>(memorySize, 0xFF)),
        statuses(targets, 0),
        enabled(targets, true),
        geometry_(geometry) {}

  // The nth call (from 1) of `kind` ("ReadBlock", "Erase", "Write")
  // fails on `target` with `status`; a failed target takes no further part.
  void FailOn(const std::string& kind, int nth, uint32_t target, int status) { failures[kind] = {nth, target, status}; }

  int Connect() override { return 1; }
  int Status() override { return statuses[0]; }
  TRGINFO* ReadTargetDescriptions(uint8_t, uint16_t*) override { return nullptr; }
  bool Disconnect() override { return true; }
  bool PlugAll(TRGINFO*, const char*) override { return true; }
  bool IsProtected(uint16_t*) override { return true; }
  bool ChipErase() override { return true; }
  bool EraseBlock(uint32_t address) override {
    calls.push_back(Hex("Erase %05X", address));
    if (!geometry_.IsFlash(address)) return Fail(0x4003);
    const uint32_t start = address / geometry_.eraseBlockSize * geometry_.eraseBlockSize;
    return Apply("Erase", [&](std::vector<uint8_t>& m) {
      std::fill(m.begin() + start, m.begin() + start + geometry_.eraseBlockSize, 0xFF);
    });
  }
  bool Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) override {
    calls.push_back(Hex("Write %05X-%05X", start, end));
    if (!geometry_.IsFlash(flashAddress) || flashAddress != start) return Fail(0x4002);
    return Apply("Write", [&](std::vector<uint8_t>& m) { std::copy(image + start, image + end + 1, m.begin() + start); });
  }
  int ReadTargetBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer) override {
    calls.push_back(Hex("ReadBlock %u %05X", n, address));
    *got = 0;
    if (statuses.at(n - 1) != 0) return 1;
    if (auto it = failures.find("ReadBlock"); it != failures.end() && it->second.target == n && --it->second.nth == 0) {
      statuses.at(n - 1) = it->second.status;
      return 1;
    }
    const uint32_t start = address / geometry_.eraseBlockSize * geometry_.eraseBlockSize;
    const uint32_t end = start + geometry_.eraseBlockSize - 1;
    for (const FlashArea& area : geometry_.areas) {
      uint32_t areaEnd = area.end;
      if (uint64_t{area.end} + 1 + geometry_.contentTailSize == CodeEnd() && area.end >= start && area.end <= end)
        areaEnd += geometry_.contentTailSize;
      for (uint32_t a = std::max(area.start, start); a <= std::min(areaEnd, end); ++a)
        buffer[(*got)++] = memory[n - 1][a];
    }
    return 1;
  }
  bool ResetAll() override { return true; }
  bool GetStatus(int* status) override { return *status = statuses[0], true; }
  bool SetStatus(int status) override { return statuses[0] = status, true; }
  bool ReleaseDescriptions(TRGINFO**) override { return true; }
  bool SendSecurityId(uint8_t, uint16_t*, uint16_t*) override { return true; }
  bool SecurityType(uint16_t*) override { return true; }
  bool CheckTargetName(TRGINFO*, const char*) override { return true; }
  bool ProductId(uint32_t, uint32_t*) override { return true; }
  bool FirmwareVersionText(char*, uint32_t, uint32_t*) override { return true; }
  int ConnectAll() override { return 1; }
  uint32_t TargetCount() override { return static_cast<uint32_t>(memory.size()); }
  int TargetStatus(uint32_t n) override { return statuses.at(n - 1); }
  int SetTargetStatus(uint32_t n, int status) override {
    statuses.at(n - 1) = status;
    return 1;
  }
  int TargetIsProtected(uint32_t, uint16_t* isProtected) override {
    *isProtected = 0;
    return 1;
  }
  int TargetSendSecurityId(uint32_t, uint8_t, uint16_t*, uint16_t* isProtected) override {
    *isProtected = 0;
    return 1;
  }
  std::string DevicePath(uint32_t n) override { return Hex("/sim/korvo-%02u", n - 1); }
  std::string FirmwareVersion(uint32_t) override { return "9.99"; }
  bool TargetPlugged(uint32_t) override { return true; }
  bool TargetEnabled(uint32_t n) override { return enabled.at(n - 1); }
  int SetTargetEnabled(uint32_t n, bool flag) override {
    enabled.at(n - 1) = flag;
    return 1;
  }
  int SetSerialNumber(uint32_t, uint8_t*, uint32_t) override { return 1; }
  int WriteWithSerialNumber(uint32_t, uint32_t, uint32_t, uint8_t*, uint32_t) override { return 1; }

  std::vector<std::vector<uint8_t>> memory;
  std::vector<int> statuses;
  std::vector<bool> enabled;
  std::vector<std::string> calls;

 private:
  struct Failure {
    int nth = 0;
    uint32_t target = 0;
    int status = 0;
  };

  uint64_t CodeEnd() const { return uint64_t{geometry_.codeBlockCount} * geometry_.eraseBlockSize; }
  bool Fail(int status) {
    statuses[0] = status;
    return false;
  }
  // Applies the change to every enabled target still without a status, as
  // the library's lock-step calls do; false when target 1 fails.
  template <typename Change>
  bool Apply(const std::string& kind, Change change) {
    if (enabled[0]) statuses[0] = 0;
    if (auto it = failures.find(kind); it != failures.end() && enabled.at(it->second.target - 1) && --it->second.nth == 0)
      statuses.at(it->second.target - 1) = it->second.status;
    for (size_t n = 0; n < memory.size(); ++n)
      if (statuses[n] == 0 && enabled[n]) change(memory[n]);
    return statuses[0] == 0;
  }

  const TargetGeometry& geometry_;
  std::map<std::string, Failure> failures;
};

class RecordingWindow : public OperationWindow {
 public:
  bool ShowMessage(MessageStyle style, int textId, const std::string& text) override {
    messages.push_back({style, textId, text});
    auto it = answers.find(textId);
    return it == answers.end() || it->second;
  }
  void FocusField(Field field) override { focused.push_back(field); }
  void AddLogLine(int32_t kind, const std::string& text) override {
    log.push_back(kind == kErrorLine ? "Error: " + text : text);
  }
  void TakeBusyLayout(int32_t mode) override { layouts.push_back(Hex("busy %d", static_cast<uint32_t>(mode))); }
  void TakeIdleLayout(int32_t mode) override { layouts.push_back(Hex("idle %d", static_cast<uint32_t>(mode))); }
  void SetBusyKind(int32_t kind) override { busyKind = kind; }
  void DrainEvents() override {
    if (++drains == cancelAtDrain) cancel = true;
  }
  bool CancelRequested() const override { return cancel; }
  void ClearCancelRequest() override { cancel = false; }
  void ReportStatus(int status) override {
    reported.push_back(status);
    if (onReport) onReport(status);
  }
  void ShowProgress(const std::string& phase, uint64_t done, uint64_t total) override {
    progress.push_back({phase, done, total});
  }

  std::vector<int> TextIds() const {
    std::vector<int> ids;
    for (const ShownMessage& m : messages) ids.push_back(m.textId);
    return ids;
  }
  bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

  struct Progress {
    std::string phase;
    uint64_t done;
    uint64_t total;
  };
  std::map<int, bool> answers;
  // What reporting a status does besides recording it (the window goes
  // unplugged with a reset, which clears every target's status).
  std::function<void(int)> onReport;
  std::vector<ShownMessage> messages;
  std::vector<Field> focused;
  std::vector<std::string> log;
  std::vector<std::string> layouts;
  std::vector<int> reported;
  std::vector<Progress> progress;
  int32_t busyKind = kIdle;
  int drains = 0;
  int cancelAtDrain = -1;
  bool cancel = false;
};

}  // namespace quarnel::testing
