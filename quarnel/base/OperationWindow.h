#pragma once

#include <cstdint>
#include <string>

#include "base/Question.h"
#include "base/SessionEvent.h"
#include "base/UserNotifier.h"

namespace quarnel {

// What a running write, verify or erase needs from the face that started
// it: events out (SessionEvent), questions and boxes in. The main window
// realises it with its widgets, the command-line writer with the console;
// tests record it. Boxes go through UserNotifier::ShowMessage (true = OK or Yes).
class OperationWindow : public UserNotifier {
 public:
  virtual void Report(const SessionEvent& event) = 0;
  // Asks `question`, whose text (with "%1" replaced) is `text`; true to go on.
  virtual bool Ask(Question question, const std::string& text) = 0;
  // Lets the user interface react (Cancel, painting) during long work. A
  // face without an event loop of its own has nothing to do here.
  virtual void DrainEvents() {}
  virtual bool CancelRequested() const = 0;
  virtual void ClearCancelRequest() = 0;
  // The status message in a stop box; a fatal status then unplugs.
  virtual void ReportStatus(int status) = 0;

  // Appends a line to the log; an error line is shown as "Error: " + text.
  void AddLogLine(int32_t kind, const std::string& text) { Report(SessionEvent::Line(kind, text)); }
  // How far the running operation is: done of total units of the phase
  // (blocks written, bytes compared, blocks erased). A total of 0 ends it.
  void ShowProgress(const std::string& phase, uint64_t done, uint64_t total) {
    Report(SessionEvent::Progress(phase, done, total));
  }
};

}  // namespace quarnel
