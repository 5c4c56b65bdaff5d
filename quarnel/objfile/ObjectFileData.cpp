#include "objfile/ObjectFileData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace quarnel {
namespace {

class FileDescriptor {
 public:
  // Without blocking: opening a FIFO or a device for reading could wait for
  // ever before the regular-file test has a chance to refuse it. The flag
  // changes nothing for the reads of a regular file.
  explicit FileDescriptor(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool IsRegularFile(off_t& size) const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = info.st_size;
    return true;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads to the end, or fails as soon as the file holds more than maxBytes
// (it may grow while it is read).
bool ReadAll(int fd, std::string& content, uint64_t maxBytes, bool& tooLarge) {
  size_t used = 0;
  for (;;) {
    if (used > maxBytes) {
      tooLarge = true;
      return false;
    }
    if (used == content.size()) content.resize(content.size() + 65536);
    ssize_t got = ::read(fd, content.data() + used, content.size() - used);
    if (got < 0) return false;
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  content.resize(used);
  return true;
}

}  // namespace

std::shared_ptr<const ObjectFileData> ObjectFileData::Read(const std::string& path, uint64_t maxBytes,
                                                           bool* tooLarge) {
  if (tooLarge != nullptr) *tooLarge = false;
  FileDescriptor file(path);
  off_t size = 0;
  if (!file.IsRegularFile(size)) return nullptr;
  if (static_cast<uint64_t>(size) > maxBytes) {
    if (tooLarge != nullptr) *tooLarge = true;
    return nullptr;
  }
  std::string content;
  // One spare byte lets the read loop see the end without growing the buffer.
  content.resize(static_cast<size_t>(size) + 1);
  bool grewTooLarge = false;
  if (!ReadAll(file.get(), content, maxBytes, grewTooLarge)) {
    if (tooLarge != nullptr) *tooLarge = grewTooLarge;
    return nullptr;
  }
  return std::make_shared<const ObjectFileData>(std::move(content));
}

bool ObjectFileData::CanOpen(const std::string& path) {
  off_t size = 0;
  return FileDescriptor(path).IsRegularFile(size);
}

bool LineCursor::Next(std::string_view& line) {
  if (rest_.empty()) return false;
  const void* newline = std::memchr(rest_.data(), '\n', rest_.size());
  size_t length = newline ? static_cast<size_t>(static_cast<const char*>(newline) - rest_.data()) : rest_.size();
  line = rest_.substr(0, length);
  rest_.remove_prefix(newline ? length + 1 : length);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

}  // namespace quarnel
