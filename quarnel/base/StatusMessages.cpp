#include "base/StatusMessages.h"

#include <algorithm>
#include <array>
#include <utility>

#include "base/TextIds.h"

namespace quarnel {
namespace {

constexpr int kUnlistedStatus = 0xFFFF;

// Searched in order; the first row with the code wins.
constexpr std::array<std::pair<int, int>, 39> kStatusTexts{{
    {0x0001, text::kCommunication0001}, {0x6000, text::kMalfunction6000}, {0x6001, text::kMalfunction6001},
    {0x6002, text::kMalfunction6002}, {0x6003, text::kMalfunction6003}, {0x6100, text::kTargetAccess6100},
    {0x6300, text::kTargetAccess6300}, {0x6302, text::kTargetAccess6302}, {0x6303, text::kTargetAccess6303},
    {0x6304, text::kMalfunction6304}, {0x6305, text::kTargetAccess6305}, {0x6306, text::kMalfunction6306},
    {0x6307, text::kTargetAccess6307}, {0x6308, text::kTargetAccess6308}, {0x6309, text::kTargetAccess6309},
    {0x630A, text::kMalfunction630A}, {0x630C, text::kMalfunction630C}, {0x5000, text::kCommunication1000},
    {0x5001, text::kCommunication1001}, {0x5002, text::kMalfunction1002}, {0x5003, text::kMalfunction1003},
    {0x5004, text::kMalfunction1004}, {0x5005, text::kLockNotObtained}, {0x4000, text::kInternalError1006},
    {0x4001, text::kInternalError1007}, {0x4002, text::kInternalError1008}, {0x4003, text::kInternalError1009},
    {0x4004, text::kInternalError1010}, {0x4005, text::kInternalError1011}, {0x4006, text::kInternalError1012},
    {0x4007, text::kInternalError1013}, {0x2000, text::kTargetChanged}, {0x2001, text::kWrongSecurityId},
    {0x2002, text::kTargetMismatch}, {0x2003, text::kFirmwareUnreadable}, {0x2004, text::kFirmwareDifferent},
    {0x2005, text::kSecurityIdCheck}, {0x2006, text::kDifferencesFound}, {kUnlistedStatus, text::kMalfunctionFFFF},
}};

}  // namespace

int StatusTextId(int status) {
  auto row = std::find_if(kStatusTexts.begin(), kStatusTexts.end(),
                          [status](const auto& entry) { return entry.first == status; });
  return row != kStatusTexts.end() ? row->second : kStatusTexts.back().second;
}

bool IsLinkStatus(int status) { return status >= 0x5000 && status <= 0x5005; }

bool IsFatalStatus(int status) {
  return status == 1 || IsLinkStatus(status) || status == 0x6302 || status == 0x6304 || status == 0x6307 ||
         status == 0x6309 || status == kUnlistedStatus;
}

}  // namespace quarnel
