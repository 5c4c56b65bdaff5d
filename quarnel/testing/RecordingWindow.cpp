#include "testing/RecordingWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "base/StatusMessages.h"
#include "base/StringTable.h"

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

bool RecordingWindow::ShowMessage(MessageStyle style, int textId, const std::string& text) {
  messages.push_back({style, textId, text});
  const std::string tableText(LoadText(textId));
  const bool fromTable = text.starts_with(tableText);
  if (expectTableText) {
    EXPECT_TRUE(fromTable) << textId << ": " << text;
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

void RecordingWindow::AllocateWriteImageBuffers(uint64_t imageSize, uint64_t contentSize) {
  events.push_back("buffers");
  writeImageSize = imageSize;
  flashContentSize = contentSize;
}

void RecordingWindow::FillEraseBlockList(const EraseBlockTable& blocks) {
  events.push_back("erase list");
  eraseRows = blocks.size();
}

}  // namespace quarnel::testing
