// Load speed on large object files, against objcopy and srec_cat on the same
// files. Prints MB/s of input text and the ratios; never fails on timing.
//
//   objfile_load_bench [--runs N]
//
// Like is timed with like: each contender is a whole process that reads the
// file, decodes it and writes the 16 MiB image out as binary. Ours is this
// program started with --convert (the load scan into the write image, then
// the image written out), and the three outputs are compared. The load scan
// alone, timed inside its process, is printed beside for information.

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
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "objfile/ObjectFileScanner.h"
#include "testing/RecordText.h"

extern char** environ;

namespace {

using quarnel::testing::AppendIntelRecord;
using quarnel::testing::AppendSRecord;

constexpr uint32_t kImageBytes = 16u << 20;
constexpr uint32_t kBytesPerRecord = 16;

class NoUser : public quarnel::UserNotifier {
 public:
  bool ShowMessage(quarnel::MessageStyle, const std::string& text) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
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

// Reads `path` and loads it into a 16 MiB image, checking a sample of it.
// `scanSeconds` receives the time of the read and the load scan.
bool LoadImage(const std::string& path, std::vector<uint8_t>& image, double& scanSeconds) {
  quarnel::TargetGeometry geometry;
  geometry.SetFlashAreas({{0, kImageBytes - 1}});
  NoUser user;
  quarnel::ObjectFileScanner scanner(geometry, user);
  image.assign(kImageBytes, 0xFF);
  scanner.SetWriteImage(image);
  scanner.SetCurrentFile(path, 0);
  auto begin = std::chrono::steady_clock::now();
  auto file = quarnel::ObjectFileData::Read(path, UINT64_MAX);
  uint32_t lowest = 0;
  uint32_t highest = 0;
  bool ok = file && scanner.LoadObjectFile(*file, 0, 0xFFFFFFFF, true, lowest, highest);
  scanSeconds = Seconds(std::chrono::steady_clock::now() - begin);
  for (uint32_t address = 0; ok && address < kImageBytes; address += 4093) ok = image[address] == PatternByte(address);
  if (!ok || lowest != 0 || highest != kImageBytes - 1) {
    std::fprintf(stderr, "load of %s failed\n", path.c_str());
    return false;
  }
  return true;
}

// Child mode: load `input`, write the image to `output` as binary and print
// the seconds of the load scan alone on stdout.
int ConvertOnce(const std::string& input, const std::string& output) {
  std::vector<uint8_t> image;
  double scanSeconds = 0;
  if (!LoadImage(input, image, scanSeconds)) return 1;
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "writing %s failed\n", output.c_str());
    return 1;
  }
  std::printf("%.6f\n", scanSeconds);
  return 0;
}

struct RunResult {
  double seconds = 0;     // wall time of the whole process
  double maxRssMiB = 0;   // peak resident memory of the process
  std::string output;     // its standard output
};

std::optional<RunResult> Run(const std::vector<std::string>& argv) {
  RunResult result;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return std::nullopt;
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
    return std::nullopt;
  }
  result.seconds = Seconds(std::chrono::steady_clock::now() - begin);
  result.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return result;
}

std::optional<RunResult> Best(const std::vector<std::string>& argv, int runs) {
  std::optional<RunResult> best;
  for (int i = 0; i < runs; ++i) {
    std::optional<RunResult> next = Run(argv);
    if (!next) return std::nullopt;
    if (!best || next->seconds < best->seconds) best = next;
  }
  return best;
}

bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  return first && second &&
         std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

void PrintRate(const char* name, double megabytes, const RunResult& run) {
  std::printf("  %-10s %7.1f MB/s  (%.3f s, peak memory %.1f MiB)\n", name, megabytes / run.seconds, run.seconds,
              run.maxRssMiB);
}

bool Compare(const std::string& label, const std::string& self, const std::string& input,
             const std::string& objcopyFormat, const std::string& srecFormat, const std::string& directory, int runs) {
  const std::string oursOut = directory + "/ours.bin";
  const std::string objcopyOut = directory + "/objcopy.bin";
  const std::string srecOut = directory + "/srec_cat.bin";
  double megabytes = static_cast<double>(std::filesystem::file_size(input)) / 1e6;
  std::optional<RunResult> ours = Best({self, "--convert", input, oursOut}, runs);
  std::optional<RunResult> objcopy = Best({"objcopy", "-I", objcopyFormat, "-O", "binary", input, objcopyOut}, runs);
  std::optional<RunResult> srecCat = Best({"srec_cat", input, srecFormat, "-o", srecOut, "-Binary"}, runs);
  if (!ours || !objcopy || !srecCat) return false;
  const bool identical = SameContent(oursOut, objcopyOut) && SameContent(oursOut, srecOut);
  double scanSeconds = std::stod(ours->output);
  std::printf("%s: %.1f MB of text to a %u MiB binary\n", label.c_str(), megabytes, kImageBytes >> 20);
  PrintRate("quarnel", megabytes, *ours);
  PrintRate("objcopy", megabytes, *objcopy);
  PrintRate("srec_cat", megabytes, *srecCat);
  std::printf("  outputs identical: %s\n", identical ? "yes" : "NO");
  std::printf("  fair ratio quarnel / objcopy  %.2f\n", objcopy->seconds / ours->seconds);
  std::printf("  fair ratio quarnel / srec_cat %.2f\n", srecCat->seconds / ours->seconds);
  std::printf("  (load scan alone, in its process: %.1f MB/s, %.3f s)\n", megabytes / scanSeconds, scanSeconds);
  std::printf("  peak memory / (file + image) %.2f\n",
              ours->maxRssMiB / (megabytes * 1e6 / 1048576.0 + static_cast<double>(kImageBytes >> 20)));
  return identical;
}

// The benchmark's scratch directory, removed on every way out.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarnel_load_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--convert") == 0) return ConvertOnce(argv[2], argv[3]);
  int runs = 3;
  if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));

  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  const ScratchDirectory scratch;
  if (scratch.path().empty()) return 1;
  std::string hexPath = scratch.path() + "/image.hex";
  std::string s3Path = scratch.path() + "/image.s3";
  GenerateIntelHex(hexPath);
  GenerateS3(s3Path);
  std::printf("best of %d runs each; each contender is a whole process writing the binary\n", runs);
  const bool hexOk = Compare("Intel HEX, 16 bytes per record, extended linear addresses", self, hexPath, "ihex",
                             "-Intel", scratch.path(), runs);
  const bool s3Ok = Compare("Motorola S3, 16 bytes per record", self, s3Path, "srec", "-Motorola", scratch.path(), runs);
  return hexOk && s3Ok ? 0 : 1;
}
