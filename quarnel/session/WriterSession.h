#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "base/SettingsStore.h"
#include "image/FileList.h"
#include "image/FlashBuffers.h"
#include "objfile/ObjectFileScanner.h"
#include "ops/EraseOperation.h"
#include "ops/TargetContents.h"
#include "ops/VerifyOperation.h"
#include "ops/WriteOperation.h"
#include "plug/Plugging.h"
#include "session/RunFigures.h"
#include "vestra.h"

namespace quarnel {

// What reading the target descriptions came to: 0, or the text that ends the
// start (text::kNoTrgFiles: no TRG file, kNoTrgRead: none could be read); with
// `someSkipped` the files the library passed over (text::kTrgSkipped).
struct DescriptionsRead {
  int failureTextId = 0;
  bool someSkipped = false;
};

// How plugging for a named target came out.
enum class PlugResult {
  Plugged,
  NotPlugged,             // the plug failed (wrong chip, old firmware, no answer)
  SecurityCheckFailed,    // the library failed during the security check
  StillProtected,         // no ID unlocked the chip and it was not erased
};

// Where plugging at start-up left the session.
struct StartUpPlug {
  bool connected = false;  // still connected: the security check did not fail
  bool aborted = false;    // the user left Select Target or the security dialog
};

// What a look at one target's flash came to (read, blank-check): its
// verdict and the CRC-32 of its flash, when taken.
struct FlashVerdict {
  bool passed = false;
  std::optional<uint32_t> crc32;
};
// Judges target n's flash as read (indexed by address); nothing when it
// could not be read.
using FlashJudge = std::function<FlashVerdict(uint32_t n, std::optional<std::span<const uint8_t>> image)>;

// One writer: the description set, plugging with its applied target, the
// file list with its scanner, and the write image buffers, over one call
// layer and one face (the window, or the console of quarnel-cli). Both faces
// sit on it and keep none of it themselves.
class WriterSession {
 public:
  // The references must outlive the session.
  WriterSession(ApiCalls& api, SettingsStore& settings, PlugWindow& face);
  // Leaves the emulators: a plugged session resets them, the descriptions go
  // back to the library, the connection and the KORVO access lock are released.
  ~WriterSession();
  WriterSession(const WriterSession&) = delete;
  WriterSession& operator=(const WriterSession&) = delete;

  // Reads the TRG files and hands them to plugging.
  DescriptionsRead ReadDescriptions();
  const TRGINFO* Descriptions() const { return descriptions_; }
  std::vector<std::string> DescriptionNames() const;
  // The index of the description named `name`, or -1.
  int32_t FindDescription(const std::string& name) const;

  // Applies the description named `name` ahead of plugging, as the target
  // that the file checks and the buffers follow.
  enum class Applied { Applied, UnknownName, NoFlash };
  Applied ApplyDescription(const std::string& name);

  // While the emulators are held: resets the targets when plugged (unless
  // the link is lost), then releases the connection and the lock. Safe to
  // call again.
  void Leave();
  // As Leave, after a run in which `fatalStatus` (0: none) was reported:
  // a fatal status goes unplugged, with a reset unless the link is lost.
  void LeaveAfter(int fatalStatus);

  // Plugs for the description `targetName` without offering another one,
  // unlocking a read-protected chip with `securityId` (when given) before
  // asking the face. Both are remembered, as plugging remembers what it
  // used. Only while connected.
  PlugResult PlugFor(const std::string& targetName, const std::optional<std::vector<uint16_t>>& securityId);

  // The window's start: plugs the remembered (or chosen) description when
  // `connected`, selects and applies it, and runs the security check. Then,
  // once the face has drawn the target, FinishStartUp leaves the session
  // unplugged, sized for the target, or quitting.
  StartUpPlug PlugAtStartUp(bool connected);
  void FinishStartUp(const StartUpPlug& plug);

  Plugging& Plug() { return plugging_; }
  const Plugging& Plug() const { return plugging_; }
  AppliedTarget& Target() { return plugging_.Target(); }
  FileList& Files() { return files_; }
  FlashBuffers& Buffers() { return buffers_; }
  ObjectFileScanner& Scanner() { return scanner_; }

  // Each operation that starts ends its log with FiguresLine; LastRun() then
  // tells its figures.
  OperationOutcome Write(const WriteSettings& settings);
  OperationOutcome Verify(const VerifySettings& settings);
  OperationOutcome Erase();
  // Reads target n's whole flash (with its reserved tail) erase block by
  // erase block into `image`, indexed by address and sized to the write
  // image; addresses outside flash stay FFH. Failed when the library
  // reports a failure (the target's status says why).
  ReadOutcome ReadFlash(uint32_t n, std::vector<uint8_t>& image);
  // Reads every target's flash in turn and has `judge` judge it. A target
  // passes when it was read, `judge` passed it and its status is 0; the
  // bytes are those of the flash (FlashContentSize).
  OperationOutcome ReadTargets(const FlashJudge& judge);
  const RunFigures& LastRun() const { return lastRun_; }

 private:
  OperationContext Context();
  void ReleaseDescriptions();
  void Finish(std::chrono::steady_clock::time_point start, std::span<const std::optional<FlashVerdict>> verdicts = {});

  ApiCalls& api_;
  SettingsStore& settings_;
  PlugWindow& face_;
  Plugging plugging_;
  ObjectFileScanner scanner_;
  FileList files_;
  FlashBuffers buffers_;
  TRGINFO* descriptions_ = nullptr;
  RunFigures lastRun_;
};

}  // namespace quarnel
