#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/StringTable.h"

// The number of the string table text that a shown box starts with: the
// text with the most letters of its own that the box holds, "%1" standing
// for anything; 0 when no text of the table opens it. The test doubles know
// boxes by it.
namespace quarnel::testing {
namespace detail {

inline constexpr int kHighestTextId = 9999;

inline const std::vector<std::pair<int, std::string_view>>& TableTexts() {
  static const std::vector<std::pair<int, std::string_view>> texts = [] {
    std::vector<std::pair<int, std::string_view>> found;
    for (int id = 1; id <= kHighestTextId; ++id)
      if (const std::string_view text = LoadText(id); !text.empty()) found.emplace_back(id, text);
    return found;
  }();
  return texts;
}

// How many letters of `pattern` (outside its "%1") `shown` matches when it
// starts with the pattern; -1 when it does not.
inline int MatchedLetters(std::string_view pattern, std::string_view shown) {
  constexpr std::string_view kPlaceholder = "%1";
  size_t shownAt = 0;
  int letters = 0;
  for (size_t at = 0, piece = 0;; ++piece) {
    const size_t next = pattern.find(kPlaceholder, at);
    const std::string_view literal = pattern.substr(at, next == std::string_view::npos ? next : next - at);
    const size_t found = piece == 0 ? (shown.starts_with(literal) ? 0 : std::string_view::npos)
                                    : shown.find(literal, shownAt);
    if (found == std::string_view::npos) return -1;
    shownAt = found + literal.size();
    letters += static_cast<int>(literal.size());
    if (next == std::string_view::npos) return letters;
    at = next + kPlaceholder.size();
  }
}

}  // namespace detail

inline int TextIdShown(std::string_view shown) {
  int best = 0;
  int bestLetters = 0;
  for (const auto& [id, text] : detail::TableTexts()) {
    const int letters = detail::MatchedLetters(text, shown);
    if (letters > bestLetters) {
      best = id;
      bestLetters = letters;
    }
  }
  return best;
}

}  // namespace quarnel::testing
