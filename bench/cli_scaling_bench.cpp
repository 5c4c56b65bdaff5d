// quarnel-cli's lock-step on a production line: the time of a whole
// `quarnel-cli write` of 256 KiB to 1 and to 32 simulated emulators that
// take 1 ms per write command, as T(32)/T(1). The program sends each chunk
// to every emulator before awaiting any answer, so T(32) should stay close
// to T(1).
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SimProcess.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using korvo::testing::SimProcess;

constexpr uint32_t kWriteSize = 256 * 1024;
constexpr const char* kTarget = "KT430735";  // 512 KiB of flash
constexpr int kRounds = 3;

void WriteHexFile(const fs::path& path) {
  std::ofstream out(path);
  char line[64];
  for (uint32_t address = 0; address < kWriteSize; address += 16) {
    if (address % 0x10000 == 0) {
      const unsigned segment = address >> 16;
      std::snprintf(line, sizeof line, ":02000004%04X%02X\n", segment, (0x100 - ((6 + segment) & 0xFF)) & 0xFF);
      out << line;
    }
    unsigned sum = 16 + ((address >> 8) & 0xFF) + (address & 0xFF);
    std::snprintf(line, sizeof line, ":10%04X00", address & 0xFFFF);
    out << line;
    for (uint32_t i = 0; i < 16; ++i) {
      const unsigned byte = (address + i) * 13 & 0xFF;
      sum += byte;
      std::snprintf(line, sizeof line, "%02X", byte);
      out << line;
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out << line;
  }
  out << ":00000001FF\n";
}

// Seconds of one whole run of the program; negative when it failed.
double TimeCli(const fs::path& dir, const fs::path& hex) {
  const auto begin = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("KORVO_SIM_DIR", (dir / "sim").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("QUARNEL_LOCK_DIR", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    execl(QUARNEL_CLI, QUARNEL_CLI, "--target", kTarget, "--emulators", "all", "--quiet", "write", hex.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

double BestOf(const fs::path& dir, const fs::path& hex, unsigned emulators) {
  SimProcess sim({"--trg", SimProcess::sampleTrg(kTarget), "--emulators", std::to_string(emulators), "--dir",
                  (dir / "sim").string(), "--write-us", "1000"});
  if (!sim.start()) return -1;
  double best = -1;
  for (int round = 0; round < kRounds; ++round) {
    const double seconds = TimeCli(dir, hex);
    if (seconds < 0) return -1;
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/quarnel-cli-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = pattern;
  fs::create_directories(dir / "config");
  const fs::path hex = dir / "image.hex";
  WriteHexFile(hex);
  std::printf("quarnel-cli write of 256 KiB, 1 ms per write command, best of %d whole runs\n", kRounds);
  const double one = BestOf(dir, hex, 1);
  const double many = BestOf(dir, hex, 32);
  fs::remove_all(dir);
  if (one < 0 || many < 0) {
    std::printf("a run failed\n");
    return 1;
  }
  std::printf("  T(1)  = %.3f s\n  T(32) = %.3f s\n  T(32)/T(1) = %.2f (target <= 1.5)\n", one, many, many / one);
  return 0;
}
