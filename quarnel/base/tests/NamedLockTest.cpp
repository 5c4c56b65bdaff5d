#include "base/NamedLock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace quarnel {
namespace {

using std::chrono::milliseconds;

class NamedLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quarnel-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A child process that holds `name` for `holdMs`, started once it has it.
  pid_t HoldInChild(const char* name, int holdMs) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
      NamedLock lock(name);
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
  pid_t holder = HoldInChild(kKorvoLockName, 5000);
  NamedLock lock(kKorvoLockName);
  EXPECT_EQ(lock.Path(), dir_ + "/KORVO.lock");
  auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(lock.Acquire(kKorvoLockWait));
  auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, milliseconds(3000));
  EXPECT_LT(waited, milliseconds(4500));
  EXPECT_FALSE(lock.Held());
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  // The kernel dropped the dead holder's lock.
  EXPECT_TRUE(lock.Acquire(milliseconds(0)));
}

TEST_F(NamedLockTest, IsTakenAsSoonAsTheHolderLetsGoAndIsExclusiveWithinTheProcess) {
  pid_t holder = HoldInChild("QUARNEL", 300);
  NamedLock lock("QUARNEL");
  EXPECT_TRUE(lock.Acquire(milliseconds(3000)));
  waitpid(holder, nullptr, 0);
  NamedLock other("QUARNEL");
  EXPECT_FALSE(other.Acquire(milliseconds(50)));  // flock is per open file, so this copy waits too
  lock.Release();
  lock.Release();  // releasing twice does nothing
  EXPECT_TRUE(other.Acquire(milliseconds(0)));
}

}  // namespace
}  // namespace quarnel
