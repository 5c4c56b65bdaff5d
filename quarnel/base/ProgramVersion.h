#pragma once

#include <cstdio>
#include <string>

#include "base/StringTable.h"
#include "base/TextIds.h"

namespace quarnel {

// The program's version as the about box and the records show it: major,
// then minor as two digits, then the text text::kVersionSuffix ("1.00").
inline std::string ProgramVersionText(int major, int minor) {
  char number[32];
  std::snprintf(number, sizeof number, "%d.%02d", major, minor);
  return number + std::string(LoadText(text::kVersionSuffix));
}

}  // namespace quarnel
