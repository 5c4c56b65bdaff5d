#include "base/NamedLock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace quarnel {
namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

class NamedLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quarnel-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("QUARNEL_LOCK_DIR", dir_.c_str(), 1);
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    fs::remove_all(dir_);
  }

  // A child process that holds `name` for `holdMs`, started once it has it.
  pid_t HoldInChild(const char* name, LockScope scope, int holdMs) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
      NamedLock lock(name, scope);
      bool held = lock.Acquire(milliseconds(0));
      char byte = held ? 'y' : 'n';
      (void)!write(ready[1], &byte, 1);
      usleep(holdMs * 1000);
      _exit(0);
    }
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y');
    close(ready[0]);
    close(ready[1]);
    return pid;
  }

  std::string dir_;
};

TEST_F(NamedLockTest, WaitsForItsTimeThenGivesUpWhileAnotherProcessHoldsIt) {
  pid_t holder = HoldInChild(kKorvoLockName, LockScope::Machine, 5000);
  NamedLock lock(kKorvoLockName);
  EXPECT_EQ(lock.Path(), dir_ + "/KORVO.lock");
  auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(lock.Acquire(kKorvoLockWait));
  auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, milliseconds(3000));
  EXPECT_LT(waited, milliseconds(4500));
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(lock.Error(), "");  // busy, which is no error
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  // The kernel dropped the dead holder's lock.
  EXPECT_TRUE(lock.Acquire(milliseconds(0)));
}

TEST_F(NamedLockTest, IsTakenAsSoonAsTheHolderLetsGoAndIsExclusiveWithinTheProcess) {
  pid_t holder = HoldInChild("QUARNEL", LockScope::User, 300);
  NamedLock lock("QUARNEL", LockScope::User);
  EXPECT_TRUE(lock.Acquire(milliseconds(3000)));
  waitpid(holder, nullptr, 0);
  NamedLock other("QUARNEL", LockScope::User);
  EXPECT_FALSE(other.Acquire(milliseconds(50)));  // flock is per open file, so this copy waits too
  lock.Release();
  lock.Release();  // releasing twice does nothing
  EXPECT_TRUE(other.Acquire(milliseconds(0)));
}

