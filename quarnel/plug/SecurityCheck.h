#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/ApiCalls.h"
#include "base/SettingsStore.h"
#include "plug/SecurityId.h"

namespace quarnel {

// What the user chose in the security ID dialog with OK.
struct SecurityEntry {
  enum Choice : int32_t { kEnterId = 0, kInitializeFlash = 1 };
  int32_t choice = kEnterId;
  // The twelve fields' texts, four characters with a blank for each empty
  // position; only read for kEnterId.
  SecurityFieldTexts texts;
};

// What the security check needs from the user side. The window shows the
// security ID dialog; a program without dialogs answers with nothing.
class SecurityPrompt {
 public:
  virtual ~SecurityPrompt() = default;
  // The security ID dialog for the chip's security type (type 1 cannot be
  // initialized). Nothing when the user left it with Exit or the close box.
  virtual std::optional<SecurityEntry> AskSecurityId(uint16_t securityType) = 0;
  // The status message in a stop box; a fatal status then unplugs.
  virtual void ReportStatus(int status) = 0;
};

enum class SecurityCheckResult {
  Passed,         // target 1 is unprotected, unlocked or initialized
  Failed,         // a library call failed; the status of target 1 tells why
  ExitRequested,  // the user left the dialog with Exit; the caller ends the program
};

// The remembered ID: "SECUREIDSIZE" (bytes) and "SECUREID" (the words).
inline constexpr const char* kSecureIdKey = "SECUREID";
inline constexpr const char* kSecureIdSizeKey = "SECUREIDSIZE";

// Sends `words` as the security ID of target 1; `isProtected` receives the
// new protection state. False when the library call failed (a status other
// than 0 and the "still protected" answer).
bool SendSecurityId(ApiCalls& api, std::span<const uint16_t> words, uint16_t& isProtected);

// Stores an ID that unlocked the chip together with its size, in one write.
// An ID of no words stores only its size.
void RememberSecurityId(SettingsStore& settings, std::span<const uint16_t> words);

// Unlocks target 1 when it is read-protected: with the remembered ID first,
// then with the IDs the user enters, or by erasing the chip when the user
// chooses so. Every ID that unlocks is remembered.
class SecurityCheck {
 public:
  SecurityCheck(ApiCalls& api, SettingsStore& settings, SecurityPrompt& prompt)
      : api_(api), settings_(settings), prompt_(prompt) {}

  // Target 1 decides the result. Once it has passed, every further plugged
  // target is opened with the same ID; one that stays protected is given
  // the wrong-ID status, so that the operations leave it out and report it.
  SecurityCheckResult Run();

 private:
  SecurityCheckResult CheckTarget1();
  bool StatusAllowsGoingOn();
  std::vector<uint16_t> RememberedWords();
  bool TryRememberedId(uint16_t& isProtected);
  SecurityCheckResult AskUntilUnlocked(uint16_t& isProtected);
  SecurityCheckResult InitializeFlash();
  void UnlockFurtherTargets();

  // The ID that opened target 1, if one was needed.
  std::optional<std::vector<uint16_t>> unlockedWith_;

  ApiCalls& api_;
  SettingsStore& settings_;
  SecurityPrompt& prompt_;
};

}  // namespace quarnel
