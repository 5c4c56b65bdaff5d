// QUARNEL's operations against their baselines, measured in the same run:
//  - a 16 MiB compare without differences through CompareRange's path,
//    against memcmp of the same buffers;
//  - a 256 KiB Write & Check to two simulated emulators (1 ms per write
//    command), against the same ApiFlashWriteAll calls made directly.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "SimProcess.h"
#include "app/ApiTable.h"
#include "ops/VerifyOperation.h"
#include "ops/WriteOperation.h"
#include "ops/tests/OpsFakes.h"

namespace {

using namespace quarnel;
using Clock = std::chrono::steady_clock;
using korvo::testing::SimProcess;

constexpr int kRounds = 5;
constexpr uint32_t kCompareSize = 16u << 20;
constexpr uint32_t kWriteSize = 256u << 10;
constexpr const char* kTarget = "KT430735";

template <typename Work>
double BestSeconds(int rounds, Work work) {
  double best = 0;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    if (!work()) return -1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (round == 0 || seconds < best) best = seconds;
  }
  return best;
}

// A context whose window answers every question with OK or Yes.
struct Context {
  explicit Context(ApiCalls& api) : api(api) {}
  ApiCalls& api;
  AppliedTarget target;
  FlashBuffers buffers{target.geometry};
  testing::RecordingWindow window;
  ObjectFileScanner scanner{target.geometry, window};
  FileList files{target.geometry, scanner, window};
  OperationContext context{api, window, target, buffers, scanner, files};
};

void BenchCompare() {
  TargetGeometry geometry;
  geometry.SetFlashAreas({{0, kCompareSize - 1}});
  geometry.eraseBlockSize = 0x10000;
  geometry.codeBlockSize = 0x10000;
  testing::FakeApi api(geometry, 1, 0);
  Context c(api);
  c.target.geometry = geometry;
  c.buffers.Rebuild();
  std::mt19937 random(1);
  std::span<uint8_t> expected = c.buffers.WriteImage();
  std::span<uint8_t> readBack = c.buffers.ReadBackImage();
  for (uint8_t& b : expected) b = static_cast<uint8_t>(random());
  std::memcpy(readBack.data(), expected.data(), expected.size());

  VerifyOperation verify(c.context);
  const double compare = BestSeconds(kRounds, [&] {
    long differences = -1;
    return verify.CompareRange(0, kCompareSize - 1, differences) && differences == 0;
  });
  volatile int sink = 0;
  const double plain = BestSeconds(kRounds, [&] {
    sink = std::memcmp(expected.data(), readBack.data(), expected.size());
    return sink == 0;
  });
  std::printf("16 MiB compare, best of %d: CompareRange %.2f ms, memcmp %.2f ms, ratio %.2f (%d window drains)\n",
              kRounds, compare * 1000, plain * 1000, compare / plain, c.window.drains);
  std::printf("  target: <= 15 ms, within 10x memcmp\n");
}

void* OpenLibrary() {
  if (void* handle = ::dlopen("libvestra.so", RTLD_NOW | RTLD_LOCAL)) return handle;
  const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libvestra.so";
  return ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
}

bool Plug(const ApiTable& table, GuardedApiTable& api, TRGINFO* set) {
  if (api.Connect() != 1 || api.TargetCount() != 2 || !api.PlugAll(set, kTarget)) return false;
  for (uint32_t n = 1; n <= 2; ++n) {
    uint16_t isProtected = 1;
    table.ApiIsTargetProtected(n, &isProtected);
    table.ApiSetTargetStatus(n, 0);
  }
  return true;
}

int BenchWrite(const std::filesystem::path& dir) {
  ::setenv("KORVO_SIM_DIR", (dir / "sim").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  SimProcess sim({"--trg", SimProcess::sampleTrg(kTarget), "--emulators", "2", "--dir", (dir / "sim").string(),
                  "--write-us", "1000"});
  void* library = OpenLibrary();
  ApiTable table;
  if (library == nullptr || !BindApiTable([library](const char* name) { return ::dlsym(library, name); }, table) ||
      !sim.start()) {
    std::fprintf(stderr, "cannot load libvestra.so or start korvo-sim\n");
    return 1;
  }
  GuardedApiTable api(table);
  uint16_t found = 0;
  TRGINFO* set = api.ReadTargetDescriptions(93, &found);
  const CTargetInfo* info = nullptr;
  for (int32_t i = 0; set != nullptr && i < set->count; ++i)
    if (std::strcmp(set->array[i].targetName, kTarget) == 0) info = &set->array[i];
  Context c(api);
  if (info == nullptr || !Plug(table, api, set) || ApplyTarget(*info, c.target) != ApplyOutcome::Applied) {
    std::fprintf(stderr, "cannot plug %s\n", kTarget);
    return 1;
  }
  c.buffers.Rebuild();
  std::vector<uint8_t> data(kWriteSize);
  for (uint32_t i = 0; i < kWriteSize; ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  const std::filesystem::path file = dir / "image.hex";
  std::ofstream(file) << testing::IntelHexText(0, data);
  if (!c.files.AddFileEntry({file.string(), "", "", EndAddressMode::FileContent, ""})) return 1;

  // Erase off and not fill on: the operation writes one 32 KiB block per call.
  WriteSettings settings;
  settings.eraseBeforeWrite = false;
  settings.notFill = true;
  settings.fillMode = FillMode::ArbitraryData;
  settings.arbitraryData = "FF";
  WriteOperation write(c.context);
  const double operation = BestSeconds(3, [&] {
    return write.Run(settings) == OperationOutcome::Completed && api.TargetStatus(2) == 0;
  });
  const uint32_t block = c.target.geometry.eraseBlockSize;
  const double direct = BestSeconds(3, [&] {
    for (uint32_t start = 0; start < kWriteSize; start += block)
      if (table.ApiFlashWriteAll(start, start + block - 1, start, c.buffers.WriteImage().data()) != 1) return false;
    return api.TargetStatus(1) == 0 && api.TargetStatus(2) == 0;
  });
  std::printf("256 KiB write to 2 emulators, 1 ms per write command, best of 3: operation %.1f ms, "
              "direct ApiFlashWriteAll %.1f ms, ratio %.3f\n",
              operation * 1000, direct * 1000, operation / direct);
  std::printf("  target: ratio <= 1.05\n");
  api.ReleaseDescriptions(&set);
  api.Disconnect();
  sim.stop();
  return operation > 0 && direct > 0 ? 0 : 1;
}

}  // namespace

int main() {
  BenchCompare();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quarnel-ops-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "sim");
  std::filesystem::create_directories(dir / "config");
  const int result = BenchWrite(dir);
  std::filesystem::remove_all(dir);
  return result;
}
