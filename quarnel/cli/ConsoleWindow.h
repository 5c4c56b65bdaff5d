#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "plug/Plugging.h"

namespace quarnel::cli {

// The window of plugging and of the operations on a console: log lines on
// standard output (and in the --log file), messages and progress on standard
// error. The questions that confirm the command itself are answered yes;
// every other question is answered yes only when the user gave --yes, and is
// remembered otherwise so that the run can end as declined. The dialogs are
// answered from the command line: no other target is chosen, and a chip that
// the given security ID does not unlock is erased only with --initialize.
class ConsoleWindow : public PlugWindow {
 public:
  struct Settings {
    bool quiet = false;
    bool yes = false;
    bool initialize = false;
    std::string logPath;
  };
  ConsoleWindow(Settings settings, std::FILE* out, std::FILE* err);

  // The erase block size of the applied target, in which the phases other
  // than verifying count: the progress line then shows KiB/s for them too.
  void SetBlockSize(uint32_t bytes) { blockSize_ = bytes; }

  // Creates the --log file (when one was given): empty, or why it could not be.
  std::string OpenLog();
  // The first failure to write the log lines (the --log file or standard
  // output), as a sentence; empty while every line went out.
  const std::string& StreamError() const { return streamError_; }

  // Boxes go to standard error; every box has only an OK button here.
  bool ShowMessage(MessageStyle style, const std::string& text) override;
  bool Ask(Question question, const std::string& text) override;
  void FocusField(Field field) override;
  void Report(const SessionEvent& event) override;
  bool CancelRequested() const override;
  void ClearCancelRequest() override;
  void ReportStatus(int status) override;
  void ReportStatusWithText(int status, const std::string& text) override;
  // No other target is chosen than the one the command line names.
  std::optional<int32_t> ChooseTarget(const std::vector<std::string>&, int32_t) override { return std::nullopt; }
  std::optional<SecurityEntry> AskSecurityId(uint16_t securityType) override;

  // The question that was answered no, if any.
  std::optional<Question> DeclinedQuestion() const { return declinedQuestion_; }
  // The first fatal status reported, 0 when none: the run then unplugs.
  int FatalStatus() const { return fatalStatus_; }
  // Forgets it once the run has unplugged, before the next attempt.
  void ClearFatalStatus() { fatalStatus_ = 0; }

  // SIGINT and SIGTERM ask the running operation to stop, as Cancel does.
  static void InstallCancelOnSignals();

 private:
  void PrintLogLine(int32_t kind, const std::string& text);
  void PrintProgress(const std::string& phase, uint64_t done, uint64_t total);
  void EndProgressLine();
  void ShowStatus(int status, const std::string& text);
  void NoteStreamError(const std::string& what);

  Settings settings_;
  std::FILE* out_;
  std::FILE* err_;
  std::ofstream log_;
  bool terminal_ = false;
  std::string progressPhase_;
  std::chrono::steady_clock::time_point progressStart_;
  uint64_t blockSize_ = 0;
  int lastPercent_ = -1;
  bool progressLineOpen_ = false;
  std::optional<Question> declinedQuestion_;
  int fatalStatus_ = 0;
  std::string streamError_;
};

}  // namespace quarnel::cli