// The emulators belong to the machine: processes of other login sessions
// (another $XDG_RUNTIME_DIR) meet at the same file, which every user may
// open whatever the creator's umask. The user's own lock stays per session.
TEST_F(NamedLockTest, MachineLockIsOneFileForEverySessionAndUser) {
  unsetenv("QUARNEL_LOCK_DIR");
  if (fs::is_directory("/run/lock")) {
    EXPECT_EQ(NamedLock(kKorvoLockName).Path(), "/run/lock/KORVO.lock");
  }
  setenv("QUARNEL_LOCK_DIR", dir_.c_str(), 1);

  fs::create_directory(dir_ + "/session-a");
  fs::create_directory(dir_ + "/session-b");
  setenv("XDG_RUNTIME_DIR", (dir_ + "/session-a").c_str(), 1);
  const mode_t previous = umask(077);
  pid_t holder = HoldInChild(kKorvoLockName, LockScope::Machine, 5000);
  umask(previous);
  pid_t ownHolder = HoldInChild("QUARNEL", LockScope::User, 5000);
  struct stat info {};
  ASSERT_EQ(stat((dir_ + "/KORVO.lock").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);

  setenv("XDG_RUNTIME_DIR", (dir_ + "/session-b").c_str(), 1);
  NamedLock korvo(kKorvoLockName);
  EXPECT_FALSE(korvo.Acquire(milliseconds(100)));
  EXPECT_EQ(korvo.Error(), "");
  NamedLock own("QUARNEL", LockScope::User);
  EXPECT_TRUE(own.Acquire(milliseconds(0))) << own.Error();
  EXPECT_EQ(own.Path(), dir_ + "/session-b/QUARNEL.lock");

  // Without $XDG_RUNTIME_DIR the user's lock lives in a private folder.
  unsetenv("XDG_RUNTIME_DIR");
  const std::string folder = dir_ + "/quarnel-" + std::to_string(geteuid());
  NamedLock fallback("QUARNEL", LockScope::User);
  EXPECT_EQ(fallback.Path(), folder + "/QUARNEL.lock");
  EXPECT_TRUE(fallback.Acquire(milliseconds(0))) << fallback.Error();
  ASSERT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  for (pid_t pid : {holder, ownHolder}) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

// A lock whose file or folder cannot be used fails at once with the path
// and the reason: it must never read as "held by another process".
TEST_F(NamedLockTest, UnusableFileOrFolderIsAnErrorNamingItAndTheReason) {
  const std::string privateFolder = dir_ + "/quarnel-" + std::to_string(geteuid());
  struct Case {
    const char* name;
    LockScope scope;
    bool needsRoot;  // to give a file or folder to another user
    std::function<void(const std::string& dir)> prepare;
    std::string blamed;  // the path the message names
    std::string reason;
  };
  const uid_t other = 65534;
  const Case cases[] = {
      {"machine file is a symbolic link", LockScope::Machine, false,
       [](const std::string& dir) { fs::create_symlink(dir + "/target", dir + "/KORVO.lock"); },
       dir_ + "/KORVO.lock", "it is a symbolic link"},
      {"machine file is a folder", LockScope::Machine, false,
       [](const std::string& dir) { fs::create_directory(dir + "/KORVO.lock"); }, dir_ + "/KORVO.lock",
       "Is a directory"},
      {"machine file is a FIFO", LockScope::Machine, false,
       [](const std::string& dir) { mkfifo((dir + "/KORVO.lock").c_str(), 0666); }, dir_ + "/KORVO.lock",
       "it is not a regular file"},
      {"machine folder is missing", LockScope::Machine, false,
       [](const std::string& dir) { setenv("QUARNEL_LOCK_DIR", (dir + "/missing").c_str(), 1); },
       dir_ + "/missing/KORVO.lock", "No such file or directory"},
      {"user file belongs to another user", LockScope::User, true,
       [other](const std::string& dir) {
         const std::string file = dir + "/KORVO.lock";
         close(creat(file.c_str(), 0666));
         chmod(file.c_str(), 0666);
         EXPECT_EQ(chown(file.c_str(), other, other), 0);
       },
       dir_ + "/KORVO.lock", "it belongs to another user"},
      {"private folder is a symbolic link", LockScope::User, false,
       [privateFolder](const std::string& dir) {
         unsetenv("XDG_RUNTIME_DIR");
         fs::create_directory(dir + "/elsewhere");
         fs::create_directory_symlink(dir + "/elsewhere", privateFolder);
       },
       privateFolder, "it is a symbolic link"},
      {"private folder is open to others", LockScope::User, false,
       [privateFolder](const std::string&) {
         unsetenv("XDG_RUNTIME_DIR");
         fs::create_directory(privateFolder);
         chmod(privateFolder.c_str(), 0777);
       },
       privateFolder, "other users may write to it"},
      {"private folder belongs to another user", LockScope::User, true,
       [privateFolder, other](const std::string&) {
         unsetenv("XDG_RUNTIME_DIR");
         fs::create_directory(privateFolder);
         chmod(privateFolder.c_str(), 0700);
         EXPECT_EQ(chown(privateFolder.c_str(), other, other), 0);
       },
       privateFolder, "it belongs to another user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && geteuid() != 0) continue;
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("QUARNEL_LOCK_DIR", dir_.c_str(), 1);
    c.prepare(dir_);
    NamedLock lock(kKorvoLockName, c.scope);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(lock.Acquire(kKorvoLockWait));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, milliseconds(1000));  // no waiting for a holder
    EXPECT_FALSE(lock.Held());
    EXPECT_NE(lock.Error().find(c.blamed + " cannot be used: " + c.reason), std::string::npos) << lock.Error();
    // Nothing was made through a link.
    EXPECT_FALSE(fs::exists(dir_ + "/target"));
    EXPECT_FALSE(fs::exists(dir_ + "/elsewhere/KORVO.lock"));
  }
}

}  // namespace
}  // namespace quarnel
