#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plug/Plugging.h"
#include "testing/RecordingUser.h"

namespace quarnel::testing {

using Events = std::vector<std::string>;

// The window for operations and plugging in tests and benchmarks: records
// what they show, log and ask, and answers from a script. Boxes are answered
// OK or Yes unless scripted; dialogs are left unless scripted.
class RecordingWindow : public PlugWindow {
 public:
  // Script.
  std::map<int, bool> answers;       // by text number, first
  std::deque<bool> questionAnswers;  // then question boxes in turn
  std::deque<std::optional<int32_t>> targetChoices;
  std::deque<std::optional<SecurityEntry>> securityAnswers;
  int cancelAtDrain = -1;  // the drain (from 1) that requests Cancel
  // Like the main window, a fatal status unplugs through `plugging` when set.
  Plugging* plugging = nullptr;
  // What reporting a status does besides.
  std::function<void(int)> onReport;
  // Boxes must start with their string table text (a failure when not).
  bool expectTableText = false;

  // Record. `events` keeps, in order, the boxes ("stop 2069" and the text
  // after the table's), layouts ("busy 2"), reports ("report 0x6300") and
  // what plugging asks of the window.
  Events events;
  std::vector<ShownMessage> messages;
  std::vector<Field> focused;
  std::vector<std::string> log;  // error lines with "Error: "
  std::vector<std::string> layouts;
  std::vector<int> reported;
  struct Progress {
    std::string phase;
    uint64_t done;
    uint64_t total;
  };
  std::vector<Progress> progress;
  struct Result {
    int32_t target;
    int status;
    bool passed;
    bool operator==(const Result&) const = default;
  };
  std::vector<Result> results;  // the targets' results, as each operation ended
  int32_t busyKind = SessionEvent::kIdle;
  int drains = 0;
  bool cancel = false;
  std::vector<std::string> offeredNames;
  std::vector<int32_t> openedOn;  // the entry each Select Target opened on
  uint64_t writeImageSize = 0;
  uint64_t flashContentSize = 0;
  size_t eraseRows = 0;

  std::vector<int> TextIds() const;
  bool Logged(const std::string& line) const;

  // Boxes are known by the number of the table text they show.
  bool ShowMessage(MessageStyle style, const std::string& text) override;
  // Recorded and answered as the question's box.
  bool Ask(Question question, const std::string& text) override {
    return ShowMessage(BoxFor(question).style, text);
  }
  void FocusField(Field field) override { focused.push_back(field); }
  // Recorded as the window draws it: layouts ("busy 2"), the plug button's
  // caption, "file buttons", "recheck", "erase list", "select 1", "close".
  void Report(const SessionEvent& event) override;
  void DrainEvents() override {
    if (++drains == cancelAtDrain) cancel = true;
  }
  bool CancelRequested() const override { return cancel; }
  void ClearCancelRequest() override { cancel = false; }
  void ReportStatus(int status) override { Report(status, {}); }
  void ReportStatusWithText(int status, const std::string& text) override { Report(status, " " + text); }
  std::optional<SecurityEntry> AskSecurityId(uint16_t) override;
  std::optional<int32_t> ChooseTarget(const std::vector<std::string>& names, int32_t initial) override;
  // What sizing the write image buffers for the applied target does here:
  // pass it to Plugging as its buffer allocator.
  void AllocateBuffers(const TargetGeometry& geometry);

 private:
  void Layout(const char* kind, int32_t mode);
  void EraseList();
  void Report(int status, const std::string& text);
};

}  // namespace quarnel::testing
