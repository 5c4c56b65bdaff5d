#pragma once

#include <string>
#include <string_view>

namespace quarnel {

// QUARNEL's texts by number. A number that the table does not hold yields an
// empty text, which callers treat as "no such text" (for example the version
// suffix of the about box).
std::string_view LoadText(int textId);

// The text of textId with every "%1" replaced by fileName.
std::string FormatText(int textId, std::string_view fileName);

}  // namespace quarnel
