#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QLocalServer>
#include <QString>

#include "binding/ApiTable.h"
#include "binding/VestraLibrary.h"
#include "base/NamedLock.h"

namespace quarnel {

class Prompter;

// Keeps a second copy of the program from running: the first copy holds the
// user's lock "QUARNEL" and listens beside it for a request to raise its
// window.
class SingleInstance {
 public:
  SingleInstance();
  // True when this is the only copy; it then listens for raise requests.
  // False when another copy holds the lock, or when the lock cannot be used
  // (Error() then says why).
  bool Claim();
  const std::string& Error() const { return lock_.Error(); }
  // From a second copy: asks the running copy to raise its window and waits
  // (at most `wait` ms) until it has. False when no copy answered.
  bool AskRunningCopyToRaise(int waitMs = 2000) const;
  // Called in the running copy for each request, on the GUI thread.
  void OnRaiseRequest(std::function<void()> raise) { raise_ = std::move(raise); }

 private:
  QString ServerPath() const;
  void AnswerRequest();

  NamedLock lock_;
  QLocalServer server_;
  std::function<void()> raise_;
};

// The application object: loads libvestra.so, binds its exports, keeps a
// second copy from running, and runs the main window.
class CQuarnelApp {
 public:
  // versionText as shown by the about box, e.g. "1.00".
  CQuarnelApp(Prompter& prompter, QString versionText);
  ~CQuarnelApp();
  CQuarnelApp(const CQuarnelApp&) = delete;
  CQuarnelApp& operator=(const CQuarnelApp&) = delete;

  // Loads the library `name` (see VestraLibrary) and binds its exports;
  // false after the "not found." or the "Invalid" message (with the first
  // missing name in `missing`).
  bool LoadLibrary(const std::string& name, std::string* missing = nullptr);
  // The whole start-up; the program's exit code.
  int Run();

  const ApiTable& Table() const { return library_.Table(); }

 private:
  void ShowPlain(const QString& text);

  Prompter& prompter_;
  QString versionText_;
  VestraLibrary library_;
};

}  // namespace quarnel
