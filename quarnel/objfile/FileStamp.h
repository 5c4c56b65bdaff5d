#pragma once

#include <cstdint>
#include <string>

namespace quarnel {

// What tells a file's versions apart without reading it: its size and its
// modification time. A missing file has no stamp (valid false).
struct FileStamp {
  bool valid = false;
  int64_t size = 0;
  int64_t modifiedNs = 0;

  bool operator==(const FileStamp&) const = default;
};

// Never blocks on the file's content: it is not opened.
FileStamp ReadFileStamp(const std::string& path);

}  // namespace quarnel
