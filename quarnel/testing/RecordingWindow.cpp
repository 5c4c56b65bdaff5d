#include "testing/RecordingWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "testing/ShownText.h"

namespace quarnel::testing {
namespace {

const char* StyleName(MessageStyle style) {
  switch (style) {
    case MessageStyle::Stop: return "stop";
    case MessageStyle::Warning: return "warning";
    case MessageStyle::Question: return "question";
    case MessageStyle::YesNoQuestion: return "yes/no";
    default: return "plain";
  }
}

template <typename T>
T Next(std::deque<T>& queue, T otherwise) {
  if (queue.empty()) return otherwise;
  T value = std::move(queue.front());
  queue.pop_front();
  return value;
}

}  // namespace

std::vector<int> RecordingWindow::TextIds() const {
  std::vector<int> ids;
  for (const ShownMessage& m : messages) ids.push_back(m.textId);
  return ids;
}

bool RecordingWindow::Logged(const std::string& line) const {
  return std::find(log.begin(), log.end(), line) != log.end();
}

bool RecordingWindow::ShowMessage(MessageStyle style, const std::string& text) {
  const int textId = TextIdShown(text);
  messages.push_back({style, textId, text});
  const std::string tableText(LoadText(textId));
  const bool fromTable = text.starts_with(tableText);
  if (expectTableText) {
    EXPECT_TRUE(textId != 0 && fromTable) << textId << ": " << text;
  }
  events.push_back(std::string(StyleName(style)) + " " + std::to_string(textId) +
                   (fromTable ? text.substr(tableText.size()) : " " + text));
  if (auto it = answers.find(textId); it != answers.end()) return it->second;
  const bool question = style == MessageStyle::Question || style == MessageStyle::YesNoQuestion;
  return !question || Next(questionAnswers, true);
}

void RecordingWindow::Layout(const char* kind, int32_t mode) {
  layouts.push_back(kind + std::to_string(mode));
  events.push_back(layouts.back());
}

void RecordingWindow::Report(int status, const std::string& text) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(status));
  events.push_back("report " + std::string(code) + text);
  reported.push_back(status);
  if (onReport) onReport(status);
  if (plugging != nullptr && IsFatalStatus(status)) plugging->GoUnplugged(!IsLinkStatus(status));
}

std::optional<SecurityEntry> RecordingWindow::AskSecurityId(uint16_t) {
  events.push_back("security dialog");
  return Next(securityAnswers, std::optional<SecurityEntry>());
}

std::optional<int32_t> RecordingWindow::ChooseTarget(const std::vector<std::string>& names, int32_t initial) {
  offeredNames = names;
  openedOn.push_back(initial);
  events.push_back("choose");
  return Next(targetChoices, std::optional<int32_t>());
}

void RecordingWindow::Report(const SessionEvent& event) {
  using Kind = SessionEvent::Kind;
  switch (event.kind) {
    case Kind::Started:
      busyKind = event.activity;
      return Layout("busy ", event.mode);
    case Kind::Ended:
      busyKind = SessionEvent::kIdle;
      return Layout("idle ", event.mode);
    case Kind::Progress:
      progress.push_back({event.text, event.done, event.total});
      return;
    case Kind::LogLine:
      log.push_back(event.lineKind == SessionEvent::kErrorLine ? "Error: " + event.text : event.text);
      return;
    case Kind::TargetResult:
      results.push_back({event.index, event.status, event.passed});
      return;
    case Kind::Unplugged:
      Layout("busy ", SessionEvent::kUnpluggedMode);
      events.push_back("caption &Plug");
      return;
    case Kind::Plugged:
      Layout("idle ", SessionEvent::kUnpluggedMode);
      events.insert(events.end(), {"caption Un&plug", "file buttons", "recheck"});
      return EraseList();
    case Kind::TargetApplied:
      return;
    case Kind::TargetChanged:
      if (event.recheck) events.push_back("recheck");
      return EraseList();
    case Kind::TargetSelected:
      events.push_back("select " + std::to_string(event.index));
      return;
    case Kind::CloseRequested:
      events.push_back("close");
      return;
  }
}

void RecordingWindow::EraseList() {
  events.push_back("erase list");
  if (plugging != nullptr) eraseRows = plugging->Target().eraseBlocks.size();
}

void RecordingWindow::AllocateBuffers(const TargetGeometry& geometry) {
  events.push_back("buffers");
  writeImageSize = WriteImageSize(geometry);
  flashContentSize = FlashContentSize(geometry);
}

}  // namespace quarnel::testing
