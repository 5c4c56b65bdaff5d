#pragma once

#include <chrono>
#include <string>

namespace quarnel {

// Who shares a lock of a given name.
enum class LockScope {
  // Every user and login session of the machine: one file in
  // $QUARNEL_LOCK_DIR when set (tests point it at a folder of their own),
  // else /run/lock (/var/lock or /tmp on a system without it). The file is
  // readable and writable by everyone, so whoever comes first may create it.
  Machine,
  // The processes of one user: $XDG_RUNTIME_DIR, else the private folder
  // quarnel-<uid> in $TMPDIR (else /tmp), created 0700 and refused unless it
  // is ours, a real folder and closed to others. The file must be ours too.
  User,
};

// A lock that every process in its scope sees under one name: flock on the
// file NAME.lock. The kernel drops it when its holder ends, however it ends.
// Not owned until acquired; releasing a lock that is not held does nothing.
class NamedLock {
 public:
  explicit NamedLock(std::string name, LockScope scope = LockScope::Machine);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Takes the lock, waiting at most `wait` (polling). False when another
  // holder keeps it that long, and at once when its file cannot be used;
  // Error() tells the two apart.
  bool Acquire(std::chrono::milliseconds wait);
  void Release();
  bool Held() const { return fd_ >= 0; }

  const std::string& Path() const { return path_; }
  // Empty unless the last Acquire failed because the lock's file or folder
  // could not be used; then the path and the reason, ready for a message.
  const std::string& Error() const { return error_; }

 private:
  // The open lock file, or -1 with error_ set.
  int OpenFile();
  bool CheckPrivateFolder();
  void SetError(const std::string& what, const std::string& reason);

  LockScope scope_;
  std::string folder_;
  bool privateFolder_ = false;
  std::string path_;
  std::string error_;
  int fd_ = -1;
};

// The lock that keeps other programs off the emulators while they are
// plugged. The emulators belong to the machine, so it is machine-wide.
inline constexpr const char* kKorvoLockName = "KORVO";
inline constexpr std::chrono::milliseconds kKorvoLockWait{3000};

}  // namespace quarnel
