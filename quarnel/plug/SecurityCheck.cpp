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
  std::vector<std::pair<std::string, std::string>> values = {{kSecureIdSizeKey, std::to_string(words.size() * 2)}};
  if (!words.empty()) values.emplace_back(kSecureIdKey, EncodeSecurityId(words));
  settings.WriteTexts(values);
}

bool SecurityCheck::StatusAllowsGoingOn() {
  const int status = api_.Status();
  return status == 0 || status == kStillProtected;
}

SecurityCheckResult SecurityCheck::Run() {
  unlockedWith_.reset();
  const SecurityCheckResult result = CheckTarget1();
  if (result == SecurityCheckResult::Passed) UnlockFurtherTargets();
  return result;
}

SecurityCheckResult SecurityCheck::CheckTarget1() {
  uint16_t isProtected = 1;
  if (!api_.IsProtected(&isProtected)) return SecurityCheckResult::Failed;
  if (!StatusAllowsGoingOn()) return SecurityCheckResult::Failed;
  if (isProtected == 0) return SecurityCheckResult::Passed;
  if (!TryRememberedId(isProtected)) return SecurityCheckResult::Failed;
  return AskUntilUnlocked(isProtected);
}

// Nothing when no ID is remembered.
std::vector<uint16_t> SecurityCheck::RememberedWords() {
  const size_t length = RememberedIdBytes(settings_);
  const std::optional<std::string> text = settings_.ReadText(kSecureIdKey);
  if (!text || text->empty()) return {};
  SecurityIdBuffer bytes{};
  DecodeRememberedId(*text, length, bytes);
  std::fill(bytes.begin() + length, bytes.end(), 0);
  const auto words = WordsFromBytes(bytes);
  return {words.begin(), words.begin() + length / 2};
}

// A remembered ID that does not unlock is no error: the dialog follows.
bool SecurityCheck::TryRememberedId(uint16_t& isProtected) {
  if (!settings_.ReadText(kSecureIdKey).value_or("").size()) return true;
  const std::vector<uint16_t> words = RememberedWords();
  if (!SendSecurityId(api_, words, isProtected)) return false;
  if (isProtected == 0) unlockedWith_ = words;
  return true;
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
    if (isProtected != 0) {
      prompt_.ReportStatus(kWrongSecurityId);
    } else {
      RememberSecurityId(settings_, words);
      unlockedWith_ = words;
    }
  }
  return SecurityCheckResult::Passed;
}

SecurityCheckResult SecurityCheck::InitializeFlash() {
  if (StatusAllowsGoingOn()) api_.SetStatus(0);
  if (!api_.ChipErase()) return SecurityCheckResult::Failed;
  const std::vector<uint16_t> erased(kErasedIdWords, 0xFFFF);
  RememberSecurityId(settings_, erased);
  unlockedWith_ = erased;
  return SecurityCheckResult::Passed;
}

void SecurityCheck::UnlockFurtherTargets() {
  const uint32_t count = api_.TargetCount();
  if (count < 2) return;
  std::vector<uint16_t> words = unlockedWith_ ? *unlockedWith_ : RememberedWords();
  for (uint32_t n = 2; n <= count; ++n) {
    if (api_.TargetStatus(n) != 0) continue;
    uint16_t isProtected = 1;
    api_.TargetIsProtected(n, &isProtected);
    if (api_.TargetStatus(n) == kStillProtected) api_.SetTargetStatus(n, 0);
    if (isProtected != 0 && !words.empty()) {
      api_.TargetSendSecurityId(n, static_cast<uint8_t>(words.size()), words.data(), &isProtected);
      if (api_.TargetStatus(n) == kStillProtected) api_.SetTargetStatus(n, 0);
    }
    if (isProtected != 0 && api_.TargetStatus(n) == 0) api_.SetTargetStatus(n, kWrongSecurityId);
  }
}

}  // namespace quarnel
