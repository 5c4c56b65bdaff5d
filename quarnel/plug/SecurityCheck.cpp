#include "plug/SecurityCheck.h"

#include <algorithm>

namespace quarnel {
namespace {

constexpr int kStillProtected = 0x2005;
constexpr int kWrongSecurityId = 0x2001;
constexpr int kDefaultIdBytes = 4;
// Initializing leaves the erased ID: twelve words with every bit set.
constexpr size_t kErasedIdWords = 12;

// The remembered size in bytes; 0, a missing value and one that does not fit
// the byte the size is kept in give the default.
size_t RememberedIdBytes(SettingsStore& settings) {
  const int size = settings.ReadInt(kSecureIdSizeKey, 0);
  return size > 0 && size <= 0xFF ? static_cast<size_t>(size) : kDefaultIdBytes;
}

}  // namespace

bool SendSecurityId(ApiCalls& api, std::span<const uint16_t> words, uint16_t& isProtected) {
  std::vector<uint16_t> sent(words.begin(), words.end());
  api.SetStatus(0);
  api.SendSecurityId(static_cast<uint8_t>(sent.size()), sent.data(), &isProtected);
  const int status = api.Status();
  return status == 0 || status == kStillProtected;
}

void RememberSecurityId(SettingsStore& settings, std::span<const uint16_t> words) {
  if (!settings.WriteInt(kSecureIdSizeKey, static_cast<int>(words.size() * 2))) return;
  if (!words.empty()) settings.WriteText(kSecureIdKey, EncodeSecurityId(words));
}

bool SecurityCheck::StatusAllowsGoingOn() {
  const int status = api_.Status();
  return status == 0 || status == kStillProtected;
}

SecurityCheckResult SecurityCheck::Run() {
  uint16_t isProtected = 1;
  if (!api_.IsProtected(&isProtected)) return SecurityCheckResult::Failed;
  if (!StatusAllowsGoingOn()) return SecurityCheckResult::Failed;
  if (isProtected == 0) return SecurityCheckResult::Passed;
  if (!TryRememberedId(isProtected)) return SecurityCheckResult::Failed;
  return AskUntilUnlocked(isProtected);
}

// A remembered ID that does not unlock is no error: the dialog follows.
bool SecurityCheck::TryRememberedId(uint16_t& isProtected) {
  const size_t length = RememberedIdBytes(settings_);
  const std::optional<std::string> text = settings_.ReadText(kSecureIdKey);
  if (!text || text->empty()) return true;
  SecurityIdBuffer bytes{};
  DecodeRememberedId(*text, length, bytes);
  std::fill(bytes.begin() + length, bytes.end(), 0);
  const auto words = WordsFromBytes(bytes);
  return SendSecurityId(api_, std::span(words).first(length / 2), isProtected);
}

SecurityCheckResult SecurityCheck::AskUntilUnlocked(uint16_t& isProtected) {
  while (isProtected != 0) {
    api_.SetStatus(0);
    uint16_t type = 0;
    if (!api_.SecurityType(&type)) return SecurityCheckResult::Failed;
    const std::optional<SecurityEntry> entry = prompt_.AskSecurityId(type);
    if (!entry) return SecurityCheckResult::ExitRequested;
    if (entry->choice == SecurityEntry::kInitializeFlash) return InitializeFlash();
    const std::vector<uint16_t> words = WordsFromFieldTexts(entry->texts);
    if (!SendSecurityId(api_, words, isProtected)) return SecurityCheckResult::Failed;
    if (isProtected != 0)
      prompt_.ReportStatus(kWrongSecurityId);
    else
      RememberSecurityId(settings_, words);
  }
  return SecurityCheckResult::Passed;
}

SecurityCheckResult SecurityCheck::InitializeFlash() {
  if (StatusAllowsGoingOn()) api_.SetStatus(0);
  if (!api_.ChipErase()) return SecurityCheckResult::Failed;
  const std::vector<uint16_t> erased(kErasedIdWords, 0xFFFF);
  RememberSecurityId(settings_, erased);
  return SecurityCheckResult::Passed;
}

}  // namespace quarnel
