#include "plug/Plugging.h"

#include <cstdio>
#include <cstring>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"

namespace quarnel {
namespace {

constexpr int kStatusChipChanged = 0x2000;
constexpr int kStatusTargetMismatch = 0x2002;
constexpr int kStatusOldFirmware = 0x2004;
constexpr int kStatusNotConnected = 0x5005;
// An emulator answer that, during a plug, also means another chip type.
constexpr int kStatusPlugMismatchAnswer = 0x630C;
// A reset that fails with this status has nothing to report.
constexpr int kStatusResetNoReport = 1;

constexpr uint32_t kProductIdBytes = 16;
constexpr uint32_t kFirmwareTextSize = 10;


}  // namespace

std::vector<std::string> EraseBlockRowTexts(size_t index, const EraseBlock& block) {
  return {"", std::to_string(index + 1), HexAddressText(block.start), HexAddressText(block.end),
          block.available ? std::string(13, ' ') : "Not Available"};
}

Plugging::Plugging(ApiCalls& api, SettingsStore& settings, PlugWindow& window, std::function<void()> allocateBuffers)
    : api_(api), settings_(settings), window_(window), allocateBuffers_(std::move(allocateBuffers)) {}

void Plugging::SetDescriptions(TRGINFO* set) {
  set_ = set;
  selected_ = 0;
}

size_t Plugging::DescriptionCount() const {
  return set_ != nullptr && set_->array != nullptr && set_->count > 0 ? static_cast<size_t>(set_->count) : 0;
}

const CTargetInfo* Plugging::SelectedDescription() const {
  if (selected_ < 0 || static_cast<size_t>(selected_) >= DescriptionCount()) return nullptr;
  return &set_->array[selected_];
}

std::vector<std::string> Plugging::TargetNames() const {
  std::vector<std::string> names;
  for (size_t k = 0; k < DescriptionCount(); ++k) names.emplace_back(TargetNameOf(set_->array[k]));
  return names;
}

std::string Plugging::NoEmulatorLines() {
  const std::string reason = api_.NoEmulatorReason();
  return reason.empty() ? reason : "\n" + reason;
}

bool Plugging::OpenEmulators() {
  api_.Disconnect();
  if (api_.Connect() != 0) return true;
  connectFailure_ = ConnectFailure::NoEmulator;
  window_.ShowMessage(MessageStyle::Warning, std::string(LoadText(text::kNotConnected)) + NoEmulatorLines());
  return false;
}

bool Plugging::Connect(Variant variant) {
  connectFailure_ = ConnectFailure::None;
  if (!OpenEmulators()) return false;
  if (korvoLock_.Acquire(std::chrono::milliseconds(0))) return true;
  if (korvoLock_.Error().empty() && korvoLock_.Acquire(kKorvoLockWait)) {
    // The emulators were opened while another program still had some of
    // them: open them again now that they are ours, so that the run has the
    // whole set or none.
    if (OpenEmulators()) return true;
    ReleaseKorvoLock();
    return false;
  }
  // A lock that cannot be used says why under the usual text.
  const std::string lockLines = korvoLock_.Error().empty() ? "" : "\n" + korvoLock_.Error();
  connectFailure_ = lockLines.empty() ? ConnectFailure::LockBusy : ConnectFailure::LockUnusable;
  if (variant == Variant::Button) {
    if (lockLines.empty())
      window_.ReportStatus(kStatusNotConnected);
    else
      window_.ReportStatusWithText(kStatusNotConnected, lockLines);
    return false;
  }
  window_.ShowMessage(MessageStyle::Stop, std::string(LoadText(text::kLockNotObtained)) + lockLines);
  window_.Report(SessionEvent::Of(SessionEvent::Kind::Unplugged));
  plugged_ = false;
  ReleaseKorvoLock();
  return false;
}

// A name that matches no description keeps the current selection.
void Plugging::FindRememberedTarget() {
  const std::string name = settings_.ReadText(kTargetNameKey).value_or("");
  const std::vector<std::string> names = TargetNames();
  for (size_t k = 0; k < names.size(); ++k) {
    if (names[k] == name) {
      selected_ = static_cast<int32_t>(k);
      return;
    }
  }
}

void Plugging::RememberSelectedTarget() {
  if (const CTargetInfo* description = SelectedDescription())
    settings_.WriteText(kTargetNameKey, TargetNameOf(*description));
}

int32_t Plugging::IdentifiedChipIndex() const {
  if (identifiedChip_.empty()) return 0;
  const std::vector<std::string> names = TargetNames();
  for (size_t k = 0; k < names.size(); ++k)
    if (names[k] == identifiedChip_) return static_cast<int32_t>(k);
  return 0;
}

bool Plugging::OfferTargetChoice() {
  const std::vector<std::string> names = TargetNames();
  const std::optional<int32_t> chosen = window_.ChooseTarget(names, IdentifiedChipIndex());
  if (!chosen || *chosen < 0 || static_cast<size_t>(*chosen) >= names.size()) return false;
  selected_ = *chosen;
  RememberSelectedTarget();
  return true;
}

void Plugging::ClearTargetStatuses() {
  api_.SetStatus(0);
  const uint32_t count = api_.TargetCount();
  for (uint32_t n = 2; n <= count; ++n) api_.SetTargetStatus(n, 0);
}

void Plugging::CheckFurtherTargets(const char* targetName) {
  const uint32_t count = api_.TargetCount();
  for (uint32_t n = 2; n <= count; ++n) api_.TargetCheckDescription(n, set_, targetName);
}

int Plugging::PlugSelectedTarget() {
  const std::string name(TargetNameOf(*SelectedDescription()));
  ClearTargetStatuses();
  api_.PlugAll(set_, name.c_str());
  return api_.Status();
}

bool Plugging::ReportPlugFailure(int status, bool& chipNameShown) {
  if (status == kStatusTargetMismatch && !chipNameShown) {
    uint32_t productId[kProductIdBytes / sizeof(uint32_t)] = {};
    if (const CTargetInfo* description = SelectedDescription()) api_.ProductId(description->targetIdBitNum, productId);
    const std::string chipName = ChipNameFromProductId(productId[0]);
    identifiedChip_ = chipName.substr(0, chipName.size() - 1);
    window_.ReportStatusWithText(kStatusChipChanged, chipName);
    chipNameShown = true;
    return false;
  }
  if (status == kStatusTargetMismatch || status == kStatusPlugMismatchAnswer) {
    window_.ReportStatus(kStatusTargetMismatch);
    return false;
  }
  if (status == kStatusOldFirmware) {
    char version[kFirmwareTextSize] = {};
    uint32_t needed = 0;
    api_.FirmwareVersionText(version, kFirmwareTextSize, &needed);
    version[kFirmwareTextSize - 1] = '\0';
    window_.ReportStatusWithText(kStatusOldFirmware, version);
    return true;
  }
  // An emulator that was listed but could not be opened: say why.
  if (const std::string reason = NoEmulatorLines(); status == kStatusNotConnected && !reason.empty()) {
    window_.ReportStatusWithText(status, reason);
    return false;
  }
  window_.ReportStatus(status);
  return false;
}

bool Plugging::RunStartUpPlugLoop() {
  if (DescriptionCount() == 0) return true;
  const bool nothingRemembered = settings_.ReadText(kTargetNameKey).value_or("").empty();
  identifiedChip_.clear();
  if (nothingRemembered && !OfferTargetChoice()) return true;
  bool chipNameShown = false;
  bool aborted = false;
  while (!aborted) {
    FindRememberedTarget();
    const int status = PlugSelectedTarget();
    if (status == 0) break;
    aborted = ReportPlugFailure(status, chipNameShown);
    if (!OfferTargetChoice()) aborted = true;
  }
  return aborted;
}

void Plugging::PlugOrUnplug() {
  if (plugged_) {
    if (window_.Ask(Question::Unplug, std::string(LoadText(text::kUnplugQuestion)))) GoUnplugged(true);
    return;
  }
  if (Connect(Variant::Button)) PlugFromButton();
}

void Plugging::PlugFromButton() {
  if (DescriptionCount() == 0) return Quit();
  identifiedChip_.clear();
  bool chipNameShown = false;
  for (;;) {
    FindRememberedTarget();
    const int status = PlugSelectedTarget();
    if (status == 0) return FinishButtonPlug();
    ReportPlugFailure(status, chipNameShown);
    if (!OfferTargetChoice()) return Quit();
  }
}

void Plugging::FinishButtonPlug() {
  window_.Report(SessionEvent::Selected(selected_));
  ApplySelectedTarget();
  switch (RunSecurityCheck()) {
    case SecurityCheckResult::Failed:
      window_.ReportStatus(api_.Status());
      ReleaseKorvoLock();
      return;
    case SecurityCheckResult::ExitRequested:
      return Quit();
    case SecurityCheckResult::Passed:
      break;
  }
  plugged_ = true;
  AllocateWriteImageBuffers();
  window_.Report(SessionEvent::Of(SessionEvent::Kind::Plugged));
}

void Plugging::ChangeTarget(int32_t listIndex) {
  const size_t count = DescriptionCount();
  if (count == 0) return;
  selected_ = listIndex >= 0 && static_cast<size_t>(listIndex) < count ? listIndex : 0;
  const CTargetInfo* description = SelectedDescription();
  const std::string name(TargetNameOf(*description));
  ClearTargetStatuses();
  api_.CheckTargetName(set_, name.c_str());
  CheckFurtherTargets(name.c_str());
  const int status = api_.Status();
  if (status != 0) {
    bool chipNameShown = false;
    ReportPlugFailure(status, chipNameShown);
    ApplySelectedTarget();
    GoUnplugged(true);
    window_.Report(SessionEvent::Changed(false));
    return;
  }
  ApplySelectedTarget();
  AllocateWriteImageBuffers();
  switch (RunSecurityCheck()) {
    case SecurityCheckResult::Failed:
      return window_.ReportStatus(api_.Status());
    case SecurityCheckResult::ExitRequested:
      return Quit();
    case SecurityCheckResult::Passed:
      break;
  }
  window_.Report(SessionEvent::Changed(true));
}

void Plugging::ApplySelectedTarget() {
  const CTargetInfo* description = SelectedDescription();
  if (description == nullptr) return;
  const ApplyOutcome outcome = ApplyTarget(*description, target_);
  if (outcome != ApplyOutcome::NoFlashAreas) RememberSelectedTarget();
  if (outcome == ApplyOutcome::UnsupportedBlockSize)
    window_.ShowMessage(MessageStyle::Stop, std::string(LoadText(text::kUnsupportedTarget)));
  window_.Report(SessionEvent::Of(SessionEvent::Kind::TargetApplied));
}

void Plugging::AllocateWriteImageBuffers() {
  if (allocateBuffers_) allocateBuffers_();
}

SecurityCheckResult Plugging::RunSecurityCheck() { return SecurityCheck(api_, settings_, window_).Run(); }

void Plugging::GoUnplugged(bool reset) {
  RememberSelectedTarget();
  if (reset && !api_.ResetAll()) {
    const int status = api_.Status();
    if (status != kStatusResetNoReport) {
      window_.ShowMessage(MessageStyle::Stop, std::string(LoadText(StatusTextId(status))));
    }
  }
  window_.Report(SessionEvent::Of(SessionEvent::Kind::Unplugged));
  plugged_ = false;
  ReleaseKorvoLock();
}

// The emulators are let go before the lock that stands for them, so that
// whoever takes the lock next can open every one of them.
void Plugging::ReleaseKorvoLock() {
  api_.Disconnect();
  korvoLock_.Release();
}

void Plugging::ResetOnLeaving() {
  if (IsLinkStatus(api_.Status())) return;
  if (api_.ResetAll()) return;
  const int status = api_.Status();
  if (status != kStatusResetNoReport) window_.ReportStatus(status);
}

void Plugging::Quit() {
  quitting_ = true;
  if (plugged_) ResetOnLeaving();
  ReleaseKorvoLock();
  window_.Report(SessionEvent::Of(SessionEvent::Kind::CloseRequested));
}

}  // namespace quarnel
