#include "base/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace quarnel {
namespace {

std::string LockDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime ? runtime : "/tmp";
}

constexpr std::chrono::milliseconds kPollInterval{20};

}  // namespace

NamedLock::NamedLock(std::string name) : path_(LockDirectory() + "/" + name + ".lock") {}

NamedLock::~NamedLock() { Release(); }

bool NamedLock::Acquire(std::chrono::milliseconds wait) {
  if (Held()) return true;
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
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
