#include "base/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quarnel {
namespace {

constexpr std::chrono::milliseconds kPollInterval{20};
constexpr mode_t kMachineFileMode = 0666;
constexpr mode_t kUserFileMode = 0600;
constexpr mode_t kPrivateFolderMode = 0700;

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool IsFolder(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

std::string MachineFolder() {
  std::string folder = Variable("QUARNEL_LOCK_DIR");
  if (!folder.empty()) return folder;
  for (const char* candidate : {"/run/lock", "/var/lock"})
    if (IsFolder(candidate)) return candidate;
  return "/tmp";
}

std::string PrivateFolder() {
  std::string temporary = Variable("TMPDIR");
  if (temporary.empty()) temporary = "/tmp";
  return temporary + "/quarnel-" + std::to_string(::geteuid());
}

}  // namespace

NamedLock::NamedLock(std::string name, LockScope scope) : scope_(scope) {
  if (scope == LockScope::Machine) {
    folder_ = MachineFolder();
  } else {
    folder_ = Variable("XDG_RUNTIME_DIR");
    if (folder_.empty()) {
      folder_ = PrivateFolder();
      privateFolder_ = true;
    }
  }
  path_ = folder_ + "/" + name + ".lock";
}

NamedLock::~NamedLock() { Release(); }

void NamedLock::SetError(const std::string& what, const std::string& reason) {
  error_ = what + " cannot be used: " + reason;
}

// The folder stands in for $XDG_RUNTIME_DIR, so it must be as private: a
// folder someone else controls could hand us their lock file.
bool NamedLock::CheckPrivateFolder() {
  struct stat info {};
  std::string problem;
  if (::mkdir(folder_.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
    problem = std::strerror(errno);
  else if (::lstat(folder_.c_str(), &info) != 0)
    problem = std::strerror(errno);
  else if (S_ISLNK(info.st_mode))
    problem = "it is a symbolic link";
  else if (!S_ISDIR(info.st_mode))
    problem = "it is not a folder";
  else if (info.st_uid != ::geteuid())
    problem = "it belongs to another user";
  else if ((info.st_mode & 022) != 0)
    problem = "other users may write to it";
  if (problem.empty()) return true;
  SetError("the lock folder " + folder_, problem);
  return false;
}

int NamedLock::OpenFile() {
  if (privateFolder_ && !CheckPrivateFolder()) return -1;
  const std::string what = "the lock file " + path_;
  // Never through a link, and never blocking on something that is not a
  // plain file (a FIFO put in its place).
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  const mode_t mode = scope_ == LockScope::Machine ? kMachineFileMode : kUserFileMode;
  // An existing file is opened without O_CREAT: in a sticky folder such as
  // /run/lock the kernel may refuse O_CREAT on another user's file
  // (fs.protected_regular).
  int fd = ::open(path_.c_str(), flags);
  bool created = false;
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path_.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0)
      created = true;
    else if (errno == EEXIST)  // another process created it first
      fd = ::open(path_.c_str(), flags);
  }
  if (fd < 0) {
    SetError(what, errno == ELOOP ? "it is a symbolic link" : std::strerror(errno));
    return -1;
  }
  struct stat info {};
  std::string problem;
  if (::fstat(fd, &info) != 0)
    problem = std::strerror(errno);
  else if (!S_ISREG(info.st_mode))
    problem = "it is not a regular file";
  else if (scope_ == LockScope::User && info.st_uid != ::geteuid())
    problem = "it belongs to another user";
  else if (created && ::fchmod(fd, mode) != 0)  // the umask narrowed the mode
    problem = std::strerror(errno);
  if (problem.empty()) return fd;
  ::close(fd);
  SetError(what, problem);
  return -1;
}

bool NamedLock::Acquire(std::chrono::milliseconds wait) {
  if (Held()) return true;
  error_.clear();
  const int fd = OpenFile();
  if (fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      SetError("the lock file " + path_, std::strerror(errno));
      ::close(fd);
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  fd_ = fd;
  return true;
}

void NamedLock::Release() {
  if (!Held()) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace quarnel
