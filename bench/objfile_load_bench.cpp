// Load scan speed on large object files, against objcopy and srec_cat on the
// same files. Prints MB/s of input text and the ratios; never fails on timing.
//
//   objfile_load_bench [--runs N]
//
// The load scan runs in a child process (this program started with --load),
// so that its peak memory is measured alone.

#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "objfile/ObjectFileScanner.h"
#include "objfile/tests/RecordText.h"

extern char** environ;

namespace {

using quarnel::testing::AppendIntelRecord;
using quarnel::testing::AppendSRecord;

constexpr uint32_t kImageBytes = 16u << 20;
constexpr uint32_t kBytesPerRecord = 16;

class NoUser : public quarnel::UserNotifier {
 public:
  bool ShowMessage(quarnel::MessageStyle, int textId, const std::string& text) override {
    std::fprintf(stderr, "message %d: %s\n", textId, text.c_str());
    return false;
  }
  void FocusField(quarnel::Field) override {}
};

// Deterministic filler so the data is not one repeated byte.
uint8_t PatternByte(uint32_t address) { return static_cast<uint8_t>((address * 2654435761u) >> 24); }

void WriteChunked(std::ofstream& out, std::string& text, bool force) {
  if (force || text.size() > (1u << 20)) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
  }
}

void GenerateIntelHex(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string text;
  uint8_t data[kBytesPerRecord];
  for (uint32_t address = 0; address < kImageBytes; address += kBytesPerRecord) {
    if ((address & 0xFFFF) == 0) {
      uint16_t upper = static_cast<uint16_t>(address >> 16);
      const uint8_t base[] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
      AppendIntelRecord(text, 4, 0, base);
      text += '\n';
    }
    for (uint32_t i = 0; i < kBytesPerRecord; ++i) data[i] = PatternByte(address + i);
    AppendIntelRecord(text, 0, static_cast<uint16_t>(address), data);
    text += '\n';
    WriteChunked(out, text, false);
  }
  text += ":00000001FF\n";
  WriteChunked(out, text, true);
}

void GenerateS3(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string text;
  const uint8_t header[] = {'b', 'e', 'n', 'c', 'h'};
  AppendSRecord(text, '0', 0, header);
  text += '\n';
  uint8_t data[kBytesPerRecord];
  for (uint32_t address = 0; address < kImageBytes; address += kBytesPerRecord) {
    for (uint32_t i = 0; i < kBytesPerRecord; ++i) data[i] = PatternByte(address + i);
    AppendSRecord(text, '3', address, data);
    text += '\n';
    WriteChunked(out, text, false);
  }
  AppendSRecord(text, '7', 0, {});
  text += '\n';
  WriteChunked(out, text, true);
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Child mode: read the file, load it storing into a 16 MiB image, check the
// image and print "seconds" on stdout.
int LoadOnce(const std::string& path) {
  quarnel::TargetGeometry geometry;
  geometry.SetFlashAreas({{0, kImageBytes - 1}});
  NoUser user;
  quarnel::ObjectFileScanner scanner(geometry, user);
  std::vector<uint8_t> image(kImageBytes, 0xFF);
  scanner.SetWriteImage(image);
  scanner.SetCurrentFile(path, 0);
  auto begin = std::chrono::steady_clock::now();
  auto file = quarnel::ObjectFileData::Read(path);
  uint32_t lowest = 0;
  uint32_t highest = 0;
  bool ok = file && scanner.LoadObjectFile(*file, 0, 0xFFFFFFFF, true, lowest, highest);
  double seconds = Seconds(std::chrono::steady_clock::now() - begin);
  for (uint32_t address = 0; ok && address < kImageBytes; address += 4093) ok = image[address] == PatternByte(address);
  if (!ok || highest != kImageBytes - 1) {
    std::fprintf(stderr, "load of %s failed\n", path.c_str());
    return 1;
  }
  std::printf("%.6f\n", seconds);
  return 0;
}

struct RunResult {
  double seconds = 0;     // wall time of the whole process
  double maxRssMiB = 0;   // peak resident memory of the process
  std::string output;     // its standard output
};

RunResult Run(const std::vector<std::string>& argv) {
  RunResult result;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  auto begin = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  char buffer[256];
  ssize_t got = 0;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<size_t>(got));
  close(pipeFds[0]);
  int status = 0;
  struct rusage usage {};
  if (spawned != 0 || wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
  result.seconds = Seconds(std::chrono::steady_clock::now() - begin);
  result.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return result;
}

RunResult Best(const std::vector<std::string>& argv, int runs) {
  RunResult best = Run(argv);
  for (int i = 1; i < runs; ++i) {
    RunResult next = Run(argv);
    if (next.seconds < best.seconds) best = next;
  }
  return best;
}

void Compare(const std::string& label, const std::string& self, const std::string& input,
             const std::string& objcopyFormat, const std::string& srecFormat, const std::string& output, int runs) {
  double megabytes = static_cast<double>(std::filesystem::file_size(input)) / 1e6;
  RunResult ours = Best({self, "--load", input}, runs);
  double oursSeconds = std::stod(ours.output);
  RunResult objcopy = Best({"objcopy", "-I", objcopyFormat, "-O", "binary", input, output}, runs);
  RunResult srecCat = Best({"srec_cat", input, srecFormat, "-o", output, "-Binary"}, runs);
  double oursRate = megabytes / oursSeconds;
  double objcopyRate = megabytes / objcopy.seconds;
  double srecRate = megabytes / srecCat.seconds;
  std::printf("%s: %.1f MB of text for a %u MiB image\n", label.c_str(), megabytes, kImageBytes >> 20);
  std::printf("  load scan   %7.1f MB/s  (read + scan %.3f s, peak memory %.1f MiB)\n", oursRate, oursSeconds,
              ours.maxRssMiB);
  std::printf("  objcopy     %7.1f MB/s  (%.3f s, peak memory %.1f MiB)\n", objcopyRate, objcopy.seconds,
              objcopy.maxRssMiB);
  std::printf("  srec_cat    %7.1f MB/s  (%.3f s, peak memory %.1f MiB)\n", srecRate, srecCat.seconds,
              srecCat.maxRssMiB);
  std::printf("  ratio load scan / objcopy  %.2f\n", oursRate / objcopyRate);
  std::printf("  ratio load scan / srec_cat %.2f\n", oursRate / srecRate);
  std::printf("  peak memory / (file + image) %.2f\n",
              ours.maxRssMiB / (megabytes * 1e6 / 1048576.0 + static_cast<double>(kImageBytes >> 20)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--load") == 0) return LoadOnce(argv[2]);
  int runs = 3;
  if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));

  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::filesystem::path directory = std::filesystem::temp_directory_path() / "quarnel_load_bench_XXXXXX";
  std::string pattern = directory.string();
  if (!mkdtemp(pattern.data())) return 1;
  std::string hexPath = pattern + "/image.hex";
  std::string s3Path = pattern + "/image.s3";
  std::string binPath = pattern + "/image.bin";
  GenerateIntelHex(hexPath);
  GenerateS3(s3Path);
  std::printf("best of %d runs each\n", runs);
  Compare("Intel HEX, 16 bytes per record, extended linear addresses", self, hexPath, "ihex", "-Intel", binPath,
          runs);
  Compare("Motorola S3, 16 bytes per record", self, s3Path, "srec", "-Motorola", binPath, runs);
  std::filesystem::remove_all(pattern);
  return 0;
}
