#include "cli/ConsoleWindow.h"

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"

namespace quarnel::cli {
namespace {

// /proc and /sys take no log: their files accept an open and then refuse or
// swallow the lines.
bool OnKernelFileSystem(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::absolute(path).parent_path();
  struct statfs info {};
  if (::statfs(parent.c_str(), &info) != 0) return false;
  return info.f_type == PROC_SUPER_MAGIC || info.f_type == SYSFS_MAGIC;
}

// The security ID dialog offers no initialize choice for this security type.
constexpr uint16_t kUninitializableSecurityType = 1;

// The phase whose progress counts bytes; the others count blocks.
constexpr std::string_view kVerifyPhase = "Verifying";

std::atomic<bool> cancelRequested{false};

void RequestCancel(int) { cancelRequested = true; }

const char* FieldName(Field field) {
  switch (field) {
    case Field::ArbitraryData:
      return "--fill";
    case Field::FileName:
      return "FILE";
    case Field::StartAddress:
      return "--start";
    case Field::FlashOffset:
      return "--offset";
    case Field::ArbitraryAddress:
      return "--end";
  }
  return "";
}

}  // namespace

ConsoleWindow::ConsoleWindow(Settings settings, std::FILE* out, std::FILE* err)
    : settings_(std::move(settings)), out_(out), err_(err), terminal_(isatty(fileno(err)) != 0) {}

std::string ConsoleWindow::OpenLog() {
  if (settings_.logPath.empty()) return {};
  if (OnKernelFileSystem(settings_.logPath)) return "it lies on a kernel file system";
  errno = 0;
  log_.open(settings_.logPath, std::ios::binary | std::ios::trunc);
  if (log_.is_open()) return {};
  return errno != 0 ? std::strerror(errno) : "it cannot be opened";
}

void ConsoleWindow::NoteStreamError(const std::string& what) {
  if (streamError_.empty()) streamError_ = what + " could not be written: " + std::strerror(errno);
}

bool ConsoleWindow::ShowMessage(MessageStyle, const std::string& text) {
  EndProgressLine();
  std::fprintf(err_, "quarnel-cli: %s\n", text.c_str());
  return true;
}

bool ConsoleWindow::Ask(Question question, const std::string& text) {
  EndProgressLine();
  // The questions whose answer is the command itself.
  if (question == Question::StartWriting || question == Question::StartVerification) return true;
  if (settings_.yes) {
    if (!settings_.quiet) std::fprintf(err_, "quarnel-cli: %s -> yes (--yes)\n", text.c_str());
    return true;
  }
  declinedQuestion_ = question;
  std::fprintf(err_, "quarnel-cli: %s\nquarnel-cli: answered no; give --yes to go on\n", text.c_str());
  return false;
}

void ConsoleWindow::FocusField(Field field) { std::fprintf(err_, "quarnel-cli: check %s\n", FieldName(field)); }

// The log lines and the progress are printed; layouts, lists and fields
// belong to the window.
void ConsoleWindow::Report(const SessionEvent& event) {
  if (event.kind == SessionEvent::Kind::LogLine) PrintLogLine(event.lineKind, event.text);
  if (event.kind == SessionEvent::Kind::Progress) PrintProgress(event.text, event.done, event.total);
}

void ConsoleWindow::PrintLogLine(int32_t kind, const std::string& text) {
  std::string line = kind == SessionEvent::kErrorLine ? "Error: " + text : text;
  if (log_.is_open() && log_.good()) {
    log_ << line << "\r\n";
    log_.flush();
    if (!log_.good()) NoteStreamError("the log file " + settings_.logPath);
  }
  if (settings_.quiet) return;
  EndProgressLine();
  if (std::fprintf(out_, "%s\n", line.c_str()) < 0 || std::fflush(out_) != 0) NoteStreamError("standard output");
}

bool ConsoleWindow::CancelRequested() const { return cancelRequested; }

void ConsoleWindow::ClearCancelRequest() { cancelRequested = false; }

void ConsoleWindow::ShowStatus(int status, const std::string& text) {
  if (IsFatalStatus(status) && fatalStatus_ == 0) fatalStatus_ = status;
  ShowMessage(MessageStyle::Stop, std::string(LoadText(StatusTextId(status))) + text);
}

// A fatal status is only remembered here: the run reads every target's
// status before it unplugs.
void ConsoleWindow::ReportStatus(int status) { ShowStatus(status, {}); }

void ConsoleWindow::ReportStatusWithText(int status, const std::string& text) { ShowStatus(status, text); }

std::optional<SecurityEntry> ConsoleWindow::AskSecurityId(uint16_t securityType) {
  EndProgressLine();
  if (!settings_.initialize) {
    std::fprintf(err_, "quarnel-cli: the chip is read-protected; give --security-id WORDS or --initialize\n");
    return std::nullopt;
  }
  if (securityType == kUninitializableSecurityType) {
    std::fprintf(err_, "quarnel-cli: --initialize is refused: this chip's security type cannot be initialized\n");
    return std::nullopt;
  }
  SecurityEntry entry;
  entry.choice = SecurityEntry::kInitializeFlash;
  return entry;
}

void ConsoleWindow::PrintProgress(const std::string& phase, uint64_t done, uint64_t total) {
  if (settings_.quiet) return;
  if (total == 0) {
    EndProgressLine();
    progressPhase_.clear();
    return;
  }
  const int percent = static_cast<int>(done * 100 / total);
  const bool inBytes = phase == kVerifyPhase;
  const char* unit = inBytes ? "bytes" : "blocks";
  if (phase != progressPhase_) progressStart_ = std::chrono::steady_clock::now();
  if (terminal_) {
    if (phase == progressPhase_ && percent == lastPercent_) return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - progressStart_).count();
    const uint64_t bytes = inBytes ? done : done * blockSize_;
    std::string rate;
    if (bytes > 0 && seconds > 0) rate = ", " + std::to_string(static_cast<long long>(bytes / 1024.0 / seconds)) + " KiB/s";
    std::fprintf(err_, "\r%s: %3d%% (%llu of %llu %s) %.1f s%s   ", phase.c_str(), percent,
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), unit, seconds,
                 rate.c_str());
    std::fflush(err_);
    progressLineOpen_ = true;
  } else if (phase != progressPhase_) {
    std::fprintf(err_, "%s: %llu %s\n", phase.c_str(), static_cast<unsigned long long>(total), unit);
  }
  progressPhase_ = phase;
  lastPercent_ = percent;
}

void ConsoleWindow::EndProgressLine() {
  if (!progressLineOpen_) return;
  std::fputc('\n', err_);
  progressLineOpen_ = false;
  lastPercent_ = -1;
}

void ConsoleWindow::InstallCancelOnSignals() {
  struct sigaction action {};
  action.sa_handler = RequestCancel;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace quarnel::cli
