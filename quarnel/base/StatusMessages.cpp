#include "base/StatusMessages.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quarnel {
namespace {

constexpr int kUnlistedStatus = 0xFFFF;

// Searched in order; the first row with the code wins.
constexpr std::array<std::pair<int, int>, 39> kStatusTexts{{
    {0x0001, 141}, {0x6000, 110}, {0x6001, 111}, {0x6002, 112}, {0x6003, 113}, {0x6100, 145},
    {0x6300, 149}, {0x6302, 137}, {0x6303, 2032}, {0x6304, 118}, {0x6305, 119}, {0x6306, 121},
    {0x6307, 142}, {0x6308, 143}, {0x6309, 131}, {0x630A, 144}, {0x630C, 148}, {0x5000, 2035},
    {0x5001, 2036}, {0x5002, 2037}, {0x5003, 2051}, {0x5004, 2038}, {0x5005, 2039}, {0x4000, 2040},
    {0x4001, 2041}, {0x4002, 2042}, {0x4003, 2043}, {0x4004, 2044}, {0x4005, 2045}, {0x4006, 2046},
    {0x4007, 2047}, {0x2000, 138}, {0x2001, 139}, {0x2002, 146}, {0x2003, 153}, {0x2004, 154},
    {0x2005, 2052}, {0x2006, 176}, {kUnlistedStatus, 2050},
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
