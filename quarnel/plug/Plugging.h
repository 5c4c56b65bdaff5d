#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "base/NamedLock.h"
#include "base/OperationWindow.h"
#include "base/SettingsStore.h"
#include "plug/SecurityCheck.h"
#include "target/TargetSetup.h"
#include "vestra.h"

namespace quarnel {

// What plugging needs from the face that owns the emulators: besides the
// operations' (events, status reports, boxes) and the security ID dialog,
// the target dialog. Plugging reports Unplugged, Plugged, TargetApplied,
// TargetChanged, TargetSelected and CloseRequested; the window follows them
// with its plug button, lists and fields, a program without them passes
// them over and answers the dialogs with nothing.
class PlugWindow : public OperationWindow, public SecurityPrompt {
 public:
  // ReportStatus is shared by both bases: the status message in a stop box;
  // a fatal status then goes unplugged (Plugging::GoUnplugged, with a reset
  // unless the status is a link status).
  void ReportStatus(int status) override = 0;
  // As ReportStatus, with `text` right after the status message.
  virtual void ReportStatusWithText(int status, const std::string& text) = 0;
  // The Select Target dialog with `names` in description order, opened on
  // `initial`: the chosen index, or nothing when the user left it with Exit
  // or the close box.
  virtual std::optional<int32_t> ChooseTarget(const std::vector<std::string>& names, int32_t initial) = 0;
};

// The columns of one row of the erase block list: block number (from 1),
// start and end address ("%05XH"), and the status column.
std::vector<std::string> EraseBlockRowTexts(size_t index, const EraseBlock& block);

// The remembered target's name in the settings.
inline constexpr const char* kTargetNameKey = "TRGNAME";

// Connecting to the emulators, plugging them for the selected target
// description, applying that target, and leaving the plugged state again.
// It keeps the selected target, the plugged flag, the KORVO access lock and
// the applied target; the window reads them from here.
class Plugging {
 public:
  enum class Variant { StartUp, Button };

  // `allocateBuffers` sizes the write image buffers for the applied target
  // before the file list is checked against it.
  Plugging(ApiCalls& api, SettingsStore& settings, PlugWindow& window, std::function<void()> allocateBuffers = {});

  // The description set read at start-up; not owned. Null or empty leaves
  // nothing to plug or apply: the plug loops then end as if the user had
  // left Select Target.
  void SetDescriptions(TRGINFO* set);

  // Why the last Connect returned false.
  enum class ConnectFailure { None, NoEmulator, LockBusy, LockUnusable };

  // Disconnects, connects and takes the KORVO access lock (waiting at most
  // kKorvoLockWait). True when connected with the lock held. A lock file
  // that cannot be used is reported with its path and reason at once.
  bool Connect(Variant variant);
  ConnectFailure LastConnectFailure() const { return connectFailure_; }
  const NamedLock& KorvoLock() const { return korvoLock_; }

  // The start-up plug loop (only when connected). True when it was aborted:
  // the user left Select Target, or the firmware is too old; the program
  // then ends. Otherwise the plug succeeded.
  bool RunStartUpPlugLoop();
  // Button 1038: asks before unplugging; when unplugged, connects and plugs.
  void PlugOrUnplug();
  // The target list's selection changed to `listIndex` (negative: none,
  // which selects the first description). Every connected target is checked
  // against the new description; target 1 decides whether the window stays
  // plugged.
  void ChangeTarget(int32_t listIndex);

  // Applies the selected description: flash range, erase block table, end
  // address text, "TRGNAME" and code block geometry (stop box
  // text::kUnsupportedTarget for a code block above 64 KiB, applied anyway).
  void ApplySelectedTarget();
  // The write image buffers for the applied target.
  void AllocateWriteImageBuffers();
  SecurityCheckResult RunSecurityCheck();

  void GoUnplugged(bool reset);
  // Resets the targets unless the link is lost; a failure other than
  // status 1 is reported.
  void ResetOnLeaving();
  // Resets when plugged, releases the lock and closes the window.
  void Quit();
  // Quit has been called.
  bool Quitting() const { return quitting_; }

  int32_t SelectedTarget() const { return selected_; }
  const CTargetInfo* SelectedDescription() const;
  bool Plugged() const { return plugged_; }
  // Disconnects from the emulators, then releases the KORVO access lock.
  void ReleaseKorvoLock();
  // The applied target; the erase list ticks its blocks' selected field.
  AppliedTarget& Target() { return target_; }
  const AppliedTarget& Target() const { return target_; }

 private:
  // Disconnects and connects; false, with the not-connected warning shown,
  // when no emulator answers.
  bool OpenEmulators();
  size_t DescriptionCount() const;
  std::vector<std::string> TargetNames() const;
  void FindRememberedTarget();
  void RememberSelectedTarget();
  // Select Target, opened on the description of the chip last identified
  // by its product ID when there is one, else on the first; true when the
  // user chose one.
  bool OfferTargetChoice();
  // The description named as the identified chip, or 0.
  int32_t IdentifiedChipIndex() const;
  // A status is sticky: a target that keeps one is passed over by every
  // later plug, check and operation. Each plug attempt and each change of
  // target starts every connected target from 0.
  void ClearTargetStatuses();
  // Checks every target after the first against the named description, as
  // plugging all does: a chip that matches takes the description, and its
  // firmware is checked against it. A target that fails either keeps its own
  // status, so that the operations leave it out and list it as failed.
  void CheckFurtherTargets(const char* targetName);
  // Plugs the selected description; the status of target 1 afterwards.
  int PlugSelectedTarget();
  // Reports a failed plug; true when the failure must end the program.
  bool ReportPlugFailure(int status, bool& chipNameShown);
  void PlugFromButton();
  // "\n" and the library's reason why the last connect found no emulator or
  // could not open one; empty without a reason.
  std::string NoEmulatorLines();
  void FinishButtonPlug();

  ApiCalls& api_;
  SettingsStore& settings_;
  PlugWindow& window_;
  std::function<void()> allocateBuffers_;
  TRGINFO* set_ = nullptr;
  NamedLock korvoLock_{kKorvoLockName, LockScope::Machine};
  ConnectFailure connectFailure_ = ConnectFailure::None;
  int32_t selected_ = 0;
  // The chip name read from the product ID by the last "target LSI has
  // changed" report of this plug, without its trailing "."; empty when the
  // chip has not been identified.
  std::string identifiedChip_;
  bool plugged_ = true;
  bool quitting_ = false;
  AppliedTarget target_;
};

}  // namespace quarnel
