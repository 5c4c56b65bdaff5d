// QUARNEL's operations against their baselines, measured in the same run:
//  - a 16 MiB compare without differences through CompareRange's path,
//    against memcmp of the same buffers;
//  - a 256 KiB Write & Check to two simulated emulators (1 ms per write
//    command) whose boards are identical, against the same ApiFlashWriteAll
//    calls made directly;
//  - the same up to the preserved area of two boards that keep different
//    bytes there, against erasing and writing every block in lock-step.
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
#include "binding/ApiTable.h"
#include "ops/VerifyOperation.h"
#include "ops/WriteOperation.h"
#include "testing/FakeApi.h"
#include "testing/RecordText.h"
#include "testing/RecordingWindow.h"

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

// One plugged pair of simulated emulators with the library bound.
struct Station {
  explicit Station(const std::filesystem::path& dir, std::vector<std::string> simArguments)
      : sim([&] {
          std::vector<std::string> arguments{"--trg", SimProcess::sampleTrg(kTarget), "--emulators", "2", "--dir",
                                             (dir / "sim").string(), "--write-us", "1000"};
          arguments.insert(arguments.end(), simArguments.begin(), simArguments.end());
          return arguments;
        }()) {}
  ~Station() {
    if (set != nullptr) api.ReleaseDescriptions(&set);
    api.Disconnect();
    sim.stop();
  }

  bool Start(void* library) {
    if (!BindApiTable([library](const char* name) { return ::dlsym(library, name); }, table) || !sim.start())
      return false;
    uint16_t found = 0;
    set = api.ReadTargetDescriptions(93, &found);
    const CTargetInfo* info = nullptr;
    for (int32_t i = 0; set != nullptr && i < set->count; ++i)
      if (std::strcmp(set->array[i].targetName, kTarget) == 0) info = &set->array[i];
    if (info == nullptr || !Plug(table, api, set) || ApplyTarget(*info, c.target) != ApplyOutcome::Applied) return false;
    c.buffers.Rebuild();
    return true;
  }

  SimProcess sim;
  ApiTable table;
  GuardedApiTable api{table};
  TRGINFO* set = nullptr;
  Context c{api};
};

// Not fill on, fill byte FFH: each write call covers one file window.
WriteSettings FilesOnly(bool eraseBeforeWrite) {
  WriteSettings settings;
  settings.eraseBeforeWrite = eraseBeforeWrite;
  settings.notFill = true;
  settings.fillMode = FillMode::ArbitraryData;
  settings.arbitraryData = "FF";
  return settings;
}

// The best of three Write & Check runs that pass on both targets.
double TimeWrites(Station& station, const WriteSettings& settings) {
  WriteOperation write(station.c.context);
  return BestSeconds(3, [&] {
    return write.Run(settings) == OperationOutcome::Completed && station.api.TargetStatus(2) == 0;
  });
}

bool ListFile(Context& c, const std::filesystem::path& dir, uint32_t start, uint32_t size) {
  std::vector<uint8_t> data(size);
  for (uint32_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
  const std::filesystem::path file = dir / "image.hex";
  std::ofstream(file) << testing::IntelHexText(start, data);
  return c.files.AddFileEntry({file.string(), "", "", EndAddressMode::FileContent, ""}).Accepted();
}

// Identical boards: erase off and not fill on, the operation writes one
// 32 KiB block per call.
int BenchIdenticalBoards(const std::filesystem::path& dir, void* library) {
  Station station(dir, {});
  Context& c = station.c;
  if (!station.Start(library) || !ListFile(c, dir, 0, kWriteSize)) {
    std::fprintf(stderr, "cannot plug %s\n", kTarget);
    return 1;
  }
  const double operation = TimeWrites(station, FilesOnly(false));
  const uint32_t block = c.target.geometry.eraseBlockSize;
  const double direct = BestSeconds(3, [&] {
    for (uint32_t start = 0; start < kWriteSize; start += block)
      if (station.table.ApiFlashWriteAll(start, start + block - 1, start, c.buffers.WriteImage().data()) != 1)
        return false;
    return station.api.TargetStatus(1) == 0 && station.api.TargetStatus(2) == 0;
  });
  std::printf("256 KiB write to 2 identical boards, 1 ms per write command, best of 3: operation %.1f ms, "
              "direct ApiFlashWriteAll %.1f ms, ratio %.3f\n",
              operation * 1000, direct * 1000, operation / direct);
  std::printf("  target: ratio <= 1.05\n");
  return operation > 0 && direct > 0 ? 0 : 1;
}

// Boards whose preserved areas differ: erase on and not fill on, up to the
// preserved area of the last code block, which each board gets back as it was.
int BenchDifferentPreservedAreas(const std::filesystem::path& dir, void* library) {
  constexpr uint32_t kChipSize = 0x80000;
  std::vector<std::string> arguments;
  for (int k = 0; k < 2; ++k) {
    std::vector<uint8_t> image(kChipSize, static_cast<uint8_t>(0x30 + k));
    const std::filesystem::path path = dir / ("board" + std::to_string(k) + ".bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    arguments.insert(arguments.end(), {"--emulator", std::to_string(k) + ":image=" + path.string()});
  }
  Station station(dir, arguments);
  Context& c = station.c;
  if (!station.Start(library)) {
    std::fprintf(stderr, "cannot plug %s\n", kTarget);
    return 1;
  }
  const TargetGeometry& geometry = c.target.geometry;
  const AddressRange kept = KeptTopOfCode(geometry);
  const uint32_t fileStart = kept.first - kWriteSize;
  if (!ListFile(c, dir, fileStart, kWriteSize)) return 1;
  const double operation = TimeWrites(station, FilesOnly(true));
  // Today's calls: erase and write each block in lock-step, the preserved
  // area and the tail with target 1's bytes.
  const uint32_t block = geometry.eraseBlockSize;
  uint8_t* image = c.buffers.WriteImage().data();
  const double direct = BestSeconds(3, [&] {
    for (uint32_t start = fileStart; start < kept.first; start = (start / block + 1) * block) {
      const uint32_t last = std::min(kept.first - 1, (start / block + 1) * block - 1);
      if (station.table.ApiFlashEraseBlockAll(start) != 1 ||
          station.table.ApiFlashWriteAll(start, last, start, image) != 1)
        return false;
    }
    return station.table.ApiFlashWriteAll(kept.first, kept.last, kept.first, image) == 1 &&
           station.api.TargetStatus(1) == 0 && station.api.TargetStatus(2) == 0;
  });
  std::printf("256 KiB write & check to 2 boards whose preserved areas differ, best of 3: operation %.1f ms, "
              "direct lock-step calls %.1f ms, ratio %.3f\n",
              operation * 1000, direct * 1000, operation / direct);
  std::printf("  target: ratio <= 1.15\n");
  return operation > 0 && direct > 0 ? 0 : 1;
}

}  // namespace

int main() {
  BenchCompare();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quarnel-ops-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "sim");
  std::filesystem::create_directories(dir / "config");
  void* library = OpenLibrary();
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load libvestra.so\n");
    return 1;
  }
  ::setenv("KORVO_SIM_DIR", (dir / "sim").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  const int result = BenchIdenticalBoards(dir, library) | BenchDifferentPreservedAreas(dir, library);
  std::filesystem::remove_all(dir);
  return result;
}
