#pragma once

#include <chrono>
#include <string>

namespace quarnel {

// A lock that every process of the user sees under one name: flock on the
// file NAME.lock in $XDG_RUNTIME_DIR (else /tmp). The kernel drops it when
// its holder ends, however it ends. Not owned until acquired; releasing a
// lock that is not held does nothing.
class NamedLock {
 public:
  explicit NamedLock(std::string name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Takes the lock, waiting at most `wait` (polling); false when another
  // holder keeps it that long, or when its file cannot be opened.
  bool Acquire(std::chrono::milliseconds wait);
  void Release();
  bool Held() const { return fd_ >= 0; }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// The lock that keeps other programs off the emulators while they are plugged.
inline constexpr const char* kKorvoLockName = "KORVO";
inline constexpr std::chrono::milliseconds kKorvoLockWait{3000};

}  // namespace quarnel
