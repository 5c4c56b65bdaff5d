#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quarnel {

// The content of one listed object file, read into memory once. Every scan,
// write and verify reads this copy, so a file that another program changes
// or deletes after it was listed cannot make them see different data.
class ObjectFileData {
 public:
  explicit ObjectFileData(std::string content) : content_(std::move(content)) {}

  // Null when the path does not name a readable regular file, or when the
  // file holds more than maxBytes (then *tooLarge is set, nothing is read).
  static std::shared_ptr<const ObjectFileData> Read(const std::string& path, uint64_t maxBytes,
                                                    bool* tooLarge = nullptr);
  // Whether the path can be opened for reading now.
  static bool CanOpen(const std::string& path);

  std::string_view Content() const { return content_; }

 private:
  std::string content_;
};

// Walks text lines with their line ends ("\n" or "\r\n") removed; a last line
// without a line end counts as a line.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : rest_(text) {}
  bool Next(std::string_view& line);

 private:
  std::string_view rest_;
};

}  // namespace quarnel
