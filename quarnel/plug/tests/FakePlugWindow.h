// A window for the plug logic's tests, and a directory for their locks.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "plug/Plugging.h"

namespace quarnel::testing {

using Events = std::vector<std::string>;

inline std::string Hex(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return text;
}

// Records what the plug logic asks of the window as short lines, and answers
// the dialogs from a script. Like the main window, a fatal status unplugs.
class FakeWindow : public PlugWindow {
 public:
  Plugging* plugging = nullptr;
  std::deque<std::optional<int32_t>> targetChoices;
  std::deque<bool> questionAnswers;
  std::deque<std::optional<SecurityEntry>> securityAnswers;
  std::vector<std::string> offeredNames;
  std::vector<int32_t> openedOn;  // the entry each Select Target opened on
  Events events;
  uint64_t writeImageSize = 0;
  uint64_t flashContentSize = 0;
  size_t eraseRows = 0;

  // Text after the string table's text shows in the event.
  bool ShowMessage(MessageStyle style, int textId, const std::string& text) override {
    const std::string tableText(LoadText(textId));
    EXPECT_EQ(text.substr(0, tableText.size()), tableText);
    events.push_back(std::string(StyleName(style)) + " " + std::to_string(textId) + text.substr(tableText.size()));
    if (style != MessageStyle::Question || questionAnswers.empty()) return true;
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }
  void FocusField(Field) override {}
  void AddLogLine(int32_t, const std::string&) override {}
  void TakeBusyLayout(int32_t mode) override { events.push_back("busy " + std::to_string(mode)); }
  void TakeIdleLayout(int32_t mode) override { events.push_back("idle " + std::to_string(mode)); }
  void SetBusyKind(int32_t) override {}
  void DrainEvents() override {}
  bool CancelRequested() const override { return false; }
  void ClearCancelRequest() override {}
  void ShowProgress(const std::string&, uint64_t, uint64_t) override {}
  std::optional<SecurityEntry> AskSecurityId(uint16_t) override {
    events.push_back("security dialog");
    if (securityAnswers.empty()) return std::nullopt;
    auto answer = securityAnswers.front();
    securityAnswers.pop_front();
    return answer;
  }
  void ReportStatus(int status) override {
    events.push_back("report " + Hex(status));
    if (IsFatalStatus(status)) plugging->GoUnplugged(!IsLinkStatus(status));
  }
  void ReportStatusWithText(int status, const std::string& text) override {
    events.push_back("report " + Hex(status) + " " + text);
    if (IsFatalStatus(status)) plugging->GoUnplugged(!IsLinkStatus(status));
  }
  std::optional<int32_t> ChooseTarget(const std::vector<std::string>& names, int32_t initial) override {
    offeredNames = names;
    openedOn.push_back(initial);
    events.push_back("choose");
    if (targetChoices.empty()) return std::nullopt;
    const auto choice = targetChoices.front();
    targetChoices.pop_front();
    return choice;
  }
  void ShowPlugButton(bool plugged) override { events.push_back(plugged ? "caption Un&plug" : "caption &Plug"); }
  void SelectTargetInList(int32_t index) override { events.push_back("select " + std::to_string(index)); }
  void EnableFileButtons() override { events.push_back("file buttons"); }
  void AllocateWriteImageBuffers(uint64_t imageSize, uint64_t contentSize) override {
    events.push_back("buffers");
    writeImageSize = imageSize;
    flashContentSize = contentSize;
  }
  void RecheckFileList() override { events.push_back("recheck"); }
  void FillEraseBlockList(const EraseBlockTable& blocks) override {
    events.push_back("erase list");
    eraseRows = blocks.size();
  }
  void ShowFields() override {}
  void CloseWindow() override { events.push_back("close"); }

 private:
  static const char* StyleName(MessageStyle style) {
    switch (style) {
      case MessageStyle::Stop: return "stop";
      case MessageStyle::Warning: return "warning";
      case MessageStyle::Question: return "question";
      default: return "plain";
    }
  }
};

// Three descriptions: KT51456 (128 KiB, blocks of 2 KiB), KT4351235 and
// KT2321, each with one flash area.

// A directory of its own for the test's named locks, set before any lock
// (the plug logic's among them) takes its path.
struct LockDirectory {
  LockDirectory() {
    char pattern[] = "/tmp/quarnel-plug-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = pattern;
    setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    setenv("QUARNEL_LOCK_DIR", path.c_str(), 1);
  }
  ~LockDirectory() { std::filesystem::remove_all(path); }
  std::string path;
};

}  // namespace quarnel::testing
