#pragma once

#include <cstdint>
#include <string>

#include "base/Question.h"
#include "base/UserNotifier.h"

namespace quarnel {

// What a running write, verify or erase needs from the window that started
// it. The main window realises it with its widgets, the command-line writer
// with the console; tests record it. Boxes and questions go through
// UserNotifier::ShowMessage (true = OK or Yes).
class OperationWindow : public UserNotifier {
 public:
  enum BusyKind : int32_t { kIdle = 0, kWriting = 1, kVerifying = 2, kErasing = 3 };
  // Busy layout modes: 0 write or verify running, 1 erase running, 2 unplugged.
  // Idle layout modes: 0 after write or verify, 1 after erase, 2 after plugging.
  enum LayoutMode : int32_t { kWriteVerifyMode = 0, kEraseMode = 1, kUnpluggedMode = 2 };
  enum LogKind : int32_t { kNormalLine = 0, kErrorLine = 1 };

  // Asks `question`, whose text (with "%1" replaced) is `text`; true to go on.
  virtual bool Ask(Question question, const std::string& text) = 0;
  // Appends a line to the log; an error line is shown as "Error: " + text.
  virtual void AddLogLine(int32_t kind, const std::string& text) = 0;
  virtual void TakeBusyLayout(int32_t mode) = 0;
  virtual void TakeIdleLayout(int32_t mode) = 0;
  virtual void SetBusyKind(int32_t kind) = 0;
  // Lets the user interface react (Cancel, painting) during long work.
  virtual void DrainEvents() = 0;
  virtual bool CancelRequested() const = 0;
  virtual void ClearCancelRequest() = 0;
  // The status message in a stop box; a fatal status then unplugs.
  virtual void ReportStatus(int status) = 0;
  // How far the running operation is: done of total units of the phase
  // (blocks written, bytes compared, blocks erased). A total of 0 ends it.
  virtual void ShowProgress(const std::string& phase, uint64_t done, uint64_t total) = 0;
};

}  // namespace quarnel
