#pragma once

#include <cstdint>
#include <string>

namespace quarnel {

// What plugging and the operations report to the face that runs them. The
// window draws each event (layouts, captions, lists, progress bar, log); the
// command line prints the log lines and the progress and passes over the rest.
struct SessionEvent {
  enum class Kind {
    Started,         // an operation began: `activity`, in layout `mode`
    Ended,           // the operation of layout `mode` is over, whatever its outcome
    Progress,        // `done` of `total` units of phase `text`; a total of 0 ends it
    LogLine,         // `text`, an error line when `lineKind` says so
    TargetResult,    // target `index` ended the operation with `status`, passing or not
    Unplugged,       // the targets were let go
    Plugged,         // the targets are plugged for the applied target
    TargetApplied,   // a description was applied: its fields changed
    TargetChanged,   // another target is in place: its erase blocks (and, with
                     // `recheck`, the file list checked against it)
    TargetSelected,  // plugging selected description `index`
    CloseRequested,  // the program is to end
  };
  // What an operation does (Started) and the layouts (Started, Ended):
  // 0 write or verify, 1 erase, 2 unplugged (busy) or after plugging (idle).
  enum Activity : int32_t { kIdle = 0, kWriting = 1, kVerifying = 2, kErasing = 3 };
  enum LayoutMode : int32_t { kWriteVerifyMode = 0, kEraseMode = 1, kUnpluggedMode = 2 };
  enum LineKind : int32_t { kNormalLine = 0, kErrorLine = 1 };

  Kind kind = Kind::LogLine;
  int32_t activity = kIdle;
  int32_t mode = kWriteVerifyMode;
  int32_t lineKind = kNormalLine;
  std::string text;
  uint64_t done = 0;
  uint64_t total = 0;
  int32_t index = 0;
  int status = 0;
  bool passed = false;
  bool recheck = false;

  static SessionEvent Of(Kind kind) {
    SessionEvent e;
    e.kind = kind;
    return e;
  }
  static SessionEvent Started(int32_t activity, int32_t mode) {
    SessionEvent e = Of(Kind::Started);
    e.activity = activity;
    e.mode = mode;
    return e;
  }
  static SessionEvent Ended(int32_t mode) {
    SessionEvent e = Of(Kind::Ended);
    e.mode = mode;
    return e;
  }
  static SessionEvent Progress(std::string phase, uint64_t done, uint64_t total) {
    SessionEvent e = Of(Kind::Progress);
    e.text = std::move(phase);
    e.done = done;
    e.total = total;
    return e;
  }
  static SessionEvent Line(int32_t lineKind, std::string text) {
    SessionEvent e = Of(Kind::LogLine);
    e.lineKind = lineKind;
    e.text = std::move(text);
    return e;
  }
  static SessionEvent Result(int32_t target, int status, bool passed) {
    SessionEvent e = Of(Kind::TargetResult);
    e.index = target;
    e.status = status;
    e.passed = passed;
    return e;
  }
  static SessionEvent Changed(bool recheck) {
    SessionEvent e = Of(Kind::TargetChanged);
    e.recheck = recheck;
    return e;
  }
  static SessionEvent Selected(int32_t index) {
    SessionEvent e = Of(Kind::TargetSelected);
    e.index = index;
    return e;
  }
};

}  // namespace quarnel
